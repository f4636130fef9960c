// What the user does to the transfer lists: toolbar actions, upload settings, the clearing
// of finished transfers, keys, double clicks, context menus and the completion alerts.
#include <QCheckBox>
#include <QDateTime>
#include <QKeyEvent>
#include <QMenu>
#include <QSpinBox>

#include <algorithm>
#include <memory>
#include <set>
#include <vector>

#include "shell/ActionSetToolBar.h"
#include "shell/Desktop.h"
#include "shell/EventToolBar.h"
#include "shell/RowNodes.h"
#include "store/Data.h"
#include "store/GeneralFunctions.h"
#include "store/Settings.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferStatus.h"
#include "ui_TransfersForm.h"
#include "views/chat/UserMenuOptions.h"
#include "views/transfers/CompleteDownloadsForm.h"
#include "views/transfers/DownloadMenuOptions.h"
#include "views/transfers/TransferGroupTally.h"
#include "views/transfers/TransferRowIcons.h"
#include "views/transfers/TransfersForm.h"

namespace
{
const char* const DownloadIcon = ":/icons/download_icon";
const qint64 FinishedUploadLifeMs = 300000;

// Removes each entry still in the store; the removal of one may run handlers that remove others.
void RemoveEach(const std::vector<ItemPtr>& i_entries, void (TransferQueueManager::*i_remove)(ItemPtr))
{
    if (!transferQueueManager)
        return;
    const TransfersForm::RowRemovals l_rows;
    RemovalScope l_scope(d);
    for (ItemPtr l_entry : i_entries)
        if (l_entry->IsAlive())
            (transferQueueManager->*i_remove)(l_entry);
}

// "yes", or no value at all: readers test only for "yes".
void SetFlagFromCheckState(const char* i_key, int i_state)
{
    if (i_state == Qt::Checked)
        SetSetting(i_key, "yes");
    else if (i_state == Qt::Unchecked)
        if (const ItemPtr l_setting = d.GetType("global")->HasItem(i_key))
            l_setting.Disconnect("global_value");
}

void Notify(const QString& i_text, QWidget* ip_list, const QString& i_popup)
{
    if (eventToolBar)
        eventToolBar->AddEvent(i_text, DownloadIcon, ip_list, i_popup);
}
} // namespace

void TransfersForm::OnActionBarTriggered(QWidget*, QString i_action)
{
    JoinHeldRows();
    if (i_action == "expand_download_folders")
        ToggleExpansion(mp_ui->downloadsList, m_expandDownloadFolders, "expand_download_folders",
                        tr("Expand Folders"), true);
    else if (i_action == "expand_download_users")
        ToggleExpansion(mp_ui->downloadsList, m_expandDownloadUsers, "expand_download_users",
                        tr("Expand Users"), false);
    else if (i_action == "clear_complete_downloads")
        ClearCompleteDownloads();
    else if (i_action == "expand_upload_folders")
        ToggleExpansion(mp_ui->uploadsList, m_expandUploadFolders, "expand_upload_folders",
                        tr("Expand Folders"), true);
    else if (i_action == "expand_upload_users")
        ToggleExpansion(mp_ui->uploadsList, m_expandUploadUsers, "expand_upload_users",
                        tr("Expand Users"), false);
    else if (i_action == "clear_complete_and_aborted_uploads")
        ClearCompleteAndAbortedUploads();
    else if (i_action == "remove_download")
        DeleteSelectedDownloads();
    else if (i_action == "dl_add_user")
        AddSelectedUsersToList();
    else if (i_action == "complete_downloads")
        ShowCompleteDownloads();
}

void TransfersForm::ToggleExpansion(QTreeWidget* ip_list, bool& io_flag, const char* i_action,
                                    const QString& i_text, bool i_folders)
{
    io_flag = !io_flag;
    if (actionBar)
        actionBar->SetWidgetActionText(ip_list, i_action,
                                       i_text + (io_flag ? QStringLiteral(" [on]") : QStringLiteral(" [off]")));
    for (int l_user = 0; l_user < ip_list->topLevelItemCount(); ++l_user)
    {
        QTreeWidgetItem* lp_userRow = ip_list->topLevelItem(l_user);
        if (!i_folders)
            lp_userRow->setExpanded(io_flag);
        else
            for (int l_folder = 0; l_folder < lp_userRow->childCount(); ++l_folder)
                lp_userRow->child(l_folder)->setExpanded(io_flag);
    }
}

