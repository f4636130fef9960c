#include "TransferFixture.h"
#include "support/support/QtWarnings.h"

// Downloads from scripted uploaders whose file connections the messenger hands over.
class DownloadTransfer : public TransferFixture
{
protected:
    void SetUp() override
    {
        TransferFixture::SetUp();
        QObject::connect(mp_manager.get(), &TransferQueueManager::DownloadProgressed, [this](ItemPtr i_entry) {
            if (const qint64* lp_position = mp_manager->PeekObject<qint64>(i_entry["write_position"]))
                m_progress << *lp_position;
        });
    }

    // The uploader's file connection for that transfer number.
    std::unique_ptr<FakePeer> Uploader(quint32 i_req, const QString& i_user = "bob")
    {
        auto lp_peer = std::make_unique<FakePeer>();
        mp_manager->OnFileConnection(i_user, lp_peer->Linked(), i_req);
        return lp_peer;
    }
    // Whether the uploader is told to start there, and told nothing else.
    static bool Offset(FakePeer& i_peer, qint64 i_offset)
    {
        return QTest::qWaitFor([&] { return i_peer.Raw() == Int64(i_offset); }, 5000);
    }
    // The uploader's request for the download, accepted by us under that number.
    void Requested(ItemPtr i_entry, quint32 i_req)
    {
        const QString l_user = i_entry["user"].AsString();
        emit mp_messenger->FileTransferRequested(l_user, 1, i_req, i_entry["remote_folder"].AsStdString() + "\\song.mp3",
                                                 i_entry["file_size"].AsInt64());
        EXPECT_EQ(Parked(l_user), QStringList(QString("41 %1 1").arg(i_req)));
    }
    QByteArray Read(const QString& i_path) const
    {
        QFile l_file(m_dir.filePath(i_path));
        return l_file.open(QIODevice::ReadOnly) ? l_file.readAll() : QByteArray("missing");
    }
    void Write(const QString& i_path, const QByteArray& i_bytes) const
    {
        QFile l_file(m_dir.filePath(i_path));
        EXPECT_TRUE(QDir().mkpath(QFileInfo(l_file).path()) && l_file.open(QIODevice::WriteOnly) &&
                    l_file.write(i_bytes) == i_bytes.size());
    }

    QList<qint64> m_progress;
};

TEST_F(DownloadTransfer, TheUploadersBytesAreAppendedToThePartialFileAndTheFinishedFileMovedOnce)
{
    const int l_size = 300000;
    const QByteArray l_file = Pattern(l_size), l_longer = l_file + "extra";
    // Bytes in the partial file, bytes sent before the uploader closes, a finished file there, the outcome.
    const std::tuple<const char*, int, int, bool, QString> l_cases[] = {
        {"fresh", 0, l_size, false, Complete},
        {"partial file longer than the file", l_size + 5, 0, false, Aborted},
        {"uploader closes early", 0, 120000, false, Aborted},
        {"finished file already there", 0, l_size, true, LocalError},
    };
    QSignalSpy l_records(mp_manager.get(), &TransferQueueManager::CompleteDownloadAdded);
    quint32 l_req = 0;
    for (const auto& [l_name, l_partialSize, l_sent, l_clash, l_outcome] : l_cases)
    {
        SCOPED_TRACE(l_name);
        const QString l_status = l_outcome;
        const QString l_folder = QString("Case%1").arg(++l_req);
        const QString l_partial = "downloading/" + l_folder + "/song.mp3", l_finished = "complete/" + l_folder + "/song.mp3";
        const ItemPtr l_entry = mp_manager->AddDownload("bob", "song.mp3", "Music\\" + l_folder.toStdString(), l_size, 0);
        l_entry += d.GetType("search_request_text")->GetItem("song");
        if (l_partialSize)
            Write(l_partial, l_longer.left(l_partialSize));
        if (l_clash)
            Write(l_finished, "the user's own");
        Requested(l_entry, l_req);
        m_progress.clear(), l_records.clear(), m_lines.clear();

        QElapsedTimer l_clock;
        l_clock.start();
        const std::unique_ptr<FakePeer> lp_uploader = Uploader(l_req);
        EXPECT_TRUE(Offset(*lp_uploader, l_partialSize));
        lp_uploader->SendRaw(l_file.mid(l_partialSize, l_sent));
        lp_uploader->Close();
        ASSERT_TRUE(QTest::qWaitFor([&] { return Status(l_entry) == l_status; }, 10000)) << Status(l_entry).toStdString();
        const qint64 l_held = l_partialSize + l_sent;

        // At most about ten reports a second, however slow the machine, and always the last position.
        EXPECT_LE(m_progress.size(), l_clock.elapsed() / 100 + 2);
        EXPECT_EQ(m_progress.value(m_progress.size() - 1, -1), l_sent ? l_held : -1);
        if (l_status == Complete)
        {
            EXPECT_EQ(Read(l_finished), l_file);
            EXPECT_FALSE(QDir(m_dir.filePath("downloading/" + l_folder)).exists());
            ASSERT_EQ(l_records.size(), 1);
            EXPECT_EQ(Parts(l_records[0][0].value<ItemPtr>()).filter(QRegularExpression("^(?!complete_download_completion_time)")),
                      (QStringList{"complete_download_file_size=300000", "complete_download_filename=song.mp3",
                                   "complete_download_folder=" + QString(m_dir.filePath("complete/" + l_folder)).replace('/', '\\'),
                                   "complete_download_relative_folder=" + l_folder, "search_request_text=song",
                                   "user=bob"}));
            continue;
        }
        EXPECT_EQ(Read(l_partial), l_longer.left(int(l_held))) << "the partial file is kept";
        EXPECT_EQ(Read(l_finished), l_clash ? QByteArray("the user's own") : QByteArray("missing"));
        EXPECT_TRUE(l_records.isEmpty());
        EXPECT_EQ(Logged(l_clash ? "Could not move finished download" : "Error downloading song.mp3 from bob."), 1);
    }
    EXPECT_EQ(g("complete_download").Size(), 1u);
}

