#include "views/search/SearchForm.h"

#include <QHeaderView>
#include <QIcon>
#include <QLineEdit>
#include <QTreeWidget>

#include "resources/Resources.h"
#include "peer/PeerMessenger.h"
#include "server/Server.h"
#include "shell/ActionSetToolBar.h"
#include "shell/SizeManager.h"
#include "shell/UIFunctions.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/GeneralFunctions.h"
#include "store/SchemaDeclaration.h"
#include "store/Settings.h"
#include "ui_SearchForm.h"
#include "views/search/SearchResultListItem.h"
#include "views/search/SearchResultsForm.h"

SearchForm* searchForm = nullptr;

namespace
{
const char* const RoomEntryPrefix = "Room: ";
const char* const AllTarget = "All";
const char* const UserListTarget = "User List";

const TypeDeclaration TabTypes[] = {
    {"search_results_widget", Primary, false},
    {"search_results_widget_alerted", Leaf, true},
    {"expand_folders", Leaf, false},
    {"expand_users", Leaf, false},
    {"search_results_user_node", Intermediate, false},
    {"search_results_folder_node", Intermediate, false},
    {"search_result_node", Intermediate, false},
};

// A tab owns its user rows' nodes and a user row its folder rows'; a file row's node goes with
// its result and its folder row.
const RelationDeclaration TabRelations[] = {
    {"search_results_widget", "search_request", One, Many},
    {"search_results_widget", "wish_list_item", One, One},
    {"search_results_widget", "search_results_widget_alerted", Many, One},
    {"search_results_widget", "expand_folders", Many, One},
    {"search_results_widget", "expand_users", Many, One},
    {"search_results_widget", "search_results_user_node", One, Many, true},
    {"search_results_user_node", "user", Many, One},
    {"search_results_user_node", "search_results_folder_node", One, Many, true},
    {"search_results_folder_node", "search_result_file_folder", Many, One},
    {"search_result_node", "search_result", One, One},
    {"search_results_folder_node", "search_result_node", One, Many},
};

const ToolbarAction ResultActions[] = {
    {"search_results", "order_by_available", "Order by Available", ":/icons/search_icon"},
    {"search_results", "order_by_fastest", "Order by Fastest", ":/icons/search_icon"},
    {"search_results", "expand_folders", "Expand Folders", ":/icons/search_icon"},
    {"search_results", "expand_users", "Expand Users", ":/icons/search_icon"},
    {"search_results", "add_remove_wishlist", "Add to Wishlist", ":/icons/wishlist_icon"},
    {"search_results", "stop_search", "Stop Search", ":/icons/stop_icon"},
};

const ToolbarAction WishListActions[] = {
    {"wish_list", "enable_all_wish_list_items", "Enable All Wish List Searches", ":/icons/wishlist_icon"},
    {"wish_list", "disable_all_wish_list_items", "Disable All Wish List Searches", ":/icons/wishlist_icon"},
};

// The texts a new tab's toolbar starts with: rows ordered by free slots, every row expanded.
const std::pair<const char*, const char*> NewTabActionTexts[] = {
    {"order_by_available", "Order by Available [on]"},
    {"order_by_fastest", "Order by Fastest"},
    {"expand_folders", "Expand Folders [on]"},
    {"expand_users", "Expand Users [on]"},
};

Type* T(const char* i_name)
{
    return d.GetType(i_name);
}

const char* TabIcon(SearchType i_type)
{
    switch (i_type)
    {
    case WishListSearch:
        return ":/icons/wishlist_icon";
    case UserListSearch:
        return ":/icons/users_icon";
    case RoomSearch:
        return ":/icons/room_icon";
    default:
        return ":/icons/search_icon";
    }
}
} // namespace

SearchForm::SearchForm(QWidget* ip_parent)
    : QWidget(ip_parent), mp_ui(std::make_unique<Ui_SearchForm>())
{
    InitResources();
    searchForm = this;
    mp_ui->setupUi(this);
    mp_ui->wishList->setHeaderLabel(tr("Wish List Item"));
}