void TransfersForm::ClearCompleteDownloads()
{
    const ItemPtr l_status =
        d.GetType("download_entry_status")->HasItem(transfer_status::Complete);
    std::vector<ItemPtr> l_complete;
    for (ItemPtr l_entry : l_status.GetItems("download_entry"))
        l_complete.push_back(l_entry);
    RemoveEach(l_complete, &TransferQueueManager::RemoveDownload);
}

// Queued and running uploads stay; finished and failed ones go.
void TransfersForm::ClearCompleteAndAbortedUploads()
{
    std::vector<ItemPtr> l_finished;
    for (ItemPtr l_entry : g("upload_entry"))
    {
        const ItemPtr l_status = l_entry["upload_entry_status"];
        if (l_status && !l_status.IsConnected("is_active") &&
            l_status.AsStdString() != transfer_status::Queued)
            l_finished.push_back(l_entry);
    }
    RemoveEach(l_finished, &TransferQueueManager::RemoveUpload);
}

void TransfersForm::AddSelectedUsersToList()
{
    for (QTreeWidgetItem* lp_row : mp_ui->downloadsList->selectedItems())
    {
        const ItemPtr l_node = NodeOfRow(Downloads.userNode, GetDownloadNodeUserNode(lp_row));
        if (const ItemPtr l_user = l_node["user"])
            l_user.NewItem("in_user_list");
    }
}

void TransfersForm::ShowCompleteDownloads()
{
    if (!completeDownloadsForm)
    {
        auto* lp_list = new CompleteDownloadsForm(this);
        mp_ui->transfersTabControl->addTab(lp_list, tr("Complete"));
        lp_list->Init(m_storeLoaded);
    }
    mp_ui->transfersTabControl->setCurrentWidget(completeDownloadsForm);
    completeDownloadsForm->show();
}

// ---- Upload settings ----

void TransfersForm::OnUploadSlotsSpinValueChanged(int i_value)
{
    if (transferQueueManager)
        transferQueueManager->SetUploadSlots(i_value);
}

// A limit typed in switches limiting on, 0 switches it off.
void TransfersForm::OnUploadSpeedLimitSpinValueChanged(int i_value)
{
    mp_ui->uploadLimitCheckBox->setChecked(i_value != 0);
    if (transferQueueManager)
        transferQueueManager->SetUploadSpeedLimit(i_value);
}

void TransfersForm::OnUploadSpeedLimitCheckStateChanged(int i_state)
{
    if (!transferQueueManager || i_state == Qt::PartiallyChecked)
        return;
    transferQueueManager->EnableUploadSpeedLimit(i_state == Qt::Checked);
}

void TransfersForm::OnClearDownloadsCheckStateChanged(int i_state)
{
    SetFlagFromCheckState("clear_complete_downloads", i_state);
}

void TransfersForm::OnClearUploadsCheckStateChanged(int i_state)
{
    SetFlagFromCheckState("clear_complete_aborted_uploads", i_state);
}

