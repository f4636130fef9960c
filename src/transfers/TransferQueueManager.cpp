#include "transfers/TransferQueueManager.h"

#include <QDateTime>
#include <QDir>
#include <QLocale>
#include <QTimer>

#include <algorithm>
#include <vector>

#include "diagnostics/Log.h"
#include "server/Server.h"
#include "store/DataSaver.h"
#include "store/SchemaDeclaration.h"
#include "store/Settings.h"
#include "store/TimerManager.h"
#include "transfers/TransferStatus.h"
#include "transfers/TransferThread.h"

TransferQueueManager* transferQueueManager = nullptr;

namespace
{
const TypeDeclaration TransferTypes[] = {
    {"download_entry", Primary, true},
    {"file_name", Leaf, false},
    {"remote_folder", Intermediate, false},
    {"download_folder", Intermediate, false},
    {"transfer_req", Leaf, false},
    {"remote_transfer_req", Leaf, false},
    {"download_socket", Primary, false},
    {"download_file", Primary, false},
    {"write_position", Leaf, false},
    {"download_entry_status", Primary, false},
    {"download_order", Leaf, false},
    {"upload_socket", Primary, false},
    {"upload_file", Primary, false},
    {"read_position", Leaf, false},
    {"upload_entry_status", Primary, false},
    {"upload_order", Leaf, false},
    {"is_active", Leaf, true},
    {"last_receipt_time", Leaf, false},
    {"last_speed_measurement_time", Leaf, false},
    {"bytes_per_second", Leaf, false},
    {"bytes_since_last_receipt", Leaf, false},
    {"place_in_line", Leaf, false},
    {"last_queue_request_time", Leaf, false},
    {"next_place_in_line_request_time", Leaf, false},
    {"download_thread", Primary, false},
    {"subfolder_save_level", Leaf, false},
    {"last_status_change_time", Leaf, false},
    {"upload_entry", Primary, true},
    {"filename_as_requested", Leaf, false},
    {"upload_start_time", Leaf, false},
    {"bytes_uploaded", Leaf, false},
    {"upload_thread", Primary, false},
    {"effective_upload_order", Leaf, false},
    {"denial_reason", Leaf, false},
    {"complete_download", Primary, true},
    {"complete_download_folder", Intermediate, false},
    {"complete_download_relative_folder", Intermediate, false},
    {"complete_download_filename", Leaf, false},
    {"complete_download_file_size", Leaf, false},
    {"complete_download_completion_time", Leaf, false},
    {"empty_share_check_status", Leaf, false},
    {"sent_empty_share_warning_message", Leaf, false},
    {"excluded_download_extension", Primary, false},
};

// An entry holds one of each part. Shared parts (a user, a status, a folder) may belong to many
// entries; the parts that stand for one transfer's objects belong to one entry only.
const RelationDeclaration TransferRelations[] = {
    {"download_entry", "user", Many, One},
    {"download_entry", "file_name", Many, One},
    {"download_entry", "remote_folder", Many, One},
    {"download_entry", "file_size", Many, One},
    {"download_entry", "download_folder", Many, One},
    {"download_entry", "remote_transfer_req", Many, One},
    {"download_entry", "write_position", Many, One},
    {"download_entry", "download_entry_status", Many, One},
    {"download_entry", "place_in_line", Many, One},
    {"download_entry", "subfolder_save_level", Many, One},
    {"download_entry", "last_status_change_time", Many, One},
    {"download_entry", "transfer_req", One, One},
    {"download_entry", "download_socket", One, One},
    {"download_entry", "download_thread", One, One},
    {"download_entry", "download_file", One, One},
    {"download_entry", "download_order", One, One},
    {"download_entry", "last_receipt_time", One, One},
    {"download_entry", "last_speed_measurement_time", One, One},
    {"download_entry", "bytes_per_second", One, One},
    {"download_entry", "bytes_since_last_receipt", One, One},
    {"download_entry_status", "is_active", Many, One},
    {"user", "last_queue_request_time", Many, One},
    {"user", "next_place_in_line_request_time", Many, One},
    {"upload_entry", "user", Many, One},
    {"upload_entry", "shared_file", Many, One},
    {"upload_entry", "read_position", Many, One},
    {"upload_entry", "upload_entry_status", Many, One},
    {"upload_entry", "filename_as_requested", Many, One},
    {"upload_entry", "upload_start_time", Many, One},
    {"upload_entry", "bytes_uploaded", Many, One},
    {"upload_entry", "last_status_change_time", Many, One},
    {"upload_entry", "effective_upload_order", Many, One},
    {"upload_entry", "upload_socket", One, One},
    {"upload_entry", "upload_file", One, One},
    {"upload_entry", "upload_order", One, One},
    {"upload_entry", "transfer_req", One, One},
    {"upload_entry", "last_receipt_time", One, One},
    {"upload_entry", "last_speed_measurement_time", One, One},
    {"upload_entry", "bytes_per_second", One, One},
    {"upload_entry", "bytes_since_last_receipt", One, One},
    {"upload_entry", "upload_thread", One, One},
    {"upload_entry_status", "is_active", Many, One},
    {"download_entry", "denial_reason", Many, One},
    // The search that found a download; the search views read it and declare it nowhere else.
    {"download_entry", "search_request_text", Many, One},
    {"upload_entry", "denial_reason", Many, One},
    {"complete_download", "user", Many, One},
    {"complete_download", "complete_download_folder", Many, One},
    {"complete_download", "complete_download_relative_folder", Many, One},
    {"complete_download", "complete_download_filename", Many, One},
    {"complete_download", "complete_download_completion_time", Many, One},
    {"complete_download", "complete_download_file_size", Many, One},
    {"complete_download", "search_request_text", Many, One},
    {"user", "empty_share_check_status", Many, One},
    {"user", "sent_empty_share_warning_message", Many, One},
};

const char* const SavedWithDownloadEntry[] = {
    "file_name",  "remote_folder", "download_folder",      "download_entry_status",
    "download_order", "subfolder_save_level", "user", "file_size", "search_request_text",
};

const char* const SavedWithCompleteDownload[] = {
    "complete_download_folder",         "complete_download_relative_folder",
    "complete_download_filename",       "complete_download_file_size",
    "complete_download_completion_time", "user",
};
} // namespace

