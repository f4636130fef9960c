#include "SearchFixture.h"

namespace
{
class ResultActions : public SearchFixture
{
protected:
    static void DoubleClick(QTreeWidgetItem* ip_row)
    {
        QTreeWidget* lp_tree = ip_row->treeWidget();
        emit lp_tree->itemDoubleClicked(ip_row, 0);
    }
    static QStringList ToolbarOf(SearchResultsForm* ip_page) { return ToolbarTexts(ip_page->searchResults()); }
};
} // namespace

// A user's or a folder's rows queue every result under them, hidden or not, folder by folder and
// name by name, but for the excluded endings, which only a file's own row queues.
TEST_F(ResultActions, ADoubleClickQueuesTheResultsUnderARowInFolderAndNameOrder)
{
    Open();
    T("excluded_download_extension")->GetItem(".ini");
    SearchResultsForm* lp_page = NewTab("dave stuff");
    Deliver(Token(lp_page), {"dave"},
            {{"share\\alpha\\b.mp3", 10}, {"share\\alpha\\a.mp3", 20}, {"share\\Zeta\\z.mp3", 30},
             {"share\\Zeta\\setup.ini", 40}});
    lp_page->filterEdit()->setText("-a.mp3");
    QTreeWidget* lp_tree = lp_page->searchResults();
    QTreeWidgetItem* lp_user = lp_tree->topLevelItem(0);

    DoubleClick(lp_user);
    EXPECT_EQ(Downloads(), QStringList({"dave|share\\Zeta|z.mp3|30|dave stuff", "dave|share\\alpha|a.mp3|20|dave stuff",
                                        "dave|share\\alpha|b.mp3|10|dave stuff"}));
    EXPECT_EQ(Rows(lp_tree), QStringList({"dave|Y|", "  Zeta/share", "    setup.ini|40|", "    z.mp3|30| +",
                                          "  alpha/share", "    a.mp3|20| - +", "    b.mp3|10| +"}));
    DoubleClick(lp_user->child(0)->child(0));
    DoubleClick(lp_user->child(1));
    EXPECT_EQ(Downloads().size(), 4);
    EXPECT_EQ(Downloads().last(), "dave|share\\Zeta|setup.ini|40|dave stuff");
    EXPECT_EQ(Rows(lp_tree)[2], "    setup.ini|40| +");
}

// Each tab keeps its own expansion, order and texts.
TEST_F(ResultActions, ToolbarTogglesActOnTheirTabAlone)
{
    Open();
    SearchResultsForm* lp_one = NewTab("one");
    SearchResultsForm* lp_two = NewTab("two");
    for (SearchResultsForm* lp_page : {lp_one, lp_two})
    {
        Deliver(Token(lp_page), {"slow", false, 1024, 0}, {{"a\\one.mp3"}, {"b\\one.mp3"}});
        Deliver(Token(lp_page), {"fast", false, 40960, 3}, {{"c\\one.mp3"}});
    }
    QTreeWidget* lp_tree = lp_one->searchResults();
    const auto l_expanded = [](QTreeWidget* ip_tree) {
        QString l_marks;
        for (int l_user = 0; l_user < ip_tree->topLevelItemCount(); ++l_user)
        {
            QTreeWidgetItem* lp_user = ip_tree->topLevelItem(l_user);
            l_marks += lp_user->isExpanded() ? "U" : "u";
            for (int l_folder = 0; l_folder < lp_user->childCount(); ++l_folder)
                l_marks += lp_user->child(l_folder)->isExpanded() ? "F" : "f";
        }
        return l_marks;
    };
    const auto l_users = [](QTreeWidget* ip_tree) { return TopTexts(ip_tree).mid(0, 2).join(','); };
    const auto l_texts = [](bool i_fastest, bool i_folders, bool i_users) {
        const auto l_on = [](const char* i_text, bool i_on) { return QString(i_text) + (i_on ? " [on]" : ""); };
        return QStringList{l_on("Order by Available", !i_fastest), l_on("Order by Fastest", i_fastest),
                           QString("Expand Folders [%1]").arg(i_folders ? "on" : "off"),
                           QString("Expand Users [%1]").arg(i_users ? "on" : "off"), "Add to Wishlist", "Stop Search"};
    };
    const struct
    {
        const char* click;
        bool fastest, folders, users;
        const char *expanded, *order;
    } l_steps[] = {
        {"Expand Folders [on]", false, false, true, "UffUf", "slow,fast"},
        {"Expand Users [on]", false, false, false, "uffuf", "slow,fast"},
        {"Expand Folders [off]", false, true, false, "uFFuF", "slow,fast"},
        {"Order by Fastest", true, true, false, "uFuFF", "fast,slow"},
        {"Order by Available", false, true, false, "uFFuF", "slow,fast"},
        {"Expand Users [off]", false, true, true, "UFFUF", "slow,fast"},
    };
    for (const auto& l_step : l_steps)
    {
        SCOPED_TRACE(l_step.click);
        ClickAction(lp_tree, l_step.click);
        EXPECT_EQ(ToolbarOf(lp_one), l_texts(l_step.fastest, l_step.folders, l_step.users));
        EXPECT_EQ(l_expanded(lp_tree), l_step.expanded);
        EXPECT_EQ(l_users(lp_tree), l_step.order);
        EXPECT_EQ(ToolbarOf(lp_two), l_texts(false, true, true));
        EXPECT_EQ(l_expanded(lp_two->searchResults()), "UFFUF");
    }
    // Rows that come later follow the tab's flags and order.
    ClickAction(lp_tree, "Expand Folders [on]");
    ClickAction(lp_tree, "Order by Fastest");
    Deliver(Token(lp_one), {"slow", false, 1024, 0}, {{"d\\one.mp3"}});
    Deliver(Token(lp_one), {"faster", false, 81920, 9}, {{"e\\one.mp3"}});
    EXPECT_EQ(l_expanded(lp_tree), "UfUfffUf");
    ASSERT_TRUE(QTest::qWaitFor([&] { return l_users(lp_tree) == "faster,fast"; }, 5000));
}

