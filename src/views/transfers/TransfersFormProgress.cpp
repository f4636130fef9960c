// The status column, the row colours and the progress figures of the transfer lists.
#include <QBrush>
#include <QColor>
#include <QTreeWidget>

#include <algorithm>
#include <string>

#include "shell/RowNodes.h"
#include "store/Data.h"
#include "store/GeneralFunctions.h"
#include "store/Settings.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferStatus.h"
#include "views/transfers/TransferBarDelegate.h"
#include "views/transfers/TransferGroupTally.h"
#include "views/transfers/TransfersForm.h"

namespace
{
const int StatusColumn = 3;
const int ProgressColumn = 4;
const int TimeLeftColumn = 5;
const int SpeedColumn = 6;
const int PlaceColumn = 8;

const char* ColorSetting(const QString& i_status)
{
    using namespace transfer_status;
    if (i_status == Complete)
        return "color_transfer_complete";
    if (i_status == Downloading || i_status == Uploading || i_status == Connecting)
        return "color_transfer_in_progress";
    if (i_status == Queued)
        return "color_transfer_queued";
    if (i_status == Denied || i_status == Aborted || i_status == LocalError)
        return "color_transfer_failed";
    return "color_transfer_other";
}

// Sizes come from other users: a percentage is always a number from 0 to 100.
double ClampedPercent(double i_percent)
{
    return i_percent >= 0.0 && i_percent <= 100.0 ? i_percent : (i_percent > 100.0 ? 100.0 : 0.0);
}

void ProgressStats(const ItemSet& i_entries, bool i_upload, qint64& o_done, qint64& o_left,
                   qint64& o_total)
{
    const TransferGroupTally l_tally = TransferGroupTally::Of(i_entries, i_upload);
    o_done = l_tally.Done();
    o_left = l_tally.Left();
    o_total = l_tally.Total();
}

double GroupPercent(const TransferGroupTally& i_tally)
{
    return ClampedPercent(double(i_tally.Done()) * 100.0 / double(i_tally.Total()));
}

qint64 SecondsLeft(qint64 i_bytesLeft, qint32 i_speed)
{
    return i_speed > 0 ? std::max<qint64>(i_bytesLeft, 0) / i_speed : 0;
}
} // namespace

void TransfersForm::SetItemColorByStatus(QTreeWidgetItem* ip_row, const QString& i_status)
{
    const QBrush l_brush(QColor(GetSetting(ColorSetting(i_status))));
    for (int l_column = 0; l_column < ip_row->columnCount(); ++l_column)
        ip_row->setForeground(l_column, l_brush);
}

QString TransfersForm::AggregateStatus(const ListKind& i_kind, const ItemSet& i_entries)
{
    const bool l_upload = &i_kind == &Uploads;
    return TransferGroupTally::Of(i_entries, l_upload).Status(l_upload);
}

QString TransfersForm::GetDownloadEntriesAggregateStatus(const ItemSet& i_entries)
{
    return AggregateStatus(Downloads, i_entries);
}

QString TransfersForm::GetUploadEntriesAggregateStatus(const ItemSet& i_entries)
{
    return AggregateStatus(Uploads, i_entries);
}

void TransfersForm::ShowGroupStatus(const ListKind& i_kind, QTreeWidgetItem* ip_row)
{
    const TransferGroupTally* lp_tally = (this->*i_kind.tallies).Find(ip_row);
    if (!lp_tally)
        return;
    ShowGroupAggregate(i_kind, ip_row, lp_tally->Status(&i_kind == &Uploads));
}

// An open group row leaves its status column to the rows below it.
void TransfersForm::ShowGroupAggregate(const ListKind& i_kind, QTreeWidgetItem* ip_row, const QString& i_status)
{
    if (!Held(i_kind).IsOpen(ip_row))
        ip_row->setText(StatusColumn, i_status);
    SetItemColorByStatus(ip_row, i_status);
}

