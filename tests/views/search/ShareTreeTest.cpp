#include "ShareTabsFixture.h"

namespace
{
// Four folders on three levels; bitrates on some files.
const List Library = {
    {"Books", {{"jazz history.pdf", 1, {}}, {"novel.pdf", 1, {}}}},
    {"Music", {{"x.txt", 10, {}}}},
    {"Music\\Jazz", {{"a.mp3", 3000, {{0, 192}}}, {"b.mp3", 300, {{0, 128}}}, {"c.txt", 5, {}}}},
    {"Music\\Jazz\\Live", {{"live.mp3", 10, {{0, 320}}}}}};

ItemPtr BrowsedFile(const char* i_name)
{
    return d.GetType("user_share_file_name")->HasItem(i_name)["user_share_file"];
}
} // namespace

using ShareTree = ShareTabsFixture;

TEST_F(ShareTree, FoldersStandUnderTheirListedParentsAndFilesKeepTheirAttributes)
{
    const struct { List list; QStringList rows; } l_cases[] = {
        {{{"a", {}}, {"a\\b", {}}, {"c\\d", {}}}, {"a +", "  b", "d"}},
        {{{"a", {}}, {"a\\b\\c", {}}}, {"a", "c"}},
    };
    for (const auto& l_case : l_cases)
    {
        ShareForm* lp_tab = Browse(l_case.list);
        EXPECT_EQ(Rows(Tree(lp_tab)), l_case.rows);
        Close(lp_tab);
    }

    ShareForm* lp_tab = Browse({{"Music", {{"song.mp3", 1000, {{0, 192}, {1, 240}, {2, 1}}}, {"cbr.mp3", 7, {{2, 0}}},
                                           {"plain.txt", 5, {}}}},
                                {"Other", {{"same.mp3", 1000, {}}}}});
    Select(Tree(lp_tab), "Music");
    EXPECT_EQ(FileRows(FileList(lp_tab)), QStringList({"cbr.mp3|7| CBR", "plain.txt|5|", "song.mp3|1,000|192 VBR, 4m0s"}));
    const struct { const char *file, *bitrate, *length, *mode; } l_files[] = {
        {"song.mp3", "192", "240", "vbr"}, {"cbr.mp3", "", "", "cbr"}, {"plain.txt", "", "", ""}};
    for (const auto& l_file : l_files)
        EXPECT_EQ(Fields(BrowsedFile(l_file.file), {"bitrate", "length_seconds", "bitrate_mode"}),
                  QString("%1|%2|%3").arg(l_file.bitrate, l_file.length, l_file.mode)) << l_file.file;
    EXPECT_EQ(BrowsedFile("song.mp3")["file_size"], BrowsedFile("same.mp3")["file_size"]);
}

// Each filter in turn, with "Jazz" the current folder of the browse tab and an upload tab
// listing a folder of its own beside it.
TEST_F(ShareTree, TheFilterShowsFoldersByTheirNamesTheirFilesOrTheFoldersBelowThem)
{
    ShareOwn({"mine/one.mp3", "mine/two.mp3"});
    UploadForm* lp_upload = mp_page->OpenUploadBrowse("bob");
    Select(Tree(lp_upload), "mine");
    const QStringList l_uploadRows = FileRows(FileList(lp_upload));
    ASSERT_EQ(l_uploadRows.size(), 2);

    ShareForm* lp_tab = Browse(Library);
    Select(Tree(lp_tab), "Music/Jazz");
    const QString l_all = "a.mp3|3,000|192,b.mp3|300|128,c.txt|5|";
    const struct { const char* filter; QStringList rows; QString files; } l_steps[] = {
        {"jazz", {"Books", "Music +", "  Jazz + *", "    Live"}, l_all},
        {"jazz mp3", {"Books (hidden)", "Music +", "  Jazz + *", "    Live"}, "a.mp3|3,000|192,b.mp3|300|128"},
        {"mfif:3", {"Books (hidden)", "Music +", "  Jazz + *", "    Live (hidden)"}, l_all},
        {"mbr:192", {"Books (hidden)", "Music +", "  Jazz + *", "    Live"}, "a.mp3|3,000|192"},
        {"-jazz", {"Books", "Music +", "  Jazz (hidden) + *", "    Live"}, ""},
        {"live", {"Books (hidden)", "Music +", "  Jazz + *", "    Live"}, ""},
        {"", {"Books", "Music +", "  Jazz + *", "    Live"}, l_all},
    };
    for (const auto& l_step : l_steps)
    {
        Filter(lp_tab)->setText(l_step.filter);
        EXPECT_EQ(Rows(Tree(lp_tab)), l_step.rows) << l_step.filter;
        EXPECT_EQ(FileRows(FileList(lp_tab)).join(','), l_step.files) << l_step.filter;
        EXPECT_EQ(Count("user_share_file_node"), std::size_t(FileList(lp_tab)->topLevelItemCount() + 2)) << l_step.filter;
        EXPECT_EQ(FileRows(FileList(lp_upload)), l_uploadRows);
    }
}