// The user took the finished file away and fetched it again, from another folder of bob's that
// lands in the same complete folder, or from another user: one record per user and file there.
TEST_F(DownloadTransfer, TheSameFileFinishedAgainBringsItsOneRecordUpToDate)
{
    // Uploader, remote folder, size, the download's search (none when null), whether it is bob's record.
    const std::tuple<const char*, const char*, int, const char*, bool> l_steps[] = {
        {"bob", "Music\\Album", 1000, "song", true},
        {"bob", "Music\\Album", 2500, "song live", true},
        {"bob", "Backup\\Album", 1800, nullptr, true},
        {"carl", "Music\\Album", 700, "song", false},
    };
    const QString l_folder = QString(m_dir.filePath("complete/Album")).replace('/', '\\');
    const QString l_yesterday = TransferTimeStamp(m_start.addDays(-1));
    QSignalSpy l_records(mp_manager.get(), &TransferQueueManager::CompleteDownloadAdded);
    ItemPtr l_bobs;
    quint32 l_req = 0;
    for (const auto& [l_user, l_remote, l_size, l_search, l_isBobs] : l_steps)
    {
        SCOPED_TRACE(QString("%1 %2 %3").arg(l_user, l_remote).arg(l_size).toStdString());
        // Finished long ago, as far as the record knows.
        const QString l_oldSize = l_isBobs ? l_bobs["complete_download_file_size"].AsString() : QString();
        if (l_isBobs && l_bobs)
            l_bobs += d.GetType("complete_download_completion_time")->GetItem(l_yesterday);
        const ItemPtr l_entry = mp_manager->AddDownload(l_user, "song.mp3", l_remote, l_size, 0);
        if (l_search)
            l_entry += d.GetType("search_request_text")->GetItem(l_search);
        Requested(l_entry, ++l_req);
        const std::unique_ptr<FakePeer> lp_uploader = Uploader(l_req, l_user);
        EXPECT_TRUE(Offset(*lp_uploader, 0));
        lp_uploader->SendRaw(Pattern(l_size));
        ASSERT_TRUE(QTest::qWaitFor([&] { return Status(l_entry) == Complete; }, 10000));
        EXPECT_EQ(Read("complete/Album/song.mp3"), Pattern(l_size));

        ASSERT_EQ(l_records.size(), int(l_req));
        const ItemPtr l_record = l_records.last()[0].value<ItemPtr>();
        if (l_isBobs)
        {
            EXPECT_TRUE(!l_bobs || l_record == l_bobs) << "the same record";
            l_bobs = l_record;
        }
        EXPECT_EQ(g("complete_download").Size(), l_isBobs ? 1u : 2u);
        EXPECT_TRUE(StampedAhead(l_record, "complete_download_completion_time", 0))
            << l_record["complete_download_completion_time"].AsString().toStdString();
        QStringList l_parts{"complete_download_file_size=" + QString::number(l_size), "complete_download_filename=song.mp3",
                            "complete_download_folder=" + l_folder, "complete_download_relative_folder=Album",
                            "user=" + QString(l_user)};
        if (l_search)
            l_parts.insert(4, QString("search_request_text=") + l_search);
        EXPECT_EQ(Parts(l_record).filter(QRegularExpression("^(?!complete_download_completion_time)")), l_parts);
        // The values the record let go of are collected as usual; a search it let go of is the
        // search's own and stays.
        d.RemoveDisconnectedItems();
        EXPECT_FALSE(d.GetType("complete_download_completion_time")->HasItem(l_yesterday));
        if (!l_oldSize.isEmpty())
        {
            EXPECT_FALSE(d.GetType("complete_download_file_size")->HasItem(l_oldSize)) << l_oldSize.toStdString();
        }
        EXPECT_EQ(bool(d.GetType("search_request_text")->HasItem("song live")), l_req > 1);

        // The user takes the file away and the download off the list.
        EXPECT_TRUE(QFile::remove(m_dir.filePath("complete/Album/song.mp3")));
        mp_manager->RemoveDownload(l_entry);
    }
}

