#include "TransfersFixture.h"

class DownloadMenu : public TransfersFixture
{
protected:
    void SetUp() override
    {
        TransfersFixture::SetUp();
        Load();
    }
    // A queued download, found by a search unless it is dave's.
    ItemPtr Found(const QString& i_user, const std::string& i_folder, const std::string& i_file)
    {
        const ItemPtr l_entry = Add(i_user, i_folder, i_file);
        if (i_user != "dave")
            l_entry += d.GetType("search_request_text")->GetItem("jazz & blues");
        return l_entry;
    }
};

namespace
{
const QString Retry = "Retry download@transfer", Remove = "Remove download@transfer";
const QString Retries = "Retry downloads@transfer", Removes = "Remove downloads@transfer";
const QString Rerun = "Re-run Search: jazz && blues";
// The alert entries offered, by their first words: "File", "Folder", "All".
QString Notify(const QStringList& i_alerts)
{
    QStringList l_entries;
    for (const QString& l_alert : i_alerts)
        l_entries << (l_alert == "All" ? "All downloads from user complete" : l_alert + " download completes");
    return "Notify me when...@alert{" + l_entries.join('|') + "}";
}
} // namespace

TEST_F(DownloadMenu, OffersWhatTheChosenDownloadsAllowAndTheUsersPartOnlyForOneUser)
{
    const ItemPtr l_queued = Found("bob", "Music\\Album", "a.mp3");
    Found("bob", "Music\\Album", "b.mp3");
    const ItemPtr l_complete = Found("bob", "Music\\Album", "c.mp3");
    SetStatus(l_complete, false, Complete);
    const ItemPtr l_running = Found("bob", "Music\\Album", "d.mp3");
    Run(l_running, 0, 0);
    const ItemPtr l_other = Found("bob", "Music\\Other", "e.mp3");
    const ItemPtr l_carl = Found("carl", "Music\\Album", "f.mp3");
    const ItemPtr l_solo = Found("dave", "Solo", "g.mp3");
    QTreeWidgetItem* lp_album = RowOf(l_queued)->parent();

    // The rows chosen, then the download part of the menu and whether the user's part follows.
    const QString l_all3 = Notify({"File", "Folder", "All"});
    const std::tuple<const char*, std::vector<QTreeWidgetItem*>, QStringList, bool> l_cases[] = {
        {"one queued", {RowOf(l_queued)}, {"Open Folder", Retry, "", Remove, l_all3, Rerun}, true},
        {"one complete", {RowOf(l_complete)},
         {"Open File", "Open Folder", "", Remove, Notify({"Folder", "All"}), Rerun}, true},
        {"one running", {RowOf(l_running)}, {"Open Folder", "", Remove, l_all3, Rerun}, true},
        {"two folders of one user", {RowOf(l_queued), RowOf(l_other)},
         {"Open Folder", Retries, "", Removes, Notify({"All"}), Rerun}, true},
        {"two users in one folder", {RowOf(l_queued), RowOf(l_carl)}, {"Open Folder", Retries, "", Removes, Rerun}, false},
        {"a folder row alone stands for its files", {lp_album},
         {"Open Folder", Retries, "", Removes, Notify({"Folder", "All"}), Rerun}, true},
        {"beside a file a folder row is passed over", {lp_album, RowOf(l_other)},
         {"Open Folder", Retry, "", Remove, l_all3, Rerun}, true},
        {"a user of one folder, no search", {RowOf(l_solo)},
         {"Open Folder", Retry, "", Remove, Notify({"File", "Folder"})}, true},
    };
    for (const auto& [l_name, l_rows, l_expected, l_userPart] : l_cases)
    {
        SCOPED_TRACE(l_name);
        const QStringList l_menu = DownloadsMenu(l_rows);
        EXPECT_EQ(DownloadPart(l_menu), l_expected);
        EXPECT_EQ(!l_menu.filter(QRegularExpression("^Message user")).isEmpty(), l_userPart);
    }
    EXPECT_EQ(DownloadsMenu({}), QStringList{"(no menu)"});

    // Uploads: the user's part alone, for the row under the point.
    Share({{"up.mp3", 100}});
    Upload("erin", "up.mp3");
    m_menu.clear();
    mp_form->OnUploadsContextMenuRequested(mp_uploads->visualItemRect(mp_uploads->topLevelItem(0)).center());
    EXPECT_TRUE(m_menu.value(0).startsWith("Message user"));
}

