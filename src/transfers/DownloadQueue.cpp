#include <QDateTime>
#include <QTcpSocket>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "diagnostics/Log.h"
#include "peer/PeerMessenger.h"
#include "server/MemStream.h"
#include "server/Server.h"
#include "store/GeneralFunctions.h"
#include "store/Settings.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferStatus.h"

namespace
{
const char* const Area = "Transfer Queue";
const quint32 PlaceInLineRequestCode = 51;

// The uploader's own path of the download: folder, one backslash, file name, byte for byte.
std::string RemotePath(ItemPtr i_entry)
{
    return i_entry["remote_folder"].AsStdString() + "\\" + i_entry["file_name"].AsStdString();
}

QString RemotePathText(ItemPtr i_entry)
{
    return ToQString(RemotePath(i_entry));
}

QString Status(ItemPtr i_entry)
{
    return i_entry["download_entry_status"].AsString();
}

// The user's time before which, or from which, something is due, as a stamp i_seconds ahead.
void StampUser(ItemPtr i_user, const char* i_type, int i_seconds)
{
    i_user += d.GetType(i_type)->GetItem(
        TransferTimeStamp(QDateTime::currentDateTime().addSecs(i_seconds)));
}

bool IsOnline(ItemPtr i_user)
{
    return i_user && i_user.IsConnected("is_online");
}

// Work that waits its turn finds its user again by name: the item may have gone meanwhile.
ItemPtr UserNamed(const std::string& i_name)
{
    return d.GetType("user")->HasItem(i_name);
}

// Whether i_afterMs have passed from the user's stamp of that type, or it has none.
bool IsDue(ItemPtr i_user, const char* i_type, qint64 i_afterMs, const QDateTime& i_now)
{
    const QDateTime l_stamp = QDateTime::fromString(i_user[i_type].AsString(), Qt::TextDate);
    return !l_stamp.isValid() || l_stamp.msecsTo(i_now) >= i_afterMs;
}
} // namespace

void TransferQueueManager::ConnectDownloadSignals()
{
    mp_downloadIndex = std::make_unique<DownloadIndex>();
    mp_downloadWork = std::make_unique<DownloadWork>();
    PathNode* lp_root = new PathNode(&d, "user");
    new PathNode(lp_root, "is_online", ConnectedAndNotify);
    d.AddPathEventHandler(lp_root, NewEventHandler(this, &TransferQueueManager::OnUserOnline));

    if (!peerMessenger)
        return;
    connect(peerMessenger, &PeerMessenger::FileTransferRequested, this,
            &TransferQueueManager::OnFileTransferRequest);
    connect(peerMessenger, &PeerMessenger::FileConnectionRequested, this,
            &TransferQueueManager::OnFileConnection);
    connect(peerMessenger, &PeerMessenger::QueueDownloadRequested, this,
            &TransferQueueManager::OnQueueDownloadRequested);
    connect(peerMessenger, &PeerMessenger::UploadFailed, this,
            &TransferQueueManager::OnUploadFailedNotification);
    connect(peerMessenger, &PeerMessenger::UploadDenied, this,
            &TransferQueueManager::OnUploadDeniedNotification);
    connect(peerMessenger, &PeerMessenger::DownloadPlaceInLine, this,
            &TransferQueueManager::OnDownloadPlaceInLine);
}

ItemPtr TransferQueueManager::GetDownloadEntry(QString i_user, std::string i_fileName,
                                               std::string i_remoteFolder)
{
    const ItemPtr l_user = d.GetType("user")->HasItem(i_user);
    const ItemPtr l_file = d.GetType("file_name")->HasItem(i_fileName);
    const ItemPtr l_folder = d.GetType("remote_folder")->HasItem(i_remoteFolder);
    if (!l_user || !l_file || !l_folder)
        return ItemPtr();
    ItemSet l_parts(l_user);
    l_parts.Insert(l_file);
    l_parts.Insert(l_folder);
    return d.GetItem(l_parts, "download_entry");
}

ItemPtr TransferQueueManager::NewDownloadEntry(const QString& i_user, const std::string& i_fileName,
                                               const std::string& i_remoteFolder, qint64 i_size,
                                               int i_level)
{
    const ItemPtr l_entry = d.GetType("download_entry")->NewItem();
    l_entry += d.GetType("user")->GetItem(i_user);
    l_entry += d.GetType("file_name")->GetItem(i_fileName);
    l_entry += d.GetType("remote_folder")->GetItem(i_remoteFolder);
    l_entry += d.GetType("file_size")->GetItem(Value(static_cast<long long>(i_size)));
    l_entry += d.GetType("subfolder_save_level")->GetItem(Value(i_level));
    const qint64 l_order = GetSettingInt("transfer_order_counter");
    l_entry += d.GetType("download_order")->GetItem(Value(static_cast<long long>(l_order)));
    SetSetting("transfer_order_counter", Value(static_cast<long long>(l_order + 1)));
    if (gp_server)
        gp_server->TrackUser(i_user);
    return l_entry;
}

