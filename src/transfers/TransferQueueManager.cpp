#include "transfers/TransferQueueManager.h"

#include <QDateTime>
#include <QDir>
#include <QLocale>

#include <vector>

#include "store/DataSaver.h"
#include "store/SchemaDeclaration.h"
#include "store/Settings.h"
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
    if (transferQueueManager == this)
        transferQueueManager = nullptr;
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

// The marks are not saved: every start puts them on again before the load.
void TransferQueueManager::MarkActiveStatuses()
{
    using namespace transfer_status;
    d.GetType("download_entry_status")->GetItem(Downloading).NewItem("is_active");
    for (const char* lp_status : {Connecting, Uploading, Requesting, WaitingForOffset})
        d.GetType("upload_entry_status")->GetItem(lp_status).NewItem("is_active");
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