TEST_F(DownloadMenu, ArmedAlertsMarkTheirRowsAndAreOfferedNoMoreAndTheOtherEntriesAct)
{
    const ItemPtr l_entry = Found("bob", "Music\\Album", "a.mp3");
    const ItemPtr l_second = Found("bob", "Music\\Other", "b.mp3");
    QTreeWidgetItem* lp_row = RowOf(l_entry);
    const QString l_notify = "Notify me when.../";
    const std::pair<const char*, QString> l_steps[] = {{"File download completes", Notify({"Folder", "All"})},
                                                       {"Folder download completes", Notify({"All"})},
                                                       {"All downloads from user complete", Rerun}};
    for (const auto& [l_choice, l_left] : l_steps)
    {
        DownloadsMenu({lp_row}, l_notify + l_choice);
        EXPECT_EQ(DownloadsMenu({lp_row}).value(4), l_left) << l_choice;
    }
    EXPECT_EQ(Rows(mp_downloads).mid(0, 3), (QStringList{"+0=bob(alert)", "  +1=Album/Music(alert)",
                                                         "    2=a.mp3(alert) 3=queued 7=2,097,152"}));
    EXPECT_EQ(g("complete_download_alert").Size(), 3u);

    // Open: the finished file's place, whether or not it is there yet.
    const QString l_complete = QUrl::fromLocalFile(m_dir.filePath("complete/Album")).toString(QUrl::FullyEncoded);
    DownloadsMenu({lp_row}, "Open Folder");
    EXPECT_EQ(m_desktop.m_opened, QStringList{l_complete});
    SetStatus(l_entry, false, Denied);
    DownloadsMenu({lp_row}, "Retry download");
    EXPECT_EQ(Status(l_entry), Queued);
    DownloadsMenu({lp_row, RowOf(l_second)}, "Remove downloads");
    EXPECT_EQ(g("download_entry").Size(), 0u);
    EXPECT_EQ(Rows(mp_downloads), QStringList());
}

// The menu runs a loop of its own, in which a completion may clear the very downloads it was
// opened for; its entries then act on those left.
TEST_F(DownloadMenu, DownloadsRemovedWhileTheMenuRunsAreLeftOutOfItsActions)
{
    SetSetting("clear_complete_downloads", "yes");
    const std::pair<const char*, std::function<void(ItemPtr)>> l_choices[] = {
        {"Open Folder", [&](ItemPtr) { EXPECT_EQ(m_desktop.m_opened.size(), 1); }},
        {"Retry downloads", [&](ItemPtr i_left) { EXPECT_EQ(Status(i_left), Queued); }},
        {"Notify me when.../Folder download completes",
         [&](ItemPtr i_left) { EXPECT_TRUE(d.GetItem(i_left["user"], i_left["remote_folder"], "complete_download_alert")); }},
        {"Remove downloads", [&](ItemPtr) { EXPECT_EQ(g("download_entry").Size(), 0u); }},
    };
    int l_round = 0;
    for (const auto& [l_choice, l_check] : l_choices)
    {
        SCOPED_TRACE(l_choice);
        const std::string l_folder = "Round" + std::to_string(++l_round);
        const ItemPtr l_finishing = Found("bob", l_folder, "a.mp3");
        const ItemPtr l_left = Found("bob", l_folder, "b.mp3");
        SetStatus(l_left, false, Denied);
        m_whileMenuRuns = [&] {
            SetStatus(l_finishing, false, Complete);
            Settle();
        };
        DownloadsMenu({RowOf(l_finishing), RowOf(l_left)}, l_choice);
        m_whileMenuRuns = nullptr;
        EXPECT_EQ(g("download_entry").Contains(l_finishing), false);
        l_check(l_left);
        if (g("download_entry").Contains(l_left))
            mp_manager->RemoveDownload(l_left);
    }
}
