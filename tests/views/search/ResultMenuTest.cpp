#include "SearchFixture.h"
#include "views/chat/UserMenuOptions.h"

namespace
{
// Right clicks on result trees, each choosing an entry of its menu by its text.
class ResultMenu : public SearchFixture
{
protected:
    void SetUp() override
    {
        SearchFixture::SetUp();
        TakeMenuChoices();
    }

    // The entries the user menu gives that user by itself.
    static QStringList UserEntries(const QString& i_user)
    {
        QMenu l_menu;
        UserMenuOptions l_options(&l_menu, i_user);
        return EntriesOf(l_menu);
    }

    // The row of a user, of a folder ("alpha/share") under it, of a file under that.
    static QTreeWidgetItem* RowOf(QTreeWidget* ip_tree, const QString& i_user, const QString& i_folder = {},
                                  const QString& i_file = {})
    {
        const auto l_child = [](QTreeWidgetItem* ip_row, int i_column, const QString& i_text) -> QTreeWidgetItem* {
            for (int l_index = 0; ip_row && l_index < ip_row->childCount(); ++l_index)
                if (ip_row->child(l_index)->text(i_column) == i_text)
                    return ip_row->child(l_index);
            return nullptr;
        };
        QTreeWidgetItem* lp_row = l_child(ip_tree->invisibleRootItem(), 0, i_user);
        if (!i_folder.isEmpty())
            lp_row = l_child(lp_row, 3, i_folder);
        if (!i_file.isEmpty())
            lp_row = l_child(lp_row, 4, i_file);
        EXPECT_NE(lp_row, nullptr) << i_user.toStdString() << " " << i_folder.toStdString() << " " << i_file.toStdString();
        return lp_row;
    }
    static void Select(QTreeWidget* ip_tree, const QList<QTreeWidgetItem*>& i_rows)
    {
        ip_tree->clearSelection();
        for (QTreeWidgetItem* lp_row : i_rows)
            lp_row->setSelected(true);
    }
    // The sub-folder levels the queued downloads keep, one per download.
    static QString Levels()
    {
        QString l_levels;
        for (ItemPtr l_entry : T("download_entry")->GetItems())
            l_levels += l_entry["subfolder_save_level"].AsString();
        return l_levels;
    }

    // dave's reply: alpha (b, a, setup.ini) and Zeta (z); one excluded ending.
    SearchResultsForm* DaveStuff(const QString& i_text)
    {
        T("excluded_download_extension")->GetItem(".ini");
        SearchResultsForm* lp_page = NewTab(i_text);
        Deliver(Token(lp_page), {"dave"},
                {{"share\\alpha\\b.mp3", 10}, {"share\\alpha\\a.mp3", 20}, {"share\\alpha\\setup.ini", 40},
                 {"share\\Zeta\\z.mp3", 30}});
        return lp_page;
    }
};
} // namespace

// A row's own entries come first and the user's after them; empty space opens nothing.
TEST_F(ResultMenu, EachRowKindOffersItsEntriesBeforeItsUsers)
{
    Open();
    QTreeWidget* lp_tree = DaveStuff("dave stuff")->searchResults();
    const QPoint l_below(5, lp_tree->viewport()->height() - 3);
    ASSERT_EQ(lp_tree->itemAt(l_below), nullptr);
    EXPECT_EQ(RightClickAt(lp_tree, l_below), QStringList("no menu"));
    const QStringList l_dave = UserEntries("dave");
    ASSERT_TRUE(l_dave.contains("Browse user's files"));
    const struct { QTreeWidgetItem* row; QStringList entries; } l_rows[] = {
        {RowOf(lp_tree, "dave"), l_dave},
        {RowOf(lp_tree, "dave", "alpha/share"), QStringList({"Download Folder(s)", "Browse Folder", "-"}) + l_dave},
        {RowOf(lp_tree, "dave", "alpha/share", "a.mp3"),
         QStringList({"Download File(s)", "Download Folder(s)", "Browse Folder", "-"}) + l_dave},
    };
    for (const auto& l_row : l_rows)
        EXPECT_EQ(RightClick(l_row.row), l_row.entries);
    EXPECT_TRUE(Downloads().isEmpty());
}

// Files go in the order they were selected, their endings never looked at; the first row that
// is no file row ends the list.
TEST_F(ResultMenu, DownloadFilesQueuesTheSelectionInOrderUpToTheFirstRowThatIsNoFile)
{
    Open();
    QTreeWidget* lp_tree = DaveStuff("dave stuff")->searchResults();
    Select(lp_tree, {RowOf(lp_tree, "dave", "alpha/share", "setup.ini"), RowOf(lp_tree, "dave", "alpha/share", "b.mp3"),
                     RowOf(lp_tree, "dave", "alpha/share", "a.mp3")});
    RightClick(RowOf(lp_tree, "dave", "alpha/share", "b.mp3"), "Download File(s)");
    EXPECT_EQ(Downloads(), QStringList({"dave|share\\alpha|setup.ini|40|dave stuff", "dave|share\\alpha|b.mp3|10|dave stuff",
                                        "dave|share\\alpha|a.mp3|20|dave stuff"}));
    EXPECT_EQ(Levels(), "000");
    EXPECT_EQ(Rows(lp_tree), QStringList({"dave|Y|", "  Zeta/share", "    z.mp3|30|", "  alpha/share",
                                          "    a.mp3|20| +", "    b.mp3|10| +", "    setup.ini|40| +"}));

    Select(lp_tree, {RowOf(lp_tree, "dave", "Zeta/share", "z.mp3"), RowOf(lp_tree, "dave", "alpha/share"),
                     RowOf(lp_tree, "dave", "alpha/share", "a.mp3")});
    T("download_entry")->GetItems().Remove();
    RightClick(RowOf(lp_tree, "dave", "Zeta/share", "z.mp3"), "Download File(s)");
    EXPECT_EQ(Downloads(), QStringList("dave|share\\Zeta|z.mp3|30|dave stuff"));
}