QString TransferTimeStamp(const QDateTime& i_time)
{
    return QLocale::c().toString(i_time, QStringLiteral("ddd MMM d HH:mm:ss yyyy"));
}

TransferQueueManager::TransferQueueManager()
{
    transferQueueManager = this;
    DeclareSchema();
    RegisterRemovalHandlers();
    RegisterSavedTypes();
    MarkActiveStatuses();
    if (dataSaver)
        dataSaver->AddDataLoadedEventHandler(this);
    WriteSettingDefaults();
    ConnectDownloadSignals();
    ConnectUploadSignals();
    if (timerManager)
        connect(timerManager->halfMinuteTimer, &QTimer::timeout, this,
                &TransferQueueManager::EveryHalfMinute);
}

TransferQueueManager::~TransferQueueManager()
{
    // A thread must not outlive its object. Every one is asked first and then waited for, so
    // quitting with several transfers running takes about one block, not one transfer each.
    std::vector<TransferThread*> l_threads;
    for (const char* lp_type : {"upload_thread", "download_thread"})
        for (ItemPtr l_item : g(lp_type))
            if (TransferThread* lp_thread = PeekObject<TransferThread>(l_item))
                l_threads.push_back(lp_thread);
    for (TransferThread* lp_thread : l_threads)
        lp_thread->SignalExit();
    for (TransferThread* lp_thread : l_threads)
        lp_thread->wait();
    // What the runs held goes with them; the store was saved before, and the entries stay. Only
    // entries that hold a live object are looked at, however many wait.
    std::set<ItemPtr> l_holders;
    for (const auto& [l_type, l_address] : m_liveObjects)
        if (const ItemPtr l_item = d.GetType(l_type)->HasItem(Value(l_address)))
            for (const char* lp_kind : {"download_entry", "upload_entry"})
                if (const ItemPtr l_entry = l_item[lp_kind])
                    l_holders.insert(l_entry);
    for (ItemPtr l_entry : l_holders)
        ReleaseRun(l_entry, Release::ShutDown);
    if (transferQueueManager == this)
        transferQueueManager = nullptr;
}

void TransferQueueManager::DataLoaded()
{
    MarkActiveStatuses();
    // Nothing runs yet, so a plain connection is enough: no stamp, nothing to release.
    const ItemPtr l_queued = d.GetType("download_entry_status")->GetItem(transfer_status::Queued);
    std::set<ItemPtr> l_users;
    for (ItemPtr l_entry : g("download_entry"))
    {
        if (l_entry["download_entry_status"].AsString() != transfer_status::Complete)
            l_entry += l_queued;
        if (const ItemPtr l_user = l_entry["user"])
            l_users.insert(l_user);
    }
    if (gp_server)
        for (ItemPtr l_user : l_users)
            gp_server->TrackUser(l_user.AsString());
    emit TransfersLoaded();
    DetermineUploadSpeedLimit();
}

void TransferQueueManager::EveryHalfMinute()
{
    const QDateTime l_now = QDateTime::currentDateTime();
    AbortStalledUploads(l_now);
    StartNewUploads();
    KeepDownloadsQueued(l_now);
}