// Uploads that have neither changed state nor moved a byte for five minutes go, while the
// user wants finished uploads cleared; a queued one waits its turn whatever its age.
// Only the uploads stamped five minutes ago or more, and the few running ones, whose last block
// may be later than their stamp, are read; they go in the order the store's set of uploads gives.
void TransfersForm::EveryHalfMinute()
{
    if (!IsSettingYes("clear_complete_aborted_uploads") || !transferQueueManager)
        return;
    const QDateTime l_now = QDateTime::currentDateTime();
    std::vector<ItemPtr> l_candidates = m_idleUploads.StampedBy(l_now.toMSecsSinceEpoch() - FinishedUploadLifeMs);
    for (ItemPtr l_status : d.GetType("upload_entry_status")->GetItems())
        if (l_status.IsConnected("is_active"))
            for (ItemPtr l_entry : l_status.GetItems("upload_entry"))
                l_candidates.push_back(l_entry);
    std::sort(l_candidates.begin(), l_candidates.end());
    std::vector<ItemPtr> l_idle;
    for (ItemPtr l_entry : l_candidates)
    {
        if (l_entry["upload_entry_status"].AsStdString() == transfer_status::Queued)
            continue;
        QDateTime l_reference =
            QDateTime::fromString(l_entry["last_status_change_time"].AsString(), Qt::TextDate);
        const QDateTime* lp_received =
            transferQueueManager->PeekObject<QDateTime>(l_entry["last_receipt_time"]);
        if (lp_received && lp_received->isValid() &&
            (!l_reference.isValid() || *lp_received > l_reference))
            l_reference = *lp_received;
        if (l_reference.isValid() && l_reference.msecsTo(l_now) >= FinishedUploadLifeMs)
            l_idle.push_back(l_entry);
    }
    RemoveEach(l_idle, &TransferQueueManager::RemoveUpload);
}

// ---- Keys, double click and menus ----

void TransfersForm::OnKeyPressedInDownloadList(QKeyEvent* ip_event)
{
    if (ip_event->key() == Qt::Key_Delete)
        DeleteSelectedDownloads();
}

// A lone group row is emptied whole; in a wider selection only file rows count.
void TransfersForm::DeleteSelectedDownloads()
{
    JoinHeldRows();
    const QList<QTreeWidgetItem*> l_selected = mp_ui->downloadsList->selectedItems();
    std::vector<ItemPtr> l_entries;
    if (l_selected.size() == 1 && IsGroupRow(Downloads, l_selected.first()))
    {
        std::vector<QTreeWidgetItem*> l_rows{l_selected.first()};
        for (std::size_t l_at = 0; l_at < l_rows.size(); ++l_at)
        {
            if (const ItemPtr l_entry = NodeOfRow(Downloads.fileNode, l_rows[l_at])[Downloads.entryType])
                l_entries.push_back(l_entry);
            for (int l_child = 0; l_child < l_rows[l_at]->childCount(); ++l_child)
                l_rows.push_back(l_rows[l_at]->child(l_child));
        }
    }
    else
        for (QTreeWidgetItem* lp_row : l_selected)
            if (const ItemPtr l_entry = NodeOfRow(Downloads.fileNode, lp_row)[Downloads.entryType])
                l_entries.push_back(l_entry);
    // Thousands go a slice at a time, their rows leaving the list together at each slice's end.
    if (transferQueueManager)
        transferQueueManager->RemoveDownloads(std::move(l_entries), [] { return std::make_shared<RowRemovals>(); });
}

// Where the finished file lies or will lie; the desktop decides what opens it.
void TransfersForm::OnDownloadListItemDoubleClicked(QTreeWidgetItem* ip_item, int)
{
    DownloadMenuOptions::OpenTarget(NodeOfRow(Downloads.fileNode, ip_item)[Downloads.entryType], true);
}

// The menu is for the rows the right click chose as they were painted; a group row's entries come
// from the store, held rows included.
void TransfersForm::OnDownloadsContextMenuRequested(QPoint i_point)
{
    QTreeWidget* lp_list = mp_ui->downloadsList;
    const QList<QTreeWidgetItem*> l_selected = lp_list->selectedItems();
    if (l_selected.isEmpty())
        return;
    std::set<QString> l_users;
    ItemSet l_chosen;
    for (QTreeWidgetItem* lp_row : l_selected)
    {
        l_users.insert(NodeOfRow(Downloads.userNode, GetDownloadNodeUserNode(lp_row))["user"].AsString());
        // In a wider selection a group row counts only when it stands for one download.
        const ItemSet l_entries = GetNodeDownloadEntryItems(lp_row);
        if (l_selected.size() == 1 || l_entries.Size() <= 1)
            l_chosen.Add(l_entries);
    }
    QMenu l_menu;
    DownloadMenuOptions l_downloads(&l_menu, l_chosen);
    std::unique_ptr<UserMenuOptions> lp_user;
    if (l_users.size() == 1)
        lp_user = std::make_unique<UserMenuOptions>(&l_menu, *l_users.begin());
    Desktop::RunPopupMenu(l_menu, lp_list->viewport()->mapToGlobal(i_point));
}

