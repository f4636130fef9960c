#include "views/search/SearchForm.h"

#include <QCheckBox>
#include <QIcon>
#include <QMenu>
#include <QTreeWidget>

#include <algorithm>
#include <vector>

#include "shell/ActionSetToolBar.h"
#include "shell/Desktop.h"
#include "shell/RowNodes.h"
#include "store/Data.h"
#include "transfers/TransferQueueManager.h"
#include "views/chat/UserMenuOptions.h"
#include "views/search/SearchResultListItem.h"
#include "views/search/SearchResultMenuOptions.h"
#include "views/search/SearchResultsForm.h"

namespace
{
Type* T(const char* i_name)
{
    return d.GetType(i_name);
}

// The results under a row, whatever the filter shows: a user's, a folder's, or a file's own.
// The row's node tells which it is: a user name or a folder path from another user may be
// empty.
ItemSet ResultsUnder(QTreeWidgetItem* ip_row, bool& o_fileRow)
{
    o_fileRow = false;
    if (const ItemPtr l_user = NodeOfRow("search_results_user_node", ip_row))
        return l_user.GetItems("search_results_folder_node")
            .GetItems("search_result_node")
            .GetItems("search_result");
    if (const ItemPtr l_folder = NodeOfRow("search_results_folder_node", ip_row))
        return l_folder.GetItems("search_result_node").GetItems("search_result");
    o_fileRow = true;
    return NodeOfRow("search_result_node", ip_row).GetItems("search_result");
}

// The search a result tab stands for: its first request; null without a tab.
ItemPtr TabRequest(SearchResultsForm* ip_form)
{
    return ip_form ? T("search_results_widget")->HasItem(Value(ip_form))["search_request"] : ItemPtr();
}
} // namespace

void SearchForm::OnActionBarTriggered(QWidget* ip_widget, QString i_action)
{
    auto* lp_form = qobject_cast<SearchResultsForm*>(ip_widget);
    if (lp_form && (i_action == QLatin1String("expand_folders") || i_action == QLatin1String("expand_users")))
        ToggleExpansion(lp_form, i_action);
    else if (lp_form && (i_action == QLatin1String("order_by_available") ||
                         i_action == QLatin1String("order_by_fastest")))
        OrderBy(lp_form, i_action == QLatin1String("order_by_fastest"));
    else if (i_action == QLatin1String("add_remove_wishlist"))
        AddOrRemoveWish();
    else if (i_action == QLatin1String("stop_search"))
        StopSearch();
    else if (i_action == QLatin1String("enable_all_wish_list_items") ||
             i_action == QLatin1String("disable_all_wish_list_items"))
    {
        // Each box's own handler then enables or disables its entry.
        const bool l_enable = i_action == QLatin1String("enable_all_wish_list_items");
        for (ItemPtr l_entry : g("wish_list_item"))
            if (auto* lp_box = l_entry["wish_list_node"]["wish_list_node_checkbox"].AsPointer<QCheckBox>())
                lp_box->setChecked(l_enable);
    }
}

void SearchForm::ToggleExpansion(SearchResultsForm* ip_form, const QString& i_flag)
{
    ItemPtr l_tab = T("search_results_widget")->HasItem(Value(ip_form));
    if (!l_tab)
        return;
    const std::string l_flag = i_flag.toStdString();
    const bool l_expand = l_tab[l_flag.c_str()].AsStdString() == "no";
    l_tab += T(l_flag.c_str())->GetItem(l_expand ? "yes" : "no");
    const bool l_users = i_flag == QLatin1String("expand_users");
    const QString l_text = l_users ? (l_expand ? tr("Expand Users [on]") : tr("Expand Users [off]"))
                                   : (l_expand ? tr("Expand Folders [on]") : tr("Expand Folders [off]"));
    actionBar->SetWidgetActionText(ip_form, i_flag, l_text);
    QTreeWidget* lp_tree = ip_form->searchResults();
    for (int l_index = 0; l_index < lp_tree->topLevelItemCount(); ++l_index)
    {
        QTreeWidgetItem* lp_user = lp_tree->topLevelItem(l_index);
        if (l_users)
            lp_user->setExpanded(l_expand);
        else
            for (int l_folder = 0; l_folder < lp_user->childCount(); ++l_folder)
                lp_user->child(l_folder)->setExpanded(l_expand);
    }
}

