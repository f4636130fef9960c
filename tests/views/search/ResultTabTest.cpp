#include "SearchFixture.h"
#include "views/search/FilterHelpDialog.h"

namespace
{
class ResultTab : public SearchFixture
{
protected:
    // One tab's filter box as "text|button|D or -|saved filters" (D: the default box ticked).
    static QString Box(SearchResultsForm* ip_page)
    {
        auto* lp_saved = Child<QComboBox>(ip_page, "savedFiltersBox");
        QStringList l_saved;
        for (int l_index = 1; l_index < lp_saved->count(); ++l_index)
            l_saved << lp_saved->itemText(l_index);
        return QStringList{ip_page->filterEdit()->text(), Child<QPushButton>(ip_page, "saveFilterButton")->text(),
                           Child<QCheckBox>(ip_page, "defaultFilterBox")->isChecked() ? "D" : "-",
                           l_saved.join(',')}
            .join('|');
    }
    static void Enter(SearchResultsForm* ip_page, const QString& i_text) { ip_page->filterEdit()->setText(i_text); }
    static void Click(SearchResultsForm* ip_page, const char* i_button) { Child<QAbstractButton>(ip_page, i_button)->click(); }
    static QStringList Correlations(SearchResultsForm* ip_page)
    {
        QTreeWidget* lp_list = ip_page->CorrelationsWidget();
        return lp_list->isHidden() ? QStringList("hidden") : TopTexts(lp_list);
    }

    void OpenTwoTabs()
    {
        Open();
        Search("All", "one");
        Search("All", "two");
        mp_one = Page("one");
        mp_two = Page("two");
    }
    // Each step's action, then the state it must leave.
    using Steps = std::vector<std::pair<std::function<void()>, QStringList>>;
    static void Run(const std::function<QStringList()>& i_state, const Steps& i_steps)
    {
        for (std::size_t l_step = 0; l_step < i_steps.size(); ++l_step)
        {
            i_steps[l_step].first();
            EXPECT_EQ(i_state(), i_steps[l_step].second) << "step " << l_step;
        }
    }

    SearchResultsForm* mp_one = nullptr;
    SearchResultsForm* mp_two = nullptr;
};
} // namespace

// Saved filters are the store's, so every open tab lists the same ones and follows each change.
TEST_F(ResultTab, ASavedFilterIsListedInEveryTabAndFoundWhateverItsCaseOrBlanks)
{
    OpenTwoTabs();
    SearchResultsForm* lp_one = mp_one;
    SearchResultsForm* lp_two = mp_two;
    Run([=] { return QStringList{Box(lp_one), Box(lp_two)}; }, {
        {[=] { Enter(lp_one, "  Foo   Bar "); }, {"  Foo   Bar |Save Filter|-|", "|Save Filter|-|"}},
        {[=] { Click(lp_one, "saveFilterButton"); },
         {"  Foo   Bar |Remove Filter|-|foo bar", "|Save Filter|-|foo bar"}},
        {[=] { Enter(lp_two, "FOO bar"); }, {"  Foo   Bar |Remove Filter|-|foo bar", "FOO bar|Remove Filter|-|foo bar"}},
        {[=] { Enter(lp_two, "   "); }, {"  Foo   Bar |Remove Filter|-|foo bar", "   |Save Filter|-|foo bar"}},
        {[=] { Click(lp_two, "saveFilterButton"); },
         {"  Foo   Bar |Remove Filter|-|foo bar", "   |Save Filter|-|foo bar"}},
        {[=] { Enter(lp_two, "zed"); }, {"  Foo   Bar |Remove Filter|-|foo bar", "zed|Save Filter|-|foo bar"}},
        {[=] { Click(lp_two, "saveFilterButton"); },
         {"  Foo   Bar |Remove Filter|-|foo bar,zed", "zed|Remove Filter|-|foo bar,zed"}},
        // Chosen from the box, a saved filter is typed in as saved; the box shows its caption again.
        {[=] { Child<QComboBox>(lp_two, "savedFiltersBox")->setCurrentIndex(1); },
         {"  Foo   Bar |Remove Filter|-|foo bar,zed", "foo bar|Remove Filter|-|foo bar,zed"}},
        {[=] { Click(lp_two, "saveFilterButton"); }, {"  Foo   Bar |Save Filter|-|zed", "foo bar|Save Filter|-|zed"}},
        {[=] { Click(lp_one, "pushButton_2"); }, {"|Save Filter|-|zed", "foo bar|Save Filter|-|zed"}},
    });
    EXPECT_EQ(Child<QComboBox>(lp_two, "savedFiltersBox")->currentIndex(), 0);
    EXPECT_EQ(Count("saved_filter"), 1u);
    // A tab opened later lists what is saved.
    Search("All", "three");
    EXPECT_EQ(Box(Page("three")), "|Save Filter|-|zed");
}

