#include <linux/sockios.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <numeric>

#include "TransferFixture.h"
#include "support/support/QtWarnings.h"

using UploadTransfer = TransferFixture;

namespace
{
// What the system holds in the socket's send queue, not yet taken by the other end.
int QueuedToSend(qintptr i_socket)
{
    int l_bytes = -1;
    return ioctl(static_cast<int>(i_socket), SIOCOUTQ, &l_bytes) == 0 ? l_bytes : -1;
}

// The system's own view of the socket's connection; reading it neither reads from the socket nor
// takes its pending error. All zero once the socket is gone.
tcp_info TcpState(qintptr i_socket)
{
    tcp_info l_info{};
    socklen_t l_length = sizeof l_info;
    if (getsockopt(static_cast<int>(i_socket), IPPROTO_TCP, TCP_INFO, &l_info, &l_length) != 0)
        l_info = tcp_info{};
    return l_info;
}
// The state the system leaves a connection in once a reset has come (its TCP_CLOSE); a plain
// close from the other end leaves ours waiting for our own close instead.
constexpr int ResetState = 7;
} // namespace

// The thread's report of its end, given straight to the manager.
TEST_F(UploadTransfer, ACompletedUploadReportsItsSpeedToTheServerOnlyForAFileAboveOneMebibyte)
{
    ASSERT_TRUE(LogIn());
    for (const auto& [l_size, l_speed] : {std::pair(1048576, 5000), std::pair(1048577, 0), std::pair(1048577, 7000)})
    {
        Running l_run = NewRunning(true, "bob");
        l_run.entry["shared_file"] += d.GetType("shared_file_size")->GetItem(QString::number(l_size));
        *mp_manager->PeekObject<qint32>(l_run.entry["bytes_per_second"]) = l_speed;
        QObject::connect(l_run.thread, &RunningThread::Finishing, mp_manager.get(), &TransferQueueManager::OnUploadComplete);
        emit l_run.thread->Finishing();
        EXPECT_EQ(Status(l_run.entry), Complete);
    }
    ASSERT_EQ(Sent(121, 1).size(), 1);
    EXPECT_EQ(qFromLittleEndian<qint32>(Sent(121)[0].fields.constData()), 7000);
}

// Two downloaders on the messaging connections they opened to us, one upload slot and no shared
// timer running: nothing but the end of bob's upload can send carl the request for his file.
TEST_F(UploadTransfer, AnUploadThatEndsSendsTheNextQueuedOneItsTransferRequestWithoutWaitingForATick)
{
    for (QTimer* lp_timer : {mp_timers->halfMinuteTimer, mp_timers->fiveMinuteTimer, mp_timers->hourTimer})
        lp_timer->stop();
    QSignalSpy l_ticks(mp_timers->halfMinuteTimer, &QTimer::timeout);
    ASSERT_TRUE(LogIn());
    const qint64 l_size = 3 * 8192 + 100;
    Share({{"a.bin", l_size}, {"b.bin", 10}});
    ASSERT_EQ(Setting("upload_slots"), "1");
    const auto l_request = [&](quint32 i_req, const char* i_name, qint64 i_bytes) {
        return WireFields().UInt32(40).Int32(1).UInt32(i_req).Text(Remote(i_name)).Raw(Int64(i_bytes)).Bytes();
    };
    FakePeer l_bobFiles;
    Reachable("bob", l_bobFiles.Listen(), 0);
    Online("bob");
    Online("carl");
    const std::unique_ptr<FakePeer> lp_bob = Accepted(false, "bob"), lp_carl = Accepted(false, "carl");

    lp_bob->SendFrame(WireFields().UInt32(43).Text(Remote("a.bin")));
    ASSERT_TRUE(lp_bob->WaitForBodies(1));
    EXPECT_EQ(lp_bob->Bodies()[0], l_request(1, "a.bin", l_size));
    lp_carl->SendFrame(WireFields().UInt32(43).Text(Remote("b.bin")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Status(Entry("carl", "b.bin")) == Queued; }, 5000));
    lp_bob->SendFrame(WireFields().UInt32(41).UInt32(1).Byte(1));

    // Our file connection to bob: its introduction, the transfer number, then the whole file.
    const QByteArray l_head = FakePeer::Frame(FakePeer::InitBody("anna", "F")) + Word(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return l_bobFiles.Raw().size() >= l_head.size(); }, 5000));
    l_bobFiles.SendRaw(Int64(0));
    ASSERT_TRUE(QTest::qWaitFor([&] { return l_bobFiles.Raw().size() >= l_head.size() + l_size; }, 10000));
    EXPECT_EQ(l_bobFiles.Raw(), l_head + Pattern(l_size));
    EXPECT_TRUE(lp_carl->Bodies().isEmpty()) << "carl waits while bob's upload holds the slot";

    // bob has it all and closes, as a downloader does; the uploader then ends the upload.
    l_bobFiles.Close();
    ASSERT_TRUE(lp_carl->WaitForBodies(1)) << "carl was not asked once bob's upload ended";
    EXPECT_EQ(lp_carl->Bodies(), QList<QByteArray>{l_request(2, "b.bin", 10)});
    EXPECT_EQ(Status(Entry("bob", "a.bin")), Complete);
    EXPECT_EQ(Status(Entry("carl", "b.bin")), Requesting);
    EXPECT_EQ(l_ticks.count(), 0);
}