SearchForm::~SearchForm()
{
    if (searchForm == this)
        searchForm = nullptr;
}

void SearchForm::Init()
{
    connect(peerMessenger, &PeerMessenger::SearchResults, this, &SearchForm::OnUserSearchResults);
    DeclareTypes(TabTypes);
    DeclareRelations(TabRelations);
    T("wish_list_item")->m_removedEvent.AddHandler(NewEventHandler(this, &SearchForm::OnWishListItemRemoved));

    connect(mp_ui->searchTabControl, &QTabWidget::tabCloseRequested, this,
            &SearchForm::OnTabCloseRequested);
    connect(mp_ui->wishListTabControl, &QTabWidget::tabCloseRequested, this,
            &SearchForm::OnWishTabCloseRequested);
    connect(actionBar, &ActionSetToolBar::ActionTriggered, this, &SearchForm::OnActionBarTriggered);

    actionBar->AddSetActions(ResultActions);

    QTreeWidget* lp_wishList = mp_ui->wishList;
    lp_wishList->setColumnCount(2);
    lp_wishList->setColumnWidth(0, 20);
    lp_wishList->header()->setSectionResizeMode(QHeaderView::Fixed);
    lp_wishList->setHeaderLabels({QString(), tr("Wish List Search")});

    DeclareTypes({{"wish_list_node", Primary, false},
                  {"wish_list_node_checkbox", Primary, false},
                  {"wish_list_item_filter_text", Leaf, false}});
    DeclareRelations({{"wish_list_item", "wish_list_node", One, One},
                      {"wish_list_node", "wish_list_node_checkbox", One, One},
                      {"wish_list_item", "wish_list_item_filter_text", Many, One}});
    dataSaver->AddSavedType("wish_list_item_filter_text");

    actionBar->AddSetActions(WishListActions);
    actionBar->RegisterWidget(lp_wishList, "wish_list");
    lp_wishList->setSortingEnabled(true);
    lp_wishList->sortByColumn(1, Qt::AscendingOrder);

    // A download keeps the text of the search that found it through the transfer queues' own
    // relation and saved type.
    dataSaver->AddDataLoadedEventHandler(this);

    RegisterWidgetForTabFocus(mp_ui->searchEdit, 1);
    RegisterWidgetForTabFocus(lp_wishList, 1);

    DeclareTypes({{"saved_filter", Primary, false}});
    dataSaver->AddSavedType("saved_filter");

    mp_ui->searchTargetBox->addItem(AllTarget);
    mp_ui->searchTargetBox->addItem(UserListTarget);

    const std::pair<PathNodeRelation, void (SearchForm::*)(ItemPtr)> l_roomPaths[] = {
        {NotifyOnConnect, &SearchForm::OnEnteredRoom},
        {NotifyOnDisconnect, &SearchForm::OnLeftRoom},
    };
    for (const auto& [l_relation, l_handler] : l_roomPaths)
    {
        PathNode* lp_root = new PathNode(&d, "room");
        new PathNode(lp_root, "in_room", l_relation);
        d.AddPathEventHandler(lp_root, NewEventHandler(this, l_handler));
    }

    mp_ui->tab->Init();
    connect(lp_wishList, &QTreeWidget::itemChanged, this, &SearchForm::OnWishListItemChanged);

    qRegisterMetaType<QTreeWidgetItem*>("QTreeWidgetItem*");
}

void SearchForm::DataLoaded()
{
    for (ItemPtr l_entry : g("wish_list_item"))
        OnWishListItemAdded(l_entry);
    const QList<int> l_sizes{width() - 200, 200};
    mp_ui->searchSplitter->setSizes(l_sizes);
    sizeManager->RegisterSplitter("wish_list_splitter", mp_ui->searchSplitter, l_sizes);
}

