#include "shell/ChangeUsernamePasswordDialog.h"

#include "shell/UIFunctions.h"
#include "store/Settings.h"
#include "ui_ChangeUsernamePasswordDialog.h"

ChangeUsernamePasswordDialog::ChangeUsernamePasswordDialog(bool i_firstStart, QWidget* ip_parent)
    : QDialog(ip_parent), mp_ui(std::make_unique<Ui_ChangeUsernamePasswordDialog>()),
      m_firstStart(i_firstStart)
{
    mp_ui->setupUi(this);
    // The password is shown as typed, so a mistyped one can be seen before the login fails.
    mp_ui->usernameEdit->setText(GetSetting("username"));
    mp_ui->passwordEdit->setText(GetSetting("password"));
    if (m_firstStart)
        setWindowTitle(tr("Set Username/Password"));
    ActivateWindow(this);
}

ChangeUsernamePasswordDialog::~ChangeUsernamePasswordDialog() = default;

bool ChangeUsernamePasswordDialog::AskAtFirstStart()
{
    {
        ChangeUsernamePasswordDialog l_dialog(true);
        l_dialog.exec();
    }
    return !GetSetting("username").isEmpty();
}

void ChangeUsernamePasswordDialog::accept()
{
    const QString l_username = mp_ui->usernameEdit->text().trimmed();
    const QString l_password = mp_ui->passwordEdit->text().trimmed();
    // The server judges the name and password at the next login; only blanks are refused here.
    if (l_username.isEmpty() || l_password.isEmpty())
        return;
    QDialog::accept();
    SetSetting("username", l_username);
    SetSetting("password", l_password);
    if (!m_firstStart)
        deleteLater();
}