TEST_F(UploadTransfer, UploadsShareTheLimitAgainAtEveryEndAndThePoolKeepsOneSecondAtMost)
{
    const qint64 l_limit = 600 * 1024;
    Share({{"1.bin", 64 << 20}, {"2.bin", 64 << 20}, {"3.bin", 64 << 20}});
    mp_manager->SetUploadSlots(3);
    mp_manager->SetUploadSpeedLimit(600);
    mp_manager->EnableUploadSpeedLimit(true);
    // A long stretch of under-used allowance leaves one second's worth in the pool.
    mp_manager->AddToBytePool(qint64(1) << 40);
    EXPECT_EQ(mp_manager->PayFromBytePool(qint64(1) << 40), (qint64(1) << 40) - l_limit);
    mp_manager->AddToBytePool(1000);
    EXPECT_EQ(QList<qint64>({mp_manager->PayFromBytePool(300), mp_manager->PayFromBytePool(1000)}), QList<qint64>({0, 300}));

    QElapsedTimer l_clock;
    l_clock.start();
    std::vector<std::unique_ptr<FakePeer>> l_downloaders;
    for (const char* l_user : {"bob", "carl", "dave"})
    {
        Online(l_user);
        mp_manager->OnQueueUploadRequested(l_user, Remote(QString("%1.bin").arg(l_downloaders.size() + 1)));
        l_downloaders.push_back(Accept(l_user));
    }
    EXPECT_EQ(mp_manager->GetPerUploadSpeedLimit(), 200);
    const auto l_received = [&] {
        return std::accumulate(l_downloaders.begin(), l_downloaders.end(), qint64(0),
                               [](qint64 i_sum, const auto& ip_peer) { return i_sum + ip_peer->Raw().size(); });
    };
    // However slow the machine, together no more than the limit's worth since the start, give
    // or take 5 %, and each upload's transfer number.
    ASSERT_TRUE(QTest::qWaitFor([&] { return l_received() >= 3 * l_limit; }, 60000));
    const qint64 l_received3 = l_received();
    EXPECT_LE(l_received3, l_limit * l_clock.elapsed() / 1000 * 105 / 100 + 3 * 4);

    // Every end shares the limit out again; an upload aborted while active tells its peer, once.
    const std::tuple<const char*, const char*, const char*, int> l_ends[] = {
        {"bob", "1.bin", Aborted, 300}, {"bob", "1.bin", Aborted, 300}, {"carl", "2.bin", Denied, 600}, {"dave", "3.bin", LocalError, 600}};
    for (const auto& [l_user, l_name, l_status, l_share] : l_ends)
    {
        mp_manager->SetUploadEntryStatus(Entry(l_user, l_name), l_status);
        EXPECT_EQ(mp_manager->GetPerUploadSpeedLimit(), l_share) << l_user << l_status;
    }
    EXPECT_EQ(Parked(), QStringList({"40 1 1 1.bin 67108864", "46 1.bin"}));
    EXPECT_EQ(Logged("Upload of 1.bin to bob aborted, sending upload failed notification."), 1);
    EXPECT_EQ(mp_manager->GetUploadSpeed(), 600);
}

