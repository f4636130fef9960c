#include "views/transfers/DownloadMenuOptions.h"

#include <QAction>
#include <QIcon>
#include <QMenu>
#include <QTreeWidgetItem>
#include <QUrl>

#include <vector>

#include "server/Server.h"
#include "shell/Desktop.h"
#include "shell/RowNodes.h"
#include "shell/UIFunctions.h"
#include "store/Data.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferStatus.h"
#include "views/search/SearchForm.h"
#include "views/transfers/TransferGroupTally.h"
#include "views/transfers/TransferRowIcons.h"
#include "views/transfers/TransfersForm.h"

namespace
{
const char* const TransferIcon = ":/icons/transfer_icon";

bool IsComplete(ItemPtr i_entry)
{
    return i_entry["download_entry_status"].AsStdString() == transfer_status::Complete;
}

// The one item of that type the entries share; null when they hold several or none.
ItemPtr Shared(const ItemSet& i_entries, const char* i_type)
{
    const ItemSet l_items = i_entries.GetItems(i_type);
    return l_items.Size() == 1 ? ItemPtr(l_items) : ItemPtr();
}

std::vector<ItemPtr> Members(const ItemSet& i_set)
{
    std::vector<ItemPtr> l_members;
    for (ItemPtr l_item : i_set)
        l_members.push_back(l_item);
    return l_members;
}
} // namespace

DownloadMenuOptions::DownloadMenuOptions(QMenu* ip_menu, ItemSet i_entries, QObject* ip_parent)
    : QObject(ip_parent)
{
    if (i_entries.Empty())
        return;
    m_entries = std::move(i_entries);
    d.GetType("download_entry")
        ->m_removedEvent.AddHandler(NewEventHandler(this, &DownloadMenuOptions::OnEntryRemoved));
    if (!ip_menu->actions().isEmpty())
        ip_menu->addSeparator();
    const bool l_one = m_entries.Size() == 1;
    const ItemPtr l_first = FirstEntry();
    if (l_one && IsComplete(l_first))
        connect(ip_menu->addAction(tr("Open File")), &QAction::triggered, this,
                &DownloadMenuOptions::OnOpenFile);
    connect(ip_menu->addAction(tr("Open Folder")), &QAction::triggered, this,
            &DownloadMenuOptions::OnOpenFolder);
    const ItemPtr l_status = l_first["download_entry_status"];
    if (!l_one || (!IsComplete(l_first) && !l_status.IsConnected("is_active")))
        connect(ip_menu->addAction(QIcon(TransferIcon), l_one ? tr("Retry download") : tr("Retry downloads")),
                &QAction::triggered, this, &DownloadMenuOptions::OnRetryDownloads);
    ip_menu->addSeparator();
    connect(ip_menu->addAction(QIcon(TransferIcon), l_one ? tr("Remove download") : tr("Remove downloads")),
            &QAction::triggered, this, &DownloadMenuOptions::OnRemoveDownloads);
    AddAlertEntries(ip_menu);
    if (const ItemPtr l_search = l_first["search_request_text"])
    {
        m_searchText = l_search.AsString();
        connect(ip_menu->addAction(tr("Re-run Search: ") + LiteralAmpersands(m_searchText)),
                &QAction::triggered, this, &DownloadMenuOptions::OnRerunSearch);
    }
}

DownloadMenuOptions::~DownloadMenuOptions() = default;

void DownloadMenuOptions::AddAlertEntries(QMenu* ip_menu)
{
    QMenu* lp_notify = ip_menu->addMenu(TransferRowIcons::Alert(), tr("Notify me when..."));
    const ItemPtr l_first = FirstEntry();
    // Looked up again when an entry is chosen: the menu's loop may remove them meanwhile.
    const ItemPtr l_user = SingleUser();
    const ItemPtr l_folder = SingleFolder();
    if (m_entries.Size() == 1 && !l_first["complete_download_alert"] && !IsComplete(l_first))
        connect(lp_notify->addAction(tr("File download completes")), &QAction::triggered, this,
                &DownloadMenuOptions::OnSetFileDownloadAlert);
    if (l_user && l_folder && !d.GetItem(l_user, l_folder, "complete_download_alert") &&
        !TransferGroupTally::AllComplete(d.GetItems(l_user, l_folder, "download_entry")))
        connect(lp_notify->addAction(tr("Folder download completes")), &QAction::triggered, this,
                &DownloadMenuOptions::OnSetFolderDownloadAlert);
    if (l_user && l_user["download_list_user_node"].GetItems("download_list_folder_node").Size() > 1 &&
        l_user.GetItems("complete_download_alert").NotConnected("remote_folder").Empty() &&
        !TransferGroupTally::AllComplete(l_user.GetItems("download_entry")))
        connect(lp_notify->addAction(tr("All downloads from user complete")), &QAction::triggered,
                this, &DownloadMenuOptions::OnSetUserDownloadAlert);
    if (lp_notify->actions().isEmpty())
        delete lp_notify;
}

