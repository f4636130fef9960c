#include "ShareTabsFixture.h"

class ShareTransfers : public ShareTabsFixture
{
protected:
    void ForgetDownloads()
    {
        for (ItemPtr l_entry : g("download_entry"))
            mp_transfers->RemoveDownload(l_entry);
    }
    // Every upload entry as the path it was asked for with, our shared folder left out.
    QStringList Uploads() const
    {
        QStringList l_paths;
        for (ItemPtr l_entry : g("upload_entry"))
            l_paths << l_entry["filename_as_requested"].AsString().remove(QString(Path()).replace('/', '\\'));
        return l_paths.sort(), l_paths;
    }
};

TEST_F(ShareTransfers, FoldersQueueTheirFilesAtTwoLevelsWithoutExcludedEndingsAndChosenFilesQueueAnyway)
{
    ShareForm* lp_tab = Browse({{"Music", {{"a.mp3", 1, {}}, {"b.ini", 2, {}}}},
                                {"Music\\Jazz", {{"c.mp3", 3, {}}, {"d.ini", 4, {}}}},
                                {"Music\\Jazz\\Live", {{"e.mp3", 5, {}}}}});
    QTreeWidget* lp_tree = Tree(lp_tab);
    QTreeWidget* lp_files = FileList(lp_tab);
    Select(lp_tree, "Music");

    // Only over a row does the folder tree offer its menu.
    lp_tab->OnFolderContextMenuRequested(QPoint(5, lp_tree->viewport()->height() - 3));
    EXPECT_TRUE(m_menus.isEmpty());
    lp_tab->OnFolderContextMenuRequested(lp_tree->visualItemRect(lp_tree->currentItem()).center());
    EXPECT_EQ(m_menus, QStringList("Download Folder"));
    EXPECT_EQ(Downloads(), QStringList({"Music\\Jazz\\Live\\e.mp3 1", "Music\\Jazz\\c.mp3 1", "Music\\a.mp3 0"}));
    EXPECT_EQ(FileRows(lp_files), QStringList({"a.mp3|1|@download", "b.ini|2|"}));

    ForgetDownloads();
    Select(lp_tree, "Music/Jazz");
    emit lp_tree->itemDoubleClicked(lp_tree->currentItem(), 0);
    EXPECT_EQ(Downloads(), QStringList({"Music\\Jazz\\Live\\e.mp3 1", "Music\\Jazz\\c.mp3 0"}));

    // Chosen one by one, an excluded ending is queued too.
    ForgetDownloads();
    m_menus.clear();
    for (int l_row = 0; l_row < lp_files->topLevelItemCount(); ++l_row)
        lp_files->topLevelItem(l_row)->setSelected(true);
    lp_tab->OnFileContextMenuRequested(QPoint(5, lp_files->viewport()->height() - 3));
    EXPECT_EQ(m_menus, QStringList("Download File(s)"));
    EXPECT_EQ(Downloads(), QStringList({"Music\\Jazz\\c.mp3 0", "Music\\Jazz\\d.ini 0"}));
    EXPECT_EQ(FileRows(lp_files), QStringList({"c.mp3|3|@download", "d.ini|4|@download"}));
    ForgetDownloads();
    emit lp_files->itemDoubleClicked(lp_files->topLevelItem(1), 0);
    EXPECT_EQ(Downloads(), QStringList("Music\\Jazz\\d.ini 0"));
}

TEST_F(ShareTransfers, UploadFolderQueuesEveryFileBelowFilteredOrNotAndOnlyFromItsOwnTab)
{
    ShareOwn({"music/a.mp3", "music/sub/b.txt", "music/sub/deeper/c.txt", "other/d.mp3"});
    UploadForm* lp_bob = mp_page->OpenUploadBrowse("bob");
    UploadForm* lp_carol = mp_page->OpenUploadBrowse("carol");
    QTreeWidget* lp_tree = Tree(lp_bob);
    EXPECT_EQ(Rows(lp_tree), QStringList({"music +", "  sub +", "    deeper", "other"}));
    EXPECT_EQ(ToolbarTexts(lp_tree), QStringList({"Upload Folder", "Expand Level", "Collapse All", "Expand All"}));

    // Another tab's widgets, or the other list of the same tab, reach nothing.
    Select(lp_tree, "music");
    Select(Tree(lp_carol), "other");
    emit mp_actions->ActionTriggered(Tree(lp_carol), "upload_share_folder");
    emit mp_actions->ActionTriggered(lp_tree, "upload_share_file");
    EXPECT_EQ(Count("upload_entry"), 1u);
    EXPECT_EQ(Uploads(), QStringList("\\other\\d.mp3"));

    Filter(lp_bob)->setText("a.mp3");
    EXPECT_EQ(Rows(lp_tree), QStringList({"music + *", "  sub (hidden) +", "    deeper (hidden)", "other (hidden)"}));
    ClickToolbar(lp_tree, "Upload Folder");
    EXPECT_EQ(Uploads(), QStringList({"\\music\\a.mp3", "\\music\\sub\\b.txt", "\\music\\sub\\deeper\\c.txt",
                                      "\\other\\d.mp3"}));
    EXPECT_EQ(FileRows(FileList(lp_bob)), QStringList("a.mp3|1|@upload"));

    Filter(lp_bob)->clear();
    Select(lp_tree, "music/sub");
    FileList(lp_bob)->setCurrentItem(FileList(lp_bob)->topLevelItem(0));
    ClickToolbar(FileList(lp_bob), "Upload File");
    EXPECT_EQ(FileRows(FileList(lp_bob)), QStringList("b.txt|1|@upload"));
    EXPECT_EQ(Count("upload_entry"), 4u);
}
