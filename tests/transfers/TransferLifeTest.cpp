#include <QFileInfo>
#include <QSaveFile>

#include "TransferFixture.h"
#include "store/DataLoadFailure.h"

using TransferLife = TransferFixture;

// A second free or a leak is reported by the address sanitizer at exit.
TEST_F(TransferLife, EndingOrRemovingARunningTransferStopsItsThreadAndReleasesWhatItHeldAndNothingForeign)
{
    TransferQueueManager* lp = mp_manager.get();
    // How the transfer ends, and the entry's parts afterwards (none when it is removed).
    const std::tuple<const char*, bool, std::function<void(ItemPtr)>, QStringList> l_cases[] = {
        {"download completes", false, [=](ItemPtr e) { lp->SetDownloadEntryStatus(e, Complete); },
         {"download_entry_status", "last_status_change_time", "user"}},
        {"upload denied", true, [=](ItemPtr e) { lp->SetUploadEntryStatus(e, Denied); },
         {"filename_as_requested", "last_status_change_time", "shared_file", "upload_entry_status", "user"}},
        {"download removed", false, [=](ItemPtr e) { lp->RemoveDownload(e); }, {}},
        {"upload removed", true, [=](ItemPtr e) { lp->RemoveUpload(e); }, {}},
    };
    for (const auto& [l_name, l_upload, l_end, l_kept] : l_cases)
    {
        SCOPED_TRACE(l_name);
        Running l_run = NewRunning(l_upload, l_name);
        ASSERT_EQ(mp_manager->ActiveDownloadCount() + mp_manager->ActiveUploadCount(), 1);
        l_end(l_run.entry);
        EXPECT_EQ(mp_manager->ActiveDownloadCount() + mp_manager->ActiveUploadCount(), 0);

        ASSERT_TRUE(l_run.thread) << "deleted through the event loop, not at once";
        EXPECT_TRUE(l_run.thread->isFinished() && l_run.thread->m_stoppedOnRequest);
        EXPECT_FALSE(l_run.file);
        EXPECT_EQ(QFileInfo(m_dir.filePath(l_name)).size(), 3) << "closed before it was freed";
        EXPECT_TRUE(l_run.peer->WaitForDisconnected());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_FALSE(l_run.thread || l_run.socket);

        EXPECT_EQ(g(l_upload ? "upload_entry" : "download_entry").Contains(l_run.entry), !l_kept.isEmpty());
        if (l_kept.isEmpty())
            continue;
        EXPECT_EQ(Parts(l_run.entry, false), l_kept);
        EXPECT_EQ(StampedAhead(User(l_name), "last_queue_request_time", 0), !l_upload) << "a download is asked for again";
    }

    const ItemPtr l_download = NewEntry(false, Queued), l_upload = NewEntry(true, Queued);
    mp_manager->AttachObject(l_download, "write_position", new qint64(1)).Remove();
    mp_manager->AttachObject(l_upload, "bytes_uploaded", new int(4)).Remove();
    // As a damaged store file could bring them: addresses that nothing here allocated.
    for (const char* l_type : {"write_position", "bytes_since_last_receipt", "bytes_per_second", "bytes_uploaded",
                               "last_receipt_time", "last_speed_measurement_time"})
        for (const char* l_address : {"0", "4096"})
            d.GetType(l_type)->GetItem(l_address).Remove();
    for (const char* l_type : {"download_thread", "download_socket", "download_file"})
        l_download += d.GetType(l_type)->GetItem("4096");
    mp_manager->RemoveDownload(l_download);
    EXPECT_TRUE(g("download_thread").Empty() && g("download_socket").Empty() && g("download_file").Empty());
}

