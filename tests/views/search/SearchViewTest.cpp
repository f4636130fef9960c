#include "SearchFixture.h"

namespace
{
class SearchView : public SearchFixture
{
protected:
    static void Join(const QString& i_room, bool i_in)
    {
        ItemPtr l_room = T("room")->GetItem(i_room);
        ItemPtr l_flag = T("in_room")->GetGlobalNullItem();
        if (i_in)
            l_room += l_flag;
        else
            l_room.Disconnect(l_flag);
    }
};
} // namespace

TEST_F(SearchView, EachTargetSendsItsSearchAndOpensATabWithItsIcon)
{
    Open();
    ItemPtr l_bob = T("user")->GetItem("bob");
    l_bob += T("in_user_list")->GetGlobalNullItem();
    l_bob += T("is_online")->GetGlobalNullItem();
    EXPECT_EQ(TargetTexts(), QStringList({"All", "User List"}));
    Join("lobby", true);
    Join("Room: x", true);
    Join("nowhere", false);
    EXPECT_EQ(TargetTexts(), QStringList({"All", "User List", "Room: lobby", "Room: Room: x"}));
    // Blanks send nothing and stay: the next search is the first the server sees.
    EXPECT_EQ(Search("All", "   "), "   ");
    EXPECT_EQ(Manual()->count(), 0);

    const struct
    {
        const char *target, *typed;
        QStringList sent;
        const char* tab;
    } l_cases[] = {
        {"All", "  abc  ", {"26 abc", "153 abc"}, "abc search *"},
        {"User List", "def", {"42 bob def"}, "def users *"},
        {"Room: lobby", "ghi", {"120 lobby ghi"}, "ghi room *"},
        {"Room: Room: x", "j&k", {"120 Room: x j&k"}, "j&&k room *"},
    };
    QStringList l_tabs;
    for (const auto& l_case : l_cases)
    {
        SCOPED_TRACE(l_case.typed);
        EXPECT_EQ(Search(l_case.target, l_case.typed), "");
        EXPECT_EQ(Searches(), l_case.sent);
        l_tabs.replaceInStrings(" *", "");
        l_tabs << l_case.tab;
        EXPECT_EQ(Tabs(Manual()), l_tabs);
        // The new tab is in front, tied to the request of its search's token.
        EXPECT_EQ(mp_ui->tabControl->currentWidget(), mp_ui->searchTab);
        ItemPtr l_request = T("search_request")->HasItem(Value(Token(Page(Manual(), Manual()->count() - 1))));
        EXPECT_EQ(l_request["search_request_text"].AsString(), QString(l_case.typed).trimmed());
    }
    EXPECT_EQ(Count("search_results_widget"), 4u);

    Join("lobby", false);
    Join("Room: x", false);
    EXPECT_EQ(TargetTexts(), QStringList({"All", "User List"}));
}

// Closing a tab forgets its search here and sends nothing; the other users answer on.
TEST_F(SearchView, AClosedTabLeavesNothingOfItsSearchAndLaterRepliesShowNothing)
{
    Open();
    Search("All", "abc");
    Search("All", "xyz");
    const quint32 l_abc = Token(Page("abc"));
    const quint32 l_xyz = Token(Page("xyz"));
    FakePeer* lp_bob = Peer("bob");
    lp_bob->SendFrame(ReplyMessage(l_abc, "bob", {"music\\abc.mp3", "music\\abc 2.mp3"}));
    ASSERT_TRUE(QTest::qWaitFor([] { return Count("search_result") == 2; }, 5000));
    Searches();

    qobject_cast<QAbstractButton*>(Manual()->tabBar()->tabButton(0, QTabBar::RightSide))->click();
    EXPECT_EQ(Tabs(Manual()), QStringList("xyz search *"));
    EXPECT_EQ(Count("search_results_widget"), 1u);
    EXPECT_EQ(Count("search_request"), 1u);
    EXPECT_EQ(Count("search_results"), 0u);
    EXPECT_EQ(Count("search_result"), 0u);
    EXPECT_EQ(Searches(), QStringList());

    lp_bob->SendFrame(ReplyMessage(l_abc, "bob", {"music\\abc.mp3"}));
    lp_bob->SendFrame(ReplyMessage(l_xyz, "bob", {"music\\xyz.mp3"}));
    ASSERT_TRUE(QTest::qWaitFor([] { return Count("search_result") == 1; }, 5000));
    EXPECT_EQ(T("search_results")->GetItems().GetItems("search_request"), i("search_request", Value(l_xyz)));
    EXPECT_EQ(Tabs(Manual()), QStringList("xyz search *"));
}