void SearchForm::OrderBy(SearchResultsForm* ip_form, bool i_fastest)
{
    actionBar->SetWidgetActionText(ip_form, "order_by_available",
                                   i_fastest ? tr("Order by Available") : tr("Order by Available [on]"));
    actionBar->SetWidgetActionText(ip_form, "order_by_fastest",
                                   i_fastest ? tr("Order by Fastest [on]") : tr("Order by Fastest"));
    ip_form->SetSortingParamters(i_fastest ? SearchResultListItem::SpeedColumn : SearchResultListItem::FreeColumn, Qt::DescendingOrder);
    ip_form->Sort();
}

void SearchForm::AddOrRemoveWish()
{
    SearchResultsForm* lp_form = GetCurrentSearchResultsForm();
    const ItemPtr l_request = TabRequest(lp_form);
    if (!l_request)
        return;
    const Value l_text = l_request["search_request_text"].GetValue();
    ItemPtr l_entry = T("wish_list_item")->HasItem(l_text);
    if (l_request.IsConnected("wishlist_search"))
    {
        if (l_entry)
            l_entry.Remove();
        return;
    }
    if (l_entry)
        return;
    l_entry = T("wish_list_item")->GetItem(l_text);
    l_entry += T("wish_list_item_enabled")->GetGlobalNullItem();
    OnWishListItemAdded(l_entry);
}

// Replies that come later are not stored; nothing is sent.
void SearchForm::StopSearch()
{
    SearchResultsForm* lp_form = GetCurrentSearchResultsForm();
    const ItemPtr l_request = TabRequest(lp_form);
    if (!l_request)
        return;
    l_request += T("search_stopped")->GetGlobalNullItem();
    actionBar->SetWidgetActionText(lp_form, "stop_search", tr("Search Stopped"));
}

// A user's or folder's files skip the excluded endings; a file chosen by itself never does.
void SearchForm::OnResultDoubleClicked(QTreeWidgetItem* ip_row, int /*i_column*/)
{
    if (!ip_row || !transferQueueManager)
        return;
    bool l_fileRow = false;
    const ItemSet l_results = ResultsUnder(ip_row, l_fileRow);
    std::vector<ItemPtr> l_ordered;
    for (ItemPtr l_result : l_results)
        l_ordered.push_back(l_result);
    std::stable_sort(l_ordered.begin(), l_ordered.end(), &SearchForm::CompareSearchResults);
    ItemPtr l_text = ItemPtr(l_results.GetItems("search_results"))["search_request"]["search_request_text"];
    for (ItemPtr l_result : l_ordered)
    {
        const QString l_name = l_result["search_result_file_name"].AsString();
        if (!l_fileRow && transferQueueManager->HasExcludedDownloadExtension(l_name))
            continue;
        DownloadResult(l_result, l_text);
    }
}

void SearchForm::DownloadResult(ItemPtr i_result, ItemPtr i_searchText)
{
    ItemPtr l_entry = transferQueueManager->AddDownload(
        i_result["search_results"]["user"].AsString(), i_result["search_result_file_name"].AsStdString(),
        i_result["search_result_file_folder"].AsStdString(), i_result["file_size"].AsInt64(), 0);
    if (l_entry && i_searchText)
        l_entry += i_searchText;
    if (QTreeWidgetItem* lp_row = RowOfNode(i_result["search_result_node"]))
        lp_row->setIcon(SearchResultListItem::FileColumn, QIcon(":/icons/download_icon"));
}

void SearchForm::OnSearchResultsContextMenuRequested(QPoint i_pos)
{
    auto* lp_tree = qobject_cast<QTreeWidget*>(sender());
    QTreeWidgetItem* lp_row = lp_tree ? lp_tree->itemAt(i_pos) : nullptr;
    if (!lp_row)
        return;
    // Destroyed in reverse: the user's entries, the row's, then the menu.
    QMenu l_menu;
    SearchResultMenuOptions l_rowOptions(&l_menu, lp_row);
    QTreeWidgetItem* lp_userRow = GetNodeUserNode(lp_row);
    UserMenuOptions l_userOptions(&l_menu, lp_userRow ? lp_userRow->text(0) : QString());
    Desktop::RunPopupMenu(l_menu, lp_tree->viewport()->mapToGlobal(i_pos));
}

bool SearchForm::CompareSearchResults(ItemPtr i_a, ItemPtr i_b)
{
    const QString l_folderA = i_a["search_result_file_folder"].AsString();
    const QString l_folderB = i_b["search_result_file_folder"].AsString();
    if (l_folderA != l_folderB)
        return l_folderA < l_folderB;
    return i_a["search_result_file_name"].AsString() < i_b["search_result_file_name"].AsString();
}
