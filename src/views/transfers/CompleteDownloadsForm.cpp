#include "views/transfers/CompleteDownloadsForm.h"

#include <QDateTime>
#include <QHeaderView>

#include <iterator>

#include "shell/UIFunctions.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/SchemaDeclaration.h"
#include "transfers/TransferQueueManager.h"
#include "ui_CompleteDownloadsForm.h"
#include "views/transfers/CompleteDownloadItem.h"

CompleteDownloadsForm* completeDownloadsForm = nullptr;

namespace
{
const char* const NodeType = "complete_download_node";

struct Column
{
    const char* title;
    int width;
    const char* part;
};

const Column Columns[] = {
    {"File", 250, "complete_download_filename"},
    {"Folder", 250, "complete_download_relative_folder"},
    {"User", 100, "user"},
    {"Size", 100, "complete_download_file_size"},
    {"Completion time", 150, "complete_download_completion_time"},
};
const int SizeColumn = 3;
const int TimeColumn = 4;

// A stamp of every weekday in every month, with two-digit days and the last second of the day:
// how wide a stamp is depends on the names of the day and the month.
QStringList CompletionTimes()
{
    QStringList l_times;
    const int l_year = QDate::currentDate().year();
    for (int l_month = 1; l_month <= 12; ++l_month)
        for (int l_day = 10; l_day < 17; ++l_day)
            l_times << TransferTimeStamp(QDateTime(QDate(l_year, l_month, l_day), QTime(23, 59, 59)));
    return l_times;
}
} // namespace

CompleteDownloadsForm::CompleteDownloadsForm(QWidget* ip_parent) : QWidget(ip_parent)
{
    completeDownloadsForm = this;
    mp_ui = new Ui_CompleteDownloadsForm;
    mp_ui->setupUi(this);
    QStringList l_titles;
    for (const Column& l_column : Columns)
        l_titles << tr(l_column.title);
    mp_ui->downloadList->setHeaderLabels(l_titles);
    for (int l_column = 0; l_column < l_titles.size(); ++l_column)
        mp_ui->downloadList->setColumnWidth(l_column, Columns[l_column].width);
    FitColumn(mp_ui->downloadList, SizeColumn, Columns[SizeColumn].width, {QString::number(LargestFigure::Size)});
    FitColumn(mp_ui->downloadList, TimeColumn, Columns[TimeColumn].width, CompletionTimes());
    mp_ui->downloadList->header()->setStretchLastSection(false);
    mp_ui->downloadList->header()->setSectionsMovable(false);
}

// The rows go with the list; their nodes would name freed rows.
CompleteDownloadsForm::~CompleteDownloadsForm()
{
    if (completeDownloadsForm == this)
        completeDownloadsForm = nullptr;
    if (Type* lp_nodes = d.HasType(NodeType))
        lp_nodes->GetItems().Remove();
    delete mp_ui;
}

QTreeWidget* CompleteDownloadsForm::List() const
{
    return mp_ui->downloadList;
}

void CompleteDownloadsForm::Init(bool i_storeLoaded)
{
    // A list made again after one was closed finds its type declared.
    if (!d.HasType(NodeType))
    {
        DeclareTypes({{NodeType, Primary, false}});
        DeclareRelations({{NodeType, "complete_download", One, One}});
    }
    if (transferQueueManager)
        connect(transferQueueManager, &TransferQueueManager::CompleteDownloadAdded, this,
                &CompleteDownloadsForm::OnCompleteDownloadAdded);
    if (i_storeLoaded)
        DataLoaded();
    else if (dataSaver)
        dataSaver->AddDataLoadedEventHandler(this);
}

// Every record, then one sort. A record that has its row already keeps it.
void CompleteDownloadsForm::DataLoaded()
{
    QList<QTreeWidgetItem*> l_rows;
    for (ItemPtr l_record : g("complete_download"))
        if (CompleteDownloadItem* lp_row = RowOf(l_record))
            Fill(lp_row, l_record);
        else
            l_rows << NewRow(l_record);
    mp_ui->downloadList->addTopLevelItems(l_rows);
    mp_ui->downloadList->sortItems(0, Qt::DescendingOrder);
}

// The record's row in this list, found through its node; null when it has none.
CompleteDownloadItem* CompleteDownloadsForm::RowOf(ItemPtr i_record) const
{
    const ItemPtr l_node = i_record[NodeType];
    if (!l_node)
        return nullptr;
    auto* lp_row = l_node.AsPointer<QTreeWidgetItem>();
    // Only the address is compared until the row is known to be one of ours.
    if (mp_ui->downloadList->indexOfTopLevelItem(lp_row) < 0)
        return nullptr;
    return static_cast<CompleteDownloadItem*>(lp_row);
}

void CompleteDownloadsForm::Fill(CompleteDownloadItem* ip_row, ItemPtr i_record)
{
    for (int l_column = 0; l_column < int(std::size(Columns)); ++l_column)
        ip_row->setText(l_column, i_record[Columns[l_column].part].AsString());
    ip_row->SetCompletionTime(i_record["complete_download_completion_time"].AsString());
}

// A row not yet in the list.
CompleteDownloadItem* CompleteDownloadsForm::NewRow(ItemPtr i_record)
{
    auto* lp_row = new CompleteDownloadItem;
    Fill(lp_row, i_record);
    i_record += d.GetType(NodeType)->GetItem(Value(static_cast<QTreeWidgetItem*>(lp_row)));
    return lp_row;
}

// The rows are in order already: the record's row, new or taken out to be brought up to date,
// goes where it belongs, ahead of equal times.
void CompleteDownloadsForm::OnCompleteDownloadAdded(ItemPtr i_record)
{
    QTreeWidget* lp_list = mp_ui->downloadList;
    CompleteDownloadItem* lp_row = RowOf(i_record);
    if (lp_row)
    {
        lp_list->takeTopLevelItem(lp_list->indexOfTopLevelItem(lp_row));
        Fill(lp_row, i_record);
    }
    else
        lp_row = NewRow(i_record);
    int l_low = 0;
    int l_high = lp_list->topLevelItemCount();
    while (l_low < l_high)
    {
        const int l_middle = (l_low + l_high) / 2;
        if (lp_row->SortKey() < static_cast<CompleteDownloadItem*>(lp_list->topLevelItem(l_middle))->SortKey())
            l_low = l_middle + 1;
        else
            l_high = l_middle;
    }
    lp_list->insertTopLevelItem(l_low, lp_row);
}
