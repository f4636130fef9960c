#include "shell/TabWidget.h"
#include "shell/TreeWidget.h"
#include "shell/UIFunctions.h"

#include "ShellFixture.h"

TEST(TabWidget, SelectingAPageFocusesItsHighestVisibleCandidateAndClearsItsMark)
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
    lp_tabs->setCurrentIndex(0);
    TabWidget::MarkTabActivity(l_edits[0]);
    EXPECT_EQ(lp_tabs->tabBar()->tabTextColor(1), QColor(Qt::blue));
    lp_tabs->setCurrentIndex(1);
    EXPECT_EQ(lp_tabs->tabBar()->tabTextColor(1), QColor(Qt::black));
    TabWidget::MarkTabActivity(l_edits[0]);
    EXPECT_EQ(lp_tabs->tabBar()->tabTextColor(1), QColor(Qt::black)) << "the tab is shown";
}

TEST(TreeWidget, ListenersHearAKeyBeforeTheRowMoves)
{
    TreeWidget l_tree;
    for (const char* l_name : {"ann", "bob"})
        l_tree.addTopLevelItem(new QTreeWidgetItem(QStringList{l_name}));
    l_tree.setCurrentItem(l_tree.topLevelItem(0));
    QStringList l_heard;
    QObject::connect(&l_tree, &TreeWidget::KeyPressed, [&](QKeyEvent* ip_event) {
        l_heard << QString("%1 at %2").arg(ip_event->key()).arg(l_tree.currentItem()->text(0));
    });
    QTest::keyClick(&l_tree, Qt::Key_Down);
    EXPECT_EQ(l_heard, QStringList(QString("%1 at ann").arg(int(Qt::Key_Down))));
    EXPECT_EQ(l_tree.currentItem()->text(0), "bob");
}
