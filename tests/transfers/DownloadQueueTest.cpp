#include <QDir>
#include <QRegularExpression>

#include "DownloadFixture.h"

using namespace transfer_status;
using DownloadQueue = DownloadFixture;

TEST_F(DownloadQueue, ANewDownloadIsAskedForOnlyWhileItsUploaderIsOnlineAndItsPlaceTenSecondsLater)
{
    const ItemPtr l_offline = Download("a.mp3");
    EXPECT_EQ(Status(l_offline), Queued);
    EXPECT_EQ(Parked(), QStringList());
    EXPECT_NEAR(SecondsAhead(User("bob"), "next_place_in_line_request_time"), 10, 1);

    GoOnline("bob");
    EXPECT_EQ(Parked(), QStringList{"43 Music\\Album\\a.mp3"}) << "coming online asks again";
    User("bob").GetItems("unsent_message").Remove();
    const ItemPtr l_online = Download("b.mp3");
    EXPECT_EQ(Parked(), QStringList{"43 Music\\Album\\b.mp3"});
    EXPECT_EQ(l_online["download_order"].AsInt(), l_offline["download_order"].AsInt() + 1);

    const QString l_counter = GetSetting("transfer_order_counter");
    EXPECT_EQ(Download("a.mp3"), l_offline) << "the same download again";
    EXPECT_EQ(GetSetting("transfer_order_counter"), l_counter);
    EXPECT_EQ(Parked().size(), 1);

    // A file already in the complete folder is done: nothing is asked for, nothing scheduled.
    ASSERT_TRUE(QDir().mkpath(m_dir.filePath("complete/Album")));
    ASSERT_TRUE(QFile(m_dir.filePath("complete/Album/c.mp3")).open(QIODevice::WriteOnly));
    GoOnline("carl");
    EXPECT_EQ(Status(Download("c.mp3", 5, "carl")), Complete);
    EXPECT_EQ(Parked("carl"), QStringList());
    EXPECT_FALSE(User("carl")["next_place_in_line_request_time"]);
}

TEST_F(DownloadQueue, ComingOnlineRequeuesEveryOpenDownloadInOrderAndAsksItsPlaceThirtySecondsLater)
{
    const char* const l_statuses[] = {LocalError, Complete, Queued, Denied, Aborted};
    std::vector<ItemPtr> l_entries;
    for (const char* l_status : l_statuses)
    {
        l_entries.push_back(Download(std::string(l_status) + ".mp3"));
        mp_manager->SetDownloadEntryStatus(l_entries.back(), l_status);
    }
    // Order numbers, not creation, set the order of the requests.
    l_entries[0] += d.GetType("download_order")->GetItem("99");

    m_lines.clear();
    GoOnline("carl"); // no downloads: nothing logged, nothing stamped
    EXPECT_EQ(Logged("Requeueing"), 0);
    EXPECT_FALSE(User("carl")["last_queue_request_time"]);

    GoOnline("bob");
    EXPECT_EQ(Logged("User bob went online"), 1);
    EXPECT_EQ(Parked(), (QStringList{"43 Music\\Album\\queued.mp3", "43 Music\\Album\\aborted.mp3",
                                     "43 Music\\Album\\local error.mp3"}));
    QStringList l_after;
    for (ItemPtr l_entry : l_entries)
        l_after << Status(l_entry);
    EXPECT_EQ(l_after, (QStringList{Queued, Complete, Queued, Denied, Queued}));
    EXPECT_NEAR(SecondsAhead(User("bob"), "last_queue_request_time"), 0, 1);
    EXPECT_NEAR(SecondsAhead(User("bob"), "next_place_in_line_request_time"), 30, 1);
    EXPECT_FALSE(mp_manager->IsActivelyDownloadingFromUser("bob"));
}

TEST_F(DownloadQueue, TheUploadersAnswersAreRecordedOnTheirDownload)
{
    const ItemPtr l_entry = Download("a.mp3");
    const ItemPtr l_stuck = Download("b.mp3");
    GoOnline("bob");
    User("bob").GetItems("unsent_message").Remove();
    mp_manager->SetDownloadEntryStatus(l_stuck, LocalError);
    Restamp(User("bob"), "last_queue_request_time", QDateTime(QDate(2020, 1, 1), QTime(0, 0)));

    emit mp_messenger->DownloadPlaceInLine("bob", "Music\\Album\\a.mp3", 0);
    EXPECT_EQ(l_entry["place_in_line"].AsString(), "0");
    emit mp_messenger->DownloadPlaceInLine("bob", "Music\\Album\\nothing.mp3", 4);

    emit mp_messenger->UploadFailed("bob", "Music\\Album\\b.mp3");
    EXPECT_EQ(Parked(), QStringList()) << "a local error is not asked for again";
    emit mp_messenger->UploadFailed("bob", "Music\\Album\\a.mp3");
    EXPECT_EQ(Parked(), QStringList{"43 Music\\Album\\a.mp3"});
    EXPECT_EQ(Status(l_entry), Queued);
    EXPECT_NEAR(SecondsAhead(User("bob"), "last_queue_request_time"), 0, 1);

    for (const char* l_reason : {"File not shared.", "Too many files"})
    {
        emit mp_messenger->UploadDenied("bob", "Music\\Album\\a.mp3", l_reason);
        EXPECT_EQ(Status(l_entry), Denied);
        EXPECT_EQ(l_entry["denial_reason"].AsString(), l_reason);
    }
    emit mp_messenger->UploadDenied("bob", "Music\\Album\\nothing.mp3", "x");
    emit mp_messenger->UploadFailed("carl", "Music\\Album\\a.mp3");
    EXPECT_EQ(Logged("Download not found."), 2);
    EXPECT_EQ(g("place_in_line").Size(), 1u);

    mp_manager->RequestDownloadPlaceInLine(l_entry);
    EXPECT_EQ(Parked().last(), "51 Music\\Album\\a.mp3");
}