void TransfersForm::ShowEntryStatus(const ListKind& i_kind, ItemPtr i_entry, ItemPtr i_status)
{
    QTreeWidgetItem* lp_row = RowOfNode(i_entry[i_kind.fileNode]);
    if (!lp_row)
        return;
    QTreeWidgetItem* lp_folderRow = Held(i_kind).Parent(lp_row);
    QTreeWidgetItem* lp_userRow = lp_folderRow ? Held(i_kind).Parent(lp_folderRow) : nullptr;
    const QString l_status = i_status.AsString();
    const bool l_complete = l_status == transfer_status::Complete;
    if (&i_kind == &Downloads)
    {
        SetItemColorByStatus(lp_row, l_status);
        if (l_complete)
        {
            ++m_pendingCompletions[i_entry.Get()];
            emit DownloadComplete(i_entry);
            lp_row->setText(ProgressColumn, QString());
        }
        lp_row->setText(PlaceColumn, QString());
    }
    else
    {
        if (l_complete)
            lp_row->setText(ProgressColumn, QString());
        SetItemColorByStatus(lp_row, l_status);
    }
    QString l_shown = l_status;
    if (l_status == transfer_status::Denied)
        if (const ItemPtr l_reason = i_entry["denial_reason"])
            l_shown = l_reason.AsString();
    lp_row->setText(StatusColumn, l_shown.toLower());
    (this->*i_kind.tallies).Recount(i_entry);
    if (m_loadingRows)
        return;
    ShowGroupStatus(i_kind, lp_folderRow);
    ShowGroupStatus(i_kind, lp_userRow);
    UpdateActiveTransferCounts();
}

void TransfersForm::OnDownloadEntryStatusChange(ConnectionInfo& i_info)
{
    ShowEntryStatus(Downloads, i_info.from, i_info.to);
}

void TransfersForm::OnUploadEntryStatusChange(ConnectionInfo& i_info)
{
    m_idleUploads.Note(ItemPtr(i_info.from));
    ShowEntryStatus(Uploads, i_info.from, i_info.to);
}

void TransfersForm::OnDownloadPositionChange(ConnectionInfo& i_info)
{
    m_downloadTallies.Reposition(i_info.from);
}

void TransfersForm::OnUploadPositionChange(ConnectionInfo& i_info)
{
    m_uploadTallies.Reposition(i_info.from);
}

void TransfersForm::OnDownloadSizeChange(ConnectionInfo& i_info)
{
    m_downloadTallies.Resize(i_info.from);
}

void TransfersForm::OnUploadFileChange(ConnectionInfo& i_info)
{
    m_uploadTallies.Resize(i_info.from);
}

void TransfersForm::OnSharedFileSizeChange(ConnectionInfo& i_info)
{
    for (ItemPtr l_upload : ItemPtr(i_info.from).GetItems("upload_entry"))
        m_uploadTallies.Resize(l_upload);
}

void TransfersForm::RecolorList(const ListKind& i_kind)
{
    for (ItemPtr l_node : g(i_kind.fileNode))
        if (QTreeWidgetItem* lp_row = RowOfNode(l_node))
            SetItemColorByStatus(lp_row, l_node[i_kind.entryType][i_kind.statusType].AsString());
}

void TransfersForm::RecolorEntries()
{
    RecolorList(Downloads);
    RecolorList(Uploads);
    for (const ListKind* lp_kind : {&Downloads, &Uploads})
        for (const char* lp_group : {lp_kind->folderNode, lp_kind->userNode})
            for (ItemPtr l_node : g(lp_group))
                ShowGroupStatus(*lp_kind, RowOfNode(l_node));
}

// ---- Progress ----

void TransfersForm::GetDownloadsProgressStats(const ItemSet& i_entries, qint64& o_done,
                                              qint64& o_left, qint64& o_total)
{
    ProgressStats(i_entries, false, o_done, o_left, o_total);
}

void TransfersForm::GetUploadsProgressStats(const ItemSet& i_entries, qint64& o_done,
                                            qint64& o_left, qint64& o_total)
{
    ProgressStats(i_entries, true, o_done, o_left, o_total);
}

QString TransfersForm::TimeLeftText(qint64 i_seconds)
{
    QString l_text = QString("%1s").arg(i_seconds % 60);
    if (i_seconds >= 60)
        l_text.prepend(QString("%1m:").arg((i_seconds / 60) % 60));
    if (i_seconds >= 3600)
        l_text.prepend(QString("%1h:").arg(i_seconds / 3600));
    return QStringLiteral("   ") + l_text;
}

QString TransfersForm::ProgressText(qint64 i_done, double i_percent)
{
    return QString("%1 (%2%)").arg(CommafyNumber(i_done)).arg(i_percent, 0, 'f', 1);
}

QString TransfersForm::SpeedText(qint64 i_bytesPerSecond)
{
    return QString::number(i_bytesPerSecond / 1024.0, 'f', 1);
}

// Every bar is drawn from what its row keeps: a widget in a list would have the list lay every
// row out at each new row. A new value repaints the cell.
void TransfersForm::SetBar(QTreeWidgetItem* ip_row, qint64 i_done, double i_percent)
{
    TransferBarDelegate::Keep(ip_row, ProgressColumn, ProgressText(i_done, i_percent), int(i_percent));
}