// Later wish-list searches of a text gather in its one tab; new tabs start with their filter.
TEST_F(SearchView, WishListSearchesShareTheirTabAndNewTabsTakeTheirFilterText)
{
    m_store.Setting("default_search_filter", "Mp3  Only");
    Open();
    const auto l_wish = [](const char* i_text, const char* i_filter) {
        ItemPtr l_entry = T("wish_list_item")->GetItem(i_text);
        l_entry += T("wish_list_item_enabled")->GetGlobalNullItem();
        if (i_filter)
            l_entry += T("wish_list_item_filter_text")->GetItem(i_filter);
    };
    l_wish("wanted", "flac -live");
    l_wish("plain", nullptr);
    const auto l_wishSearch = [](const char* i_text) {
        searchForm->CreateSearchForm(gp_server->FileSearch(i_text, true), i_text, WishListSearch);
    };
    Search("All", "first");
    l_wishSearch("wanted");
    l_wishSearch("wanted");
    l_wishSearch("unknown");
    l_wishSearch("plain");
    EXPECT_EQ(Searches(), QStringList({"26 first", "153 first", "103 wanted", "103 wanted", "103 unknown",
                                       "103 plain"}));
    // Wish-list tabs open behind the manual one the user looks at.
    EXPECT_EQ(Tabs(Wishes()), QStringList({"wanted wishlist *", "plain wishlist"}));
    EXPECT_EQ(mp_ui->tabControl->currentWidget(), mp_ui->searchTab);
    EXPECT_FALSE(Wishes()->isVisible());
    ItemPtr l_tab = T("search_results_widget")->HasItem(Value(Page("wanted")));
    EXPECT_EQ(l_tab.GetItems("search_request").Size(), 2u);
    EXPECT_EQ(l_tab["wish_list_item"].AsString(), "wanted");
    EXPECT_EQ(Count("search_results_widget"), 3u);

    const struct
    {
        const char* tab;
        const char* filter;
        bool ticked;
    } l_filters[] = {{"first", "Mp3  Only", true}, {"wanted", "flac -live", false}, {"plain", "Mp3  Only", true}};
    for (const auto& l_case : l_filters)
    {
        EXPECT_EQ(Page(l_case.tab)->filterEdit()->text(), l_case.filter) << l_case.tab;
        EXPECT_EQ(Child<QCheckBox>(Page(l_case.tab), "defaultFilterBox")->isChecked(), l_case.ticked) << l_case.tab;
    }

    EXPECT_EQ(ToolbarTexts(Page("first")),
              QStringList({"Order by Available [on]", "Order by Fastest", "Expand Folders [on]", "Expand Users [on]",
                           "Add to Wishlist", "Stop Search"}));
    EXPECT_EQ(ToolbarTexts(Page("wanted")),
              QStringList({"Order by Available [on]", "Order by Fastest", "Expand Folders [on]", "Expand Users [on]",
                           "Remove from Wish List"}));
    for (const char* l_flag : {"expand_folders", "expand_users"})
        EXPECT_EQ(l_tab[l_flag].AsString(), "yes");
    EXPECT_EQ(ToolbarTexts(Child<QWidget>(searchForm, "wishList")),
              QStringList({"Enable All Wish List Searches", "Disable All Wish List Searches"}));

    // A new tab's rows order by free slots and its header cannot change that.
    QTreeWidget* lp_tree = Page("first")->searchResults();
    EXPECT_FALSE(lp_tree->header()->sectionsClickable());
    EXPECT_FALSE(lp_tree->isSortingEnabled());
    EXPECT_EQ(lp_tree->headerItem()->text(6), "Attributes");
}
