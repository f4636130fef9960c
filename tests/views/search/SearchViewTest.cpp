#include "SearchFixture.h"

using SearchView = SearchFixture;

TEST_F(SearchView, EachTargetSendsItsSearchAndOpensATabWithItsIcon)
{
    Open();
    const auto l_join = [](const char* i_room, bool i_in) {
        ItemPtr l_room = T("room")->GetItem(i_room);
        i_in ? void(l_room += T("in_room")->GetGlobalNullItem()) : l_room.Disconnect(T("in_room")->GetGlobalNullItem());
    };
    ItemPtr l_bob = T("user")->GetItem("bob");
    l_bob += T("in_user_list")->GetGlobalNullItem();
    l_bob += T("is_online")->GetGlobalNullItem();
    l_join("lobby", true);
    l_join("Room: x", true);
    l_join("nowhere", false);
    EXPECT_EQ(TargetTexts(), QStringList({"All", "User List", "Room: lobby", "Room: Room: x"}));
    // Blanks send nothing and stay: the next search is the first the server sees.
    EXPECT_EQ(Search("All", "   "), "   ");

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
        EXPECT_EQ(Tabs(Manual()), l_tabs << l_case.tab);
        EXPECT_EQ(mp_ui->tabControl->currentWidget(), mp_ui->searchTab);
    }
    l_join("lobby", false);
    l_join("Room: x", false);
    EXPECT_EQ(TargetTexts(), QStringList({"All", "User List"}));
}

// Closing a tab forgets its search here and sends nothing; the other users answer on.
TEST_F(SearchView, AClosedTabLeavesNothingOfItsSearchAndLaterRepliesShowNothing)
{
    Open();
    const quint32 l_abc = Token(NewTab("abc"));
    const quint32 l_xyz = Token(NewTab("xyz"));
    FakePeer* lp_bob = Peer("bob");
    lp_bob->SendFrame(ReplyMessage(l_abc, "bob", {"music\\abc.mp3", "music\\abc 2.mp3"}));
    ASSERT_TRUE(QTest::qWaitFor([] { return Count("search_result") == 2; }, 5000));
    Searches();

    CloseTab(Manual(), 0);
    EXPECT_EQ(Tabs(Manual()), QStringList("xyz search *"));
    for (const auto& [l_type, l_count] : {std::pair{"search_results_widget", 1u}, {"search_request", 1u},
                                          {"search_results", 0u}, {"search_result", 0u}})
        EXPECT_EQ(Count(l_type), l_count) << l_type;
    EXPECT_EQ(Searches(), QStringList());

    lp_bob->SendFrame(ReplyMessage(l_abc, "bob", {"music\\abc.mp3"}));
    lp_bob->SendFrame(ReplyMessage(l_xyz, "bob", {"music\\xyz.mp3"}));
    ASSERT_TRUE(QTest::qWaitFor([] { return Count("search_result") == 1; }, 5000));
    EXPECT_EQ(T("search_results")->GetItems().GetItems("search_request"), i("search_request", Value(l_xyz)));
    EXPECT_EQ(Tabs(Manual()), QStringList("xyz search *"));
}

// Later wish-list searches of a text gather in its one tab, behind the manual one the user looks
// at; new tabs start with their filter text.
TEST_F(SearchView, WishListSearchesShareTheirTabAndNewTabsTakeTheirFilterText)
{
    m_store.Setting("default_search_filter", "Mp3  Only");
    Open();
    Wish("wanted", true, "flac -live");
    Wish("plain");
    Search("All", "first");
    for (const char* l_text : {"wanted", "wanted", "unknown", "plain"})
        searchForm->CreateSearchForm(WishSearch(l_text), l_text, WishListSearch);
    EXPECT_EQ(Searches(), QStringList({"26 first", "153 first", "103 wanted", "103 wanted", "103 unknown",
                                       "103 plain"}));
    EXPECT_EQ(Tabs(Wishes()), QStringList({"wanted wishlist *", "plain wishlist"}));
    EXPECT_EQ(mp_ui->tabControl->currentWidget(), mp_ui->searchTab);
    EXPECT_FALSE(Wishes()->isVisible());
    EXPECT_EQ(T("search_results_widget")->HasItem(Value(Page("wanted"))).GetItems("search_request").Size(), 2u);

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
    // The tree never sorts itself: only the delayed sort orders the rows.
    EXPECT_FALSE(Page("first")->searchResults()->isSortingEnabled());
}
