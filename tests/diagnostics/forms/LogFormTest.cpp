#include <QHBoxLayout>
#include <QTextBrowser>
#include <gtest/gtest.h>

#include "diagnostics/LogForm.h"

TEST(LogForm, IsOnePlainBrowserFillingTheForm)
{
    LogForm l_form;
    EXPECT_EQ(l_form.objectName(), "LogForm");
    EXPECT_EQ(l_form.windowTitle(), "Form");
    EXPECT_EQ(l_form.size(), QSize(400, 300));
    auto* lp_layout = qobject_cast<QHBoxLayout*>(l_form.layout());
    ASSERT_NE(lp_layout, nullptr);
    EXPECT_EQ(lp_layout->objectName(), "horizontalLayout");
    ASSERT_EQ(lp_layout->count(), 1);
    auto* lp_browser = qobject_cast<QTextBrowser*>(lp_layout->itemAt(0)->widget());
    ASSERT_NE(lp_browser, nullptr);
    EXPECT_EQ(lp_browser->objectName(), "textBrowser");
}
