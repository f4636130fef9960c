#include "shell/AdminMessageDialog.h"

#include <QApplication>
#include <QDateTime>
#include <QLineEdit>
#include <QLocale>
#include <QPointer>
#include <QTest>
#include <QTextEdit>
#include <gtest/gtest.h>

TEST(AdminMessageDialog, RendersMarkupAndKeepsPlainLineBreaksReadOnly)
{
    const struct
    {
        QString message, shown;
        bool bold;
    } l_cases[] = {
        {"<b>Restart</b> at noon", "Restart at noon", true},
        {"Restart at noon.\nBack by one.", "Restart at noon.\nBack by one.", false},
    };
    for (const auto& l_case : l_cases)
    {
        AdminMessageDialog l_dialog(l_case.message);
        auto* lp_text = l_dialog.findChild<QTextEdit*>("textEdit");
        EXPECT_EQ(lp_text->toPlainText(), l_case.shown);
        EXPECT_EQ(lp_text->toHtml().contains("font-weight:600"), l_case.bold);
        EXPECT_TRUE(lp_text->isReadOnly());
    }
}

TEST(AdminMessageDialog, EachMessageGetsItsOwnWindowAndTimeOutOfTheTabChain)
{
    const QDateTime l_before = QDateTime::currentDateTime();
    QPointer<AdminMessageDialog> lp_first = new AdminMessageDialog("first");
    QPointer<AdminMessageDialog> lp_second = new AdminMessageDialog("second");
    QStringList l_stamps; // every second the two may have been stamped with
    for (QDateTime l_time = l_before.addMSecs(-l_before.time().msec());
         l_time <= QDateTime::currentDateTime(); l_time = l_time.addSecs(1))
        l_stamps << QLocale::c().toString(l_time, "MMM d h:mm:ss ap");
    for (AdminMessageDialog* lp_dialog : {lp_first.data(), lp_second.data()})
        EXPECT_TRUE(l_stamps.contains(lp_dialog->findChild<QLineEdit*>("timeEdit")->text()));
    EXPECT_EQ(lp_second->findChild<QTextEdit*>("textEdit")->toPlainText(), "second");

    lp_first->show();
    lp_second->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(lp_second));
    for (int l_press = 0; l_press < 4; ++l_press)
    {
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : lp_second.data(), Qt::Key_Tab);
        EXPECT_NE(QApplication::focusWidget(), lp_second->findChild<QTextEdit*>("textEdit"));
    }
    lp_first->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(lp_first.isNull());
    ASSERT_TRUE(lp_second && lp_second->isVisible());
    lp_second->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(lp_second.isNull());
}