TEST_F(UploadTransfer, OneUploadKeepsWithinTheLimitSlowOrFast)
{
    Share({{"big.bin", qint64(1) << 30}});
    Online("bob");
    mp_manager->EnableUploadSpeedLimit(true);
    for (const qint64 l_limit : {64, 4096, 20480})
    {
        SCOPED_TRACE(l_limit);
        mp_manager->SetUploadSpeedLimit(int(l_limit));
        QElapsedTimer l_clock;
        l_clock.start();
        mp_manager->OnQueueUploadRequested("bob", Remote("big.bin"));
        const std::unique_ptr<FakePeer> lp_downloader = Accept("bob");
        // Three seconds at the least, however the machine keeps up; the bound is one-sided: the
        // bytes received (after the transfer number) never pass the limit's worth by 5 %.
        QTest::qWait(3000);
        const qint64 l_received = lp_downloader->Raw().size() - 4;
        EXPECT_LE(l_received, l_limit * 1024 * l_clock.elapsed() / 1000 * 105 / 100);
        mp_manager->RemoveUpload(Entry("bob", "big.bin"));
    }
}

TEST_F(UploadTransfer, RemovingAStalledUploadReturnsWellWithinAWholeWait)
{
    Share({{"big.bin", 256 << 20}});
    Online("bob");
    for (const bool l_offsetComes : {false, true})
    {
        SCOPED_TRACE(l_offsetComes ? "the downloader stops reading" : "no offset comes");
        mp_manager->OnQueueUploadRequested("bob", Remote("big.bin"));
        const ItemPtr l_entry = Entry("bob", "big.bin");
        const std::unique_ptr<FakePeer> lp_downloader = Accept("bob", l_offsetComes);
        if (l_offsetComes)
            lp_downloader->StopReading();
        // The thread waits for the offset, or for its writes once the send queue stops moving for three looks.
        int l_queued = -1, l_still = 0;
        const auto l_stalled = [&] {
            const int l_now = QueuedToSend(m_uploaderSocket);
            l_still = l_now > 0 && l_now == std::exchange(l_queued, l_now) ? l_still + 1 : 0;
            return l_still >= 3;
        };
        ASSERT_TRUE(QTest::qWaitFor([&] { return l_offsetComes ? l_stalled() : lp_downloader->Raw().size() == 4; }, 10000));
        const QPointer<TransferThread> lp_thread = mp_manager->PeekObject<TransferThread>(l_entry["upload_thread"]);
        ASSERT_TRUE(lp_thread && lp_thread->isRunning());
        QElapsedTimer l_clock;
        l_clock.start();
        mp_manager->RemoveUpload(l_entry);
        EXPECT_LT(l_clock.elapsed(), 5000) << "a stop is heard within a wait slice, not after the 30 s wait";
    }
}

