// The main window's shared-folders panel: the folder rows with their audiences, the folder menu
// and the report after each rescan.
#include <QMenu>
#include <QTreeWidget>

#include "shell/MainWindow.h"
#include "store/Data.h"
#include "store/Type.h"
#include "ui_MainWindow.h"
#include "views/search/AddSharedFolderDialog.h"
#include "views/search/SharedFilesRescannedDialog.h"

namespace
{
const char* const BrowseIcon = ":/icons/browse_icon";

// Who may see a folder, widest audience first.
QString AudienceText(ItemPtr i_folder)
{
    if (i_folder.IsConnected("shared_public"))
        return MainWindow::tr("Everyone");
    if (i_folder.IsConnected("shared_userlist"))
        return MainWindow::tr("User List");
    QStringList l_groups;
    for (ItemPtr l_group : i_folder.GetItems("user_list_group"))
        l_groups << l_group.AsString();
    l_groups.sort(Qt::CaseSensitive);
    return l_groups.join(QStringLiteral(", "));
}
} // namespace

// The folders' rows follow the shares engine's items, those loaded from the store included.
void MainWindow::SubscribeSharedFolders()
{
    Type* lp_folders = d.GetType("shared_folder");
    lp_folders->m_newItemEvent.AddHandler(NewEventHandler(this, &MainWindow::OnSharedFolderAdded));
    lp_folders->m_removedEvent.AddHandler(NewEventHandler(this, &MainWindow::OnSharedFolderRemoved));
    lp_folders->m_connectedEvent.AddHandler(
        NewEventHandler(this, &MainWindow::OnSharedFolderChange));
    lp_folders->m_disconnectedEvent.AddHandler(
        NewEventHandler(this, &MainWindow::OnSharedFolderChange));
}

QTreeWidgetItem* MainWindow::SharedFolderRow(const QString& i_path) const
{
    const QList<QTreeWidgetItem*> l_rows =
        mp_ui->sharedFoldersList->findItems(i_path, Qt::MatchExactly | Qt::MatchCaseSensitive, 0);
    return l_rows.isEmpty() ? nullptr : l_rows.first();
}

ItemPtr MainWindow::SelectedSharedFolder() const
{
    const QList<QTreeWidgetItem*> l_rows = mp_ui->sharedFoldersList->selectedItems();
    if (l_rows.isEmpty())
        return ItemPtr();
    return d.GetType("shared_folder")->HasItem(l_rows.first()->text(0));
}

void MainWindow::OnSharedFolderAdded(ItemPtr i_folder)
{
    auto* lp_row = new QTreeWidgetItem(mp_ui->sharedFoldersList);
    lp_row->setText(0, i_folder.AsString());
}

void MainWindow::OnSharedFolderRemoved(ItemPtr i_folder)
{
    delete SharedFolderRow(i_folder.AsString());
}

void MainWindow::OnSharedFolderChange(ConnectionInfo i_connection)
{
    const std::string& l_kind = ItemPtr(i_connection.to).GetType()->GetName();
    if (l_kind != "shared_public" && l_kind != "shared_userlist" && l_kind != "user_list_group")
        return;
    ItemPtr l_folder(i_connection.from);
    if (QTreeWidgetItem* lp_row = SharedFolderRow(l_folder.AsString()))
        lp_row->setText(1, AudienceText(l_folder));
}

void MainWindow::OnSharedFoldersListContextMenuRequested(const QPoint& i_point)
{
    if (!mp_ui->sharedFoldersList->itemAt(i_point))
        return;
    QMenu l_menu;
    connect(l_menu.addAction(QIcon(BrowseIcon), tr("Set Folder Permissions")), &QAction::triggered,
            this, &MainWindow::OnSetFolderPermissions);
    connect(l_menu.addAction(QIcon(BrowseIcon), tr("Unshare Folder")), &QAction::triggered, this,
            &MainWindow::OnUnshareFolder);
    RunPopupMenu(l_menu, mp_ui->sharedFoldersList, i_point);
}

void MainWindow::OnUnshareFolder()
{
    ItemPtr l_folder = SelectedSharedFolder();
    if (!l_folder)
        return;
    // The row goes with the item, through the removal handler; the shares engine hears it too.
    l_folder.Remove();
    d.RemoveDisconnectedItems();
}

void MainWindow::OnSharedFilesRescanned(int i_filesAdded, int i_filesRemoved)
{
    auto* lp_report = new SharedFilesRescannedDialog(this);
    lp_report->Append(tr("%1 files added.").arg(i_filesAdded));
    lp_report->Append(tr("%1 files removed.").arg(i_filesRemoved));
    lp_report->setWindowTitle(tr("Shared Files Rescanned"));
    lp_report->show();
}

void MainWindow::OnSetFolderPermissions()
{
    if (ItemPtr l_folder = SelectedSharedFolder())
        (new AddSharedFolderDialog(l_folder, this))->show();
}
