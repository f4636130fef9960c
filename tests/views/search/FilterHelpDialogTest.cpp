#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QPushButton>
#include <QTextEdit>
#include <QWidget>

#include <gtest/gtest.h>

#include "views/search/FilterHelpDialog.h"

// Every filter box reaches the same help window; it goes when closed or with the form that made
// it, and the next request makes a new one.
TEST(FilterHelpDialogTest, OneWindowForEveryFormUntilItCloses)
{
    auto lp_first = std::make_unique<QWidget>();
    QWidget l_second;

    QPointer<FilterHelpDialog> lp_help = FilterHelpDialog::Open(lp_first.get());
    ASSERT_TRUE(lp_help);
    EXPECT_TRUE(lp_help->isVisible());
    EXPECT_TRUE(lp_help->isWindow());
    EXPECT_EQ(lp_help->windowTitle(), "Filter Help");
    EXPECT_TRUE(lp_help->HelpText().startsWith("Enter words into the filter box to only show"));
    EXPECT_TRUE(lp_help->HelpText().contains("minfilesinfolder:number (show folders with at least "
                                             "number files in them)"));
    EXPECT_EQ(FilterHelpDialog::Open(&l_second), lp_help.data());

    lp_help->findChild<QPushButton*>("pushButton")->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(lp_help.isNull());
    EXPECT_EQ(filterHelpDialog, nullptr);

    lp_help = FilterHelpDialog::Open(lp_first.get());
    ASSERT_TRUE(lp_help);
    lp_first.reset();
    EXPECT_TRUE(lp_help.isNull());
    EXPECT_EQ(filterHelpDialog, nullptr);
}