// Through the manager and real sockets: the downloader goes away mid-file, or our user removes the
// upload. Paced, the thread is mostly asleep between blocks when the connection goes, so it
// learns of the loss only from its next write.
TEST_F(UploadTransfer, AnUploadWhoseConnectionGoesMidFileEndsQuietlyAndLeavesNothingRunning)
{
    const qint64 l_size = 32 << 20;
    Share({{"big.bin", l_size}});
    Online("bob");
    mp_manager->SetUploadSpeedLimit(2048);
    mp_manager->EnableUploadSpeedLimit(true);
    const QRegularExpression l_lost(QString("Error uploading %1 to bob\\. (Writing to socket|Waiting for bytes to be written to "
                                            "socket) failed\\. Error string: \\S")
                                        .arg(QRegularExpression::escape(m_dir.filePath("shared/big.bin"))));
    enum class End { Close, Reset, Removal };
    const std::pair<const char*, End> l_ends[] = {
        {"the downloader closes", End::Close}, {"the downloader resets", End::Reset}, {"our user removes it", End::Removal}};
    for (const auto& [l_name, l_end] : l_ends)
    {
        SCOPED_TRACE(l_name);
        const QtWarnings l_warnings;
        m_lines.clear();
        mp_manager->OnQueueUploadRequested("bob", Remote("big.bin"));
        const ItemPtr l_entry = Entry("bob", "big.bin");
        const std::unique_ptr<FakePeer> lp_downloader = Accept("bob");
        const QString l_request = QString("40 1 %1 big.bin %2").arg(l_entry["transfer_req"].AsString()).arg(l_size);
        const QPointer<TransferThread> lp_thread = mp_manager->PeekObject<TransferThread>(l_entry["upload_thread"]);
        const QPointer<QTcpSocket> lp_socket = mp_manager->PeekObject<QTcpSocket>(l_entry["upload_socket"]);
        ASSERT_TRUE(lp_thread && lp_socket);
        ASSERT_TRUE(QTest::qWaitFor([&] { return lp_downloader->Raw().size() >= 256 * 1024; }, 10000));
        ASSERT_LT(lp_downloader->Raw().size(), 4 + l_size) << "still mid-file";
        if (l_end == End::Close)
            lp_downloader->Close();
        else if (l_end == End::Reset)
            lp_downloader->Reset();
        else
            mp_manager->RemoveUpload(l_entry);
        EXPECT_TRUE(QTest::qWaitFor([&] { return lp_thread.isNull() && lp_socket.isNull(); }, 10000))
            << "thread and socket freed";
        if (l_end == End::Removal)
        {
            EXPECT_FALSE(Entry("bob", "big.bin"));
            EXPECT_EQ(Parked(), QStringList{l_request});
            EXPECT_EQ(Logged("Error uploading"), 0);
        }
        else
        {
            EXPECT_EQ(Status(l_entry), Aborted);
            for (const char* l_part : {"upload_thread", "upload_socket", "upload_file", "read_position", "last_receipt_time", "bytes_per_second"})
                EXPECT_FALSE(l_entry[l_part]) << l_part;
            EXPECT_EQ(m_lines.filter(l_lost).size(), 1) << m_lines.filter("Error uploading").join('\n').toStdString();
            EXPECT_EQ(Logged("Upload of big.bin to bob aborted, sending upload failed notification."), 1);
            EXPECT_EQ(Parked(), QStringList({l_request, "46 big.bin"}));
        }
        EXPECT_EQ(mp_manager->ActiveUploadCount(), 0);
        EXPECT_EQ(l_warnings.Given().join('\n').toStdString(), "") << "Qt warned";
    }
}

