#include <numeric>

#include "UploadFixture.h"

using namespace transfer_status;
using UploadStart = UploadFixture;

TEST_F(UploadStart, AnAcceptedUploadSendsTheFileAndReportsItsSpeedOnlyAboveOneMebibyte)
{
    ASSERT_TRUE(LogIn());
    Share({{"exact.bin", 1048576}, {"above.bin", 1048577}});
    mp_manager->SetUploadSpeedLimit(8192); // paced, so the measured speed is never 0
    mp_manager->EnableUploadSpeedLimit(true);
    Online("bob");
    QSignalSpy l_progress(mp_manager.get(), &TransferQueueManager::UploadProgressed);
    for (const auto& [l_name, l_size] : {std::pair("exact.bin", 1048576), std::pair("above.bin", 1048577)})
    {
        SCOPED_TRACE(l_name);
        l_progress.clear();
        mp_manager->OnQueueUploadRequested("bob", Remote(l_name));
        const ItemPtr l_entry = Entry("bob", l_name);
        const qint64 l_before = QDateTime::currentMSecsSinceEpoch();
        std::unique_ptr<Downloader> lp_downloader = Accept("bob", Downloader::Offset(0), l_size);
        EXPECT_EQ(Status(l_entry), Uploading);
        ASSERT_TRUE(QTest::qWaitFor([&] { return Status(l_entry) == Complete; }, 20000));
        QFile l_file(m_dir.filePath("shared/" + QString(l_name)));
        EXPECT_TRUE(l_file.open(QIODevice::ReadOnly) && lp_downloader->m_data == l_file.readAll());
        EXPECT_TRUE(l_progress.count() >= 1 && l_progress.count() <= 2 + (QDateTime::currentMSecsSinceEpoch() - l_before) / 100) << l_progress.count();
    }
    EXPECT_EQ(Told("bob"), QStringList({"40 1 1 exact.bin 1048576", "40 1 2 above.bin 1048577"}));
    ASSERT_EQ(Sent(121, 1).size(), 1);
    EXPECT_GT(qFromLittleEndian<qint32>(Sent(121)[0].fields.constData()), 0);
}