// The default filter is the text as typed; each tab's box ticks only for exactly that text.
TEST_F(ResultTab, TheDefaultFilterIsTheTextAsTypedAndUntickingLeavesNoValue)
{
    OpenTwoTabs();
    SearchResultsForm* lp_one = mp_one;
    SearchResultsForm* lp_two = mp_two;
    const auto l_state = [=] {
        ItemPtr l_value = SettingValueItem("default_search_filter");
        return QStringList{Box(lp_one), Box(lp_two), l_value ? "=" + l_value.AsString() : "(none)"};
    };
    Run(l_state, {
        {[=] { Click(lp_one, "defaultFilterBox"); }, {"|Save Filter|-|", "|Save Filter|-|", "(none)"}},
        {[=] { Enter(lp_one, "Mp3  Live"); }, {"Mp3  Live|Save Filter|-|", "|Save Filter|-|", "(none)"}},
        {[=] { Click(lp_one, "defaultFilterBox"); }, {"Mp3  Live|Save Filter|D|", "|Save Filter|-|", "=Mp3  Live"}},
        {[=] { Enter(lp_two, "mp3  live"); }, {"Mp3  Live|Save Filter|D|", "mp3  live|Save Filter|-|", "=Mp3  Live"}},
        {[=] { Enter(lp_two, "Mp3  Live"); }, {"Mp3  Live|Save Filter|D|", "Mp3  Live|Save Filter|D|", "=Mp3  Live"}},
        {[=] { Click(lp_two, "defaultFilterBox"); },
         {"Mp3  Live|Save Filter|D|", "Mp3  Live|Save Filter|-|", "(none)"}},
    });
    Search("All", "three");
    EXPECT_EQ(Box(Page("three")), "|Save Filter|-|");
}

// Related searches come from the server for a text; a wish-list tab never shows them.
TEST_F(ResultTab, RelatedSearchesListHighestRankFirstAndStartSearchesOfTheirOwn)
{
    Open();
    Search("All", "abc");
    Search("All", "xyz");
    Wish("abc");
    searchForm->CreateSearchForm(WishSearch("abc"), "abc", WishListSearch);
    Searches();
    m_server.SendFrame(153, WireFields().Text("abc").Int32(3).Text("rank three").Int32(3).Text("r&b ten").Int32(10)
                                .Text("rank seven").Int32(7));
    ASSERT_TRUE(QTest::qWaitFor([this] { return !Page("abc")->CorrelationsWidget()->isHidden(); }, 5000));
    EXPECT_EQ(Correlations(Page("abc")), QStringList({"r&b ten", "rank seven", "rank three"}));
    EXPECT_EQ(Correlations(Page("xyz")), QStringList("hidden"));
    EXPECT_EQ(Correlations(Page(Wishes(), 0)), QStringList("hidden"));

    // A tab opened later finds what the server said before.
    Search("All", "abc");
    EXPECT_EQ(Correlations(Page(Manual(), 2)), QStringList({"r&b ten", "rank seven", "rank three"}));
    Searches();

    QTreeWidget* lp_list = Page("abc")->CorrelationsWidget();
    QTreeWidgetItem* lp_ten = lp_list->topLevelItem(0);
    emit lp_list->itemClicked(lp_ten, 0);
    EXPECT_EQ(Entry()->text(), "r&b ten");
    emit lp_list->itemClicked(lp_ten, 0);
    emit lp_list->itemDoubleClicked(lp_ten, 0);
    EXPECT_EQ(Entry()->text(), "");
    EXPECT_EQ(Searches(), QStringList({"26 r&b ten", "153 r&b ten"}));
    EXPECT_EQ(Tabs(Manual()).last(), "r&&b ten search *");
}

// Every filter box opens the one help window; after "Ok" the next click opens a new one, which
// goes with the tab that opened it.
TEST_F(ResultTab, FilterHelpIsOneWindowForAllTabs)
{
    OpenTwoTabs();
    Click(mp_one, "pushButton");
    QPointer<FilterHelpDialog> lp_help = filterHelpDialog;
    ASSERT_TRUE(lp_help);
    EXPECT_TRUE(lp_help->isVisible() && lp_help->isWindow());
    Click(mp_two, "pushButton");
    EXPECT_EQ(filterHelpDialog, lp_help.data());
    EXPECT_EQ(mp_window->findChildren<FilterHelpDialog*>().size(), 1);

    Child<QPushButton>(lp_help, "pushButton")->click();
    FlushDeletes();
    EXPECT_TRUE(lp_help.isNull());
    Click(mp_two, "pushButton");
    ASSERT_TRUE(lp_help = filterHelpDialog);
    EXPECT_EQ(lp_help->parent(), mp_two);
    CloseTab(Manual(), Manual()->indexOf(mp_two));
    FlushDeletes();
    EXPECT_TRUE(lp_help.isNull());
    EXPECT_EQ(filterHelpDialog, nullptr);
}
