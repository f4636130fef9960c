#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTcpSocket>
#include <QtEndian>

#include "diagnostics/Log.h"
#include "peer/PeerMessenger.h"
#include "store/GeneralFunctions.h"
#include "transfers/DownloadThread.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferStatus.h"

namespace
{
const char* const Area = "Transfer Queue";

QString Status(ItemPtr i_entry)
{
    return i_entry["download_entry_status"].AsString();
}

QString LocalPath(QString i_path)
{
    return i_path.replace(QLatin1Char('\\'), QLatin1Char('/'));
}

// Not ours to keep: closed now, freed once its queued events are through.
void DropSocket(QTcpSocket* ip_socket)
{
    ip_socket->disconnect();
    ip_socket->close();
    ip_socket->deleteLater();
}
} // namespace

void TransferQueueManager::OnFileTransferRequest(QString i_user, int i_direction, uint i_req,
                                                 std::string i_path, qint64 i_size)
{
    const std::string l_fileName = GetFileName(i_path);
    const std::string l_folder = GetFolder(i_path);
    if (i_direction != 1)
    {
        // The peer wants one of our files: that is a queue request for the upload side.
        if (peerMessenger)
            peerMessenger->DenyTransferRequest(i_user, i_req, "Queued");
        OnQueueUploadRequested(i_user, ToQString(i_path));
        return;
    }

    ItemPtr l_user = d.GetType("user")->HasItem(i_user);
    Log(Area, 1,
        QString("Received upload request from %1 for file %2, req %3")
            .arg(i_user, ToQString(i_path))
            .arg(i_req),
        l_user);
    ItemPtr l_entry = GetDownloadEntry(i_user, l_fileName, l_folder);
    if (!l_entry)
    {
        if (!CanAcceptUserInitiatedUploadsFrom(i_user))
        {
            Log(Area, 2, "Denied, Cancelled", l_user);
            if (peerMessenger)
                peerMessenger->DenyTransferRequest(i_user, i_req, "Cancelled");
            return;
        }
        l_entry = NewDownloadEntry(i_user, l_fileName, l_folder, i_size, 0);
        l_user = l_entry["user"];
        SetDownloadEntryStatus(l_entry, transfer_status::Queued);
    }
    if (Status(l_entry) == transfer_status::Complete)
    {
        Log(Area, 2, "Denied, Complete", l_user);
        if (peerMessenger)
            peerMessenger->DenyTransferRequest(i_user, i_req, "Complete");
        return;
    }

    // The number names one download of this user: a late file connection with the old number
    // finds nothing.
    const ItemPtr l_number = d.GetType("remote_transfer_req")->GetItem(Value(i_req));
    for (ItemPtr l_other : l_number.GetItems("download_entry"))
        if (l_other != l_entry && l_other["user"] == l_user)
            l_other -= l_number;
    l_entry += l_number;

    if (Status(l_entry) == transfer_status::Downloading)
    {
        Log(Area, 2, "Transfer is already downloading, cancelling...", l_user);
        // Leaving the active state asks the thread to stop and waits for it.
        SetDownloadEntryStatus(l_entry, transfer_status::Aborted);
    }
    if (peerMessenger)
        peerMessenger->AcceptTransferRequest(i_user, i_req, false, 0);
    Log(Area, 2, "Accepted", l_user);
}

// Two writers on one partial file would interleave their bytes, and a finished file needs none.
QString TransferQueueManager::FileConnectionRefusal(ItemPtr i_entry)
{
    const QString l_status = Status(i_entry);
    if (l_status == transfer_status::Complete)
        return "Download already complete, refusing file connection";
    if (l_status == transfer_status::Downloading || i_entry["download_thread"])
        return "Download already running, refusing second file connection";
    const QString l_path = LocalPath(GetDownloadTargetPath(i_entry, false));
    if (l_path.isEmpty())
        return "Could not open file, aborting";
    for (ItemPtr l_file : g("download_file"))
        if (QFile* lp_file = PeekObject<QFile>(l_file))
            if (QFileInfo(lp_file->fileName()) == QFileInfo(l_path))
                return QString("Partial file %1 is being written by another download, refusing "
                               "file connection")
                    .arg(l_path);
    return QString();
}

