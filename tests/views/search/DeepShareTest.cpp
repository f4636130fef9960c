#include "ShareTabsFixture.h"

// A peer can nest a list as deep as the inflation ceiling lets it: folders a, a\a, a\a\a ... whose
// paths add up to about 64 MB at 8,000 levels. The tab opens, filters, downloads and closes it
// with every walk on its own stack.
TEST_F(ShareTabsFixture, AListNestedEightThousandFoldersDeepOpensFiltersDownloadsAndCloses)
{
    constexpr int kDepth = 8000;
    List l_list;
    QByteArray l_path = "a";
    for (int l_level = 0; l_level < kDepth; ++l_level, l_path += "\\a")
        l_list.push_back({l_path, l_level % 1000 == 999 ? std::vector<ShareFile>{{"song.mp3", 5, {}}, {"x.ini", 1, {}}}
                                                      : std::vector<ShareFile>{}});
    ShareForm* lp_tab = Browse(l_list);
    QTreeWidget* lp_tree = Tree(lp_tab);
    ASSERT_EQ(Count("user_share_folder_node"), std::size_t(kDepth));
    ASSERT_EQ(lp_tree->topLevelItemCount(), 1);
    QTreeWidgetItem* lp_deepest = lp_tree->topLevelItem(0);
    while (lp_deepest->childCount() == 1)
        lp_deepest = lp_deepest->child(0);
    EXPECT_EQ(lp_deepest->childCount(), 0);
    EXPECT_TRUE(lp_deepest->parent()->isExpanded());

    Filter(lp_tab)->setText("-zzz song");
    EXPECT_FALSE(lp_deepest->isHidden());
    EXPECT_FALSE(lp_tree->topLevelItem(0)->isHidden());
    Filter(lp_tab)->setText("nothing");
    EXPECT_TRUE(lp_tree->topLevelItem(0)->isHidden());
    Filter(lp_tab)->clear();

    // Queued a slice at a time: the paths thousands of levels deep take their time.
    lp_tab->DownloadFolder(ItemPtr(g("user_share_folder").Connected("user_share_folder_name", Value("a"))), false);
    ASSERT_TRUE(QTest::qWaitFor([this] { return !mp_transfers->IsDownloadWorkPending(); }, 30000));
    EXPECT_EQ(Downloads().size(), kDepth / 1000);
    EXPECT_TRUE(Downloads().first().endsWith("\\song.mp3 1"));

    Close(lp_tab);
    EXPECT_EQ(Count("user_share_folder"), 0u);
    EXPECT_EQ(Count("user_share_folder_node"), 0u);
    EXPECT_EQ(mp_page->TabControl()->count(), 0);
}
