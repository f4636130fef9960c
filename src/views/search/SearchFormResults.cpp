#include "views/search/SearchForm.h"

#include <QLineEdit>
#include <QTreeWidget>

#include <algorithm>
#include <tuple>
#include <vector>

#include "shares/SharedFoldersManager.h"
#include "shell/EventToolBar.h"
#include "shell/RowNodes.h"
#include "store/Data.h"
#include "store/DelayedInvoker.h"
#include "store/GeneralFunctions.h"
#include "views/search/SearchResultFilter.h"
#include "views/search/SearchResultListItem.h"
#include "views/search/SearchResultsForm.h"

namespace
{
// The node of that type connected to both items. Walks the shorter of their two lists, so a
// tab of many users finds a user's row as fast as a tab of one.
ItemPtr CommonNode(ItemPtr i_a, ItemPtr i_b, Type* ip_nodes)
{
    const ItemSet* lp_ofA = i_a->Connections().FindSet(ip_nodes);
    const ItemSet* lp_ofB = i_b->Connections().FindSet(ip_nodes);
    if (!lp_ofA || !lp_ofB)
        return ItemPtr();
    const bool l_aShorter = lp_ofA->Size() <= lp_ofB->Size();
    Item* lp_other = l_aShorter ? i_b.Get() : i_a.Get();
    for (ItemPtr l_node : l_aShorter ? *lp_ofA : *lp_ofB)
        if (l_node->IsConnected(lp_other))
            return l_node;
    return ItemPtr();
}

// A row's node item, valued by the row's address.
ItemPtr NewNode(Type* ip_nodes, QTreeWidgetItem* ip_row)
{
    return ip_nodes->GetItem(Value(ip_row));
}

void ExpandWhen(QTreeWidgetItem* ip_row, ItemPtr i_flag)
{
    if (i_flag.AsStdString() == "yes" && !ip_row->isExpanded())
        ip_row->setExpanded(true);
}

// The replier says what its queue is: below 0 it means nothing, and would only sort that user
// first.
QString QueueText(ItemPtr i_queue)
{
    return i_queue.AsInt64() < 0 ? QStringLiteral("0") : i_queue.AsString();
}
} // namespace

void SearchForm::OnUserSearchResults(ItemPtr i_searchResults)
{
    ItemPtr l_request = i_searchResults["search_request"];
    if (!l_request)
        return;
    if (!l_request["search_results_widget"] && l_request.IsConnected("wishlist_search"))
    {
        // The first reply to a wish-list search opens the text's tab, or joins the one it has.
        ItemPtr l_text = l_request["search_request_text"];
        ItemPtr l_entry = d.GetType("wish_list_item")->HasItem(l_text.GetValue());
        if (l_entry && l_entry.IsConnected("wish_list_item_enabled"))
            CreateSearchForm(l_request.AsUInt(), l_text.AsString(), WishListSearch);
    }
    ItemPtr l_tab = l_request["search_results_widget"];
    if (!l_tab)
        return;
    auto* lp_form = l_tab.AsPointer<SearchResultsForm>();

    // Folder by folder and file by file, so that rows stand in one order until they are sorted.
    struct Keyed
    {
        QString folder;
        QString name;
        ItemPtr result;
    };
    std::vector<Keyed> l_results;
    for (ItemPtr l_result : i_searchResults.GetItems("search_result"))
        l_results.push_back({l_result["search_result_file_folder"].AsString(),
                             l_result["search_result_file_name"].AsString(), l_result});
    std::sort(l_results.begin(), l_results.end(), [](const Keyed& i_a, const Keyed& i_b) {
        return std::tie(i_a.folder, i_a.name) < std::tie(i_b.folder, i_b.name);
    });
    QTreeWidgetItem* lp_userRow = nullptr;
    for (const Keyed& l_result : l_results)
        lp_userRow = AddSearchResult(l_tab, l_result.result);
    if (!lp_userRow)
        return;
    SearchResultFilter(lp_form->filterEdit()->text()).Apply(lp_userRow);

    ItemPtr l_entry = l_tab["wish_list_item"];
    if (l_entry && !l_tab.IsConnected("search_results_widget_alerted") && eventToolBar)
    {
        QTreeWidget* lp_tree = lp_form->searchResults();
        bool l_shown = !lp_userRow->isHidden();
        for (int l_index = 0; !l_shown && l_index < lp_tree->topLevelItemCount(); ++l_index)
            l_shown = !lp_tree->topLevelItem(l_index)->isHidden();
        if (l_shown)
        {
            eventToolBar->AddEvent(l_entry.AsString(), ":/icons/wishlist_icon", lp_form, QString());
            l_tab += d.GetType("search_results_widget_alerted")->GetGlobalNullItem();
        }
    }
    if (delayedInvoker)
        delayedInvoker->Invoke(lp_form, "1Sort()", 1000);
}

