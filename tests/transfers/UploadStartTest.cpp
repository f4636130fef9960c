#include <QElapsedTimer>

#include "UploadFixture.h"

using namespace transfer_status;

class UploadStart : public UploadFixture
{
protected:
    // Queued while the users are offline, so nothing starts until they come online.
    void Queue(const std::vector<std::pair<const char*, const char*>>& i_requests)
    {
        for (const auto& [l_user, l_name] : i_requests)
            mp_manager->OnQueueUploadRequested(l_user, Remote(l_name));
    }
    QStringList Statuses(const std::vector<std::pair<const char*, const char*>>& i_entries) const
    {
        QStringList l_statuses;
        for (const auto& [l_user, l_name] : i_entries)
            l_statuses << Status(Entry(l_user, l_name));
        return l_statuses;
    }
    bool WaitForStatus(ItemPtr i_entry, const char* i_status)
    {
        return QTest::qWaitFor([&] { return Status(i_entry) == i_status; }, 20000);
    }
};

TEST_F(UploadStart, AnAcceptedUploadSendsTheFileAndReportsItsSpeedOnlyAboveOneMebibyte)
{
    ASSERT_TRUE(LogIn());
    Share({{"exact.bin", 1048576}, {"above.bin", 1048577}});
    // Paced, so the measured speed is never 0.
    mp_manager->SetUploadSpeedLimit(8192);
    mp_manager->EnableUploadSpeedLimit(true);
    Online("bob");
    QSignalSpy l_progress(mp_manager.get(), &TransferQueueManager::UploadProgressed);
    for (const auto& [l_name, l_size] : {std::pair("exact.bin", 1048576), std::pair("above.bin", 1048577)})
    {
        SCOPED_TRACE(l_name);
        l_progress.clear();
        mp_manager->OnQueueUploadRequested("bob", Remote(l_name));
        const ItemPtr l_entry = Entry("bob", l_name);
        ASSERT_EQ(Status(l_entry), Requesting);
        QElapsedTimer l_clock;
        l_clock.start();
        std::unique_ptr<Downloader> lp_downloader = Accept("bob", Downloader::Offset(0), l_size);
        EXPECT_EQ(Status(l_entry), Uploading);
        ASSERT_TRUE(WaitForStatus(l_entry, Complete));
        QFile l_file(m_dir.filePath("shared/" + QString(l_name)));
        ASSERT_TRUE(l_file.open(QIODevice::ReadOnly));
        EXPECT_TRUE(lp_downloader->m_data == l_file.readAll());
        EXPECT_GE(l_progress.count(), 1);
        EXPECT_LE(l_progress.count(), 2 + l_clock.elapsed() / 100) << "about ten reports a second";
    }
    EXPECT_EQ(Told("bob"), QStringList({"40 1 1 exact.bin 1048576", "40 1 2 above.bin 1048577"}));
    const QList<FakeCentralServer::Frame> l_reports = Sent(121, 1);
    ASSERT_EQ(l_reports.size(), 1);
    EXPECT_GT(qFromLittleEndian<qint32>(l_reports[0].fields.constData()), 0);
    EXPECT_EQ(Logged("Recording upload speed of"), 2);
}

TEST_F(UploadStart, SlotsStartOneUploadPerUserAndTheNextWhenOneEnds)
{
    Share({{"a.mp3", 10}, {"b.mp3", 10}, {"c.mp3", 10}, {"d.mp3", 10}});
    const std::vector<std::pair<const char*, const char*>> l_all = {{"bob", "a.mp3"}, {"bob", "b.mp3"}, {"carl", "c.mp3"}, {"dave", "d.mp3"}};
    Queue(l_all);
    for (const char* l_user : {"bob", "carl", "dave"})
        Online(l_user);
    for (int l_ignored : {0, 100, -1})
        mp_manager->SetUploadSlots(l_ignored);
    EXPECT_EQ(Setting("upload_slots"), "1");
    EXPECT_EQ(Statuses(l_all), QStringList({Queued, Queued, Queued, Queued}));

    mp_manager->SetUploadSlots(2);
    EXPECT_EQ(Statuses(l_all), QStringList({Requesting, Queued, Requesting, Queued}));
    mp_manager->OnFileTransferResponse("bob", Entry("bob", "a.mp3")["transfer_req"].AsUInt(), false, false, 0, "Cancelled");
    EXPECT_EQ(Statuses(l_all), QStringList({Denied, Requesting, Requesting, Queued}));
    EXPECT_EQ(Entry("bob", "a.mp3")["denial_reason"].AsString(), "Cancelled");

    mp_manager->SetUploadSlots(1);
    EXPECT_FALSE(mp_manager->IsFreeToUpload());
    mp_manager->OnFileTransferResponse("carl", Entry("carl", "c.mp3")["transfer_req"].AsUInt(), false, false, 0, "Cancelled");
    mp_manager->StartNewUploads();
    EXPECT_EQ(Statuses(l_all), QStringList({Denied, Requesting, Denied, Queued})) << "two active were above one slot";
    EXPECT_EQ(Told("dave"), QStringList());
}

