#include <QElapsedTimer>
#include <QSaveFile>

#include "DownloadFixture.h"
#include "store/DataLoadFailure.h"

using namespace transfer_status;
using TransferLife = DownloadFixture;

namespace
{
// Takes a block's time to notice a stop request, as a transfer in the middle of a block does.
class SlowToStop : public TransferThread
{
protected:
    void run() override
    {
        while (!IsExitRequested())
            msleep(1);
        msleep(BlockMs);
    }

public:
    static constexpr int BlockMs = 300;
};
} // namespace

TEST_F(TransferLife, TheHalfMinuteTickKeepsOnlineUploadersAskedAndAsksTheirPlaceWhenDue)
{
    const QDateTime l_now = QDateTime::currentDateTime();
    const struct
    {
        const char* user;
        bool online;
        int queuedAgo;    // seconds since the last queue request; < 0: never asked
        int placeIn;      // seconds until the next place-in-line request
        bool downloading; // a download from the user runs
        QStringList sent;
    } l_cases[] = {
        {"just_asked", true, 595, 60, false, {}}, // stamps drop the milliseconds
        {"due", true, 600, 60, false, {"43 Music\\Album\\2.mp3", "43 Music\\Album\\1.mp3"}},
        {"never_asked", true, -1, 60, false, {"43 Music\\Album\\2.mp3", "43 Music\\Album\\1.mp3"}},
        {"offline", false, 3600, -60, false, {}},
        {"running", true, 3600, -60, true, {}},
        {"place_due", true, 10, 0, false, {"51 Music\\Album\\2.mp3", "51 Music\\Album\\1.mp3"}},
    };
    for (const auto& l_case : l_cases)
    {
        const ItemPtr l_user = User(l_case.user);
        const ItemPtr l_first = Download("1.mp3", 10, l_case.user);
        Download("2.mp3", 10, l_case.user);
        // Order numbers, not creation, set the order of place-in-line requests.
        l_first += d.GetType("download_order")->GetItem(QString::number(900 + (&l_case - l_cases)));
        if (l_case.downloading)
            mp_manager->SetDownloadEntryStatus(Download("3.mp3", 10, l_case.user), Downloading);
        if (l_case.online)
            GoOnline(l_case.user);
        l_user.GetItems("unsent_message").Remove();
        if (l_case.queuedAgo >= 0)
            Restamp(l_user, "last_queue_request_time", l_now.addSecs(-l_case.queuedAgo));
        else
            l_user.GetItems("last_queue_request_time").Remove();
        Restamp(l_user, "next_place_in_line_request_time", l_now.addSecs(l_case.placeIn));
    }

    Tick(mp_timers->halfMinuteTimer);

    for (const auto& l_case : l_cases)
    {
        SCOPED_TRACE(l_case.user);
        EXPECT_EQ(Parked(l_case.user), l_case.sent);
    }
    // Asking again puts the place-in-line request 30 s off; asking the place, 600 s.
    EXPECT_NEAR(SecondsAhead(User("due"), "next_place_in_line_request_time"), 30, 1);
    EXPECT_NEAR(SecondsAhead(User("due"), "last_queue_request_time"), 0, 1);
    EXPECT_NEAR(SecondsAhead(User("place_due"), "next_place_in_line_request_time"), 600, 1);
}

TEST_F(TransferLife, AStalledUploadHandshakeIsAbortedAfterThirtySeconds)
{
    const QDateTime l_now = QDateTime::currentDateTime();
    const ItemPtr l_fresh = NewEntry(true, Requesting, "fresh");
    const ItemPtr l_stalled = NewEntry(true, WaitingForOffset, "stalled");
    Restamp(l_fresh, "last_status_change_time", l_now.addSecs(-28));
    Restamp(l_stalled, "last_status_change_time", l_now.addSecs(-31));

    Tick(mp_timers->halfMinuteTimer);

    EXPECT_EQ(l_fresh["upload_entry_status"].AsString(), Requesting);
    EXPECT_EQ(l_stalled["upload_entry_status"].AsString(), Aborted);
    EXPECT_EQ(Logged("Upload of song.mp3 to stalled timed out in waiting for offset phase, aborting"), 1);
}