// A file of one block, and a downloader that resets the moment its offset is out: the system knows
// of the reset before the block goes, but the thread has not read from the socket since, so the
// socket still says connected and only the flush that fails tells that the block never left. At
// 1 KiB/s, with no other upload to fill the byte pool, the thread waits l_size / 1024 seconds from
// taking the offset to writing the block; the reset must be in our socket within that wait.
TEST_F(UploadTransfer, AOneBlockUploadWhoseDownloaderResetsRightAfterTheOffsetEndsAbortedNotComplete)
{
    constexpr qint64 l_size = 5000;
    static_assert(l_size <= UploadThread::BlockBytes, "one block");
    const qint64 l_heldMs = l_size * 1000 / 1024;
    Share({{"one.bin", l_size}});
    Online("bob");
    mp_manager->SetUploadSpeedLimit(1);
    mp_manager->EnableUploadSpeedLimit(true);
    const QtWarnings l_warnings;
    mp_manager->OnQueueUploadRequested("bob", Remote("one.bin"));
    const ItemPtr l_entry = Entry("bob", "one.bin");
    const std::unique_ptr<FakePeer> lp_downloader = Accept("bob", false);
    const QString l_request = QString("40 1 %1 one.bin %2").arg(l_entry["transfer_req"].AsString()).arg(l_size);
    const QPointer<TransferThread> lp_thread = mp_manager->PeekObject<TransferThread>(l_entry["upload_thread"]);
    const QPointer<QTcpSocket> lp_socket = mp_manager->PeekObject<QTcpSocket>(l_entry["upload_socket"]);
    ASSERT_TRUE(lp_thread && lp_socket);
    ASSERT_EQ(mp_manager->GetPerUploadSpeedLimit(), 1);

    // The transfer number is out before the reset, so only the block can meet it; the offset
    // reaches our socket before the reset, which would drop it if it were still waiting to go.
    ASSERT_TRUE(QTest::qWaitFor([&] { return lp_downloader->Raw().size() == 4; }, 5000));
    QElapsedTimer l_sinceOffset;
    l_sinceOffset.start();
    lp_downloader->SendRaw(Int64(0));
    ASSERT_TRUE(QTest::qWaitFor([&] { return TcpState(m_uploaderSocket).tcpi_bytes_received == 8; }, 5000));
    lp_downloader->Reset();
    ASSERT_TRUE(QTest::qWaitFor([&] { return TcpState(m_uploaderSocket).tcpi_state == ResetState; }, 5000));
    ASSERT_LT(l_sinceOffset.elapsed(), l_heldMs) << "the reset came in only after the thread may have written the block";

    ASSERT_TRUE(QTest::qWaitFor([&] { return lp_thread.isNull() && lp_socket.isNull(); }, l_heldMs + 10000))
        << "thread and socket freed";
    EXPECT_EQ(Status(l_entry).toStdString(), Aborted);
    const QRegularExpression l_lost(QString("Error uploading %1 to bob\\. Writing to socket failed\\. Error string: \\S")
                                        .arg(QRegularExpression::escape(m_dir.filePath("shared/one.bin"))));
    EXPECT_EQ(m_lines.filter(l_lost).size(), 1) << m_lines.filter("Error uploading").join('\n').toStdString();
    EXPECT_EQ(Logged("Upload of one.bin to bob aborted, sending upload failed notification."), 1);
    EXPECT_EQ(Parked().join(" | ").toStdString(), (l_request + " | 46 one.bin").toStdString());
    EXPECT_EQ(mp_manager->ActiveUploadCount(), 0);
    EXPECT_EQ(l_warnings.Given().join('\n').toStdString(), "") << "Qt warned";
}