void SearchForm::OnSearchEntered()
{
    const QString l_text = mp_ui->searchEdit->text().trimmed();
    if (l_text.isEmpty() || !gp_server)
        return;
    const QString l_target = mp_ui->searchTargetBox->currentText();
    if (l_target == QLatin1String(AllTarget))
        SearchAllUsers(l_text);
    else if (l_target == QLatin1String(UserListTarget))
        CreateSearchForm(gp_server->SearchUserList(l_text), l_text, UserListSearch);
    else if (l_target.startsWith(QLatin1String(RoomEntryPrefix)))
        CreateSearchForm(gp_server->SearchRoom(l_target.mid(6), l_text), l_text, RoomSearch);
    mp_ui->searchEdit->clear();
}

void SearchForm::SearchAllUsers(const QString& i_text)
{
    const unsigned int l_token = gp_server->FileSearch(i_text, false);
    gp_server->GetSearchCorrelations(i_text);
    CreateSearchForm(l_token, i_text, GlobalSearch);
}

void SearchForm::CreateSearchForm(unsigned int i_token, QString i_text, SearchType i_type)
{
    if (i_type < GlobalSearch || i_type > RoomSearch)
        i_type = GlobalSearch;
    const bool l_wishList = i_type == WishListSearch;
    ItemPtr l_request = T("search_request")->HasItem(Value(i_token));
    ItemPtr l_wish;
    if (l_wishList)
    {
        l_wish = T("wish_list_item")->HasItem(Value(i_text));
        if (!l_wish)
            return;
        // Every later search of the text gathers its replies in the one tab.
        if (ItemPtr l_tab = l_wish["search_results_widget"])
        {
            if (l_request)
                l_tab += l_request;
            return;
        }
    }

    auto* lp_form = new SearchResultsForm(i_text, l_wishList, this);
    QTreeWidget* lp_tree = lp_form->searchResults();
    lp_tree->setColumnCount(7);
    QHeaderView* lp_header = lp_tree->header();
    lp_header->setStretchLastSection(false);
    const int l_widths[] = {100, 40, 40, 150, 170, 70};
    for (int l_column = 0; l_column < 6; ++l_column)
        lp_tree->setColumnWidth(l_column, l_widths[l_column]);
    using Row = SearchResultListItem;
    FitColumn(lp_tree, Row::FreeColumn, l_widths[Row::FreeColumn], {"Y", QString::number(LargestFigure::Queue)});
    FitColumn(lp_tree, Row::SpeedColumn, l_widths[Row::SpeedColumn], {Row::SpeedText(LargestFigure::BytesPerSecond)});
    FitColumn(lp_tree, Row::SizeColumn, l_widths[Row::SizeColumn], {CommafyNumber(LargestFigure::Size)});
    lp_header->setSectionsMovable(false);
    lp_tree->setHeaderLabels({tr("User"), tr("Free"), tr("K/s"), tr("Folder"), tr("File"), tr("Size"),
                              tr("Attributes")});
    lp_header->setSectionsClickable(false);
    lp_tree->expandAll();

    QTabWidget* lp_tabs = l_wishList ? mp_ui->wishListTabControl : mp_ui->searchTabControl;
    lp_tabs->addTab(lp_form, QIcon(TabIcon(i_type)), LiteralAmpersands(i_text));

    ItemPtr l_tab = T("search_results_widget")->GetItem(Value(lp_form));
    if (l_request)
        l_tab += l_request;
    QLineEdit* lp_filter = lp_form->filterEdit();
    if (l_wishList)
    {
        l_tab += l_wish;
        if (ItemPtr l_filter = l_wish["wish_list_item_filter_text"])
            lp_filter->setText(l_filter.AsString());
    }
    const QString l_default = GetSetting("default_search_filter");
    if (!l_default.isEmpty() && lp_filter->text().isEmpty())
        lp_filter->setText(l_default);

    actionBar->RegisterWidget(lp_form, "search_results");
    if (l_wishList)
    {
        actionBar->SetWidgetActionText(lp_form, "add_remove_wishlist", tr("Remove from Wish List"));
        actionBar->SetWidgetActionHidden(lp_form, "stop_search", true);
    }
    for (const auto& [l_id, l_text] : NewTabActionTexts)
        actionBar->SetWidgetActionText(lp_form, l_id, tr(l_text));
    l_tab += T("expand_folders")->GetItem("yes");
    l_tab += T("expand_users")->GetItem("yes");
    lp_form->SetSortingParamters(1, Qt::DescendingOrder);
    if (!l_wishList)
        FocusWidget(lp_tree);

    connect(lp_tree, &QTreeWidget::itemDoubleClicked, this, &SearchForm::OnResultDoubleClicked);
    lp_tree->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(lp_tree, &QTreeWidget::customContextMenuRequested, this,
            &SearchForm::OnSearchResultsContextMenuRequested);
    connect(lp_filter, &QLineEdit::textChanged, this, &SearchForm::OnFilterTextChanged);
    sizeManager->RegisterTreeWidget("search_results", lp_tree);
    lp_form->Init();
    connect(lp_form->CorrelationsWidget(), &QTreeWidget::itemClicked, this,
            &SearchForm::OnCorrelationClicked);
    connect(lp_form->CorrelationsWidget(), &QTreeWidget::itemDoubleClicked, this,
            &SearchForm::OnCorrelationDoubleClicked);
}