TEST_F(TransferLife, AfterTheLoadEveryUnfinishedDownloadIsQueuedAgainAndItsUserTracked)
{
    const char* const l_stored[] = {Downloading, Aborted, Denied, LocalError, Complete, Queued};
    std::vector<ItemPtr> l_entries;
    for (const char* l_status : l_stored)
    {
        l_entries.push_back(Download(std::string(l_status) + ".mp3", 10, l_status));
        // As read from the store: the bare status, no stamp of this start.
        l_entries.back() += d.GetType("download_entry_status")->GetItem(l_status);
        l_entries.back().GetItems("last_status_change_time").Remove();
    }
    QSignalSpy l_loaded(mp_manager.get(), &TransferQueueManager::TransfersLoaded);

    mp_manager->DataLoaded();

    QStringList l_statuses;
    for (ItemPtr l_entry : l_entries)
    {
        l_statuses << Status(l_entry);
        EXPECT_TRUE(l_entry["user"].IsConnected("is_tracked")) << l_entry["user"].AsString().toStdString();
        EXPECT_FALSE(l_entry["last_status_change_time"]);
    }
    EXPECT_EQ(l_statuses, (QStringList{Queued, Queued, Queued, Queued, Complete, Queued}));
    EXPECT_EQ(l_loaded.count(), 1);
    EXPECT_EQ(mp_manager->ActiveDownloadCount(), 0);
}

// A damaged store empties the whole store; the program then tells every engine as on a first
// start. The active marks must come back, or a running transfer would never count as running.
TEST_F(TransferLife, AFailedLoadPutsTheActiveMarksBack)
{
    QSaveFile l_damaged(m_dir.filePath("store"));
    ASSERT_TRUE(l_damaged.open(QIODevice::WriteOnly) && l_damaged.write("\x7f damaged", 9) == 9 &&
                l_damaged.commit());
    EXPECT_THROW(mp_saver->Load(m_dir.filePath("store")), DataLoadFailure);
    ASSERT_FALSE(d.GetType("download_entry_status")->HasItem(Downloading));

    mp_saver->EmitDataLoaded();
    mp_saver->EmitNoData();

    const ItemPtr l_entry = NewEntry(false, Downloading);
    const ItemPtr l_upload = NewEntry(true, Connecting);
    EXPECT_EQ(mp_manager->ActiveDownloadCount(), 1);
    EXPECT_EQ(mp_manager->ActiveUploadCount(), 1);
    EXPECT_TRUE(d.GetType("excluded_download_extension")->HasItem(".ini"));
    mp_manager->DataLoaded(); // a second load keeps one mark on each
    EXPECT_EQ(d.GetType("download_entry_status")->GetItem(Downloading).GetItems("is_active").Size(), 1u);
    mp_manager->SetDownloadEntryStatus(l_entry, Aborted);
    mp_manager->SetUploadEntryStatus(l_upload, Aborted);
}

TEST_F(TransferLife, QuittingWithSeveralTransfersRunningTakesAboutOneBlock)
{
    std::vector<TransferThread*> l_threads;
    for (int l_index = 0; l_index < 4; ++l_index)
    {
        const bool l_upload = l_index % 2 == 1;
        const ItemPtr l_entry = NewEntry(l_upload, l_upload ? Uploading : Downloading, QString::number(l_index));
        l_threads.push_back(new SlowToStop);
        mp_manager->AttachObject(l_entry, l_upload ? "upload_thread" : "download_thread", l_threads.back());
        l_threads.back()->start();
    }
    QElapsedTimer l_clock;
    l_clock.start();
    mp_manager.reset();
    const qint64 l_took = l_clock.elapsed();

    for (TransferThread* lp_thread : l_threads)
    {
        EXPECT_TRUE(lp_thread->isFinished());
        delete lp_thread;
    }
    // One after another would take four blocks.
    EXPECT_GE(l_took, SlowToStop::BlockMs);
    EXPECT_LT(l_took, 2 * SlowToStop::BlockMs);
}