TEST_F(TransferLife, EveryChangeIsStampedButOnlyLeavingTheActiveStateReleases)
{
    QLocale::setDefault(QLocale(QLocale::German));
    const QString l_old = TransferTimeStamp(QDateTime(QDate(2001, 2, 3), QTime(4, 5, 6)));
    const std::tuple<bool, const char*, const char*> l_cases[] = {
        {false, Queued, Queued}, {false, nullptr, Downloading}, {true, Requesting, Connecting},
        {true, Queued, Aborted}, {true, Complete, Denied}};
    for (const auto& [l_upload, l_from, l_to] : l_cases)
    {
        SCOPED_TRACE(std::string(l_from ? l_from : "none") + " to " + l_to);
        const ItemPtr l_entry = NewEntry(l_upload, l_from, "carl");
        const ItemPtr l_speed = mp_manager->AttachObject(l_entry, "bytes_per_second", new qint32(7));
        l_entry += d.GetType("last_status_change_time")->GetItem(l_old);
        SetStatus(l_entry, l_upload, l_to);

        EXPECT_EQ(Status(l_entry), l_to);
        EXPECT_TRUE(StampedAhead(l_entry, "last_status_change_time", 0)) << l_entry["last_status_change_time"].AsStdString();
        EXPECT_EQ(l_entry["bytes_per_second"], l_speed);
    }
    EXPECT_EQ(Count("unsent_message"), 0u) << "nothing is sent to the peer";
    QLocale::setDefault(QLocale::c());
}

TEST_F(TransferLife, TheHalfMinuteTickKeepsOnlineUploadersAskedAsksTheirPlaceWhenDueAndEndsStalledHandshakes)
{
    const QDateTime l_now = QDateTime::currentDateTime();
    // User, online, seconds since asked (< 0: never), seconds to the place request, downloading, code sent.
    const std::tuple<const char*, bool, int, int, bool, QString> l_cases[] = {
        {"just_asked", true, 590, 60, false, ""}, // room for a slow machine before the tick
        {"due", true, 600, 60, false, "43"},
        {"never_asked", true, -1, 60, false, "43"},
        {"offline", false, 3600, -60, false, ""},
        {"running", true, 3600, -60, true, ""},
        {"place_due", true, 10, 0, false, "51"},
    };
    int l_order = 900;
    for (const auto& [l_user, l_online, l_queuedAgo, l_placeIn, l_downloading, l_code] : l_cases)
    {
        // Order numbers, not creation, set the order of the requests.
        Download("1.mp3", 10, l_user) += d.GetType("download_order")->GetItem(QString::number(l_order++));
        Download("2.mp3", 10, l_user);
        if (l_downloading)
            mp_manager->SetDownloadEntryStatus(Download("3.mp3", 10, l_user), Downloading);
        if (l_online)
            Online(l_user);
        Parked(l_user);
        if (l_queuedAgo >= 0)
            Restamp(User(l_user), "last_queue_request_time", l_now.addSecs(-l_queuedAgo));
        else
            User(l_user).GetItems("last_queue_request_time").Remove();
        Restamp(User(l_user), "next_place_in_line_request_time", l_now.addSecs(l_placeIn));
    }
    const ItemPtr l_fresh = NewEntry(true, Requesting, "fresh");
    const ItemPtr l_stalled = NewEntry(true, WaitingForOffset, "stalled");
    Restamp(l_fresh, "last_status_change_time", l_now.addSecs(-20));
    Restamp(l_stalled, "last_status_change_time", l_now.addSecs(-31));

    Tick(mp_timers->halfMinuteTimer);

    for (const auto& [l_user, l_online, l_queuedAgo, l_placeIn, l_downloading, l_code] : l_cases)
        EXPECT_EQ(Parked(l_user), l_code.isEmpty() ? QStringList()
                                                   : QStringList({l_code + " Music\\Album\\2.mp3", l_code + " Music\\Album\\1.mp3"}))
            << l_user;
    // Asking again puts the place-in-line request 30 s off; asking the place, 600 s.
    EXPECT_TRUE(StampedAhead(User("due"), "next_place_in_line_request_time", 30));
    EXPECT_TRUE(StampedAhead(User("due"), "last_queue_request_time", 0));
    EXPECT_TRUE(StampedAhead(User("place_due"), "next_place_in_line_request_time", 600));
    EXPECT_EQ(Status(l_fresh), Requesting);
    EXPECT_EQ(Status(l_stalled), Aborted);
    EXPECT_EQ(Logged("Upload of song.mp3 to stalled timed out in waiting for offset phase, aborting"), 1);
}

