#include "shell/AdminMessageDialog.h"

#include "ShellFixture.h"

TEST(AdminMessageDialog, RendersMarkupKeepsPlainLineBreaksAndIsStampedAndGoneWhenClosed)
{
    const struct { QString message, shown; bool bold; } l_cases[] = {
        {"<b>Restart</b> at noon", "Restart at noon", true},
        {"Restart at noon.\nBack by one.", "Restart at noon.\nBack by one.", false}};
    for (const auto& l_case : l_cases)
    {
        const QDateTime l_before = QDateTime::currentDateTime();
        QPointer<AdminMessageDialog> lp_dialog = new AdminMessageDialog(l_case.message);
        QStringList l_stamps; // every second it may have been stamped with
        for (QDateTime l_time = l_before.addMSecs(-l_before.time().msec());
             l_time <= QDateTime::currentDateTime(); l_time = l_time.addSecs(1))
            l_stamps << QLocale::c().toString(l_time, "MMM d h:mm:ss ap");
        EXPECT_TRUE(l_stamps.contains(Child<QLineEdit>(lp_dialog, "timeEdit")->text()));
        auto* lp_text = Child<QTextEdit>(lp_dialog, "textEdit");
        EXPECT_EQ(lp_text->toPlainText(), l_case.shown);
        EXPECT_EQ(lp_text->toHtml().contains("font-weight:600"), l_case.bold);
        lp_dialog->show();
        lp_dialog->close();
        FlushDeletes();
        EXPECT_TRUE(lp_dialog.isNull());
    }
}
