#include "TransferFixture.h"

using DownloadQueue = TransferFixture;

TEST_F(DownloadQueue, PathsKeepTheLastRemoteLevelsAndCleanEveryRemoteName)
{
    const QString l_base = QString(m_dir.path()).replace('/', '\\');
    const std::tuple<const char*, std::string, std::string, int, const char*, const char*> l_cases[] = {
        {"level 1 of three", "@@x\\Music\\Artist\\Album", "a.mp3", 1, "Artist\\Album", "a.mp3"},
        {"level 0", "Music\\Album", "b.mp3", 0, "Album", "b.mp3"},
        {"level above the components", "Music\\Album", "c", 5, "Music\\Album", "c"},
        {"level below 0", "Music\\Album", "c", -2, "Album", "c"},
        {"no remote folder", "", "d", 1, "", "d"},
        {"UTF-8 names", "x\\Caf\xc3\xa9", "\xc3\xa9t\xc3\xa9.mp3", 0, "Caf\xc3\xa9", "\xc3\xa9t\xc3\xa9.mp3"},
        {"dot-dot levels", "..\\..\\etc", "passwd", 2, "_\\_\\etc", "passwd"},
        {"slashes split levels", "a/../../b", "f", 3, "a\\_\\_\\b", "f"},
        {"an empty level", "a\\\\\\b", "g", 2, "a\\_\\b", "g"},
        {"NUL in a level", std::string("x\\a\0b", 5), "h", 0, "a_b", "h"},
        {"separators in a file name", "M", "../a\\..\\b", 0, "M", ".._a_.._b"},
        {"NUL in a file name", "M", std::string("a\0b", 3), 0, "M", "a_b"},
    };
    for (const auto& [l_name, l_folder, l_file, l_level, l_keptText, l_fileText] : l_cases)
    {
        SCOPED_TRACE(l_name);
        const ItemPtr l_entry = mp_manager->AddDownload(l_name, l_file, l_folder, 10, l_level);
        const QString l_kept = QString::fromUtf8(l_keptText), l_levels = l_kept.isEmpty() ? "" : "\\" + l_kept;
        EXPECT_EQ(mp_manager->GetDownloadTargetFolder(l_entry, false), l_base + "\\downloading" + l_levels);
        EXPECT_EQ(mp_manager->GetDownloadTargetPath(l_entry, true),
                  l_base + "\\complete" + l_levels + "\\" + QString::fromUtf8(l_fileText));
        EXPECT_EQ(mp_manager->GetDownloadRelativeDownloadFolder(l_entry), l_kept);
        EXPECT_EQ(Status(l_entry), Queued);
    }

    // A path that still leaves the download folder is a local error and touches nothing.
    SetSetting("download_folder", m_dir.path() + "/x\\..\\..");
    const ItemPtr l_outside = NewEntry(false, Complete);
    Fill(l_outside, {"remote_folder=a", "file_name=a"});
    EXPECT_EQ(mp_manager->GetDownloadTargetPath(l_outside, false), QString());
    EXPECT_EQ(Status(l_outside), LocalError);
    EXPECT_FALSE(mp_manager->DoesDownloadItemCompleteFilenameExist(l_outside));
    mp_manager->RemoveDownloadDownloadingFolderIfAppropriate(l_outside);
    EXPECT_EQ(Logged("lies outside the download folder"), 1);
    // Nor is such a download asked for, new or again.
    Online("erin");
    const ItemPtr l_new = mp_manager->AddDownload("erin", "f", "M", 10, 0);
    mp_manager->RequeueDownload(l_new);
    EXPECT_EQ(Status(l_new), LocalError);
    EXPECT_EQ(Parked("erin"), QStringList());
}

