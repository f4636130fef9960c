#include <QDateTime>
#include <QFile>
#include <QTcpSocket>

#include "diagnostics/Log.h"
#include "peer/PeerMessenger.h"
#include "server/Server.h"
#include "shares/SharedFoldersManager.h"
#include "store/Settings.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferStatus.h"
#include "transfers/UploadThread.h"

namespace
{
const char* const Area = "Transfer Queue";
const char* const NotShared = "File not shared.";
// Smaller uploads end too soon for their speed to tell the server anything.
const qint64 SpeedReportMinimumBytes = 1048576;

QString Status(ItemPtr i_entry)
{
    return i_entry["upload_entry_status"].AsString();
}

QString LocalPath(ItemPtr i_entry)
{
    const ItemPtr l_file = i_entry["shared_file"];
    QString l_path =
        l_file["shared_file_folder"].AsString() + "/" + l_file["shared_file_name"].AsString();
    return l_path.replace('\\', '/');
}
} // namespace

bool TransferQueueManager::IsUploadStillShared(ItemPtr i_entry)
{
    const ItemPtr l_user = i_entry["user"];
    const ItemPtr l_file = i_entry["shared_file"];
    if (l_file && sharedFoldersManager &&
        sharedFoldersManager->IsFileSharedWithUser(l_file, l_user.AsString()))
        return true;
    Log(Area, 2, "Denied, file not shared", l_user);
    i_entry += d.GetType("denial_reason")->GetItem(NotShared);
    if (peerMessenger)
        peerMessenger->DenyUpload(l_user.AsString(), i_entry["filename_as_requested"].AsString(),
                                  NotShared);
    SetUploadEntryStatus(i_entry, transfer_status::Denied);
    return false;
}

// The queue's renumbering is one mark, and the next user to ask comes from the users who wait
// with nothing running, so a long queue, or one user's thousands of waiting files behind its
// running one, costs nothing here.
void TransferQueueManager::StartNewUploads()
{
    qint64 l_free = GetSettingInt("upload_slots") - ActiveUploadCount();
    if (l_free <= 0)
        return;
    m_uploadOrder.Renumber();
    const void* lp_tried = nullptr;
    while (l_free > 0)
    {
        const ItemPtr l_entry = UploadEntryOf(m_uploadOrder.NextToStart());
        // Either way an entry tried leaves the waiting ones; were it still there, its status did
        // not reach the queue's order, and trying again would repeat what was sent.
        if (!l_entry || l_entry.Get() == lp_tried)
            break;
        lp_tried = l_entry.Get();
        if (!IsUploadStillShared(l_entry))
            continue;
        const ItemPtr l_user = l_entry["user"];
        const qint64 l_size = l_entry["shared_file"]["shared_file_size"].AsInt64();
        const QString l_name = l_entry["filename_as_requested"].AsString();
        const unsigned int l_req =
            peerMessenger ? peerMessenger->RequestUpload(l_user.AsString(), l_name, l_size) : 0;
        SetUploadEntryStatus(l_entry, transfer_status::Requesting);
        l_entry += d.GetType("transfer_req")->GetItem(Value(l_req));
        --l_free;
        DetermineUploadSpeedLimit();
    }
}

void TransferQueueManager::OnFileTransferResponse(QString i_user, uint i_req, bool i_accepted,
                                                  bool, qint64, QString i_denialReason)
{
    const ItemPtr l_user = d.GetType("user")->HasItem(i_user);
    Log(Area, 1,
        QString("Received file transfer response from user %1 for req %2, transfer %3")
            .arg(i_user)
            .arg(i_req)
            .arg(i_accepted ? "accepted" : "not accepted"),
        l_user);
    const ItemPtr l_req = d.GetType("transfer_req")->HasItem(Value(i_req));
    const ItemPtr l_entry = l_req["upload_entry"];
    if (!l_req || !l_entry)
    {
        Log(Area, 2,
            !l_req                     ? "req not found"
            : l_req["download_entry"] ? "Found download, not processing"
                                       : "Neither upload or download attached to req, weird",
            l_user);
        return;
    }
    Log(Area, 2, "Found upload", l_user);
    if (l_entry["user"] != l_user || !l_user)
    {
        Log(Area, 2,
            QString("Upload user %1 not the same as user who opened the connection, not doing "
                    "anything")
                .arg(l_entry["user"].AsString()),
            l_user);
        return;
    }
    if (!i_accepted)
    {
        Log(Area, 2, "Upload was not accepted, marking denied. Reason: " + i_denialReason, l_user);
        l_entry += d.GetType("denial_reason")->GetItem(i_denialReason);
        SetUploadEntryStatus(l_entry, transfer_status::Denied);
        StartNewUploads();
        return;
    }
    if (Status(l_entry) != transfer_status::Requesting)
    {
        Log(Area, 2,
            QString("Upload no longer in requesting phase, instead status is %1. Not processing.")
                .arg(Status(l_entry)),
            l_user);
        return;
    }
    // The shares may have changed while the peer thought about it.
    if (!IsUploadStillShared(l_entry))
    {
        StartNewUploads();
        return;
    }
    QFile* lp_file = new QFile(LocalPath(l_entry));
    // Each block is read once, straight into the thread's own buffer.
    if (!lp_file->open(QIODevice::ReadOnly | QIODevice::Unbuffered))
    {
        delete lp_file;
        Log(Area, 2,
            "File could not be opened, marking local error and sending denial message. Shouldn't "
            "we have done this before we requested the transfer?",
            l_user);
        if (peerMessenger)
            peerMessenger->DenyUpload(i_user, l_entry["filename_as_requested"].AsString(),
                                      "File read error.");
        SetUploadEntryStatus(l_entry, transfer_status::LocalError);
        StartNewUploads();
        return;
    }
    Log(Area, 2, "Requesting file connection to user", l_user);
    if (peerMessenger)
        peerMessenger->RequestFileConnectionToUser(i_user);
    AttachObject(l_entry, "upload_file", lp_file);
    SetUploadEntryStatus(l_entry, transfer_status::Connecting);
}