TEST_F(DownloadTransfer, AConnectionThatWouldWriteIntoARunningOrFinishedDownloadOrNamesNoneIsClosed)
{
    const QByteArray l_file = Pattern(200000);
    const ItemPtr l_running = Download("song.mp3", l_file.size());
    Requested(l_running, 1);
    const std::unique_ptr<FakePeer> lp_uploader = Uploader(1);
    EXPECT_TRUE(Offset(*lp_uploader, 0));
    lp_uploader->SendRaw(l_file.left(6 * 8192));
    // Reported while the uploader is silent.
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_progress.contains(6 * 8192); }, 5000));

    const ItemPtr l_samePartial = Download("song.mp3", l_file.size(), "carl");
    Requested(l_samePartial, 2);
    const ItemPtr l_finished = Download("done.mp3", 10, "dave");
    mp_manager->SetDownloadEntryStatus(l_finished, Complete);
    l_finished += d.GetType("remote_transfer_req")->GetItem("3");
    const std::tuple<const char*, quint32, const char*> l_intruders[] = {
        {"bob", 1, "Download already running, refusing second file connection"},
        {"carl", 2, "is being written by another download, refusing file connection"},
        {"dave", 3, "Download already complete, refusing file connection"},
        {"bob", 77, "Download not found, aborting"},
        {"mallory", 1, "Download not found, aborting"},
    };
    for (const auto& [l_user, l_req, l_logged] : l_intruders)
    {
        SCOPED_TRACE(QString("%1 %2").arg(l_user).arg(l_req).toStdString());
        const int l_before = Logged(l_logged);
        const std::unique_ptr<FakePeer> lp_intruder = Uploader(l_req, l_user);
        lp_intruder->SendRaw(QByteArray(65536, 'x')); // bytes nobody asked for
        EXPECT_TRUE(lp_intruder->WaitForDisconnected());
        EXPECT_EQ(Logged(l_logged), l_before + 1);
        EXPECT_EQ(lp_intruder->Raw(), QByteArray()) << "no offset for an intruder";
    }
    EXPECT_EQ(Status(l_samePartial), Queued);
    EXPECT_EQ(Status(l_finished), Complete);

    // A new request for the running download stops it; the next connection resumes it.
    emit mp_messenger->FileTransferRequested("bob", 1, 9, "Music\\Album\\song.mp3", l_file.size());
    EXPECT_EQ(Status(l_running), Aborted);
    EXPECT_EQ(Parked(), QStringList("41 9 1"));
    EXPECT_EQ(Logged("Transfer is already downloading, cancelling..."), 1);
    EXPECT_TRUE(lp_uploader->WaitForDisconnected());
    const std::unique_ptr<FakePeer> lp_again = Uploader(9);
    EXPECT_TRUE(Offset(*lp_again, 6 * 8192));
    lp_again->SendRaw(l_file.mid(6 * 8192, 6 * 8192));
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_progress.contains(12 * 8192); }, 5000));

    // Asked for again while a Delete still has to reach it, the running download stops and lets
    // go of its partial file at once: the new download's connection resumes it.
    DownloadWork::SetStepsPerSlice(1);
    mp_manager->RemoveDownloads({l_samePartial, l_running});
    EXPECT_TRUE(mp_manager->IsDownloadWorkPending()) << "the Delete reached the running download first";
    const ItemPtr l_anew = Download("song.mp3", l_file.size());
    DownloadWork::SetStepsPerSlice(0);
    EXPECT_EQ(Status(l_anew), Queued);
    EXPECT_TRUE(lp_again->WaitForDisconnected());
    Requested(l_anew, 10);
    const int l_refusals = Logged("is being written by another download");
    const std::unique_ptr<FakePeer> lp_resumed = Uploader(10);
    EXPECT_TRUE(Offset(*lp_resumed, 12 * 8192));
    EXPECT_EQ(Logged("is being written by another download"), l_refusals);
    lp_resumed->SendRaw(l_file.mid(12 * 8192));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Status(l_anew) == Complete; }, 10000));
    EXPECT_EQ(Read("complete/Album/song.mp3"), l_file);
    EXPECT_EQ(g("download_entry").Size(), 2u) << "the Delete passed over the new download";
}