// No event loop runs after the manager is gone: what the runs held is freed at once, and the
// entries stay for the store as it was saved.
TEST_F(TransferLife, QuittingWithSeveralTransfersRunningTakesAboutOneBlockAndFreesWhatTheyHeld)
{
    const int l_blockMs = 500; // each thread's time to notice the stop
    std::vector<QPointer<RunningThread>> l_threads;
    std::vector<Running> l_runs;
    for (int l_index = 0; l_index < 4; ++l_index)
    {
        const bool l_upload = l_index % 2 == 1;
        const ItemPtr l_entry = NewEntry(l_upload, l_upload ? Uploading : Downloading, QString::number(l_index));
        l_threads.push_back(new RunningThread(l_blockMs));
        mp_manager->AttachObject(l_entry, l_upload ? "upload_thread" : "download_thread",
                                 static_cast<TransferThread*>(l_threads.back()));
        l_threads.back()->start();
    }
    for (bool l_upload : {false, true})
        l_runs.push_back(NewRunning(l_upload, l_upload ? "uploader" : "downloader"));
    QElapsedTimer l_clock;
    l_clock.start();
    mp_manager.reset();
    EXPECT_LT(l_clock.elapsed(), 4 * l_blockMs) << "one after another takes four blocks";
    for (const QPointer<RunningThread>& lp_thread : l_threads)
        EXPECT_FALSE(lp_thread);
    for (const Running& l_run : l_runs)
    {
        EXPECT_FALSE(l_run.thread || l_run.socket || l_run.file);
        EXPECT_EQ(Parts(l_run.entry, false).filter(QRegularExpression("position|time$|second|receipt")),
                  QStringList{"last_status_change_time"});
    }
    EXPECT_EQ(g("download_entry").Size() + g("upload_entry").Size(), 6u);
}

namespace
{
// Key, default ("~" for the home folder of the test's own process, known only once it runs) and
// whether it is written over a value the store already holds.
const std::tuple<const char*, QString, bool> Defaults[] = {
    {"download_folder", "~/Tarnwick Downloads", false},
    {"transfer_order_counter", "1", false},
    {"transfer_req_counter", "1", true},
    {"upload_speed_limit", "0", false},
    {"upload_speed_limit_enabled", "no", false},
    {"upload_slots", "1", true},
    {"check_for_empty_shares", "no", true},
    {"empty_share_message", "It looks like you're not sharing any files. Please share something before "
                            "downloading anything from my own shares. Thanks.", true},
    {"max_queued_uploads_per_user", "200", true}};
} // namespace

// The manager is built in the test, over the store as the test leaves it.
struct TransferSchema : TransferFixture
{
    TransferSchema() { m_buildManager = false; }
};

TEST_F(TransferSchema, AFirstStartWritesEveryDefaultAndExcludesIniFilesByTheirCaseSensitiveEnding)
{
    Build();
    mp_saver->Load(m_dir.filePath("no store"));
    for (const auto& [l_key, l_value, l_always] : Defaults)
        EXPECT_EQ(GetSetting(l_key), QString(l_value).replace("~", QDir::homePath())) << l_key;
    ASSERT_EQ(g("excluded_download_extension").Size(), 1u);
    EXPECT_EQ(ItemPtr(g("excluded_download_extension")).AsString(), ".ini");
    d.GetType("excluded_download_extension")->GetItem(""); // an empty ending excludes nothing
    const std::pair<const char*, bool> l_cases[] = {
        {"setup.ini", true}, {"SETUP.INI", false}, {"a.ini.mp3", false}, {".ini", true}, {"ini", false}};
    for (const auto& [l_name, l_excluded] : l_cases)
        EXPECT_EQ(mp_manager->HasExcludedDownloadExtension(l_name), l_excluded) << l_name;
}