bool TransfersForm::ShowGroupProgress(const ListKind& i_kind, QTreeWidgetItem* ip_row,
                                      qint32 i_speed)
{
    const TransferGroupTally l_tally = (this->*i_kind.tallies).WithMoved(ip_row);
    if (l_tally.Total() == 0)
        return false;
    SetBar(ip_row, l_tally.Done(), GroupPercent(l_tally));
    ip_row->setText(TimeLeftColumn, TimeLeftText(SecondsLeft(l_tally.Left(), i_speed)));
    return true;
}

// No report comes for a transfer that is gone, so its figures would stay in the bar; a group left
// with no bytes has nothing to show there.
void TransfersForm::ShowRemainingGroupBar(const ListKind& i_kind, QTreeWidgetItem* ip_row)
{
    if (!TransferBarDelegate::Holds(ip_row, ProgressColumn))
        return;
    const TransferGroupTally l_tally = (this->*i_kind.tallies).WithMoved(ip_row);
    if (l_tally.Total() == 0)
        TransferBarDelegate::Forget(ip_row, ProgressColumn);
    else
        SetBar(ip_row, l_tally.Done(), GroupPercent(l_tally));
}

// The transfer queues report at most about ten times a second per transfer, and once more at
// the end; a report that finds the transfer's figures gone changes nothing.
void TransfersForm::ShowProgress(const ListKind& i_kind, ItemPtr i_entry)
{
    QTreeWidgetItem* lp_row = RowOfNode(i_entry[i_kind.fileNode]);
    if (!lp_row || !transferQueueManager)
        return;
    const qint64* lp_position = transferQueueManager->PeekObject<qint64>(i_entry[i_kind.positionType]);
    const qint32* lp_speed = transferQueueManager->PeekObject<qint32>(i_entry["bytes_per_second"]);
    if (!lp_position || !lp_speed)
        return;
    const HeldTransferRows& l_held = Held(i_kind);
    QTreeWidgetItem* lp_folderRow = l_held.Parent(lp_row);
    QTreeWidgetItem* lp_userRow = lp_folderRow ? l_held.Parent(lp_folderRow) : nullptr;
    const qint64 l_size = TransferGroupTally::EntrySize(i_entry, &i_kind == &Uploads);

    lp_row->setText(TimeLeftColumn, TimeLeftText(SecondsLeft(l_size - *lp_position, *lp_speed)));
    // A file of no bytes, as its sender reports it, is done as soon as it starts.
    const double l_percent =
        l_size > 0 ? ClampedPercent(double(*lp_position) * 100.0 / double(l_size)) : 100.0;
    SetBar(lp_row, *lp_position, l_percent);

    // The speed shows on the innermost row that can be seen.
    const bool l_userOpen = lp_userRow && l_held.IsOpen(lp_userRow);
    const bool l_folderOpen = lp_folderRow && l_held.IsOpen(lp_folderRow);
    QTreeWidgetItem* lp_speedRow =
        l_userOpen && l_folderOpen ? lp_row : (l_userOpen ? lp_folderRow : lp_userRow);
    if (lp_speedRow)
        lp_speedRow->setText(SpeedColumn, SpeedText(*lp_speed));

    if (lp_userRow && !(l_userOpen && l_held.ChildCount(lp_userRow) <= 1) &&
        !ShowGroupProgress(i_kind, lp_userRow, *lp_speed))
        return;
    if (lp_folderRow)
        ShowGroupProgress(i_kind, lp_folderRow, *lp_speed);
}

void TransfersForm::OnDownloadProgress(ItemPtr i_download)
{
    ShowProgress(Downloads, i_download);
}

void TransfersForm::OnUploadProgress(ItemPtr i_upload)
{
    ShowProgress(Uploads, i_upload);
}

void TransfersForm::ForgetGroupFigures(QTreeWidgetItem* ip_row)
{
    for (int l_column : {StatusColumn, TimeLeftColumn, SpeedColumn})
        ip_row->setText(l_column, QString());
    TransferBarDelegate::Forget(ip_row, ProgressColumn);
}

void TransfersForm::OnItemExpanded(QTreeWidgetItem* ip_item)
{
    for (const ListKind* lp_kind : {&Downloads, &Uploads})
        if (IsGroupRow(*lp_kind, ip_item))
            ForgetGroupFigures(ip_item);
}

void TransfersForm::OnItemCollapsed(QTreeWidgetItem* ip_item)
{
    for (const ListKind* lp_kind : {&Downloads, &Uploads})
        if (const TransferGroupTally* lp_tally = (this->*lp_kind->tallies).Find(ip_item))
            ip_item->setText(StatusColumn, lp_tally->Status(lp_kind == &Uploads));
}