void TransferQueueManager::OnFileConnectionAccepted(QString i_user, QTcpSocket* ip_socket)
{
    const ItemPtr l_user = d.GetType("user")->HasItem(i_user);
    const ItemPtr l_connecting =
        d.GetType("upload_entry_status")->HasItem(transfer_status::Connecting);
    const ItemPtr l_entry =
        l_user && l_connecting ? d.GetItem(l_user, l_connecting, "upload_entry") : ItemPtr();
    QFile* lp_file = PeekObject<QFile>(l_entry["upload_file"]);
    if (!lp_file)
    {
        // Nobody waits for it: not ours to keep.
        ip_socket->disconnect();
        ip_socket->close();
        ip_socket->deleteLater();
        return;
    }

    AttachObject(l_entry, "upload_socket", ip_socket);
    SetUploadEntryStatus(l_entry, transfer_status::Uploading);
    AttachObject(l_entry, "last_receipt_time", new QDateTime(QDateTime::currentDateTime()));
    AttachObject(l_entry, "bytes_per_second", new qint32(0));
    AttachObject(l_entry, "read_position", new qint64(0));

    ip_socket->disconnect();
    const int l_req = static_cast<int>(l_entry["transfer_req"].AsUInt());
    UploadThread* lp_thread = new UploadThread(ip_socket, lp_file, l_req, this);
    ip_socket->setParent(nullptr);
    ip_socket->moveToThread(lp_thread);
    AttachObject(l_entry, "upload_thread", static_cast<TransferThread*>(lp_thread));
    connect(lp_thread, &UploadThread::UploadError, this, &TransferQueueManager::OnUploadError);
    connect(lp_thread, &UploadThread::UploadProgress, this,
            &TransferQueueManager::OnUploadProgress);
    connect(lp_thread, &UploadThread::UploadComplete, this,
            &TransferQueueManager::OnUploadComplete);
    lp_thread->start();
}

// Reports of a thread whose upload was removed or ended meanwhile find nothing: its item is
// gone, and its address stays taken until its deferred deletion, behind these reports.
ItemPtr TransferQueueManager::SendingUploadEntry()
{
    TransferThread* lp_thread = qobject_cast<TransferThread*>(sender());
    if (!lp_thread)
        return ItemPtr();
    const ItemPtr l_item = d.GetType("upload_thread")->HasItem(Value(lp_thread));
    if (!PeekObject<TransferThread>(l_item))
        return ItemPtr();
    return l_item["upload_entry"];
}

void TransferQueueManager::OnUploadProgress(qint64 i_offset, int i_bytesPerSecond)
{
    const ItemPtr l_entry = SendingUploadEntry();
    if (!l_entry)
        return;
    if (qint64* lp_position = PeekObject<qint64>(l_entry["read_position"]))
        *lp_position = i_offset;
    if (qint32* lp_speed = PeekObject<qint32>(l_entry["bytes_per_second"]))
        *lp_speed = i_bytesPerSecond;
    if (QDateTime* lp_time = PeekObject<QDateTime>(l_entry["last_receipt_time"]))
        *lp_time = QDateTime::currentDateTime();
    emit UploadProgressed(l_entry);
}

void TransferQueueManager::OnUploadComplete()
{
    const ItemPtr l_entry = SendingUploadEntry();
    if (!l_entry)
        return;
    const qint32* lp_speed = PeekObject<qint32>(l_entry["bytes_per_second"]);
    const int l_speed = lp_speed ? *lp_speed : 0;
    Log(Area, 1, QString("Recording upload speed of %1").arg(l_speed), ItemPtr());
    if (l_entry["shared_file"]["shared_file_size"].AsInt64() > SpeedReportMinimumBytes &&
        l_speed > 0 && gp_server)
        gp_server->SendUploadSpeed(l_speed);
    SetUploadEntryStatus(l_entry, transfer_status::Complete);
    StartNewUploads();
}

void TransferQueueManager::OnUploadError(QString i_reason)
{
    const ItemPtr l_entry = SendingUploadEntry();
    if (!l_entry)
        return;
    const ItemPtr l_user = l_entry["user"];
    Log(Area, 1,
        QString("Error uploading %1 to %2. %3")
            .arg(LocalPath(l_entry), l_user.AsString(), i_reason),
        l_user);
    SetUploadEntryStatus(l_entry, transfer_status::Aborted);
    StartNewUploads();
}
