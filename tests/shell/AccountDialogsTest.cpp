#include "shell/ChangeListeningPortDialog.h"
#include "shell/ChangeUsernamePasswordDialog.h"

#include "ShellFixture.h"

namespace
{
class AccountDialogs : public ::testing::Test, protected FakeDesktop
{
protected:
    void SetUp() override { DeclareSettingsTypes(); }

    static void Answer(QDialog* ip_dialog, const QString& i_user, const QString& i_password,
                       QDialogButtonBox::StandardButton i_button)
    {
        Child<QLineEdit>(ip_dialog, "usernameEdit")->setText(i_user);
        Child<QLineEdit>(ip_dialog, "passwordEdit")->setText(i_password);
        Press(ip_dialog, i_button);
    }
    static void Press(QDialog* ip_dialog, QDialogButtonBox::StandardButton i_button)
    {
        Child<QDialogButtonBox>(ip_dialog, "buttonBox")->button(i_button)->click();
        FlushDeletes();
    }
};
} // namespace

TEST_F(AccountDialogs, SavesTrimmedNameAndPasswordAndRefusesBlanksOrCancel)
{
    const struct { QString user, password; QDialogButtonBox::StandardButton button; bool saved; } l_cases[] = {
        {" bob ", "  pass word\t", QDialogButtonBox::Ok, true}, {"bob", "   ", QDialogButtonBox::Ok, false},
        {"\t", "pw", QDialogButtonBox::Ok, false}, {"bob", "pw", QDialogButtonBox::Cancel, false}};
    for (const auto& l_case : l_cases)
    {
        SCOPED_TRACE(l_case.user.toStdString());
        SetSetting("username", "anna");
        SetSetting("password", "secret");
        QWidget l_mainWindow;
        QPointer<QDialog> lp_dialog = new ChangeUsernamePasswordDialog(false, &l_mainWindow);
        EXPECT_EQ(Child<QLineEdit>(lp_dialog, "usernameEdit")->text() + "/" +
                  Child<QLineEdit>(lp_dialog, "passwordEdit")->displayText(), "anna/secret");
        lp_dialog->show();
        Answer(lp_dialog, l_case.user, l_case.password, l_case.button);
        EXPECT_EQ(GetSetting("username") + "/" + GetSetting("password"),
                  l_case.saved ? "bob/pass word" : "anna/secret");
        // Saved, the dialog goes; refused, it stays open; cancelled, it only hides.
        EXPECT_EQ(lp_dialog.isNull(), l_case.saved);
        EXPECT_EQ(lp_dialog && lp_dialog->isVisible(), !l_case.saved && l_case.button == QDialogButtonBox::Ok);
    }
}

TEST_F(AccountDialogs, FirstStartAsksUnderItsOwnTitleAndConnectsOnlyOnceANameIsSet)
{
    for (const auto l_button : {QDialogButtonBox::Cancel, QDialogButtonBox::Ok})
    {
        QString l_title;
        QTimer::singleShot(0, [&] {
            auto* lp_dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            l_title = lp_dialog->windowTitle();
            Answer(lp_dialog, " anna", "secret ", l_button);
        });
        EXPECT_EQ(ChangeUsernamePasswordDialog::AskAtFirstStart(), l_button == QDialogButtonBox::Ok);
        EXPECT_EQ(l_title, "Set Username/Password");
        EXPECT_EQ(GetSetting("username"), l_button == QDialogButtonBox::Ok ? "anna" : "");
    }
}

TEST_F(AccountDialogs, PortWaitsForTheNextStartAndRefusesTheOneInUseOrOutOfRange)
{
    const QString l_invalid = "Invalid Port Number: Port number must be in the range of 1 to 65534.";
    const QString l_same = "Port Number Not Changed: Port number has not been changed.";
    const QString l_pending = "Change to Listening Port Pending: Changes to the listening port will "
                              "take effect after a client restart.";
    // One after the other: the port in use stays refused while another one waits, and the last
    // one chosen wins.
    const struct { QString typed, box, pendingAfter; } l_cases[] = {
        {"", l_invalid, ""}, {"65536", l_invalid, ""}, {"65535", l_invalid, ""}, {"2234", l_same, ""},
        {"65534", l_pending, "65534"}, {"2234", l_same, "65534"}, {"4000", l_pending, "4000"}};
    SetSetting("listening_port", "2234");
    for (const auto& l_case : l_cases)
    {
        SCOPED_TRACE(l_case.typed.toStdString());
        m_boxes.clear();
        QPointer<QDialog> lp_dialog = new ChangeListeningPortDialog();
        EXPECT_EQ(Child<QLineEdit>(lp_dialog, "portEdit")->text(), "2234");
        Child<QLineEdit>(lp_dialog, "portEdit")->setText(l_case.typed);
        Press(lp_dialog, QDialogButtonBox::Ok);
        EXPECT_EQ(m_boxes, QStringList{l_case.box});
        EXPECT_EQ(GetSetting("new_listening_port"), l_case.pendingAfter);
        EXPECT_EQ(lp_dialog.isNull(), l_case.box == l_pending);
        delete lp_dialog;
    }
}