// One upload thread on its own against a scripted downloader, its waits cut to 500 ms.
TEST_F(UploadTransfer, TheUploadThreadSendsFromTheOffsetOrEndsWithItsErrorText)
{
    const QByteArray l_offset = Int64(3000);
    const QString l_wait = "Waiting for initialization data to read failed. Error string: ";
    // File size, the offset's pieces, bytes taken before the downloader closes, first byte it gets
    // (-1: none, -2: not checked), a part of the error (a write fails in the write or the wait).
    const std::tuple<const char*, qint64, std::vector<QByteArray>, qint64, qint64, QString> l_cases[] = {
        {"one block", 8192, {Int64(0)}, 8192, 0, ""},
        {"two blocks", 8193, {Int64(0)}, 8193, 0, ""},
        {"from the middle", 8193, {l_offset}, 5193, 3000, ""},
        {"offset in two pieces", 8193, {l_offset.left(3), l_offset.mid(3)}, -1, 3000, ""},
        {"offset at the end", 8193, {Int64(8193)}, -1, -1, "Won't seek to offset 8193 in file of size 8193"},
        {"negative offset", 8193, {Int64(-1)}, -1, -1, "Won't seek to offset -1 in file of size 8193"},
        {"seven bytes, then silence", 8193, {l_offset.left(7)}, -1, -1, l_wait + "Network operation timed out"},
        {"closed before the offset", 8193, {}, 0, -1, l_wait + "The remote host closed the connection"},
        {"closed half-way", 8 << 20, {Int64(0)}, 100000, -2, "to socket failed. Error string: The remote host closed"},
        {"file shrunk once open", 8193, {Int64(0)}, -1, -2, "Reading from file failed. Error string: "},
    };
    for (const auto& [l_name, l_size, l_pieces, l_closeAfter, l_from, l_error] : l_cases)
    {
        SCOPED_TRACE(l_name);
        QFile l_file(m_dir.filePath("file"));
        ASSERT_TRUE(l_file.open(QIODevice::WriteOnly) && l_file.write(Pattern(l_size)) == l_size);
        l_file.close();
        ASSERT_TRUE(l_file.open(QIODevice::ReadOnly));
        FakePeer l_downloader;
        QTcpSocket* lp_uploader = l_downloader.Linked();
        UploadThread l_thread(lp_uploader, &l_file, 0x01020304, nullptr);
        l_thread.SetWaitLimit(500);
        lp_uploader->moveToThread(&l_thread);
        QString l_outcome = "(none)";
        qint64 l_lastProgress = -1, l_reports = 0;
        QObject::connect(&l_thread, &UploadThread::UploadProgress, [&](qint64 i_at) { l_lastProgress = i_at, ++l_reports; });
        QObject::connect(&l_thread, &UploadThread::UploadComplete, [&] { l_outcome = ""; });
        QObject::connect(&l_thread, &UploadThread::UploadError, [&](QString i_error) { l_outcome = i_error; });
        QElapsedTimer l_clock;
        l_clock.start();
        l_thread.start();
        // The thread has taken the size before it sends the number.
        ASSERT_TRUE(QTest::qWaitFor([&] { return l_downloader.Raw().size() >= 4; }, 5000));
        if (l_from == -2 && l_closeAfter < 0)
            QFile::resize(l_file.fileName(), 100);
        for (const QByteArray& l_piece : l_pieces)
        {
            if (&l_piece != &l_pieces.front())
                QTest::qWait(100); // only so the thread reads the offset in two
            l_downloader.SendRaw(l_piece);
        }
        if (const qint64 l_taken = 4 + l_closeAfter; l_closeAfter >= 0)
        {
            EXPECT_TRUE(QTest::qWaitFor([&] { return l_downloader.Raw().size() >= l_taken; }, 10000));
            l_downloader.Close();
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return l_outcome != "(none)"; }, 10000));
        l_thread.wait();
        EXPECT_EQ(lp_uploader->thread(), QThread::currentThread()) << "handed back before the last report";
        delete lp_uploader;
        EXPECT_EQ(l_downloader.Raw().left(4), QByteArray::fromHex("04030201"));
        EXPECT_TRUE(l_error.isEmpty() ? l_outcome.isEmpty() : l_outcome.contains(l_error)) << l_outcome.toStdString();
        if (l_from == -2)
            continue;
        EXPECT_EQ(l_downloader.Raw().mid(4), l_from < 0 ? QByteArray() : Pattern(l_size).mid(int(l_from)));
        EXPECT_EQ(l_lastProgress, l_from < 0 ? -1 : l_size);
        // Spaced at least 100 ms apart however slow the machine, and the last always goes.
        EXPECT_TRUE(l_from < 0 ? l_reports == 0 : l_reports >= 1 && l_reports <= 1 + l_clock.elapsed() / 100) << l_reports;
    }
}