TEST_F(ShareTree, AFolderAskedForBeforeTheListIsSelectedWhenItComesAndLevelsOpenOneByOne)
{
    SetSetting("expand_new_shares", "no");
    ShareForm* lp_tab = mp_page->OpenShareBrowse("bob");
    lp_tab->BrowseToFolder("Music\\Jazz");
    ASSERT_TRUE(SendKeeps(ShareListMessage(Library)));
    QTreeWidget* lp_tree = Tree(lp_tab);
    EXPECT_EQ(Rows(lp_tree), QStringList({"Books", "Music +", "  Jazz *", "    Live"}));
    EXPECT_EQ(FileList(lp_tab)->topLevelItemCount(), 3);
    // A folder below an excluded name lists nothing, even when asked for by path.
    Filter(lp_tab)->setText("-jazz");
    lp_tab->BrowseToFolder("Music\\Jazz\\Live");
    EXPECT_EQ(FileList(lp_tab)->topLevelItemCount(), 0);
    Filter(lp_tab)->clear();
    EXPECT_EQ(FileRows(FileList(lp_tab)), QStringList("live.mp3|10|320"));
    lp_tab->BrowseToFolder("Books");
    lp_tab->BrowseToFolder("Nowhere");
    EXPECT_EQ(Rows(lp_tree), QStringList({"Books *", "Music +", "  Jazz +", "    Live"}));
    EXPECT_EQ(FileRows(FileList(lp_tab)), QStringList({"jazz history.pdf|1|", "novel.pdf|1|"}));

    // Deepest level 2: two clicks open it all, a third changes nothing.
    EXPECT_EQ(ToolbarTexts(lp_tree), QStringList({"Expand Level", "Collapse All", "Expand All"}));
    ClickToolbar(lp_tree, "Collapse All");
    const struct { const char* click; QStringList rows; const char* text; } l_clicks[] = {
        {"Expand Level", {"Books *", "Music +", "  Jazz", "    Live"}, "Expand Level [1]"},
        {"Expand Level", {"Books *", "Music +", "  Jazz +", "    Live"}, "Expand Level [2]"},
        {"Expand Level", {"Books *", "Music +", "  Jazz +", "    Live"}, "Expand Level [2]"},
        {"Collapse All", {"Books *", "Music", "  Jazz", "    Live"}, "Expand Level"},
        {"Expand All", {"Books *", "Music +", "  Jazz +", "    Live"}, "Expand Level"},
    };
    for (const auto& l_click : l_clicks)
    {
        ClickToolbar(lp_tree, l_click.click);
        EXPECT_EQ(Rows(lp_tree), l_click.rows) << l_click.text;
        EXPECT_EQ(ToolbarTexts(lp_tree).value(0), l_click.text);
    }

    // Deepest level 0: nothing to open.
    Close(lp_tab);
    lp_tree = Tree(Browse({{"A", {}}, {"B", {}}}));
    ClickToolbar(lp_tree, "Expand Level");
    EXPECT_EQ(ToolbarTexts(lp_tree).value(0), "Expand Level");
    EXPECT_EQ(Rows(lp_tree), QStringList({"A *", "B"}));
}
