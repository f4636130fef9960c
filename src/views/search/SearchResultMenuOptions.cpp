#include "views/search/SearchResultMenuOptions.h"

#include <QIcon>
#include <QMenu>
#include <QTreeWidget>

#include "shell/RowNodes.h"
#include "store/Data.h"
#include "store/ItemSet.h"
#include "store/Type.h"
#include "transfers/TransferQueueManager.h"
#include "views/chat/ShareBrowser.h"
#include "views/search/SearchForm.h"
#include "views/search/ShareForm.h"

SearchResultMenuOptions::SearchResultMenuOptions(QMenu* ip_menu, QTreeWidgetItem* ip_row, QObject* ip_parent)
    : QObject(ip_parent), mp_row(ip_row), mp_tree(ip_row->treeWidget())
{
    const ItemPtr l_fileNode = NodeOfRow("search_result_node", mp_row);
    const ItemPtr l_folderNode = NodeOfRow("search_results_folder_node", mp_row);
    // A folder's path item is shared by every user and tab with a result in a folder of that
    // path; the row's own results tell whose folder this is and which search found it.
    ItemPtr l_result;
    if (l_fileNode)
    {
        connect(ip_menu->addAction(QIcon(":/icons/download_icon"), tr("Download File(s)")), &QAction::triggered,
                this, &SearchResultMenuOptions::OnDownloadFile);
        l_result = l_fileNode["search_result"];
    }
    else if (l_folderNode)
        l_result = l_folderNode.GetItems("search_result_node").GetItems("search_result");
    if (!l_result)
        return;
    const ItemPtr l_reply = l_result["search_results"];
    m_searchText = l_reply["search_request"]["search_request_text"].AsString();
    m_user = l_reply["user"].AsString();
    m_folder = l_result["search_result_file_folder"].AsStdString();
    connect(ip_menu->addAction(QIcon(":/icons/downloads_icon"), tr("Download Folder(s)")), &QAction::triggered,
            this, &SearchResultMenuOptions::OnDownloadFolder);
    connect(ip_menu->addAction(QIcon(":/icons/browse_icon"), tr("Browse Folder")), &QAction::triggered, this,
            &SearchResultMenuOptions::OnBrowseFolder);
}

// A file chosen by itself is queued whatever its ending.
void SearchResultMenuOptions::OnDownloadFile()
{
    if (!mp_tree || !transferQueueManager)
        return;
    const ItemPtr l_text = d.GetType("search_request_text")->GetItem(Value(m_searchText));
    for (QTreeWidgetItem* lp_row : mp_tree->selectedItems())
    {
        const ItemPtr l_node = NodeOfRow("search_result_node", lp_row);
        if (!l_node)
            return;
        SearchForm::DownloadResult(l_node["search_result"], l_text);
    }
}

// Every result of each folder once, hidden rows' too, whatever the order of the selection.
void SearchResultMenuOptions::OnDownloadFolder()
{
    if (!mp_tree || !transferQueueManager)
        return;
    ItemSet l_results;
    for (QTreeWidgetItem* lp_row : mp_tree->selectedItems())
    {
        ItemPtr l_folderNode = NodeOfRow("search_results_folder_node", lp_row);
        if (!l_folderNode)
            l_folderNode = NodeOfRow("search_result_node", lp_row)["search_results_folder_node"];
        // A user row stands for more than folders: nothing is queued.
        if (!l_folderNode)
            return;
        l_results.Add(l_folderNode.GetItems("search_result_node").GetItems("search_result"));
    }
    const ItemPtr l_text = d.GetType("search_request_text")->GetItem(Value(m_searchText));
    for (ItemPtr l_result : l_results.SortAlphabeticBy("search_result_file_name", true))
        if (!transferQueueManager->HasExcludedDownloadExtension(l_result["search_result_file_name"].AsString()))
            SearchForm::DownloadResult(l_result, l_text);
}

// An open tab of the user's comes to the front; a new one selects the folder once its list came.
void SearchResultMenuOptions::OnBrowseFolder()
{
    if (!sharesForm)
        return;
    if (ShareForm* lp_tab = sharesForm->OpenShareBrowse(m_user))
        lp_tab->BrowseToFolder(m_folder);
}
