#pragma once

#include <QString>
#include <QWidget>

#include <memory>

#include "store/DataHandler.h"
#include "store/DataLoadedEventHandler.h"
#include "store/ItemPtr.h"

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
    void DataLoaded() override;

    // Opens the result tab of a search, or ties a later wish-list search of a text to the tab
    // that text already has. A wish-list search of a text that is no wish-list entry opens nothing.
    void CreateSearchForm(unsigned int i_token, QString i_text, SearchType i_type);
    // The result tab the user is looking at, or null.
    SearchResultsForm* GetCurrentSearchResultsForm();

    void OnEnteredRoom(ItemPtr i_room);
    void OnLeftRoom(ItemPtr i_room);

public slots:
    void OnSearchEntered();
    void OnTabCloseRequested(int i_index);
    void OnCorrelationClicked(QTreeWidgetItem* ip_item, int i_column);
    void OnCorrelationDoubleClicked(QTreeWidgetItem* ip_item, int i_column);

private:
    // Starts a search of all users with its related searches and opens its tab.
    void SearchAllUsers(const QString& i_text);

    std::unique_ptr<Ui_SearchForm> mp_ui;
};

extern SearchForm* searchForm;