void SearchForm::OnTabCloseRequested(int i_index)
{
    CloseResultTab(mp_ui->searchTabControl, i_index);
}

// A wish-list entry stays on the list: its next results open a new tab.
void SearchForm::OnWishTabCloseRequested(int i_index)
{
    CloseResultTab(mp_ui->wishListTabControl, i_index);
}

void SearchForm::CloseResultTab(QTabWidget* ip_tabs, int i_index)
{
    QWidget* lp_page = ip_tabs->widget(i_index);
    if (!lp_page)
        return;
    ItemPtr l_tab = T("search_results_widget")->HasItem(Value(lp_page));
    if (!l_tab)
        return;
    const ItemSet l_requests = l_tab.GetItems("search_request");
    l_tab.Remove();
    ip_tabs->removeTab(i_index);
    delete lp_page;
    // The search goes on at the other users; without its request their replies are dropped.
    for (ItemPtr l_request : l_requests)
    {
        l_request.GetItems("search_results").Remove();
        l_request.Remove();
    }
    d.RemoveDisconnectedItems();
}

SearchResultsForm* SearchForm::GetCurrentSearchResultsForm()
{
    for (QTabWidget* lp_tabs : {mp_ui->searchTabControl, mp_ui->wishListTabControl})
        if (lp_tabs->isVisible())
            return qobject_cast<SearchResultsForm*>(lp_tabs->currentWidget());
    return nullptr;
}

void SearchForm::OnEnteredRoom(ItemPtr i_room)
{
    mp_ui->searchTargetBox->addItem(RoomEntryPrefix + i_room.AsString());
}

void SearchForm::OnLeftRoom(ItemPtr i_room)
{
    const int l_index = mp_ui->searchTargetBox->findText(RoomEntryPrefix + i_room.AsString(),
                                                          Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (l_index >= 0)
        mp_ui->searchTargetBox->removeItem(l_index);
}

void SearchForm::OnCorrelationClicked(QTreeWidgetItem* ip_item, int /*i_column*/)
{
    if (ip_item)
        mp_ui->searchEdit->setText(ip_item->text(0));
}

void SearchForm::OnCorrelationDoubleClicked(QTreeWidgetItem* ip_item, int /*i_column*/)
{
    if (!ip_item || !gp_server)
        return;
    SearchAllUsers(ip_item->text(0));
    mp_ui->searchEdit->clear();
}