TEST_F(UploadStart, AFileUnsharedOrGoneWhileQueuedIsDeniedAndTheNextUploadGoes)
{
    Share({{"a.mp3", 10}, {"c.mp3", 10}});
    const struct
    {
        const char* name;
        bool afterRequest; // changed between message 40 and the peer's answer
        std::function<void()> change;
        QString sent;
        const char* status;
    } l_cases[] = {
        {"unshared while queued", false, [&] { m_folder.Disconnect("shared_public"); }, "50 a.mp3 File not shared.", Denied},
        {"unshared while asked", true, [&] { m_folder.Disconnect("shared_public"); }, "50 a.mp3 File not shared.", Denied},
        {"gone from disk while asked", true, [&] { QFile::rename(m_dir.filePath("shared/a.mp3"), m_dir.filePath("a.mp3")); },
         "50 a.mp3 File read error.", LocalError},
    };
    for (const auto& l_case : l_cases)
    {
        SCOPED_TRACE(l_case.name);
        for (ItemPtr l_entry : g("upload_entry"))
            mp_manager->RemoveUpload(l_entry);
        for (const char* l_user : {"bob", "carl"})
            User(l_user).Disconnect("is_online");
        QFile::rename(m_dir.filePath("a.mp3"), m_dir.filePath("shared/a.mp3"));
        m_folder.NewItem("shared_public");
        Queue({{"bob", "a.mp3"}, {"carl", "c.mp3"}});
        // Carl, though first in line, waits while bob's upload holds the one slot.
        Online("bob");
        if (l_case.afterRequest)
            mp_manager->StartNewUploads();
        l_case.change();
        if (l_case.afterRequest)
            mp_manager->OnFileTransferResponse("bob", Entry("bob", "a.mp3")["transfer_req"].AsUInt(), true, false, 0, "");
        else
            mp_manager->StartNewUploads();
        m_folder.NewItem("shared_public");
        Online("carl");
        mp_manager->StartNewUploads();

        QStringList l_sent = Told("bob");
        EXPECT_EQ(l_sent.last(), l_case.sent);
        EXPECT_EQ(l_sent.size(), l_case.afterRequest ? 2 : 1);
        EXPECT_EQ(Status(Entry("bob", "a.mp3")), l_case.status);
        EXPECT_FALSE(Entry("bob", "a.mp3")["upload_file"]) << "no file opened";
        EXPECT_EQ(Entry("bob", "a.mp3")["denial_reason"].AsString(), l_case.status == Denied ? "File not shared." : "");
        EXPECT_EQ(Status(Entry("carl", "c.mp3")), Requesting);
    }
}

TEST_F(UploadStart, TheLimitHoldsForOneAndForThreeUploadsAndThePoolKeepsOneSecondAtMost)
{
    Share({{"1.bin", 64 << 20}, {"2.bin", 64 << 20}, {"3.bin", 64 << 20}});
    mp_manager->SetUploadSlots(3);
    mp_manager->SetUploadSpeedLimit(600);
    mp_manager->EnableUploadSpeedLimit(true);
    // A long stretch of under-used allowance leaves one second's worth in the pool.
    mp_manager->AddToBytePool(qint64(1) << 40);
    EXPECT_EQ(mp_manager->PayFromBytePool(qint64(1) << 40), (qint64(1) << 40) - 600 * 1024);
    mp_manager->AddToBytePool(1000);
    EXPECT_EQ(mp_manager->PayFromBytePool(300), 0);
    EXPECT_EQ(mp_manager->PayFromBytePool(1000), 300);

    const std::vector<std::vector<const char*>> l_rounds = {{"bob"}, {"carl", "dave", "erin"}};
    for (const auto& l_users : l_rounds)
    {
        SCOPED_TRACE(l_users.size());
        std::vector<std::unique_ptr<Downloader>> l_downloaders;
        int l_file = 0;
        for (const char* l_user : l_users)
        {
            mp_manager->OnQueueUploadRequested(l_user, Remote(QString("%1.bin").arg(++l_file)));
            Online(l_user);
            mp_manager->StartNewUploads();
            l_downloaders.push_back(Accept(l_user));
        }
        EXPECT_EQ(mp_manager->GetPerUploadSpeedLimit(), 600 / int(l_users.size()));
        QTest::qWait(3500);
        qint64 l_bytes = 0;
        for (const auto& lp_downloader : l_downloaders)
            l_bytes += lp_downloader->Between(500, 3500);
        EXPECT_NEAR(double(l_bytes), 600.0 * 1024 * 3, 600.0 * 1024 * 3 * 0.1);
        for (const char* l_user : l_users)
            mp_manager->RemoveUpload(ItemPtr(User(l_user).GetItems("upload_entry")));
    }
}

TEST_F(UploadStart, RemovingAStalledUploadReturnsWithinASecond)
{
    Share({{"big.bin", 256 << 20}});
    const struct
    {
        const char* name;
        std::vector<QByteArray> offset;
    } l_cases[] = {{"no offset comes", {}}, {"the downloader stops reading", Downloader::Offset(0)}};
    for (const auto& l_case : l_cases)
    {
        SCOPED_TRACE(l_case.name);
        Online("bob");
        mp_manager->OnQueueUploadRequested("bob", Remote("big.bin"));
        const ItemPtr l_entry = Entry("bob", "big.bin");
        std::unique_ptr<Downloader> lp_downloader = Accept("bob", l_case.offset);
        lp_downloader->mp_socket->setReadBufferSize(1 << 16);
        ASSERT_TRUE(QTest::qWaitFor([&] { return lp_downloader->m_number.size() == 4; }, 5000));
        if (!l_case.offset.empty())
        {
            ASSERT_TRUE(QTest::qWaitFor([&] { return !lp_downloader->m_data.isEmpty(); }, 5000));
            lp_downloader->mp_socket->disconnect(lp_downloader.get());
        }
        QTest::qWait(500);
        const QPointer<TransferThread> lp_thread = mp_manager->PeekObject<TransferThread>(l_entry["upload_thread"]);
        ASSERT_TRUE(lp_thread && lp_thread->isRunning());
        QElapsedTimer l_clock;
        l_clock.start();
        mp_manager->RemoveUpload(l_entry);
        EXPECT_LT(l_clock.elapsed(), 1000);
        EXPECT_FALSE(g("upload_entry").Contains(l_entry));
    }
}