void TransfersForm::OnUploadsContextMenuRequested(QPoint i_point)
{
    QTreeWidget* lp_list = mp_ui->uploadsList;
    QTreeWidgetItem* lp_row = lp_list->itemAt(i_point);
    const ItemPtr l_user = NodeOfRow(Uploads.userNode, GetUploadNodeUserNode(lp_row))["user"];
    if (!l_user)
        return;
    QMenu l_menu;
    UserMenuOptions l_options(&l_menu, l_user.AsString());
    Desktop::RunPopupMenu(l_menu, lp_list->viewport()->mapToGlobal(i_point));
}

// ---- Completion alerts ----

// File, folder and user alerts, in that order, each raised once and then gone; last the
// download itself goes when the user clears finished downloads.
void TransfersForm::OnDownloadComplete(ItemPtr i_download)
{
    const auto l_pending = m_pendingCompletions.find(i_download.Get());
    if (l_pending == m_pendingCompletions.end())
        return;
    if (--l_pending->second == 0)
        m_pendingCompletions.erase(l_pending);
    QTreeWidget* lp_list = mp_ui->downloadsList;
    const ItemPtr l_node = i_download[Downloads.fileNode];

    if (const ItemPtr l_alert = i_download["complete_download_alert"])
    {
        const QString l_name = i_download["file_name"].AsString();
        Notify(l_name, lp_list, tr("Download of file %1 complete").arg(l_name));
        if (QTreeWidgetItem* lp_row = RowOfNode(l_node))
            lp_row->setIcon(2, QIcon());
        l_alert.Remove();
    }

    // A group row that still holds an unfinished download answers for the store at once; only
    // once its rows are all complete are the downloads themselves read one by one.
    const auto l_rowsComplete = [this](ItemPtr i_groupNode) {
        const TransferGroupTally* lp_tally = m_downloadTallies.Find(RowOfNode(i_groupNode));
        return !lp_tally || lp_tally->AllComplete();
    };
    const ItemPtr l_user = i_download["user"];
    const ItemPtr l_folder = i_download["remote_folder"];
    if (l_user && l_folder)
        if (const ItemPtr l_alert = d.GetItem(l_user, l_folder, "complete_download_alert");
            l_alert && l_rowsComplete(l_node[Downloads.folderNode]) &&
            TransferGroupTally::AllComplete(d.GetItems(l_user, l_folder, "download_entry")))
        {
            const QString l_name = ToQString(GetFileName(l_folder.AsStdString()));
            Notify(l_name, lp_list, tr("Download of folder %1 complete").arg(l_name));
            if (QTreeWidgetItem* lp_row = RowOfNode(l_node[Downloads.folderNode]))
                lp_row->setIcon(1, QIcon());
            l_alert.Remove();
        }

    if (l_user)
    {
        const ItemSet l_alerts = l_user.GetItems("complete_download_alert").NotConnected("remote_folder");
        if (!l_alerts.Empty() && l_rowsComplete(l_user[Downloads.userNode]) &&
            TransferGroupTally::AllComplete(l_user.GetItems("download_entry")))
        {
            const QString l_name = l_user.AsString();
            Notify(l_name, lp_list, tr("All download from user %1 complete").arg(l_name));
            // The alert's mark gives way to the user's online state again.
            if (QTreeWidgetItem* lp_row = RowOfNode(l_user[Downloads.userNode]))
                lp_row->setIcon(0, TransferRowIcons::Online(l_user.IsConnected("is_online")));
            l_alerts.Remove();
        }
    }

    if (IsSettingYes("clear_complete_downloads") && transferQueueManager)
        transferQueueManager->RemoveDownload(i_download);
}
