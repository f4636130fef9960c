#pragma once

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTreeWidget>

#include <utility>
#include <vector>

#include "ProgramFixture.h"
#include "shares/SharedFoldersManager.h"
#include "store/Data.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferStatus.h"
#include "views/transfers/TransferBarDelegate.h"
#include "views/transfers/TransfersForm.h"

// The whole client's transfers page, with transfers queued as the transfer queues queue them and
// moved by the test as the queues move them: uploads of our own files, shared with everyone, each
// a hole on disk of its size.
class TransfersWindowFixture : public ProgramFixture
{
protected:
    TransfersForm* Form() const { return mp_ui->transfersForm; }
    QTreeWidget* List(bool i_upload) const { return i_upload ? Form()->UploadsList() : Form()->DownloadsList(); }

    // Files of their sizes in a folder of our shares.
    void ShareFiles(const QString& i_folder, const std::vector<std::pair<QString, qint64>>& i_files)
    {
        ASSERT_TRUE(QDir().mkpath(Home() + "/shared/" + i_folder));
        for (const auto& [l_name, l_size] : i_files)
        {
            QFile l_file(Home() + "/shared/" + i_folder + "/" + l_name);
            ASSERT_TRUE(l_file.open(QIODevice::WriteOnly) && l_file.resize(l_size));
        }
        if (!d.GetType("shared_folder")->HasItem(Home() + "/shared"))
            sharedFoldersManager->AddSharedFolder(Home() + "/shared").NewItem("shared_public");
        else
            sharedFoldersManager->RescanShares();
    }
    // Files of that size in a folder of our shares.
    void ShareFiles(const QString& i_folder, const QStringList& i_names, qint64 i_size)
    {
        std::vector<std::pair<QString, qint64>> l_files;
        for (const QString& l_name : i_names)
            l_files.emplace_back(l_name, i_size);
        ShareFiles(i_folder, l_files);
    }

    // A download from the user, or an upload to the user of a shared file.
    ItemPtr Queue(bool i_upload, const QString& i_user, const QString& i_folder, const QString& i_name,
                  qint64 i_size = 3000000)
    {
        if (!i_upload)
            return transferQueueManager->AddDownload(i_user, i_name.toStdString(), ("Music\\" + i_folder).toStdString(),
                                                     i_size, 0);
        const QString l_path = Home() + "/shared/" + i_folder + "/" + i_name;
        transferQueueManager->AddUpload(i_user, QString(l_path).replace('/', '\\'));
        return d.GetItem(d.GetType("user")->GetItem(i_user), sharedFoldersManager->GetSharedFileItem(l_path),
                         "upload_entry");
    }

    static void SetStatus(ItemPtr i_entry, bool i_upload, const QString& i_status)
    {
        if (i_upload)
            transferQueueManager->SetUploadEntryStatus(i_entry, i_status);
        else
            transferQueueManager->SetDownloadEntryStatus(i_entry, i_status);
    }
    // Running, with the figures of a transfer under way as the queues set them up.
    static void Run(ItemPtr i_entry, bool i_upload, qint64 i_position, qint32 i_speed)
    {
        transferQueueManager->AttachObject(i_entry, i_upload ? "read_position" : "write_position", new qint64(i_position));
        SetStatus(i_entry, i_upload, i_upload ? transfer_status::Uploading : transfer_status::Downloading);
        transferQueueManager->AttachObject(i_entry, "last_receipt_time", new QDateTime(QDateTime::currentDateTime()));
        transferQueueManager->AttachObject(i_entry, "bytes_per_second", new qint32(i_speed));
    }
    // A block moved, reported as the queues report it.
    static void Report(ItemPtr i_entry, bool i_upload, qint64 i_position)
    {
        *transferQueueManager->PeekObject<qint64>(i_entry[i_upload ? "read_position" : "write_position"]) = i_position;
        if (i_upload)
            emit transferQueueManager->UploadProgressed(i_entry);
        else
            emit transferQueueManager->DownloadProgressed(i_entry);
    }
    static void Remove(ItemPtr i_entry, bool i_upload)
    {
        if (i_upload)
            transferQueueManager->RemoveUpload(i_entry);
        else
            transferQueueManager->RemoveDownload(i_entry);
    }

    static QTreeWidgetItem* RowOf(ItemPtr i_entry, bool i_upload)
    {
        const ItemPtr l_node = i_entry[i_upload ? "upload_list_node" : "download_list_node"];
        return l_node ? l_node.AsPointer<QTreeWidgetItem>() : nullptr;
    }
    // The text and value of the bar drawn in a row's progress cell.
    static QString BarOf(QTreeWidgetItem* ip_row)
    {
        const QVariant l_text = ip_row->data(4, TransferBarDelegate::TextRole);
        return l_text.isValid()
                   ? QString("%1 [%2]").arg(l_text.toString()).arg(ip_row->data(4, TransferBarDelegate::ValueRole).toInt())
                   : QString("no bar");
    }
};
