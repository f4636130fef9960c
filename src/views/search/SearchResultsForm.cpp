#include "views/search/SearchResultsForm.h"

#include "server/Server.h"
#include "shell/EventToolBar.h"
#include "shell/UIFunctions.h"
#include "store/Data.h"
#include "store/Settings.h"
#include "ui_SearchResultsForm.h"
#include "views/search/FilterHelpDialog.h"

namespace
{
const char* const SaveText = "Save Filter";
const char* const RemoveText = "Remove Filter";

Type* SavedFilters()
{
    return d.GetType("saved_filter");
}

// Saved filters are compared whatever their case and blanks.
QString FilterKey(const QString& i_text)
{
    return i_text.simplified().toLower();
}
} // namespace

SearchResultsForm::SearchResultsForm(QString i_searchText, bool i_wishList, QWidget* ip_parent)
    : QWidget(ip_parent),
      mp_ui(std::make_unique<Ui_SearchResultsForm>()),
      m_searchText(std::move(i_searchText)),
      m_wishList(i_wishList)
{
    mp_ui->setupUi(this);
    mp_ui->searchResultsTreeWidget->setSortingEnabled(false);
    mp_ui->correlationsWidget->hide();
    mp_ui->correlationsWidget->setHeaderLabels({tr("related searches")});
    if (m_wishList)
        return;
    PopulateCorrelations();
    if (gp_server)
        connect(gp_server, &Server::SearchCorrelations, this, &SearchResultsForm::OnSearchCorrelations);
}

SearchResultsForm::~SearchResultsForm() = default;

void SearchResultsForm::Init()
{
    RegisterWidgetForTabFocus(mp_ui->searchResultsTreeWidget, 2);
    for (const auto& l_filter : SavedFilters()->ItemsByValue())
        mp_ui->savedFiltersBox->addItem(ItemPtr(l_filter.second).AsString());
    SavedFilters()->m_newItemEvent.AddHandler(NewEventHandler(this, &SearchResultsForm::OnSavedFilterAdded));
    SavedFilters()->m_removedEvent.AddHandler(NewEventHandler(this, &SearchResultsForm::OnSavedFilterRemoved));
}

QTreeWidget* SearchResultsForm::searchResults() const
{
    return mp_ui->searchResultsTreeWidget;
}

QLineEdit* SearchResultsForm::filterEdit() const
{
    return mp_ui->filterEdit;
}

QTreeWidget* SearchResultsForm::CorrelationsWidget() const
{
    return mp_ui->correlationsWidget;
}

void SearchResultsForm::SetSortingParamters(int i_column, Qt::SortOrder i_order)
{
    m_sortColumn = i_column;
    m_sortOrder = i_order;
}

void SearchResultsForm::Sort()
{
    mp_ui->searchResultsTreeWidget->sortByColumn(m_sortColumn, m_sortOrder);
}

void SearchResultsForm::PopulateCorrelations()
{
    QTreeWidget* lp_list = mp_ui->correlationsWidget;
    lp_list->clear();
    lp_list->hide();
    ItemPtr l_text = d.GetType("search_request_text")->GetItem(Value(m_searchText));
    const std::vector<ItemPtr> l_correlations =
        l_text.GetItems("search_correlation").SortNumericBy("correlation_rank", false);
    if (l_correlations.empty())
        return;
    for (ItemPtr l_correlation : l_correlations)
        new QTreeWidgetItem(lp_list, {l_correlation["correlation_text"].AsString()});
    lp_list->show();
    mp_ui->splitter->setSizes({width() - 150, 150});
}

void SearchResultsForm::OnSearchCorrelations(QString i_searchText)
{
    if (i_searchText == m_searchText)
        PopulateCorrelations();
}

void SearchResultsForm::OnFilterTextChanged(QString i_text)
{
    QPushButton* lp_save = mp_ui->saveFilterButton;
    const bool l_saved = static_cast<bool>(SavedFilters()->HasItem(Value(FilterKey(i_text))));
    if (l_saved && lp_save->text() == tr(SaveText))
        lp_save->setText(tr(RemoveText));
    else if (!l_saved && lp_save->text() == tr(RemoveText))
        lp_save->setText(tr(SaveText));
    // The default is the text as typed; a saved filter is not.
    mp_ui->defaultFilterBox->setChecked(!i_text.isEmpty() &&
                                        GetSetting("default_search_filter") == i_text);
}

void SearchResultsForm::OnSaveFilterClicked()
{
    const QString l_key = FilterKey(mp_ui->filterEdit->text());
    if (ItemPtr l_filter = SavedFilters()->HasItem(Value(l_key)))
        l_filter.Remove();
    else if (!l_key.isEmpty())
        SavedFilters()->NewItem(Value(l_key));
}

void SearchResultsForm::OnSavedFilterAdded(ItemPtr i_filter)
{
    mp_ui->savedFiltersBox->addItem(i_filter.AsString());
    OnFilterTextChanged(mp_ui->filterEdit->text());
}

void SearchResultsForm::OnSavedFilterRemoved(ItemPtr i_filter)
{
    // The first entry is the box's caption, which a saved filter may spell the same.
    QComboBox* lp_box = mp_ui->savedFiltersBox;
    const QString l_text = i_filter.AsString();
    for (int l_index = 1; l_index < lp_box->count(); ++l_index)
        if (lp_box->itemText(l_index) == l_text)
        {
            lp_box->removeItem(l_index);
            break;
        }
    OnFilterTextChanged(mp_ui->filterEdit->text());
}

void SearchResultsForm::OnSavedFiltersBoxIndexChanged(int i_index)
{
    if (i_index <= 0)
        return;
    mp_ui->filterEdit->setText(mp_ui->savedFiltersBox->itemText(i_index));
    mp_ui->savedFiltersBox->setCurrentIndex(0);
}

void SearchResultsForm::OnClearFilterClicked()
{
    mp_ui->filterEdit->clear();
}

void SearchResultsForm::OnDefaultFilterBoxToggled(bool i_checked)
{
    const QString l_text = mp_ui->filterEdit->text();
    if (!i_checked)
    {
        if (ItemPtr l_setting = d.GetType("global")->HasItem("default_search_filter"))
            l_setting.Disconnect("global_value");
    }
    else if (l_text.isEmpty())
        mp_ui->defaultFilterBox->setChecked(false);
    else
        SetSetting("default_search_filter", l_text);
}

void SearchResultsForm::OnFilterHelpClicked()
{
    FilterHelpDialog::Open(this);
}

void SearchResultsForm::showEvent(QShowEvent* ip_event)
{
    QWidget::showEvent(ip_event);
    if (eventToolBar)
        eventToolBar->RemoveEvents(this);
}
