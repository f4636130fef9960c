#include <QDateTime>
#include <QFile>
#include <QTcpSocket>

#include "diagnostics/Log.h"
#include "peer/PeerMessenger.h"
#include "server/MemStream.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferStatus.h"
#include "transfers/TransferThread.h"

namespace
{
const char* const Area = "Transfer Queue";
const quint32 UploadFailedCode = 46;

// The figures a running transfer keeps on its entry, downloads and uploads alike; the read
// position is freed apart, as no removal handler knows it.
const std::initializer_list<const char*> RunFigures = {
    "write_position", "last_receipt_time", "last_speed_measurement_time", "bytes_per_second",
    "bytes_since_last_receipt"};

ItemPtr StampItem(const char* i_type)
{
    return d.GetType(i_type)->GetItem(TransferTimeStamp(QDateTime::currentDateTime()));
}
} // namespace

bool TransferQueueManager::IsActive(ItemPtr i_status)
{
    return i_status && i_status.IsConnected("is_active");
}

void TransferQueueManager::SetDownloadEntryStatus(ItemPtr i_entry, QString i_status)
{
    const bool l_wasActive = IsActive(i_entry["download_entry_status"]);
    i_entry += d.GetType("download_entry_status")->GetItem(i_status);
    i_entry += StampItem("last_status_change_time");
    if (!l_wasActive || IsActive(i_entry["download_entry_status"]))
        return;

    ReleaseRun(i_entry, Release::Deferred);
    // The half-minute check waits from here before asking this user to queue again.
    if (ItemPtr l_user = i_entry["user"])
        l_user += StampItem("last_queue_request_time");
}

void TransferQueueManager::SetUploadEntryStatus(ItemPtr i_entry, QString i_status)
{
    const bool l_wasActive = IsActive(i_entry["upload_entry_status"]);
    i_entry += d.GetType("upload_entry_status")->GetItem(i_status);
    i_entry += StampItem("last_status_change_time");
    if (!l_wasActive || IsActive(i_entry["upload_entry_status"]))
        return;

    ReleaseRun(i_entry, Release::Deferred);
    if (i_status == transfer_status::Aborted)
        SendUploadFailed(i_entry);
    DetermineUploadSpeedLimit();
}

void TransferQueueManager::SendUploadFailed(ItemPtr i_entry)
{
    const ItemPtr l_user = i_entry["user"];
    if (!l_user)
        return;
    Log(Area, 1,
        QString("Upload of %1 to %2 aborted, sending upload failed notification.")
            .arg(i_entry["shared_file"]["shared_file_name"].AsString(), l_user.AsString()),
        l_user);
    if (!peerMessenger)
        return;
    MemStream l_message;
    l_message.Write(UploadFailedCode);
    l_message.Write(i_entry["filename_as_requested"].AsString());
    peerMessenger->SendMessage(l_user.AsString(), l_message);
}

void TransferQueueManager::RemoveDownload(ItemPtr i_entry)
{
    ReleaseRun(i_entry, Release::Removal);
    i_entry.Remove();
}

// The last ordered upload forgets the entry in its removal handler.
void TransferQueueManager::RemoveUpload(ItemPtr i_entry)
{
    ReleaseRun(i_entry, Release::Removal);
    i_entry.Remove();
}

// An entry is either a download or an upload, so the other kind's types find nothing on it.
void TransferQueueManager::ReleaseRun(ItemPtr i_entry, Release i_how)
{
    for (const char* lp_kind : {"download", "upload"})
    {
        const std::string l_kind(lp_kind);
        ReleaseThread(i_entry, (l_kind + "_thread").c_str(), i_how);
        ReleaseSocket(i_entry, (l_kind + "_socket").c_str(), i_how);
        ReleaseFile(i_entry, (l_kind + "_file").c_str());
    }
    ReleaseReadPosition(i_entry);
    RemoveParts(i_entry, RunFigures);
}

// An entry holds one status, so the active statuses' entries add up without overlap.
int TransferQueueManager::CountActive(const char* i_statusType, const char* i_entryType)
{
    Type* lp_entries = d.GetType(i_entryType);
    std::size_t l_count = 0;
    for (ItemPtr l_status : d.GetType(i_statusType)->GetItems())
        if (IsActive(l_status))
            if (const ItemSet* lp_held = l_status->Connections().FindSet(lp_entries))
                l_count += lp_held->Size();
    return static_cast<int>(l_count);
}

