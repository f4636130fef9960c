#include "shell/TabWidget.h"
#include "shell/UIFunctions.h"

#include "ShellFixture.h"

namespace
{
// A tab widget whose second page is returned; the first page is a plain filler, current at start.
QWidget* AddTwoPages(QTabWidget* ip_tabs)
{
    ip_tabs->addTab(new QWidget, "first");
    ip_tabs->addTab(new QWidget, "second");
    ip_tabs->setCurrentIndex(0);
    return ip_tabs->widget(1);
}
} // namespace

TEST(FocusWidget, FocusesTheWidgetAndSelectsItsPageAtEveryNestedTabLevelButNotForACornerWidget)
{
    QWidget window;
    auto* outer = new QTabWidget(&window);
    QWidget* outerPage = AddTwoPages(outer);
    // The middle tab widget sits inside a layout, a level below its page.
    auto* holder = new QWidget;
    auto* middle = new QTabWidget(holder);
    (new QVBoxLayout(outerPage))->addWidget(holder);
    auto* inner = new QTabWidget(AddTwoPages(middle));
    auto* edit = new QLineEdit(AddTwoPages(inner));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    FocusWidget(edit);
    EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    EXPECT_EQ(QApplication::focusWidget(), edit);
    EXPECT_EQ(QList<int>({outer->currentIndex(), middle->currentIndex(), inner->currentIndex()}),
              QList<int>({1, 1, 1}));
    int index = 0;
    EXPECT_TRUE(GetWidgetTabWidget(edit, index) == inner && index == 1);
    // A corner widget is no page: its tab widget keeps its page and the walk goes on above it.
    auto* corner = new QPushButton("corner");
    inner->setCornerWidget(corner);
    inner->setCurrentIndex(0);
    FocusWidget(corner);
    EXPECT_EQ(QList<int>({outer->currentIndex(), inner->currentIndex()}), QList<int>({1, 0}));
    EXPECT_EQ(GetWidgetTabWidget(corner, index), middle);
    QLineEdit alone;
    FocusWidget(&alone);
    EXPECT_EQ(alone.focusWidget(), &alone);
    FocusWidget(nullptr);
    EXPECT_EQ(GetWidgetTabWidget(&alone, index), nullptr);
}

TEST(TabWidget, SelectingAPageFocusesItsHighestVisibleCandidate)
{
    // The second page holds four candidates, the last two in a sub-widget that can be hidden.
    QWidget l_window;
    auto* lp_tabs = new TabWidget(&l_window);
    lp_tabs->addTab(new QLineEdit, "filler");
    auto* lp_page = new QWidget;
    QWidget* lp_sub = nullptr;
    QLineEdit* l_edits[] = {new QLineEdit(lp_page), new QLineEdit(lp_page),
                            new QLineEdit(lp_sub = new QWidget(lp_page)), new QLineEdit(lp_sub)};
    lp_tabs->addTab(lp_page, "candidates");
    l_window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&l_window));
    // Priorities of the four (0: none), whether the sub-widget is hidden, the one focused.
    const struct { int priorities[4]; bool subHidden; int winner; } l_cases[] = {
        {{1, 1, 0, 0}, false, 0}, {{1, 0, 0, 1}, false, 0}, {{1, 0, 2, 0}, false, 2},
        {{0, 1, 3, 0}, true, 1},  {{0, 0, 0, 2}, false, 3}};
    for (const auto& l_case : l_cases)
    {
        lp_tabs->setCurrentIndex(0);
        for (int l_i = 0; l_i < 4; ++l_i)
        {
            l_edits[l_i]->setProperty("get_focus", QVariant());
            if (l_case.priorities[l_i])
                RegisterWidgetForTabFocus(l_edits[l_i], l_case.priorities[l_i]);
        }
        lp_sub->setHidden(l_case.subHidden);
        lp_tabs->setCurrentIndex(1);
        EXPECT_EQ(QApplication::focusWidget(), l_edits[l_case.winner]) << l_case.winner;
    }
}

TEST(TabWidget, AnActivityMarkStaysBlueUntilItsTabIsSelectedAndThenTheCaptionFollowsThePalette)
{
    // The marked widget sits two tab levels down: a page of the inner tabs, on the outer's second page.
    QWidget l_window;
    auto* lp_outer = new TabWidget(&l_window);
    auto* lp_inner = new TabWidget(AddTwoPages(lp_outer));
    QWidget* lp_marked = AddTwoPages(lp_inner);
    // The colour a tab's caption is drawn in: its own, else the palette's role for the bar's text.
    const auto l_drawnIn = [](QTabWidget* ip_tabs, int i_index) {
        const QTabBar* lp_bar = ip_tabs->tabBar();
        const QColor l_own = lp_bar->tabTextColor(i_index);
        return (l_own.isValid() ? l_own : lp_bar->palette().color(lp_bar->foregroundRole())).name();
    };

    TabWidget::MarkTabActivity(lp_marked);
    EXPECT_EQ(l_drawnIn(lp_outer, 1), "#0000ff");
    EXPECT_EQ(l_drawnIn(lp_inner, 1), "#0000ff");
    lp_outer->setCurrentIndex(1);
    TabWidget::MarkTabActivity(lp_inner);
    EXPECT_EQ(l_drawnIn(lp_outer, 1), l_window.palette().color(QPalette::WindowText).name())
        << "the current tab is not marked";

    // Colours changed after the tab was selected reach its caption too.
    lp_inner->setCurrentIndex(1);
    QPalette l_dark = l_window.palette();
    l_dark.setColor(QPalette::Window, QColor("#2b2b2b"));
    l_dark.setColor(QPalette::WindowText, QColor("#dcdcdc"));
    l_window.setPalette(l_dark);
    for (QTabWidget* lp_tabs : {lp_outer, lp_inner})
        for (int l_i = 0; l_i < 2; ++l_i)
            EXPECT_EQ(l_drawnIn(lp_tabs, l_i), "#dcdcdc")
                << (lp_tabs == lp_outer ? "outer" : "inner") << " tab " << l_i;
}