TEST_F(UploadStart, SlotsStartOneUploadPerUserTheNextWhenOneEndsAndNeverAFileNoLongerShared)
{
    Share({{"a.mp3", 10}, {"b.mp3", 10}, {"c.mp3", 10}, {"d.mp3", 10}});
    const std::pair<const char*, const char*> l_all[] = {{"bob", "a.mp3"}, {"bob", "b.mp3"}, {"carl", "c.mp3"}, {"dave", "d.mp3"}};
    for (const auto& [l_user, l_name] : l_all)
    {
        Online(l_user);
        mp_manager->OnQueueUploadRequested(l_user, Remote(l_name));
    }
    const auto l_answer = [&](const char* i_user, const char* i_name, bool i_accepted) {
        mp_manager->OnFileTransferResponse(i_user, Entry(i_user, i_name)["transfer_req"].AsUInt(), i_accepted, false, 0, "Cancelled");
    };
    const struct
    {
        const char* name;
        std::function<void()> step;
        std::string statuses;
    } l_steps[] = {
        {"slots 0, 100 and -1 refused", [&] { for (int l_slots : {0, 100, -1}) mp_manager->SetUploadSlots(l_slots); },
         "requesting queued queued queued"},
        {"two slots", [&] { mp_manager->SetUploadSlots(2); }, "requesting queued requesting queued"},
        {"bob's refused: his next", [&] { l_answer("bob", "a.mp3", false); }, "denied requesting requesting queued"},
        {"bob's next gone from disk while asked", [&] { QFile::remove(m_dir.filePath("shared/b.mp3")); l_answer("bob", "b.mp3", true); },
         "denied local error requesting requesting"},
        {"dave's unshared while asked", [&] { m_folder.Disconnect("shared_public"); l_answer("dave", "d.mp3", true); },
         "denied local error requesting denied"},
        {"bob's first unshared while queued", [&] { m_folder.NewItem("shared_public"); mp_manager->SetUploadSlots(1);
             mp_manager->OnQueueUploadRequested("bob", Remote("a.mp3")); m_folder.Disconnect("shared_public"); l_answer("carl", "c.mp3", false); },
         "denied local error denied denied"},
    };
    for (const auto& l_step : l_steps)
    {
        SCOPED_TRACE(l_step.name);
        l_step.step();
        QStringList l_statuses;
        for (const auto& [l_user, l_name] : l_all)
            l_statuses << Status(Entry(l_user, l_name));
        EXPECT_EQ(l_statuses.join(' ').toStdString(), l_step.statuses);
    }
    EXPECT_EQ(Setting("upload_slots"), "1");
    EXPECT_EQ(Told("bob"), QStringList({"40 1 1 a.mp3 10", "40 1 3 b.mp3 10", "50 b.mp3 File read error.", "50 a.mp3 File not shared."}));
    EXPECT_EQ(Told("dave"), QStringList({"40 1 4 d.mp3 10", "50 d.mp3 File not shared."}));
    EXPECT_EQ(Entry("dave", "d.mp3")["denial_reason"].AsString(), "File not shared.");
    EXPECT_FALSE(Entry("dave", "d.mp3")["upload_file"]) << "no file opened";
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
    EXPECT_EQ(QList<int>({int(mp_manager->PayFromBytePool(300)), int(mp_manager->PayFromBytePool(1000))}), QList<int>({0, 300}));
    for (const std::vector<const char*>& l_users : {std::vector<const char*>{"bob"}, {"carl", "dave", "erin"}})
    {
        SCOPED_TRACE(l_users.size());
        std::vector<std::unique_ptr<Downloader>> l_downloaders;
        for (const char* l_user : l_users)
        {
            Online(l_user);
            mp_manager->OnQueueUploadRequested(l_user, Remote(QString("%1.bin").arg(l_downloaders.size() + 1)));
            l_downloaders.push_back(Accept(l_user));
        }
        EXPECT_EQ(mp_manager->GetPerUploadSpeedLimit(), 600 / int(l_users.size()));
        const auto l_received = [&](int i_waitMs) {
            QTest::qWait(i_waitMs);
            return std::accumulate(l_downloaders.begin(), l_downloaders.end(), qint64(0),
                                   [](qint64 i_sum, const auto& ip_one) { return i_sum + ip_one->m_data.size(); });
        };
        const qint64 l_start = l_received(500);
        EXPECT_NEAR(double(l_received(3000) - l_start), 600.0 * 1024 * 3, 600.0 * 1024 * 3 * 0.1);
        for (const char* l_user : l_users)
            mp_manager->RemoveUpload(ItemPtr(User(l_user).GetItems("upload_entry")));
    }
}

TEST_F(UploadStart, RemovingAStalledUploadReturnsWithinASecond)
{
    Share({{"big.bin", 256 << 20}});
    Online("bob");
    for (const bool l_offsetComes : {false, true})
    {
        SCOPED_TRACE(l_offsetComes ? "the downloader stops reading" : "no offset comes");
        mp_manager->OnQueueUploadRequested("bob", Remote("big.bin"));
        const ItemPtr l_entry = Entry("bob", "big.bin");
        std::unique_ptr<Downloader> lp_downloader = Accept("bob", l_offsetComes ? Downloader::Offset(0) : std::vector<QByteArray>());
        lp_downloader->mp_socket->setReadBufferSize(1 << 16);
        ASSERT_TRUE(QTest::qWaitFor([&] { return lp_downloader->m_number.size() == 4 && lp_downloader->m_data.isEmpty() != l_offsetComes; }, 5000));
        lp_downloader->mp_socket->disconnect(lp_downloader.get());
        QTest::qWait(500); // time to fill every buffer on the way
        const QPointer<TransferThread> lp_thread = mp_manager->PeekObject<TransferThread>(l_entry["upload_thread"]);
        ASSERT_TRUE(lp_thread && lp_thread->isRunning());
        const qint64 l_before = QDateTime::currentMSecsSinceEpoch();
        mp_manager->RemoveUpload(l_entry);
        EXPECT_LT(QDateTime::currentMSecsSinceEpoch() - l_before, 1000);
    }
}