int TransferQueueManager::ActiveDownloadCount() const
{
    return CountActive("download_entry_status", "download_entry");
}

int TransferQueueManager::ActiveUploadCount() const
{
    return CountActive("upload_entry_status", "upload_entry");
}

// The thread is asked to stop before the wait: a status change may come while it still runs
// (a peer's denial, a new request for the same download), and waiting alone would block the
// window until the transfer ended by itself. Its queued reports may still be on their way;
// with its signals cut and its deletion deferred behind them, the address they carry stays
// taken until they are handled, so no new thread can be mistaken for this one.
void TransferQueueManager::ReleaseThread(ItemPtr i_entry, const char* i_type, Release i_how)
{
    const ItemPtr l_item = i_entry[i_type];
    if (!l_item)
        return;
    TransferThread* lp_thread = TakeObject<TransferThread>(l_item);
    l_item.Remove();
    if (!lp_thread)
        return;
    lp_thread->SignalExit();
    lp_thread->wait();
    disconnect(lp_thread, nullptr, this, nullptr);
    // Once the manager goes, nothing is left to mistake the address for, and no event loop
    // may run again to delete it later.
    if (i_how == Release::ShutDown)
        delete lp_thread;
    else
        lp_thread->deleteLater();
}

void TransferQueueManager::ReleaseFile(ItemPtr i_entry, const char* i_type)
{
    const ItemPtr l_item = i_entry[i_type];
    if (!l_item)
        return;
    QFile* lp_file = TakeObject<QFile>(l_item);
    l_item.Remove();
    if (!lp_file)
        return;
    lp_file->close();
    delete lp_file;
}

void TransferQueueManager::ReleaseSocket(ItemPtr i_entry, const char* i_type, Release i_how)
{
    const ItemPtr l_item = i_entry[i_type];
    if (!l_item)
        return;
    const bool l_atOnce = i_how != Release::Deferred;
    QTcpSocket* lp_socket = TakeObject<QTcpSocket>(l_item);
    if (lp_socket && l_atOnce)
        lp_socket->disconnect();
    l_item.Remove();
    if (!lp_socket)
        return;
    lp_socket->close();
    if (l_atOnce)
        delete lp_socket;
    else
        lp_socket->deleteLater();
}

// No removal handler frees a read position: both ways out of a transfer free it here.
void TransferQueueManager::ReleaseReadPosition(ItemPtr i_entry)
{
    const ItemPtr l_item = i_entry["read_position"];
    if (!l_item)
        return;
    delete TakeObject<qint64>(l_item);
    l_item.Remove();
}

void TransferQueueManager::RemoveParts(ItemPtr i_entry, std::initializer_list<const char*> i_types)
{
    for (const char* lp_type : i_types)
        if (ItemPtr l_part = i_entry[lp_type])
            l_part.Remove();
}

void TransferQueueManager::OnWritePositionRemoved(ItemPtr i_item)
{
    delete TakeObject<qint64>(i_item);
}

void TransferQueueManager::OnBytesSinceLastReceiptRemoved(ItemPtr i_item)
{
    delete TakeObject<qint64>(i_item);
}

void TransferQueueManager::OnBytesPerSecondRemoved(ItemPtr i_item)
{
    delete TakeObject<qint32>(i_item);
}

void TransferQueueManager::OnBytesUploadedRemoved(ItemPtr i_item)
{
    delete TakeObject<int>(i_item);
}

void TransferQueueManager::OnLastReceiptTimeRemoved(ItemPtr i_item)
{
    delete TakeObject<QDateTime>(i_item);
}

void TransferQueueManager::OnLastSpeedMeasurementTimeRemoved(ItemPtr i_item)
{
    delete TakeObject<QDateTime>(i_item);
}

void TransferQueueManager::OnUploadEntryRemoved(ItemPtr i_entry)
{
    if (m_lastOrderedUpload == i_entry)
        m_lastOrderedUpload = ItemPtr();
    m_uploadOrder.Forget(i_entry.Get());
}
