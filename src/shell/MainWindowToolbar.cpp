// The context toolbar's actions of the room list, the room tabs and the option pages.
#include <QMenu>
#include <QTreeWidget>

#include "server/Server.h"
#include "shares/SharedFoldersManager.h"
#include "shell/ActionSetToolBar.h"
#include "shell/ChangeListeningPortDialog.h"
#include "shell/ChangeUsernamePasswordDialog.h"
#include "shell/Desktop.h"
#include "shell/MainWindow.h"
#include "store/Data.h"
#include "store/Settings.h"
#include "store/Type.h"
#include "ui_MainWindow.h"
#include "views/chat/CreateRoomDialog.h"
#include "views/search/AddSharedFolderDialog.h"

namespace
{
bool AskYesNo(const QString& i_title, const QString& i_text)
{
    return Desktop::ShowMessageBox(QMessageBox::Question, nullptr, i_title, i_text,
                                   QMessageBox::Yes | QMessageBox::No,
                                   QMessageBox::No) == QMessageBox::Yes;
}

// Shows a dialog without blocking; it is freed when closed.
void ShowOwned(QDialog* ip_dialog)
{
    ip_dialog->setAttribute(Qt::WA_DeleteOnClose);
    ip_dialog->show();
}
} // namespace

void MainWindow::RunPopupMenu(QMenu& io_menu, QTreeWidget* ip_list, const QPoint& i_point)
{
    Desktop::RunPopupMenu(io_menu, ip_list->viewport()->mapToGlobal(i_point));
}

void MainWindow::OnToolBarActionTriggered(QWidget*, QString i_action)
{
    const QString l_roomName = actionBar->GetKey(QStringLiteral("room"));
    auto l_room = [&l_roomName] { return d.GetType("room")->NewItem(l_roomName); };

    if (i_action == QLatin1String("refresh_room_list"))
        mp_server->GetRoomList();
    else if (i_action == QLatin1String("create_room"))
        CreateRoomDialog::Open(this);
    else if (i_action == QLatin1String("enable_private_room_add"))
        mp_server->EnablePrivateRoomAdd(!IsSettingYes("enable_private_room_add"));
    else if (i_action == QLatin1String("toggle_room_autojoin"))
    {
        ItemPtr l_item = l_room();
        if (l_item.IsConnected("room_autojoin"))
            l_item.Disconnect("room_autojoin");
        else
            l_item.NewItem("room_autojoin");
    }
    else if (i_action == QLatin1String("room_chat_log"))
        OpenRoomChatLog(l_roomName);
    else if (i_action == QLatin1String("give_up_membership"))
    {
        ItemPtr l_item = l_room();
        if (l_item.IsConnected("is_member") && !l_item.IsConnected("is_owner") &&
            AskYesNo(tr("Give up membership?"),
                     tr("Are you sure you want to give up your membership to the %1 private room?")
                         .arg(l_roomName)))
            mp_server->GiveUpPrivateRoomMembership(l_roomName);
    }
    else if (i_action == QLatin1String("give_up_ownership"))
    {
        if (l_room().IsConnected("is_owner") &&
            AskYesNo(tr("Give up membership?"),
                     tr("Are you SURE you want to give up your ownership of the %1 private room?")
                         .arg(l_roomName)) &&
            AskYesNo(tr("REALLY?"), tr("REALLY?")))
        {
            mp_server->GiveUpPrivateRoom(l_roomName);
            mp_server->LeaveRoom(l_roomName);
        }
    }
    else if (i_action == QLatin1String("set_download_folder"))
    {
        const QStringList l_folders = Desktop::ChooseFiles(this, tr("Set Download Folder"), true);
        if (!l_folders.isEmpty())
        {
            SetSetting("download_folder", l_folders.first());
            mp_ui->downloadFolderEdit->setText(l_folders.first());
        }
    }
    else if (i_action == QLatin1String("share_folder"))
        (new AddSharedFolderDialog(ItemPtr(), this))->show();
    else if (i_action == QLatin1String("rescan_shares"))
        sharedFoldersManager->RescanShares();
    else if (i_action == QLatin1String("set_user_pass"))
    {
        if (mp_server->IsConnected())
            Desktop::ShowMessageBox(
                QMessageBox::Information, this, tr("Cannot change username while online"),
                tr("You must be disconnected from the Tarnwick server to change your username."));
        else
            ShowOwned(new ChangeUsernamePasswordDialog(false, this));
    }
    else if (i_action == QLatin1String("set_listening_port"))
        ShowOwned(new ChangeListeningPortDialog(this));
    else if (i_action == QLatin1String("connect_disconnect"))
    {
        if (mp_server->IsConnected())
            mp_server->Disconnect();
        else
            mp_server->Connect();
    }
}