TEST_F(TransferSchema, OnlyTheAlwaysWrittenDefaultsReplaceStoredValues)
{
    for (const auto& [l_key, l_value, l_always] : Defaults)
        SetSetting(l_key, "stored");
    Build();
    for (const auto& [l_key, l_value, l_always] : Defaults)
        EXPECT_EQ(GetSetting(l_key), l_always ? l_value : "stored") << l_key;
}

// A damaged store file empties the store, then every engine is told as on a first start: the
// active marks must come back, or a running transfer would never count as running.
TEST_F(TransferLife, TheStoreFileKeepsDownloadsAndExclusionsQueuedAgainButNothingOfARunAndADamagedOneLosesNoMark)
{
    const ItemPtr l_download = NewEntry(false, Downloading);
    const ItemPtr l_finished = d.GetType("complete_download")->NewItem();
    const QStringList l_kept = {"download_entry_status=downloading", "download_order=40", "file_name=a",
                                "file_size=9", "remote_folder=M\\A", "subfolder_save_level=1", "user=bob"};
    const QStringList l_finishedParts = {"complete_download_completion_time=T", "complete_download_file_size=7",
                                         "complete_download_filename=b", "complete_download_folder=F",
                                         "complete_download_relative_folder=R", "user=carl"};
    Fill(l_download, l_kept.mid(1, 5) + QStringList{"place_in_line=3", "remote_transfer_req=8"});
    Fill(l_finished, l_finishedParts);
    const char* const l_stored[] = {Aborted, Denied, LocalError, Complete, Queued};
    for (const char* l_status : l_stored)
        mp_manager->SetDownloadEntryStatus(Download("x", 10, l_status), l_status);
    NewEntry(true, Queued);
    d.GetType("excluded_download_extension")->GetItem(".txt");

    mp_saver->Save(m_dir.filePath("store"));
    d.RemoveAllItems();
    QSignalSpy l_loaded(mp_manager.get(), &TransferQueueManager::TransfersLoaded);
    mp_saver->Load(m_dir.filePath("store"));
    EXPECT_EQ(l_loaded.count(), 1);
    EXPECT_EQ(Parts(ItemPtr(User("bob").GetItems("download_entry"))), QStringList{"download_entry_status=queued"} + l_kept.mid(1));
    EXPECT_EQ(Parts(g("complete_download")), l_finishedParts);
    EXPECT_TRUE(g("upload_entry").Empty());
    EXPECT_EQ(ItemPtr(g("excluded_download_extension")).AsString(), ".txt");
    QStringList l_statuses;
    for (const char* l_user : l_stored)
    {
        l_statuses << Status(User(l_user)["download_entry"]);
        EXPECT_TRUE(User(l_user).IsConnected("is_tracked")) << l_user;
        EXPECT_FALSE(User(l_user)["download_entry"]["last_status_change_time"]) << "no stamp of this start";
    }
    EXPECT_EQ(l_statuses, (QStringList{Queued, Queued, Queued, Complete, Queued}));
    EXPECT_EQ(mp_manager->ActiveDownloadCount(), 0);

    QSaveFile l_damaged(m_dir.filePath("store"));
    ASSERT_TRUE(l_damaged.open(QIODevice::WriteOnly) && l_damaged.write("\x7f damaged", 9) == 9 && l_damaged.commit());
    EXPECT_THROW(mp_saver->Load(m_dir.filePath("store")), DataLoadFailure);
    ASSERT_FALSE(d.GetType("download_entry_status")->HasItem(Downloading));
    mp_saver->EmitDataLoaded();
    mp_saver->EmitNoData();
    for (const char* l_status : {Requesting, Connecting, WaitingForOffset, Uploading, Queued})
        NewEntry(true, l_status);
    NewEntry(false, Downloading);
    EXPECT_EQ(mp_manager->ActiveDownloadCount() + mp_manager->ActiveUploadCount(), 5);
    EXPECT_TRUE(d.GetType("excluded_download_extension")->HasItem(".ini"));
    mp_manager->DataLoaded(); // a second load keeps one mark on each
    EXPECT_EQ(d.GetType("upload_entry_status")->GetItem(Connecting).GetItems("is_active").Size(), 1u);
}
