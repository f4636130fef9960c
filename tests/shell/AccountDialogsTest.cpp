#include "shell/ChangeListeningPortDialog.h"
#include "shell/ChangeUsernamePasswordDialog.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include "shell/Desktop.h"
#include "store/Settings.h"
#include "support/support/ClientSchema.h"

namespace
{
class AccountDialogs : public ::testing::Test
{
protected:
    void SetUp() override { DeclareSettingsTypes(); }
    void TearDown() override { Desktop::SetMessageBox(nullptr); }

    static void Fill(QDialog* ip_dialog, const QString& i_user, const QString& i_password)
    {
        ip_dialog->findChild<QLineEdit*>("usernameEdit")->setText(i_user);
        ip_dialog->findChild<QLineEdit*>("passwordEdit")->setText(i_password);
    }
    static void Press(QDialog* ip_dialog, QDialogButtonBox::StandardButton i_button)
    {
        ip_dialog->findChild<QDialogButtonBox*>("buttonBox")->button(i_button)->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
};
} // namespace

TEST_F(AccountDialogs, SavesTrimmedNameAndPasswordAndRefusesBlanksOrCancel)
{
    const struct
    {
        QString user, password;
        QDialogButtonBox::StandardButton button;
        QString savedUser, savedPassword;
    } l_cases[] = {
        {" bob ", "  pass word\t", QDialogButtonBox::Ok, "bob", "pass word"},
        {"bob", "   ", QDialogButtonBox::Ok, "anna", "secret"},
        {"\t", "pw", QDialogButtonBox::Ok, "anna", "secret"},
        {"bob", "pw", QDialogButtonBox::Cancel, "anna", "secret"},
    };
    for (const auto& l_case : l_cases)
    {
        SCOPED_TRACE(l_case.user.toStdString());
        SetSetting("username", "anna");
        SetSetting("password", "secret");
        QWidget l_mainWindow;
        QPointer<QDialog> lp_dialog = new ChangeUsernamePasswordDialog(false, &l_mainWindow);
        auto* lp_password = lp_dialog->findChild<QLineEdit*>("passwordEdit");
        EXPECT_EQ(lp_dialog->windowTitle(), "Change Username/Password");
        EXPECT_EQ(lp_dialog->findChild<QLineEdit*>("usernameEdit")->text(), "anna");
        EXPECT_EQ(lp_password->displayText(), "secret");
        lp_dialog->show();
        Fill(lp_dialog, l_case.user, l_case.password);
        Press(lp_dialog, l_case.button);
        EXPECT_EQ(GetSetting("username"), l_case.savedUser);
        EXPECT_EQ(GetSetting("password"), l_case.savedPassword);
        // Saved from the toolbar, the dialog goes; refused, it stays open; cancelled, it hides.
        const bool l_saved = l_case.savedUser != "anna";
        EXPECT_EQ(lp_dialog.isNull(), l_saved);
        EXPECT_EQ(lp_dialog && lp_dialog->isVisible(), !l_saved && l_case.button == QDialogButtonBox::Ok);
    }
}

TEST_F(AccountDialogs, FirstStartAsksUnderItsOwnTitleAndConnectsOnlyOnceANameIsSet)
{
    for (const auto l_button : {QDialogButtonBox::Cancel, QDialogButtonBox::Ok})
    {
        QString l_title;
        QTimer::singleShot(0, [&] {
            auto* lp_dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(lp_dialog, nullptr);
            l_title = lp_dialog->windowTitle();
            Fill(lp_dialog, " anna", "secret ");
            Press(lp_dialog, l_button);
        });
        EXPECT_EQ(ChangeUsernamePasswordDialog::AskAtFirstStart(), l_button == QDialogButtonBox::Ok);
        EXPECT_EQ(l_title, "Set Username/Password");
        EXPECT_EQ(GetSetting("username"), l_button == QDialogButtonBox::Ok ? "anna" : "");
    }
}

TEST_F(AccountDialogs, PortWaitsForTheNextStartAndRefusesTheOneInUseOrOutOfRange)
{
    const QString l_invalid = "Invalid Port Number|Port number must be in the range of 1 to 65534.";
    const QString l_same = "Port Number Not Changed|Port number has not been changed.";
    const QString l_pending = "Change to Listening Port Pending|Changes to the listening port "
                              "will take effect after a client restart.";
    const struct
    {
        QString typed, box, pendingAfter;
    } l_cases[] = {
        {"", l_invalid, ""},          {"65536", l_invalid, ""},  {"65535", l_invalid, ""},
        {"2234", l_same, ""},         {"65534", l_pending, "65534"},
        {"2234", l_same, "65534"},    {"4000", l_pending, "4000"},
        {"4000", l_pending, "4000"},
    };
    SetSetting("listening_port", "2234");
    QStringList l_boxes;
    QPointer<QDialog> lp_dialog;
    Desktop::SetMessageBox([&](QMessageBox::Icon i_icon, QWidget* ip_parent, const QString& i_title,
                               const QString& i_text, QMessageBox::StandardButtons i_buttons) {
        EXPECT_EQ(i_icon, QMessageBox::Information);
        EXPECT_EQ(ip_parent, lp_dialog.data());
        EXPECT_EQ(i_buttons, QMessageBox::Ok);
        l_boxes << i_title + "|" + i_text;
        return QMessageBox::Ok;
    });
    for (const auto& l_case : l_cases)
    {
        SCOPED_TRACE(l_case.typed.toStdString());
        l_boxes.clear();
        lp_dialog = new ChangeListeningPortDialog();
        auto* lp_port = lp_dialog->findChild<QLineEdit*>("portEdit");
        EXPECT_EQ(lp_port->text(), "2234");
        lp_dialog->show();
        lp_port->setText(l_case.typed);
        lp_dialog->findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Ok)->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_EQ(l_boxes, QStringList{l_case.box});
        EXPECT_EQ(GetSetting("new_listening_port"), l_case.pendingAfter);
        EXPECT_EQ(GetSetting("listening_port"), "2234");
        EXPECT_EQ(lp_dialog.isNull(), l_case.box == l_pending);
        delete lp_dialog;
    }
}