void TransferQueueManager::AbortStalledUploads(const QDateTime& i_now)
{
    using namespace transfer_status;
    std::vector<ItemPtr> l_stalled;
    for (const char* lp_status : {Requesting, Connecting, WaitingForOffset})
        for (ItemPtr l_entry : d.GetType("upload_entry_status")->HasItem(lp_status).GetItems("upload_entry"))
            l_stalled.push_back(l_entry);
    for (ItemPtr l_entry : l_stalled)
    {
        const QDateTime l_changed =
            QDateTime::fromString(l_entry["last_status_change_time"].AsString(), Qt::TextDate);
        // A hand-shake without a readable stamp would hold its slot for ever.
        if (l_changed.isValid() && l_changed.msecsTo(i_now) < 30000)
            continue;
        const QString l_status = l_entry["upload_entry_status"].AsString();
        Log("Transfer Queue", 1,
            QString("Upload of %1 to %2 timed out in %3 phase, aborting")
                .arg(l_entry["shared_file"]["shared_file_name"].AsString(),
                     l_entry["user"].AsString(), l_status));
        SetUploadEntryStatus(l_entry, Aborted);
    }
}

void TransferQueueManager::NoData()
{
    d.GetType("excluded_download_extension")->GetItem(".ini");
}

void TransferQueueManager::DeclareSchema()
{
    DeclareTypes(TransferTypes);
    DeclareRelations(TransferRelations);
}

void TransferQueueManager::RegisterRemovalHandlers()
{
    const std::pair<const char*, void (TransferQueueManager::*)(ItemPtr)> l_handlers[] = {
        {"write_position", &TransferQueueManager::OnWritePositionRemoved},
        {"last_receipt_time", &TransferQueueManager::OnLastReceiptTimeRemoved},
        {"last_speed_measurement_time", &TransferQueueManager::OnLastSpeedMeasurementTimeRemoved},
        {"bytes_per_second", &TransferQueueManager::OnBytesPerSecondRemoved},
        {"bytes_since_last_receipt", &TransferQueueManager::OnBytesSinceLastReceiptRemoved},
        {"bytes_uploaded", &TransferQueueManager::OnBytesUploadedRemoved},
        {"upload_entry", &TransferQueueManager::OnUploadEntryRemoved},
    };
    for (const auto& [lp_type, lp_handler] : l_handlers)
        d.GetType(lp_type)->m_removedEvent.AddHandler(NewEventHandler(this, lp_handler));
}

void TransferQueueManager::RegisterSavedTypes()
{
    if (!dataSaver)
        return;
    dataSaver->AddSavedType("download_entry");
    for (const char* lp_type : SavedWithDownloadEntry)
        dataSaver->AddSavedByConnectionType(lp_type, "download_entry");
    dataSaver->AddSavedType("complete_download");
    for (const char* lp_type : SavedWithCompleteDownload)
        dataSaver->AddSavedByConnectionType(lp_type, "complete_download");
    dataSaver->AddSavedType("excluded_download_extension");
}

// The marks are not saved: every start puts them on again before the load, and the load puts
// them on once more, since a failed load has emptied the store. A status keeps the mark it has.
void TransferQueueManager::MarkActiveStatuses()
{
    using namespace transfer_status;
    const auto l_mark = [](const char* i_type, const char* i_status) {
        const ItemPtr l_status = d.GetType(i_type)->GetItem(i_status);
        if (!l_status.IsConnected("is_active"))
            l_status.NewItem("is_active");
    };
    l_mark("download_entry_status", Downloading);
    for (const char* lp_status : {Connecting, Uploading, Requesting, WaitingForOffset})
        l_mark("upload_entry_status", lp_status);
}

// Written before the load: a stored value replaces each of them. Those written only when unset
// also survive a manager built over a store that already holds them.
void TransferQueueManager::WriteSettingDefaults()
{
    SetSettingIfUnset("download_folder", QDir::homePath() + "/Tarnwick Downloads");
    SetSettingIfUnset("transfer_order_counter", "1");
    SetSetting("transfer_req_counter", "1");
    if (SetSettingIfUnset("upload_speed_limit", "0"))
        SetSetting("upload_speed_limit_enabled", "no");
    SetSetting("upload_slots", "1");
    SetSetting("check_for_empty_shares", "no");
    SetSetting("empty_share_message",
               "It looks like you're not sharing any files. Please share something before "
               "downloading anything from my own shares. Thanks.");
    SetSetting("max_queued_uploads_per_user", "200");
}

TransferQueueManager::ObjectKeyType TransferQueueManager::ObjectKey(const char* i_type,
                                                                     ItemPtr i_item)
{
    return {i_type, i_item.AsStdString()};
}

TransferQueueManager::ObjectKeyType TransferQueueManager::ObjectKey(ItemPtr i_item)
{
    return {i_item.GetType()->GetName(), i_item.AsStdString()};
}
