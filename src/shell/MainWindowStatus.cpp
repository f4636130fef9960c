// The main window's connection state, application icon, tray and the notices it opens.
#include <QApplication>
#include <QIcon>

#include "server/Server.h"
#include "shell/ActionSetToolBar.h"
#include "shell/AdminMessageDialog.h"
#include "shell/ChangeUsernamePasswordDialog.h"
#include "shell/Desktop.h"
#include "shell/MainWindow.h"
#include "shell/NewVersionDialog.h"
#include "shell/UIFunctions.h"
#include "store/Settings.h"
#include "ui_MainWindow.h"

namespace
{
const char* const OfflineIcon = ":/icons/offline_icon";
const char* const OnlineIcon = ":/icons/online_icon";
const char* const AwayIcon = ":/icons/away_icon";
const char* const TryAgain =
    " Please change your login settings in the Options tab and try reconnecting.";

// Opens a notice above every other window; it deletes itself when closed.
void ShowOnTop(QWidget* ip_dialog)
{
    ip_dialog->setAttribute(Qt::WA_DeleteOnClose);
    ip_dialog->setWindowFlags(ip_dialog->windowFlags() | Qt::WindowStaysOnTopHint);
    ip_dialog->show();
}
} // namespace

void MainWindow::SetConnectActionText(const QString& i_text)
{
    actionBar->SetWidgetActionText(mp_ui->loginOptionsTab, QStringLiteral("connect_disconnect"),
                                   i_text);
}

void MainWindow::OnConnecting()
{
    SetConnectActionText(tr("Connecting..."));
}

void MainWindow::OnConnected()
{
    SetConnectActionText(tr("Disconnect"));
    ResetApplicationIcon();
    mp_server->GetOwnPrivilegesStatus();
    SetSetting("enable_private_room_add", "no");
}

void MainWindow::OnDisconnected()
{
    SetConnectActionText(tr("Connect"));
    SetApplicationIcon(OfflineIcon);
}

void MainWindow::OnConnectionFailed(QString i_reason)
{
    QString l_title;
    QString l_text;
    if (i_reason == QLatin1String("INVALIDPASS"))
    {
        l_title = tr("Login Failure: Wrong Password");
        l_text = tr("Login failed. The password you supplied does not match your username.");
    }
    else if (i_reason == QLatin1String("INVALIDUSERNAME"))
    {
        l_title = tr("Login Failure: Username is Invalid");
        l_text = tr("Login failed. The username you supplied is invalid.");
    }
    else if (!mp_server->IsAbruptlyDisconnected())
    {
        // A reconnection after a dropped link fails quietly; the link retries by itself.
        l_title = tr("Login Failure");
        l_text = tr("Login failed. Reported failure reason: %1.").arg(i_reason);
    }
    if (!l_title.isEmpty())
        Desktop::ShowMessageBox(QMessageBox::Information, this, l_title, l_text + tr(TryAgain));
    SetConnectActionText(tr("Connect"));
}

void MainWindow::OnDisconnectClicked()
{
    mp_server->Disconnect();
}

void MainWindow::OnChangeUsernamePasswordClicked()
{
    (new ChangeUsernamePasswordDialog(false, this))->show();
}

void MainWindow::OnUsernameChanged(ItemPtr i_setting)
{
    ItemPtr l_value = i_setting["global_value"];
    mp_ui->usernameEdit->setText(l_value ? l_value.AsString() : QString());
}

void MainWindow::ResetApplicationIcon()
{
    const char* lp_icon = OnlineIcon;
    if (!mp_server || !mp_server->IsConnected())
        lp_icon = OfflineIcon;
    else if (GetSetting("availability_status") != QLatin1String("available") &&
             GetSetting("show_away_status_in_application_icon") == QLatin1String("yes"))
        lp_icon = AwayIcon;
    SetApplicationIcon(lp_icon);
}

void MainWindow::SetApplicationIcon(const QString& i_path)
{
    const QIcon l_icon(i_path);
    QApplication::setWindowIcon(l_icon);
    setWindowIcon(l_icon);
    if (QSystemTrayIcon::isSystemTrayAvailable())
        mp_trayIcon->setIcon(l_icon);
}

void MainWindow::OnTrayIconActivated(QSystemTrayIcon::ActivationReason i_reason)
{
    if (i_reason != QSystemTrayIcon::Trigger)
        return;
    showNormal();
    ActivateWindow(this);
}

void MainWindow::PopupAlert(const QString& i_text)
{
    if (QSystemTrayIcon::isSystemTrayAvailable())
        mp_trayIcon->showMessage(QString(), i_text, QSystemTrayIcon::Information, 10000);
}

bool MainWindow::IsMainWindowActive() const
{
    return isActiveWindow();
}

void MainWindow::OnAdminMessage(QString i_message)
{
    ShowOnTop(new AdminMessageDialog(i_message, this));
}

void MainWindow::OnNewVersion(qint64 i_version, QString i_downloadLink, QStringList i_description)
{
    ShowOnTop(new NewVersionDialog(i_version, i_downloadLink, i_description, this));
}