TEST_F(DownloadQueue, AFinishedFileIsFoundAndEmptiedFoldersGoOnceTheirLastDownloadIsComplete)
{
    const ItemPtr l_mine = mp_manager->AddDownload("bob", "a.mp3", "M\\Artist\\Album", 10, 1);
    const ItemPtr l_theirs = mp_manager->AddDownload("carl", "b.mp3", "M\\Artist\\Album", 10, 1);
    mp_manager->SetDownloadEntryStatus(l_mine, Complete);
    ASSERT_TRUE(QDir().mkpath(m_dir.filePath("downloading/Artist/Album")) && QDir().mkpath(m_dir.filePath("complete/Artist/Album")));
    EXPECT_FALSE(mp_manager->DoesDownloadItemCompleteFilenameExist(l_mine));
    ASSERT_TRUE(QFile(m_dir.filePath("complete/Artist/Album/a.mp3")).open(QIODevice::WriteOnly));
    EXPECT_TRUE(mp_manager->DoesDownloadItemCompleteFilenameExist(l_mine));
    EXPECT_FALSE(mp_manager->DoesDownloadItemCompleteFilenameExist(l_theirs));
    // A new download of a finished file is done: nothing is asked for, nothing scheduled.
    Online("dave");
    EXPECT_EQ(Status(mp_manager->AddDownload("dave", "a.mp3", "X\\Artist\\Album", 10, 1)), Complete);
    EXPECT_EQ(Parked("dave"), QStringList());
    EXPECT_FALSE(User("dave")["next_place_in_line_request_time"]);

    mp_manager->RemoveDownloadDownloadingFolderIfAppropriate(l_mine);
    EXPECT_TRUE(QDir(m_dir.filePath("downloading/Artist/Album")).exists()) << "another user's download is open";
    mp_manager->SetDownloadEntryStatus(l_theirs, Complete);
    mp_manager->RemoveDownloadDownloadingFolderIfAppropriate(l_mine);
    EXPECT_FALSE(QDir(m_dir.filePath("downloading/Artist")).exists());
    EXPECT_TRUE(QDir(m_dir.filePath("downloading")).exists());
}

TEST_F(DownloadQueue, DownloadsAreAskedForWhileTheirUploaderIsOnlineInOrderAndTheirPlaceLater)
{
    std::vector<ItemPtr> l_entries;
    for (const char* l_status : {Queued, LocalError, Complete, Denied, Aborted})
    {
        l_entries.push_back(Download(std::string(l_status) + ".mp3"));
        mp_manager->SetDownloadEntryStatus(l_entries.back(), l_status);
    }
    EXPECT_TRUE(StampedAhead(User("bob"), "next_place_in_line_request_time", 10));
    EXPECT_EQ(Parked(), QStringList()) << "bob is offline";
    Online("bob");
    EXPECT_EQ(Logged("User bob went online"), 1);
    EXPECT_EQ(Parked(), (QStringList{"43 Music\\Album\\queued.mp3", "43 Music\\Album\\local error.mp3",
                                     "43 Music\\Album\\aborted.mp3"}));
    QStringList l_after;
    for (ItemPtr l_entry : l_entries)
        l_after << Status(l_entry);
    EXPECT_EQ(l_after, (QStringList{Queued, Queued, Complete, Denied, Queued}));
    EXPECT_TRUE(StampedAhead(User("bob"), "last_queue_request_time", 0));
    EXPECT_TRUE(StampedAhead(User("bob"), "next_place_in_line_request_time", 30));

    // Online, a new download is asked for at once; the same one again is no new download.
    const int l_counter = GetSetting("transfer_order_counter").toInt();
    const ItemPtr l_online = Download("new.mp3");
    EXPECT_EQ(Parked(), QStringList{"43 Music\\Album\\new.mp3"});
    EXPECT_EQ(l_online["download_order"].AsInt(), l_counter);
    EXPECT_EQ(Download("new.mp3"), l_online);
    EXPECT_EQ(GetSetting("transfer_order_counter").toInt(), l_counter + 1);
    EXPECT_EQ(Parked(), QStringList());
}

