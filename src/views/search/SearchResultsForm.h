#pragma once

#include <QString>
#include <QWidget>

#include <memory>

#include "store/DataHandler.h"
#include "store/ItemPtr.h"

class QLineEdit;
class QTreeWidget;
class Ui_SearchResultsForm;

// The page of one result tab: the result tree, the related searches of the tab's text beside it,
// and the filter box with the saved filters (kept in the store, listed in every open tab) and the
// default filter of new tabs. The tree never sorts itself; only Sort() orders its rows.
class SearchResultsForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    // A wish-list tab never shows related searches.
    SearchResultsForm(QString i_searchText, bool i_wishList, QWidget* ip_parent = nullptr);
    ~SearchResultsForm() override;

    // Lists the saved filters and follows them from then on.
    void Init();

    QTreeWidget* searchResults() const;
    QLineEdit* filterEdit() const;
    QTreeWidget* CorrelationsWidget() const;

    // The column and order of the next Sort(); sorts nothing now.
    void SetSortingParamters(int i_column, Qt::SortOrder i_order);
    // The related searches of the tab's text, highest rank first; hidden when there are none.
    void PopulateCorrelations();

    void OnSavedFilterAdded(ItemPtr i_filter);
    void OnSavedFilterRemoved(ItemPtr i_filter);

public slots:
    void Sort();
    void OnFilterHelpClicked();
    void OnSearchCorrelations(QString i_searchText);
    void OnFilterTextChanged(QString i_text);
    void OnSaveFilterClicked();
    void OnSavedFiltersBoxIndexChanged(int i_index);
    void OnClearFilterClicked();
    void OnDefaultFilterBoxToggled(bool i_checked);

protected:
    // Looking at the tab clears its notices.
    void showEvent(QShowEvent* ip_event) override;

private:
    std::unique_ptr<Ui_SearchResultsForm> mp_ui;
    int m_sortColumn = 1;
    Qt::SortOrder m_sortOrder = Qt::DescendingOrder;
    QString m_searchText;
    bool m_wishList;
};