TEST_F(DownloadQueue, OnlyPermittedUsersMayPushAFile)
{
    const ItemPtr l_friends = d.GetType("user_list_group")->GetItem("friends");
    l_friends.NewItem("accept_uploads");
    const struct
    {
        const char* user;
        bool listed;
        ItemPtr group;
        const char* listAccepts;
        bool taken;
    } l_cases[] = {{"stranger", false, {}, "yes", false}, {"listed", true, {}, "no", false},
                   {"list accepts", true, {}, "yes", true}, {"friend", true, l_friends, "no", true},
                   {"other", true, d.GetType("user_list_group")->GetItem("others"), "no", false}};
    for (const auto& l_case : l_cases)
    {
        SetSetting("accept_userlist_uploads", l_case.listAccepts);
        if (l_case.listed && l_case.group)
            User(l_case.user).NewItem("in_user_list") += l_case.group;
        else if (l_case.listed)
            User(l_case.user).NewItem("in_user_list");
        emit mp_messenger->QueueDownloadRequested(l_case.user, "Shared\\gift.mp3", 42);
        const ItemPtr l_entry = mp_manager->GetDownloadEntry(l_case.user, "gift.mp3", "Shared");
        EXPECT_EQ(bool(l_entry), l_case.taken) << l_case.user;
        EXPECT_TRUE(!l_entry || (Status(l_entry) == Queued && l_entry["file_size"].AsString() == "42"));
    }
}

TEST_F(DownloadQueue, AnUploadersTransferRequestIsAcceptedForOpenDownloadsAndPermittedPushesOnly)
{
    const ItemPtr l_open = Download("a.mp3");
    const ItemPtr l_other = Download("c.mp3");
    mp_manager->SetDownloadEntryStatus(Download("b.mp3"), Complete);
    User("carl").NewItem("in_user_list");
    SetSetting("accept_userlist_uploads", "yes");
    const struct
    {
        const char* user;
        int direction;
        quint32 req;
        const char *path, *answer;
    } l_cases[] = {
        {"bob", 0, 1, "Shared\\mine.mp3", "41 1 0 Queued"},
        {"bob", 1, 2, "Music\\Album\\unknown.mp3", "41 2 0 Cancelled"},
        {"bob", 1, 3, "Music\\Album\\b.mp3", "41 3 0 Complete"},
        {"bob", 1, 4, "Music\\Album\\a.mp3", "41 4 1"},
        {"bob", 1, 5, "Music\\Album\\a.mp3", "41 5 1"}, // a new number for the same download
        {"bob", 1, 6, "Music\\Album\\c.mp3", "41 6 1"},
        {"bob", 1, 5, "Music\\Album\\c.mp3", "41 5 1"}, // taken from the other download
        {"carl", 1, 7, "Gifts\\g.mp3", "41 7 1"},
    };
    for (const auto& l_case : l_cases)
    {
        emit mp_messenger->FileTransferRequested(l_case.user, l_case.direction, l_case.req, l_case.path, 9);
        // A peer's download request is also taken up by the upload side, which answers it (50) itself.
        const QStringList l_answers = Parked(l_case.user).filter(QRegularExpression("^41 "));
        EXPECT_EQ(l_answers.value(l_answers.size() - 1), l_case.answer) << l_case.path;
    }
    EXPECT_FALSE(l_open["remote_transfer_req"]);
    EXPECT_EQ(l_other["remote_transfer_req"].AsString(), "5");
    const ItemPtr l_pushed = mp_manager->GetDownloadEntry("carl", "g.mp3", "Gifts");
    EXPECT_EQ(Parts(l_pushed).filter(QRegularExpression("^(?!last_status_change_time)")),
              (QStringList{"download_entry_status=queued", "download_order=4", "file_name=g.mp3", "file_size=9",
                           "remote_folder=Gifts", "remote_transfer_req=7", "subfolder_save_level=0", "user=carl"}));
    EXPECT_EQ(g("download_entry").Size(), 4u);
}

TEST_F(DownloadQueue, ExcludedExtensionsAreCaseSensitiveEndings)
{
    EXPECT_FALSE(mp_manager->HasExcludedDownloadExtension("a.ini")) << "none excluded";
    for (const char* l_ending : {".ini", ""})
        d.GetType("excluded_download_extension")->GetItem(l_ending);
    const std::pair<const char*, bool> l_cases[] = {
        {"setup.ini", true}, {"SETUP.INI", false}, {"a.ini.mp3", false}, {".ini", true}, {"ini", false}};
    for (const auto& [l_name, l_excluded] : l_cases)
        EXPECT_EQ(mp_manager->HasExcludedDownloadExtension(l_name), l_excluded) << l_name;
}