void TransferQueueManager::OnFileConnection(QString i_user, QTcpSocket* ip_socket, uint i_req)
{
    const ItemPtr l_user = d.GetType("user")->HasItem(i_user);
    Log(Area, 1, QString("File connection created by user %1 for req %2").arg(i_user).arg(i_req),
        l_user);
    const ItemPtr l_number = d.GetType("remote_transfer_req")->HasItem(Value(i_req));
    const ItemPtr l_entry = l_number && l_user ? d.GetItem(l_number, l_user, "download_entry") : ItemPtr();
    if (!l_entry)
    {
        DropSocket(ip_socket);
        Log(Area, 2, "Download not found, aborting", l_user);
        return;
    }
    const QString l_refusal = FileConnectionRefusal(l_entry);
    if (!l_refusal.isEmpty())
    {
        DropSocket(ip_socket);
        Log(Area, 1, l_refusal, l_user);
        return;
    }

    const QString l_path = LocalPath(GetDownloadTargetPath(l_entry, false));
    QDir().mkpath(QFileInfo(l_path).path());
    QFile* lp_file = new QFile(l_path);
    if (!lp_file->open(QIODevice::WriteOnly | QIODevice::Append))
    {
        SetDownloadEntryStatus(l_entry, transfer_status::LocalError);
        delete lp_file;
        DropSocket(ip_socket);
        Log(Area, 2, "Could not open file, aborting", l_user);
        return;
    }

    // The uploader starts where the partial file ends.
    const qint64 l_offset = lp_file->size();
    uchar l_offsetBytes[8];
    qToLittleEndian<qint64>(l_offset, l_offsetBytes);
    ip_socket->write(reinterpret_cast<const char*>(l_offsetBytes), sizeof l_offsetBytes);
    ip_socket->flush();

    const QDateTime l_now = QDateTime::currentDateTime();
    AttachObject(l_entry, "download_socket", ip_socket);
    AttachObject(l_entry, "download_file", lp_file);
    AttachObject(l_entry, "write_position", new qint64(l_offset));
    SetDownloadEntryStatus(l_entry, transfer_status::Downloading);
    AttachObject(l_entry, "last_receipt_time", new QDateTime(l_now));
    AttachObject(l_entry, "last_speed_measurement_time", new QDateTime(l_now));
    AttachObject(l_entry, "bytes_per_second", new qint32(0));
    AttachObject(l_entry, "bytes_since_last_receipt", new qint64(0));

    const qint64 l_size = l_entry["file_size"].AsInt64();
    ip_socket->disconnect();
    DownloadThread* lp_thread = new DownloadThread(ip_socket, lp_file, l_size, l_offset);
    ip_socket->setParent(nullptr);
    ip_socket->moveToThread(lp_thread);
    AttachObject(l_entry, "download_thread", static_cast<TransferThread*>(lp_thread));
    connect(lp_thread, &DownloadThread::DownloadError, this, &TransferQueueManager::OnDownloadError);
    connect(lp_thread, &DownloadThread::DownloadProgress, this,
            &TransferQueueManager::OnDownloadProgress);
    connect(lp_thread, &DownloadThread::DownloadComplete, this,
            &TransferQueueManager::OnDownloadComplete);
    lp_thread->start();
    Log(Area, 2, "Downloading", l_user);
}

// Reports of a thread whose download was removed or ended meanwhile find nothing: its item is
// gone, and its address stays taken until its deferred deletion, behind these reports.
ItemPtr TransferQueueManager::SendingDownloadEntry()
{
    TransferThread* lp_thread = qobject_cast<TransferThread*>(sender());
    if (!lp_thread)
        return ItemPtr();
    const ItemPtr l_item = d.GetType("download_thread")->HasItem(Value(lp_thread));
    if (!PeekObject<TransferThread>(l_item))
        return ItemPtr();
    return l_item["download_entry"];
}

void TransferQueueManager::OnDownloadProgress(qint64 i_offset, int i_bytesPerSecond)
{
    const ItemPtr l_entry = SendingDownloadEntry();
    if (!l_entry)
        return;
    if (qint64* lp_position = PeekObject<qint64>(l_entry["write_position"]))
        *lp_position = i_offset;
    if (qint32* lp_speed = PeekObject<qint32>(l_entry["bytes_per_second"]))
        *lp_speed = i_bytesPerSecond;
    if (QDateTime* lp_time = PeekObject<QDateTime>(l_entry["last_receipt_time"]))
        *lp_time = QDateTime::currentDateTime();
    emit DownloadProgressed(l_entry);
}