// A download asked for while a Delete that covers it waits for its turn is made as if that Delete
// had ended first: the old one goes now, as the Delete would have removed it, and the Delete, which
// finds its holding gone, passes over the new one, even one made where the old one lay. A folder's
// downloads need not look: a Delete pressed before them has ended by the time their steps run,
// and one they find waiting was pressed after them, so it goes after them.
ItemPtr TransferQueueManager::AddDownload(QString i_user, std::string i_fileName,
                                          std::string i_remoteFolder, qint64 i_size,
                                          int i_subfolderSaveLevel)
{
    if (const ItemPtr l_deleted = GetDownloadEntry(i_user, i_fileName, i_remoteFolder))
        if (mp_downloadWork->IsHeldForRemoval(l_deleted))
            RemoveDownload(l_deleted);
    return AddDownloadSeen(i_user, i_fileName, i_remoteFolder, i_size, i_subfolderSaveLevel,
                           IsOnline(d.GetType("user")->HasItem(i_user)));
}

void TransferQueueManager::AddDownloads(const QString& i_user, std::vector<DownloadRequest> i_requests)
{
    if (i_requests.empty())
        return;
    const bool l_online = IsOnline(d.GetType("user")->HasItem(i_user));
    const auto lp_requests = std::make_shared<const std::vector<DownloadRequest>>(std::move(i_requests));
    mp_downloadWork->Append([this, i_user, l_online, lp_requests, l_next = std::size_t(0)]() mutable {
        const DownloadRequest& l_request = (*lp_requests)[l_next];
        AddDownloadSeen(i_user, l_request.fileName, l_request.remoteFolder, l_request.size,
                        l_request.level, l_online);
        return ++l_next == lp_requests->size();
    });
}

// Each download is held for removal from now on, so that one removed before its turn, and any made
// where it lay, is left alone, and one asked for again meanwhile is made anew at once (AddDownload);
// a quit midway leaves every download either whole or gone.
void TransferQueueManager::RemoveDownloads(std::vector<ItemPtr> i_entries, DownloadWork::Together i_together)
{
    if (i_entries.empty())
        return;
    std::vector<quint64> l_holdings;
    for (ItemPtr l_entry : i_entries)
        l_holdings.push_back(mp_downloadWork->Hold(l_entry, DownloadWork::HoldFor::Removal));
    const auto lp_held = std::make_shared<const std::pair<std::vector<ItemPtr>, std::vector<quint64>>>(
        std::move(i_entries), std::move(l_holdings));
    mp_downloadWork->Append(
        [this, lp_held, l_next = std::size_t(0)]() mutable {
            const ItemPtr l_entry = lp_held->first[l_next];
            if (mp_downloadWork->Release(l_entry, lp_held->second[l_next], DownloadWork::HoldFor::Removal))
                RemoveDownload(l_entry);
            return ++l_next == lp_held->first.size();
        },
        std::move(i_together));
}

bool TransferQueueManager::IsDownloadWorkPending() const
{
    return !mp_downloadWork->IsIdle();
}

ItemPtr TransferQueueManager::AddDownloadSeen(const QString& i_user, const std::string& i_fileName,
                                              const std::string& i_remoteFolder, qint64 i_size,
                                              int i_level, bool i_online)
{
    if (ItemPtr l_existing = GetDownloadEntry(i_user, i_fileName, i_remoteFolder))
        return l_existing;
    const ItemPtr l_entry = NewDownloadEntry(i_user, i_fileName, i_remoteFolder, i_size, i_level);
    if (DoesDownloadItemCompleteFilenameExist(l_entry))
    {
        SetDownloadEntryStatus(l_entry, transfer_status::Complete);
        return l_entry;
    }
    // A local path that would leave the download folder has just marked the entry; asking the
    // peer for a file that could never be written would only hide that.
    if (Status(l_entry) == transfer_status::LocalError)
        return l_entry;
    SetDownloadEntryStatus(l_entry, transfer_status::Queued);
    const ItemPtr l_user = l_entry["user"];
    if (i_online && peerMessenger)
        peerMessenger->QueueDownload(i_user, RemotePath(l_entry));
    StampUser(l_user, "next_place_in_line_request_time", 10);
    return l_entry;
}