QTreeWidgetItem* SearchForm::AddSearchResult(ItemPtr i_tab, ItemPtr i_result)
{
    Type* const lp_userNodes = d.GetType("search_results_user_node");
    Type* const lp_folderNodes = d.GetType("search_results_folder_node");
    Type* const lp_fileNodes = d.GetType("search_result_node");
    QTreeWidget* lp_tree = i_tab.AsPointer<SearchResultsForm>()->searchResults();
    ItemPtr l_reply = i_result["search_results"];
    ItemPtr l_user = l_reply["user"];

    ItemPtr l_userNode = CommonNode(i_tab, l_user, lp_userNodes);
    QTreeWidgetItem* lp_userRow = RowOfNode(l_userNode);
    if (!l_userNode)
    {
        lp_userRow = new SearchResultListItem(lp_tree);
        lp_userRow->setText(SearchResultListItem::UserColumn, l_user.AsString());
        l_userNode = NewNode(lp_userNodes, lp_userRow);
        l_userNode += i_tab;
        l_userNode += l_user;
        lp_userRow->setText(SearchResultListItem::FreeColumn, l_reply["search_results_user_available"].AsStdString() == "yes"
                                   ? QStringLiteral("Y")
                                   : QueueText(l_reply["search_results_uploads_in_queue"]));
        lp_userRow->setTextAlignment(SearchResultListItem::FreeColumn, Qt::AlignHCenter);
        lp_userRow->setText(SearchResultListItem::SpeedColumn, SearchResultListItem::SpeedText(l_reply["search_results_user_speed"].AsInt64()));
    }

    ItemPtr l_folder = i_result["search_result_file_folder"];
    ItemPtr l_folderNode = CommonNode(l_userNode, l_folder, lp_folderNodes);
    QTreeWidgetItem* lp_folderRow = RowOfNode(l_folderNode);
    if (!l_folderNode)
    {
        lp_folderRow = new SearchResultListItem(lp_userRow);
        lp_folderRow->setText(SearchResultListItem::FolderColumn, ReversePathname(l_folder.AsString()));
        l_folderNode = NewNode(lp_folderNodes, lp_folderRow);
        l_folderNode += l_userNode;
        l_folderNode += l_folder;
    }

    QTreeWidgetItem* lp_fileRow = new SearchResultListItem(lp_folderRow);
    lp_fileRow->setText(SearchResultListItem::FileColumn, i_result["search_result_file_name"].AsString());
    lp_fileRow->setText(SearchResultListItem::SizeColumn, CommafyNumber(i_result["file_size"].AsInt64()));
    if (sharedFoldersManager)
        lp_fileRow->setText(SearchResultListItem::AttributesColumn, sharedFoldersManager->GetFileItemDisplayString(i_result));

    ExpandWhen(lp_userRow, i_tab["expand_users"]);
    ExpandWhen(lp_folderRow, i_tab["expand_folders"]);
    ItemPtr l_fileNode = NewNode(lp_fileNodes, lp_fileRow);
    l_fileNode += i_result;
    l_fileNode += l_folderNode;
    return lp_userRow;
}

QTreeWidgetItem* SearchForm::GetNodeUserNode(QTreeWidgetItem* ip_row)
{
    if (!ip_row || NodeOfRow("search_results_user_node", ip_row))
        return ip_row;
    if (NodeOfRow("search_results_folder_node", ip_row))
        return ip_row->parent();
    return ip_row->parent() ? ip_row->parent()->parent() : nullptr;
}

void SearchForm::DeleteNode(QTreeWidgetItem* ip_row)
{
    if (!ip_row)
        return;
    const Value l_address(ip_row);
    delete ip_row;
    if (ItemPtr l_node = d.GetType("wish_list_node")->HasItem(l_address))
    {
        if (ItemPtr l_checkBox = l_node["wish_list_node_checkbox"])
            l_checkBox.Remove();
        l_node.Remove();
    }
}

// The tab is the box's own, whichever tab is in front.
void SearchForm::OnFilterTextChanged(QString i_text)
{
    auto* lp_form = qobject_cast<SearchResultsForm*>(sender() ? sender()->parent() : nullptr);
    if (!lp_form)
        return;
    ItemPtr l_tab = d.GetType("search_results_widget")->HasItem(Value(lp_form));
    if (ItemPtr l_entry = l_tab["wish_list_item"])
        l_entry += d.GetType("wish_list_item_filter_text")->GetItem(Value(i_text));
    const SearchResultFilter l_filter(i_text);
    QTreeWidget* lp_tree = lp_form->searchResults();
    for (int l_index = 0; l_index < lp_tree->topLevelItemCount(); ++l_index)
        l_filter.Apply(lp_tree->topLevelItem(l_index));
}
