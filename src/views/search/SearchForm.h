#pragma once

#include <QPoint>
#include <QString>
#include <QWidget>

#include <memory>

#include "store/DataHandler.h"
#include "store/DataLoadedEventHandler.h"
#include "store/ItemPtr.h"

class QTabWidget;
class QTreeWidgetItem;
class SearchResultsForm;
class Ui_SearchForm;

// The kind of a search, which decides where its result tab opens and with which icon. Any other
// value is a search of all users.
enum SearchType
{
    GlobalSearch = 0,
    WishListSearch = 1,
    UserListSearch = 2,
    RoomSearch = 3,
};

// The search view of the main window: manual searches of all users, the user list or a room,
// each with its result tab; the wish-list searches beside the wish list; the searches other users
// sent us. A result tab is tied to its searches by a `search_results_widget` item valued by the
// tab's address. There is one, reached through `searchForm`.
class SearchForm : public QWidget, public DataHandler, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    explicit SearchForm(QWidget* ip_parent = nullptr);
    ~SearchForm() override;

    // Declares the view's types, toolbar sets and handlers; once, before the store is loaded.
    void Init();
    // Lists the stored wish-list entries.
    void DataLoaded() override;

    // Opens the result tab of a search, or ties a later wish-list search of a text to the tab
    // that text already has. A wish-list search of a text that is no wish-list entry opens nothing.
    void CreateSearchForm(unsigned int i_token, QString i_text, SearchType i_type);
    // The result tab the user is looking at, or null.
    SearchResultsForm* GetCurrentSearchResultsForm();

    // Adds one result to the tab under its user's and folder's rows, made when missing; returns
    // the user's row.
    QTreeWidgetItem* AddSearchResult(ItemPtr i_tab, ItemPtr i_result);
    // The user row above any row of a result tree.
    static QTreeWidgetItem* GetNodeUserNode(QTreeWidgetItem* ip_row);
    // Whether result a is queued before b: by folder, then by file name.
    static bool CompareSearchResults(ItemPtr i_a, ItemPtr i_b);
    // Queues one result's file, records the search text that found it on the download and
    // marks the result's row.
    static void DownloadResult(ItemPtr i_result, ItemPtr i_searchText);
    // Builds the wish-list row of an entry; once per entry.
    void OnWishListItemAdded(ItemPtr i_entry);

    void OnEnteredRoom(ItemPtr i_room);
    void OnLeftRoom(ItemPtr i_room);
    void OnWishListItemRemoved(ItemPtr i_entry);

public slots:
    void OnSearchEntered();
    void OnTabCloseRequested(int i_index);
    void OnWishTabCloseRequested(int i_index);
    void OnResultDoubleClicked(QTreeWidgetItem* ip_row, int i_column);
    void OnActionBarTriggered(QWidget* ip_widget, QString i_action);
    void OnUserSearchResults(ItemPtr i_searchResults);
    // The context menu of a result tab's tree, the sender: the row's entries, then its user's.
    void OnSearchResultsContextMenuRequested(QPoint i_pos);
    void OnFilterTextChanged(QString i_text);
    void OnWishListItemCheckStateChanged(int i_state);
    void OnCorrelationClicked(QTreeWidgetItem* ip_item, int i_column);
    void OnCorrelationDoubleClicked(QTreeWidgetItem* ip_item, int i_column);
    void OnWishListItemChanged(QTreeWidgetItem* ip_row, int i_column);
    // Deletes a row, and its wish-list nodes when it is one; queued from the row's own signals.
    void DeleteNode(QTreeWidgetItem* ip_row);
    void OnWishListContextMenuRequested(QPoint i_point);
    void OnRemoveWishListItemRequested();

private:
    // Starts a search of all users with its related searches and opens its tab.
    void SearchAllUsers(const QString& i_text);
    // Closes a result tab and forgets its searches and their replies.
    void CloseResultTab(QTabWidget* ip_tabs, int i_index);
    void ToggleExpansion(SearchResultsForm* ip_form, const QString& i_flag);
    void OrderBy(SearchResultsForm* ip_form, bool i_fastest);
    void AddOrRemoveWish();
    void StopSearch();
    void RequestDeleteNode(QTreeWidgetItem* ip_row);

    std::unique_ptr<Ui_SearchForm> mp_ui;
    // Set while a wish-list row is built, so that its own change signals are not taken for edits.
    bool m_addingWishListRow = false;
};

extern SearchForm* searchForm;