void TransferQueueManager::QueueDownloadIfUserOnline(ItemPtr i_entry)
{
    const ItemPtr l_user = i_entry["user"];
    const QString l_status = Status(i_entry);
    if (l_status == transfer_status::LocalError)
    {
        Log(Area, 1, QString("Download status %1, not re-queueing %2").arg(l_status, RemotePathText(i_entry)),
            l_user);
        return;
    }
    if (!IsOnline(l_user))
    {
        Log(Area, 1,
            QString("User %1 offline, not re-queueing %2").arg(l_user.AsString(), RemotePathText(i_entry)),
            l_user);
        return;
    }
    Log(Area, 1,
        QString("User %1 appears to still be online, re-queueing %2")
            .arg(l_user.AsString(), RemotePathText(i_entry)),
        l_user);
    if (peerMessenger)
        peerMessenger->QueueDownload(l_user.AsString(), RemotePath(i_entry));
}

void TransferQueueManager::RequeueDownload(ItemPtr i_entry)
{
    if (Status(i_entry) == transfer_status::Complete || IsActive(i_entry["download_entry_status"]))
        return;
    if (DoesDownloadItemCompleteFilenameExist(i_entry))
    {
        SetDownloadEntryStatus(i_entry, transfer_status::Complete);
        return;
    }
    if (GetDownloadTargetPath(i_entry, true).isEmpty())
        return; // the entry stays "local error": its path would leave the download folder
    const ItemPtr l_user = i_entry["user"];
    if (peerMessenger)
        peerMessenger->QueueDownload(l_user.AsString(), RemotePath(i_entry));
    SetDownloadEntryStatus(i_entry, transfer_status::Queued);
    Log(Area, 2, QString("Queueing %1").arg(i_entry["file_name"].AsString()), l_user);
}

void TransferQueueManager::RequeueUserDownloads(ItemPtr i_user)
{
    if (i_user)
        mp_downloadWork->Append(RequeueJob(i_user.AsStdString()));
}

// The user's downloads that are neither complete nor denied, in queue order, are taken when the
// work's turn comes; each is asked for in a step of its own, its status read then.
DownloadWork::Job TransferQueueManager::RequeueJob(const std::string& i_user)
{
    return mp_downloadWork->EachInTurn(
        [this, i_user](std::vector<ItemPtr>& o_entries) {
            const ItemPtr l_user = UserNamed(i_user);
            if (!l_user || !l_user.IsConnected("download_entry"))
                return false;
            Log(Area, 1, QString("Requeueing downloads from user %1").arg(l_user.AsString()), l_user);
            o_entries = mp_downloadIndex->Requeueable(l_user).SortNumericBy("download_order", true);
            return true;
        },
        [this](ItemPtr i_entry) {
            const QString l_status = Status(i_entry);
            if (l_status != transfer_status::Complete && l_status != transfer_status::Denied)
                RequeueDownload(i_entry);
        },
        [i_user] {
            if (const ItemPtr l_user = UserNamed(i_user))
            {
                StampUser(l_user, "last_queue_request_time", 0);
                StampUser(l_user, "next_place_in_line_request_time", 30);
            }
        });
}

void TransferQueueManager::OnUserOnline(ItemPtr i_user)
{
    // The upload queue follows the user's state at once; what the user's coming online asks
    // of the download queue waits its turn.
    NoteUploadUserOnline(i_user);
    const std::string l_name = i_user.AsStdString();
    mp_downloadWork->Append([this, l_name] {
        const ItemPtr l_user = UserNamed(l_name);
        Log(Area, 1, QString("User %1 went online").arg(ToQString(l_name)), l_user);
        mp_downloadWork->Next({RequeueJob(l_name), [this] {
                                   StartNewUploads();
                                   return true;
                               }});
        return true;
    });
}

bool TransferQueueManager::IsActivelyDownloadingFromUser(QString i_user)
{
    const ItemPtr l_user = d.GetType("user")->HasItem(i_user);
    return l_user && mp_downloadIndex->IsDownloadingFrom(l_user);
}

// A tick that finds download work waiting comes after it, with the time its turn comes; the
// users are those with queued downloads who are online then, in the order in which a walk over
// the queued downloads meets them. Each user's re-queue goes before the next user is looked at,
// and every re-queue before the first place-in-line request, as in one piece.
void TransferQueueManager::KeepDownloadsQueued(const QDateTime& i_now)
{
    const bool l_now = mp_downloadWork->IsIdle();
    mp_downloadWork->Append([this, l_tick = l_now ? i_now : QDateTime()] {
        const QDateTime l_now = l_tick.isValid() ? l_tick : QDateTime::currentDateTime();
        std::vector<std::string> l_users;
        for (ItemPtr l_user : mp_downloadIndex->UsersWithQueued())
            if (l_user.IsConnected("is_online"))
                l_users.push_back(l_user.AsStdString());
        std::vector<DownloadWork::Job> l_passes;
        for (const std::string& l_name : l_users)
            l_passes.emplace_back([this, l_name, l_now] {
                const ItemPtr l_user = UserNamed(l_name);
                if (l_user && !mp_downloadIndex->IsDownloadingFrom(l_user) &&
                    IsDue(l_user, "last_queue_request_time", 600000, l_now))
                    mp_downloadWork->Next({RequeueJob(l_name)});
                return true;
            });
        for (const std::string& l_name : l_users)
            l_passes.push_back(PlaceInLineJob(l_name, l_now));
        mp_downloadWork->Next(std::move(l_passes));
        return true;
    });
}