// Each folder of the selection once, every file of it by name, hidden ones too, but for the
// excluded endings; a user row in the selection queues nothing at all.
TEST_F(ResultMenu, DownloadFoldersQueuesEachFolderOnceByNameAndNothingForAUserRow)
{
    Open();
    SearchResultsForm* lp_page = DaveStuff("dave stuff");
    QTreeWidget* lp_tree = lp_page->searchResults();
    lp_page->filterEdit()->setText("-b.mp3");
    QTreeWidgetItem* lp_a = RowOf(lp_tree, "dave", "alpha/share", "a.mp3");
    Select(lp_tree, {lp_a, RowOf(lp_tree, "dave", "Zeta/share", "z.mp3"), RowOf(lp_tree, "dave")});
    RightClick(lp_a, "Download Folder(s)");
    EXPECT_TRUE(Downloads().isEmpty());

    Select(lp_tree, {RowOf(lp_tree, "dave", "alpha/share", "setup.ini"), lp_a, RowOf(lp_tree, "dave", "alpha/share")});
    RightClick(lp_a, "Download Folder(s)");
    EXPECT_EQ(Downloads(), QStringList({"dave|share\\alpha|a.mp3|20|dave stuff", "dave|share\\alpha|b.mp3|10|dave stuff"}));
    EXPECT_EQ(Levels(), "00");
    EXPECT_EQ(Rows(lp_tree), QStringList({"dave|Y|", "  Zeta/share", "    z.mp3|30|", "  alpha/share",
                                          "    a.mp3|20| +", "    b.mp3|10| - +", "    setup.ini|40|"}));
}

// A folder path that two users and two searches share: each folder row acts for its own user
// and its own search.
TEST_F(ResultMenu, AFolderRowActsForItsOwnUserAndSearchWhoeverElseHasThatPath)
{
    Open();
    SearchResultsForm* lp_second = NewTab("second");
    Deliver(Token(lp_second), {"dave"}, {{"share\\alpha\\y.mp3", 2}});
    SearchResultsForm* lp_first = NewTab("first");
    Deliver(Token(lp_first), {"erin"}, {{"share\\alpha\\x.mp3", 1}});
    Deliver(Token(lp_first), {"dave"}, {{"share\\alpha\\x.mp3", 3}});
    const struct { SearchResultsForm* page; const char* user; const char* download; } l_rows[] = {
        {lp_first, "erin", "erin|share\\alpha|x.mp3|1|first"},
        {lp_first, "dave", "dave|share\\alpha|x.mp3|3|first"},
        {lp_second, "dave", "dave|share\\alpha|y.mp3|2|second"},
    };
    for (const auto& l_row : l_rows)
    {
        T("download_entry")->GetItems().Remove();
        QTreeWidgetItem* lp_folder = RowOf(l_row.page->searchResults(), l_row.user, "alpha/share");
        Manual()->setCurrentWidget(l_row.page);
        Select(l_row.page->searchResults(), {lp_folder});
        RightClick(lp_folder, "Download Folder(s)");
        EXPECT_EQ(Downloads(), QStringList(l_row.download));
    }

    // Browsing opens the row's own user, or brings that user's open tab forward; the folder is
    // selected once the list has come.
    QTabWidget* lp_browseTabs = dynamic_cast<SharesForm*>(sharesForm)->TabControl();
    for (const auto& l_row : l_rows)
    {
        FocusWidgetAndParents(l_row.page->searchResults());
        RightClick(RowOf(l_row.page->searchResults(), l_row.user, "alpha/share"), "Browse Folder");
        EXPECT_TRUE(lp_browseTabs->isVisible());
        EXPECT_EQ(lp_browseTabs->tabText(lp_browseTabs->currentIndex()), l_row.user);
    }
    EXPECT_EQ(lp_browseTabs->count(), 2);
    EXPECT_EQ(BrowsedTo("erin", {"share", "share\\alpha", "share\\beta"}), "alpha");
}

// Other clients may name a folder in a one-byte code page: the browse tab finds it by the bytes
// it came with, which its display text would not give back.
TEST_F(ResultMenu, BrowseFolderFindsAFolderNamedInAnotherEncodingThanUtf8)
{
    Open();
    SearchResultsForm* lp_page = NewTab("cafe");
    Deliver(Token(lp_page), {"erin"}, {{"share\\Caf\xe9\\x.mp3", 1}});
    RightClick(lp_page->searchResults()->topLevelItem(0)->child(0), "Browse Folder");
    EXPECT_EQ(BrowsedTo("erin", {"share", "share\\Caf\xe9", "share\\Cafe"}), ToQString("Caf\xe9"));
}