void TransferQueueManager::OnDownloadError(QString i_reason)
{
    const ItemPtr l_entry = SendingDownloadEntry();
    if (!l_entry)
        return;
    Log(Area, 1,
        QString("Error downloading %1 from %2. %3")
            .arg(l_entry["file_name"].AsString(), l_entry["user"].AsString(), i_reason),
        l_entry["user"]);
    // The partial file stays; the next transfer resumes from its size.
    SetDownloadEntryStatus(l_entry, transfer_status::Aborted);
}

void TransferQueueManager::OnDownloadComplete()
{
    const ItemPtr l_entry = SendingDownloadEntry();
    if (!l_entry)
        return;
    if (TransferThread* lp_thread = PeekObject<TransferThread>(l_entry["download_thread"]))
        lp_thread->wait();
    QString l_folder;
    QString l_fileName;
    if (!MoveFinishedDownload(l_entry, l_folder, l_fileName))
    {
        SetDownloadEntryStatus(l_entry, transfer_status::LocalError);
        return;
    }
    SetDownloadEntryStatus(l_entry, transfer_status::Complete);
    RemoveDownloadDownloadingFolderIfAppropriate(l_entry);
    RecordCompleteDownload(l_entry, l_folder, l_fileName);
}

bool TransferQueueManager::MoveFinishedDownload(ItemPtr i_entry, QString& o_folder,
                                                QString& o_fileName)
{
    const ItemPtr l_user = i_entry["user"];
    const QString l_partial = LocalPath(GetDownloadTargetPath(i_entry, false));
    o_folder = GetDownloadTargetFolder(i_entry, true);
    const QString l_target = LocalPath(GetDownloadTargetPath(i_entry, true));
    if (l_partial.isEmpty() || o_folder.isEmpty() || l_target.isEmpty())
        return false;
    o_fileName = QFileInfo(l_target).fileName();
    QString l_failure;
    if (!QDir().mkpath(LocalPath(o_folder)))
        l_failure = "the folder could not be made";
    // A file of that name is another download's, or the user's: it is never replaced.
    else if (QFileInfo::exists(l_target))
        l_failure = "a file of that name is already there";
    else
    {
        // Falls back to copying and removing when the two lie on different file systems.
        QFile l_file(l_partial);
        if (!l_file.rename(l_target))
            l_failure = l_file.errorString();
    }
    if (l_failure.isEmpty())
        return true;
    Log(Area, 1,
        QString("Could not move finished download %1 to %2: %3. The partial file is kept, marking "
                "local error")
            .arg(l_partial, l_target, l_failure),
        l_user);
    return false;
}

// One record per user, complete folder and file name: the same file fetched again, once the
// user took the first copy away, brings the record up to date with the latest download's time,
// size and search. Where the file lies is what made it the same record, so that part stays.
void TransferQueueManager::RecordCompleteDownload(ItemPtr i_entry, const QString& i_folder,
                                                  const QString& i_fileName)
{
    const ItemPtr l_user = i_entry["user"];
    const ItemPtr l_folder = d.GetType("complete_download_folder")->HasItem(i_folder);
    const ItemPtr l_name = d.GetType("complete_download_filename")->HasItem(i_fileName);
    ItemPtr l_record;
    if (l_folder && l_name)
    {
        ItemSet l_parts(l_user);
        l_parts.Insert(l_folder);
        l_parts.Insert(l_name);
        l_record = d.GetItem(l_parts, "complete_download");
    }
    if (!l_record)
    {
        l_record = d.GetType("complete_download")->NewItem();
        l_record += l_user;
        l_record += d.GetType("complete_download_folder")->GetItem(i_folder);
        l_record += d.GetType("complete_download_relative_folder")
                        ->GetItem(GetDownloadRelativeDownloadFolder(i_entry));
        l_record += d.GetType("complete_download_filename")->GetItem(i_fileName);
    }
    // Each holds one value: connecting the new one lets the old go at the next collection.
    l_record += d.GetType("complete_download_file_size")->GetItem(i_entry["file_size"].AsStdString());
    l_record += d.GetType("complete_download_completion_time")
                    ->GetItem(TransferTimeStamp(QDateTime::currentDateTime()));
    if (ItemPtr l_search = i_entry["search_request_text"])
        l_record += l_search;
    else
        l_record.Disconnect("search_request_text");
    emit CompleteDownloadAdded(l_record);
}