// The user's queued downloads in queue order, taken when its turn comes, one request a step.
DownloadWork::Job TransferQueueManager::PlaceInLineJob(const std::string& i_user, const QDateTime& i_now)
{
    return mp_downloadWork->EachInTurn(
        [this, i_user, i_now](std::vector<ItemPtr>& o_entries) {
            const ItemPtr l_user = UserNamed(i_user);
            if (!l_user || mp_downloadIndex->IsDownloadingFrom(l_user) ||
                !IsDue(l_user, "next_place_in_line_request_time", 0, i_now))
                return false;
            o_entries = mp_downloadIndex->Queued(l_user).SortNumericBy("download_order", true);
            return true;
        },
        [this](ItemPtr i_entry) { RequestDownloadPlaceInLine(i_entry); },
        [i_user, i_now] {
            if (const ItemPtr l_user = UserNamed(i_user))
                l_user += d.GetType("next_place_in_line_request_time")->GetItem(TransferTimeStamp(i_now.addSecs(600)));
        });
}

void TransferQueueManager::RequestDownloadPlaceInLine(ItemPtr i_entry)
{
    const ItemPtr l_user = i_entry["user"];
    MemStream l_message;
    l_message.Write(PlaceInLineRequestCode);
    l_message.Write(i_entry["remote_folder"].AsString() + "\\" + i_entry["file_name"].AsString());
    Log(Area, 1,
        QString("Requesting place in line for download of %1 from %2")
            .arg(i_entry["file_name"].AsString(), l_user.AsString()),
        l_user);
    if (peerMessenger)
        peerMessenger->SendMessage(l_user.AsString(), l_message);
}

void TransferQueueManager::OnDownloadPlaceInLine(QString i_user, std::string i_path, int i_place)
{
    const ItemPtr l_entry = GetDownloadEntry(i_user, GetFileName(i_path), GetFolder(i_path));
    if (l_entry)
        l_entry += d.GetType("place_in_line")->GetItem(Value(i_place));
}

void TransferQueueManager::OnQueueDownloadRequested(QString i_user, std::string i_path, qint64 i_size)
{
    if (CanAcceptUserInitiatedUploadsFrom(i_user))
        AddDownload(i_user, GetFileName(i_path), GetFolder(i_path), i_size, 0);
}

void TransferQueueManager::OnUploadDeniedNotification(QString i_user, std::string i_path,
                                                      QString i_reason)
{
    const ItemPtr l_user = d.GetType("user")->HasItem(i_user);
    Log(Area, 1,
        QString("Received peer notification from %1 that upload of %2 was denied, reason: %3")
            .arg(i_user, ToQString(i_path), i_reason),
        l_user);
    const ItemPtr l_entry = GetDownloadEntry(i_user, GetFileName(i_path), GetFolder(i_path));
    if (!l_entry)
    {
        Log(Area, 2, "Download not found.", l_user);
        return;
    }
    Log(Area, 2, "Download found, marking as denied.", l_user);
    l_entry += d.GetType("denial_reason")->GetItem(i_reason);
    SetDownloadEntryStatus(l_entry, transfer_status::Denied);
}

void TransferQueueManager::OnUploadFailedNotification(QString i_user, std::string i_path)
{
    const ItemPtr l_user = d.GetType("user")->HasItem(i_user);
    Log(Area, 1,
        QString("Received peer notification from %1 that upload of %2 failed")
            .arg(i_user, ToQString(i_path)),
        l_user);
    const ItemPtr l_entry = GetDownloadEntry(i_user, GetFileName(i_path), GetFolder(i_path));
    if (!l_entry)
    {
        Log(Area, 2, "Download not found.", l_user);
        return;
    }
    Log(Area, 2, "Download found!", l_user);
    QueueDownloadIfUserOnline(l_entry);
    StampUser(l_entry["user"], "last_queue_request_time", 0);
}

bool TransferQueueManager::HasExcludedDownloadExtension(QString i_fileName)
{
    for (ItemPtr l_extension : g("excluded_download_extension"))
    {
        // An empty ending would exclude every file.
        const QString l_ending = l_extension.AsString();
        if (!l_ending.isEmpty() && i_fileName.endsWith(l_ending, Qt::CaseSensitive))
            return true;
    }
    return false;
}
