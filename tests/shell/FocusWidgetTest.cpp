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

TEST(FocusWidget, SelectsThePageAtEveryNestedTabLevelAndPassesOverACornerWidget)
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
    FocusWidget(edit);
    EXPECT_EQ(QList<int>({outer->currentIndex(), middle->currentIndex(), inner->currentIndex()}),
              QList<int>({1, 1, 1}));
    EXPECT_EQ(window.focusWidget(), edit);
    int index = 0;
    EXPECT_TRUE(GetWidgetTabWidget(edit, index) == inner && index == 1);
    auto* page = new QLineEdit; // a page that is the widget itself
    outer->addTab(page, "third");
    FocusWidget(page);
    EXPECT_EQ(outer->currentIndex(), 2);
    // A corner widget is no page: its tab widget keeps its page and the walk goes on above it.
    auto* corner = new QPushButton("corner");
    inner->setCornerWidget(corner);
    inner->setCurrentIndex(0);
    FocusWidget(corner);
    EXPECT_EQ(QList<int>({outer->currentIndex(), inner->currentIndex()}), QList<int>({1, 0}));
    EXPECT_EQ(GetWidgetTabWidget(corner, index), middle);
}

TEST(FocusWidget, ActivatesAndFocusesAShownWindowOrAWidgetWithoutParent)
{
    QWidget window;
    auto *first = new QLineEdit(&window), *second = new QLineEdit(&window);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    first->setFocus();
    FocusWidget(second);
    EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    EXPECT_EQ(QApplication::focusWidget(), second);
    QLineEdit alone;
    FocusWidget(&alone);
    EXPECT_EQ(alone.focusWidget(), &alone);
    FocusWidget(nullptr);
    int index = 7;
    EXPECT_TRUE(GetWidgetTabWidget(&alone, index) == nullptr && index == 7) << "left as it was";
}