// The uploader's connection goes: reset before we tell it where to start (so our flush of the
// offset is what learns of it), reset or closed mid-file. The download ends aborted with the
// error of its thread, leaves no thread or socket behind, and Qt has nothing to say.
TEST_F(DownloadTransfer, AnUploaderThatGoesAwayEndsTheDownloadQuietly)
{
    enum class Gone { ResetBeforeTheOffset, ResetMidFile, ClosedMidFile };
    const std::tuple<const char*, Gone, const char*> l_cases[] = {
        {"reset before the offset", Gone::ResetBeforeTheOffset, "Socket read failed. Error string: "},
        {"reset mid-file", Gone::ResetMidFile, "Waiting for data to read failed. Error string: "},
        {"closed mid-file", Gone::ClosedMidFile, "Waiting for data to read failed. Error string: "},
    };
    quint32 l_req = 0;
    for (const auto& [l_name, l_gone, l_error] : l_cases)
    {
        SCOPED_TRACE(l_name);
        const QtWarnings l_warnings;
        m_lines.clear();
        const ItemPtr l_entry = mp_manager->AddDownload("bob", "song.mp3", QString("Music\\Case%1").arg(++l_req).toStdString(), 300000, 0);
        Requested(l_entry, l_req);
        auto lp_uploader = std::make_unique<FakePeer>();
        QTcpSocket* lp_ours = lp_uploader->Linked();
        if (l_gone == Gone::ResetBeforeTheOffset)
        {
            lp_uploader->Reset();
            // Here, not in an event loop, where our socket would learn of it by itself.
            QThread::msleep(50);
        }
        mp_manager->OnFileConnection("bob", lp_ours, l_req);
        const QPointer<TransferThread> lp_thread = mp_manager->PeekObject<TransferThread>(l_entry["download_thread"]);
        const QPointer<QTcpSocket> lp_socket(lp_ours);
        ASSERT_TRUE(lp_thread);
        if (l_gone != Gone::ResetBeforeTheOffset)
        {
            EXPECT_TRUE(Offset(*lp_uploader, 0));
            lp_uploader->SendRaw(Pattern(3 * 8192));
            ASSERT_TRUE(QTest::qWaitFor([&] { return m_progress.contains(3 * 8192); }, 5000));
            l_gone == Gone::ResetMidFile ? lp_uploader->Reset() : lp_uploader->Close();
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return Status(l_entry) == Aborted; }, 10000)) << Status(l_entry).toStdString();
        EXPECT_TRUE(QTest::qWaitFor([&] { return lp_thread.isNull() && lp_socket.isNull(); }, 5000)) << "thread and socket freed";
        for (const char* l_part : {"download_thread", "download_socket", "download_file"})
            EXPECT_FALSE(l_entry[l_part]) << l_part;
        EXPECT_EQ(Logged(QString("Error downloading song.mp3 from bob. ") + l_error), 1)
            << m_lines.filter("Error downloading").join('\n').toStdString();
        EXPECT_EQ(l_warnings.Given().join('\n').toStdString(), "") << "Qt warned";
    }
}
