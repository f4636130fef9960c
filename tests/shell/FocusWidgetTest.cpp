#include "shell/UIFunctions.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>
#include <gtest/gtest.h>

namespace
{
// A tab widget whose second page is returned; the first page is a plain filler, current at start.
QWidget* AddTwoPages(QTabWidget* tabs)
{
    tabs->addTab(new QWidget, "first");
    QWidget* page = new QWidget;
    tabs->addTab(page, "second");
    tabs->setCurrentIndex(0);
    return page;
}
} // namespace

TEST(FocusWidget, SelectsThePageAtEveryNestedTabLevel)
{
    QWidget window;
    auto* outer = new QTabWidget(&window);
    QWidget* outerPage = AddTwoPages(outer);
    // The middle tab widget sits inside a layout, a level below its page.
    auto* holder = new QWidget;
    auto* middle = new QTabWidget(holder);
    (new QVBoxLayout(outerPage))->addWidget(holder);
    QWidget* middlePage = AddTwoPages(middle);
    auto* inner = new QTabWidget(middlePage);
    QWidget* innerPage = AddTwoPages(inner);
    auto* edit = new QLineEdit(innerPage);

    FocusWidget(edit);

    EXPECT_EQ(outer->currentIndex(), 1);
    EXPECT_EQ(middle->currentIndex(), 1);
    EXPECT_EQ(inner->currentIndex(), 1);
    EXPECT_EQ(window.focusWidget(), edit);
}

TEST(FocusWidget, SelectsThePageThatIsTheWidgetItself)
{
    QWidget window;
    auto* tabs = new QTabWidget(&window);
    AddTwoPages(tabs);
    auto* edit = new QLineEdit;
    tabs->addTab(edit, "third");
    tabs->setCurrentIndex(0);

    FocusWidget(edit);
    EXPECT_EQ(tabs->currentIndex(), 2);
}

TEST(FocusWidget, PassesOverATabWidgetThatHoldsTheWidgetOutsideItsPages)
{
    QWidget window;
    auto* outer = new QTabWidget(&window);
    QWidget* outerPage = AddTwoPages(outer);
    auto* inner = new QTabWidget(outerPage);
    AddTwoPages(inner);
    inner->setCurrentIndex(1);
    auto* corner = new QPushButton("corner");
    inner->setCornerWidget(corner);

    FocusWidget(corner);
    EXPECT_EQ(inner->currentIndex(), 1);
    EXPECT_EQ(outer->currentIndex(), 1);
}

TEST(FocusWidget, ActivatesAndFocusesAShownWindow)
{
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* first = new QLineEdit;
    auto* second = new QLineEdit;
    layout->addWidget(first);
    layout->addWidget(second);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    first->setFocus();

    FocusWidget(second);
    EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    EXPECT_EQ(QApplication::focusWidget(), second);
}

TEST(FocusWidget, AWidgetWithoutParentOrNoWidgetAtAll)
{
    QLineEdit alone;
    FocusWidget(&alone);
    EXPECT_EQ(alone.focusWidget(), &alone);
    FocusWidget(nullptr);
}