void DownloadMenuOptions::OnEntryRemoved(ItemPtr i_entry)
{
    m_entries.Erase(i_entry);
}

ItemPtr DownloadMenuOptions::FirstEntry() const
{
    return m_entries.Empty() ? ItemPtr() : *m_entries.Begin();
}

ItemPtr DownloadMenuOptions::SingleUser() const
{
    return Shared(m_entries, "user");
}

ItemPtr DownloadMenuOptions::SingleFolder() const
{
    return Shared(m_entries, "remote_folder");
}

void DownloadMenuOptions::OpenTarget(ItemPtr i_entry, bool i_file)
{
    if (!i_entry || !transferQueueManager)
        return;
    const QString l_path = i_file ? transferQueueManager->GetDownloadTargetPath(i_entry, true)
                                  : transferQueueManager->GetDownloadTargetFolder(i_entry, true);
    if (!l_path.isEmpty())
        Desktop::OpenUrl(QUrl::fromLocalFile(QString(l_path).replace('\\', '/')));
}

void DownloadMenuOptions::OnOpenFile()
{
    OpenTarget(FirstEntry(), true);
}

void DownloadMenuOptions::OnOpenFolder()
{
    OpenTarget(FirstEntry(), false);
}

void DownloadMenuOptions::OnRetryDownloads()
{
    const std::vector<ItemPtr> l_entries = Members(m_entries);
    for (ItemPtr l_entry : l_entries)
        if (transferQueueManager && m_entries.Contains(l_entry))
            transferQueueManager->RequeueDownload(l_entry);
}

void DownloadMenuOptions::OnRemoveDownloads()
{
    const TransfersForm::RowRemovals l_rows;
    const std::vector<ItemPtr> l_entries = Members(m_entries);
    for (ItemPtr l_entry : l_entries)
        if (transferQueueManager && m_entries.Contains(l_entry))
            transferQueueManager->RemoveDownload(l_entry);
}

void DownloadMenuOptions::OnSetFileDownloadAlert()
{
    const ItemPtr l_entry = FirstEntry();
    if (!l_entry)
        return;
    if (QTreeWidgetItem* lp_row = RowOfNode(l_entry["download_list_node"]))
        lp_row->setIcon(2, TransferRowIcons::Alert());
    d.GetType("complete_download_alert")->NewItem() += l_entry;
}

void DownloadMenuOptions::OnSetFolderDownloadAlert()
{
    const ItemPtr l_user = SingleUser();
    const ItemPtr l_folder = SingleFolder();
    if (!l_user || !l_folder)
        return;
    // Without the user's row any folder row of that name would do; none is marked then.
    const ItemPtr l_userNode = l_user["download_list_user_node"];
    const ItemPtr l_node =
        l_userNode ? d.GetItem(l_userNode, l_folder, "download_list_folder_node") : ItemPtr();
    if (QTreeWidgetItem* lp_row = RowOfNode(l_node))
        lp_row->setIcon(1, TransferRowIcons::Alert());
    const ItemPtr l_alert = d.GetType("complete_download_alert")->NewItem();
    l_alert += l_user;
    l_alert += l_folder;
}

void DownloadMenuOptions::OnSetUserDownloadAlert()
{
    const ItemPtr l_user = SingleUser();
    if (!l_user)
        return;
    if (QTreeWidgetItem* lp_row = RowOfNode(l_user["download_list_user_node"]))
        lp_row->setIcon(0, TransferRowIcons::Alert());
    d.GetType("complete_download_alert")->NewItem() += l_user;
}

// A search of all users under a new token, as the search page starts one, with its tab; no
// related searches are asked for.
void DownloadMenuOptions::OnRerunSearch()
{
    if (!gp_server || m_searchText.isEmpty())
        return;
    const unsigned int l_token = gp_server->FileSearch(m_searchText, false);
    if (searchForm)
        searchForm->CreateSearchForm(l_token, m_searchText, GlobalSearch);
}