// A search goes on the wish list once; a wish-list tab takes its text off; a stopped search's
// later replies are dropped while others' still come.
TEST_F(ResultActions, TheWishListActionAddsOnceAndRemovesAndStopSearchEndsTheRows)
{
    Open();
    SearchResultsForm* lp_wanted = NewTab("wanted");
    SearchResultsForm* lp_other = NewTab("other");
    auto* lp_wishList = Child<QTreeWidget>(searchForm, "wishList");
    for (int l_press = 0; l_press < 2; ++l_press)
        ClickAction(lp_wanted->searchResults(), "Add to Wishlist");
    EXPECT_EQ(Count("wish_list_item"), 1u);
    EXPECT_TRUE(T("wish_list_item")->HasItem("wanted").IsConnected("wish_list_item_enabled"));
    ASSERT_EQ(lp_wishList->topLevelItemCount(), 1);
    EXPECT_EQ(lp_wishList->topLevelItem(0)->text(1) + lp_wishList->topLevelItem(0)->text(0), "wantedY");

    FakePeer* lp_bob = Peer("bob");
    lp_bob->SendFrame(ReplyMessage(Token(lp_wanted), "bob", {"music\\wanted 1.mp3"}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return lp_wanted->searchResults()->topLevelItemCount() == 1; }, 5000));
    ClickAction(lp_wanted->searchResults(), "Stop Search");
    EXPECT_TRUE(ToolbarOf(lp_wanted).contains("Search Stopped"));
    EXPECT_TRUE(ToolbarOf(lp_other).contains("Stop Search"));
    lp_bob->SendFrame(ReplyMessage(Token(lp_wanted), "bob", {"music\\wanted 2.mp3"}));
    lp_bob->SendFrame(ReplyMessage(Token(lp_other), "bob", {"music\\other.mp3"}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return lp_other->searchResults()->topLevelItemCount() == 1; }, 5000));
    EXPECT_EQ(Shown(lp_wanted->searchResults()), QStringList({"bob", "music", "wanted 1.mp3"}));

    Deliver(WishSearch("wanted"), {"carl"}, {{"c\\wanted.mp3"}});
    ASSERT_EQ(Wishes()->count(), 1);
    EXPECT_TRUE(ToolbarOf(Page(Wishes(), 0)).contains("Remove from Wish List"));
    EXPECT_FALSE(ToolbarOf(Page(Wishes(), 0)).contains("Stop Search"));
    ClickAction(Page(Wishes(), 0)->searchResults(), "Remove from Wish List");
    EXPECT_EQ(Count("wish_list_item"), 0u);
    EXPECT_EQ(lp_wishList->topLevelItemCount(), 0);
    EXPECT_EQ(Wishes()->count(), 1);
}

// Other users choose their names, paths, speeds and queues: a row with an empty name or path
// still acts by what it is, and figures below 0 neither show nor sort their user first.
TEST_F(ResultActions, RowsOfEmptyNamesAndPathsQueueWhatIsUnderThemAndFiguresBelowZeroCountAsNone)
{
    Open();
    T("excluded_download_extension")->GetItem(".ini");
    SearchResultsForm* lp_page = NewTab("odd");
    Deliver(Token(lp_page), {"", false, -2048, -3}, {{"\\a.mp3", 10}, {"\\setup.ini", 20}});
    Deliver(Token(lp_page), {"carl", false, 1024, 0}, {{"\\c.mp3", 30}, {"\\d.ini", 40}});
    QTreeWidget* lp_tree = lp_page->searchResults();
    lp_page->Sort();
    EXPECT_EQ(Rows(lp_tree), QStringList({"carl|0|1.0", "  ", "    c.mp3|30|", "    d.ini|40|", "|0|", "  ",
                                          "    a.mp3|10|", "    setup.ini|20|"}));

    DoubleClick(lp_tree->topLevelItem(1));
    DoubleClick(lp_tree->topLevelItem(0)->child(0));
    EXPECT_EQ(Downloads(), QStringList({"||a.mp3|10|odd", "carl||c.mp3|30|odd"}));
}
