#include "shell/ProxyStyle.h"
#include "shell/TabWidget.h"
#include "shell/TreeWidget.h"
#include "shell/UIFunctions.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

// A shown window holding a TabWidget whose first page is a plain filler and whose second page
// holds the candidates: four line edits, the last two inside a sub-widget that can be hidden.
class TabFocusTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto* lp_layout = new QVBoxLayout(&m_window);
        mp_tabs = new TabWidget;
        lp_layout->addWidget(mp_tabs);
        mp_tabs->addTab(new QLineEdit, "filler");
        auto* lp_page = new QWidget;
        auto* lp_pageLayout = new QVBoxLayout(lp_page);
        for (int l_i = 0; l_i < 2; ++l_i)
            lp_pageLayout->addWidget(m_edits[l_i] = new QLineEdit);
        mp_sub = new QWidget;
        auto* lp_subLayout = new QVBoxLayout(mp_sub);
        for (int l_i = 2; l_i < 4; ++l_i)
            lp_subLayout->addWidget(m_edits[l_i] = new QLineEdit);
        lp_pageLayout->addWidget(mp_sub);
        mp_tabs->addTab(lp_page, "candidates");
        m_window.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&m_window));
    }

    QWidget m_window;
    TabWidget* mp_tabs = nullptr;
    QWidget* mp_sub = nullptr;
    QLineEdit* m_edits[4] = {};
};

TEST_F(TabFocusTest, SelectingAPageFocusesItsHighestVisibleCandidate)
{
    // Priorities of the four edits (0: none), whether the sub-widget is hidden, the winner.
    const struct
    {
        int priorities[4];
        bool subHidden;
        int winner;
    } l_cases[] = {
        {{1, 1, 0, 0}, false, 0},
        {{1, 0, 0, 1}, false, 0},
        {{1, 0, 2, 0}, false, 2},
        {{0, 1, 3, 0}, true, 1},
        {{0, 0, 0, 2}, false, 3},
    };
    for (const auto& l_case : l_cases)
    {
        mp_tabs->setCurrentIndex(0);
        for (int l_i = 0; l_i < 4; ++l_i)
        {
            m_edits[l_i]->setProperty("get_focus", QVariant());
            if (l_case.priorities[l_i])
                RegisterWidgetForTabFocus(m_edits[l_i], l_case.priorities[l_i]);
        }
        mp_sub->setHidden(l_case.subHidden);
        mp_tabs->setCurrentIndex(1);
        EXPECT_EQ(QApplication::focusWidget(), m_edits[l_case.winner]) << l_case.winner;
    }
}

TEST_F(TabFocusTest, RegisteringAVisibleWidgetFocusesItAndAHiddenOneWaits)
{
    mp_tabs->widget(0)->setFocus();
    RegisterWidgetForTabFocus(m_edits[0], 1);
    EXPECT_EQ(QApplication::focusWidget(), mp_tabs->widget(0));
    mp_tabs->setCurrentIndex(1);
    RegisterWidgetForTabFocus(m_edits[1], 2);
    EXPECT_EQ(QApplication::focusWidget(), m_edits[1]);
    EXPECT_EQ(FindWidgetFocusProperty(mp_tabs->widget(1), 2), 2) << "nothing above 2";
}

TEST_F(TabFocusTest, ActivityMarksOnlyTabsNotShownAndSelectingClearsThem)
{
    TabWidget::MarkTabActivity(m_edits[0]);
    EXPECT_EQ(mp_tabs->tabBar()->tabTextColor(1), QColor(Qt::blue));
    mp_tabs->setCurrentIndex(1);
    EXPECT_EQ(mp_tabs->tabBar()->tabTextColor(1), QColor(Qt::black));
    TabWidget::MarkTabActivity(m_edits[0]);
    EXPECT_EQ(mp_tabs->tabBar()->tabTextColor(1), QColor(Qt::black));
    mp_tabs->removeTab(1);
    mp_tabs->removeTab(0);
    EXPECT_EQ(mp_tabs->currentIndex(), -1);
}

TEST(GetWidgetTabWidget, FindsTheNearestTabWidgetHoldingAPage)
{
    QTabWidget l_outer;
    auto* lp_page = new QWidget;
    l_outer.addTab(new QWidget, "first");
    l_outer.addTab(lp_page, "second");
    auto* lp_inner = new QTabWidget(lp_page);
    auto* lp_corner = new QPushButton;
    lp_inner->setCornerWidget(lp_corner);
    auto* lp_deep = new QLineEdit;
    lp_inner->addTab(lp_deep, "deep");
    QLineEdit l_alone;

    const struct
    {
        QWidget* widget;
        QTabWidget* tabs;
        int index;
    } l_cases[] = {{lp_deep, lp_inner, 0}, {lp_corner, &l_outer, 1}, {&l_alone, nullptr, 7}};
    for (const auto& l_case : l_cases)
    {
        int l_index = 7;
        EXPECT_EQ(GetWidgetTabWidget(l_case.widget, l_index), l_case.tabs);
        EXPECT_EQ(l_index, l_case.index);
    }
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

TEST(ProxyStyle, ForwardsToTheNamedStyleOrElseTheApplicationStyle)
{
    ProxyStyle l_fusion("Fusion");
    EXPECT_EQ(l_fusion.baseStyle()->objectName(), "fusion");
    ProxyStyle l_unknown("no such style");
    EXPECT_EQ(l_unknown.baseStyle()->metaObject(), QApplication::style()->metaObject());
    EXPECT_EQ(l_unknown.pixelMetric(QStyle::PM_SmallIconSize),
              QApplication::style()->pixelMetric(QStyle::PM_SmallIconSize));
}