TEST_F(DownloadQueue, TheUploadersAnswersAreRecordedOnTheirDownload)
{
    const ItemPtr l_entry = Download("a.mp3");
    const ItemPtr l_stuck = Download("b.mp3");
    Online("bob");
    Parked(); // the requests of coming online
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
    EXPECT_TRUE(StampedAhead(User("bob"), "last_queue_request_time", 0));

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
}

// Only users of the user list may push a file: all once the list is accepted, else those whose group accepts uploads.
TEST_F(DownloadQueue, AnUploadersTransferRequestOrPushIsTakenForOpenDownloadsAndPermittedUsersOnly)
{
    const ItemPtr l_open = Download("a.mp3");
    const ItemPtr l_other = Download("c.mp3");
    mp_manager->SetDownloadEntryStatus(Download("b.mp3"), Complete);
    for (const char* l_user : {"carl", "friend", "other"})
        User(l_user).NewItem("in_user_list");
    User("friend")["in_user_list"] += d.GetType("user_list_group")->GetItem("friends");
    User("friend")["in_user_list"]["user_list_group"].NewItem("accept_uploads");
    User("other")["in_user_list"] += d.GetType("user_list_group")->GetItem("others");
    // The user, the direction, the number, the path, the answer.
    const std::tuple<const char*, int, quint32, const char*, const char*> l_cases[] = {
        {"bob", 0, 1, "Shared\\mine.mp3", "41 1 0 Queued"},
        {"bob", 1, 2, "Music\\Album\\unknown.mp3", "41 2 0 Cancelled"},
        {"bob", 1, 3, "Music\\Album\\b.mp3", "41 3 0 Complete"},
        {"bob", 1, 4, "Music\\Album\\a.mp3", "41 4 1"},
        {"bob", 1, 5, "Music\\Album\\a.mp3", "41 5 1"}, // a new number for the same download
        {"bob", 1, 6, "Music\\Album\\c.mp3", "41 6 1"},
        {"bob", 1, 5, "Music\\Album\\c.mp3", "41 5 1"}, // taken from the other download
        {"stranger", 1, 7, "Gifts\\g.mp3", "41 7 0 Cancelled"},
        {"carl", 1, 7, "Gifts\\g.mp3", "41 7 0 Cancelled"},
        {"other", 1, 7, "Gifts\\g.mp3", "41 7 0 Cancelled"},
        {"friend", 1, 7, "Gifts\\g.mp3", "41 7 1"},
    };
    for (const auto& [l_user, l_direction, l_req, l_path, l_answer] : l_cases)
    {
        emit mp_messenger->FileTransferRequested(l_user, l_direction, l_req, l_path, 9);
        // A peer's download request is also taken up by the upload side, which answers it (50) itself.
        EXPECT_EQ(Parked(l_user).filter(QRegularExpression("^41 ")), QStringList(l_answer)) << l_user << l_path;
    }
    EXPECT_FALSE(l_open["remote_transfer_req"]);
    EXPECT_EQ(l_other["remote_transfer_req"].AsString(), "5");
    EXPECT_EQ(Parts(mp_manager->GetDownloadEntry("friend", "g.mp3", "Gifts")).filter(QRegularExpression("^(?!last_status_change_time)")),
              (QStringList{"download_entry_status=queued", "download_order=4", "file_name=g.mp3", "file_size=9",
                           "remote_folder=Gifts", "remote_transfer_req=7", "subfolder_save_level=0", "user=friend"}));
    SetSetting("accept_userlist_uploads", "yes");
    for (const char* l_user : {"stranger", "carl"})
        emit mp_messenger->QueueDownloadRequested(l_user, "Shared\\gift.mp3", 42);
    EXPECT_FALSE(mp_manager->GetDownloadEntry("stranger", "gift.mp3", "Shared"));
    EXPECT_EQ(mp_manager->GetDownloadEntry("carl", "gift.mp3", "Shared")["file_size"].AsString(), "42");
    EXPECT_EQ(g("download_entry").Size(), 5u);
}
