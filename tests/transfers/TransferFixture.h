#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QTemporaryDir>

#include <atomic>

#include "peer/PeerLinkFixture.h"
#include "store/Settings.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferStatus.h"
#include "transfers/TransferThread.h"

// A transfer thread that runs until it is asked to stop, or gives up after 20 s, so a missing
// stop request fails the test instead of hanging it.
class RunningThread : public TransferThread
{
    Q_OBJECT
public:
    std::atomic<bool> m_stoppedOnRequest{false};
signals:
    void Finishing();
protected:
    void run() override
    {
        for (m_clock.start(); !IsExitRequested() && !m_clock.hasExpired(20000);)
            msleep(1);
        m_stoppedOnRequest = IsExitRequested();
        emit Finishing();
    }
    QElapsedTimer m_clock;
};

// A messenger with a transfer queue manager over it, the shares' file types declared by hand.
class TransferFixture : public PeerLinkFixture
{
protected:
    // What one running transfer holds, watched from outside.
    struct Running
    {
        ItemPtr entry;
        QPointer<RunningThread> thread;
        QPointer<QTcpSocket> socket, peerEnd;
        QPointer<QFile> file;
        QString path;
    };

    void SetUp() override
    {
        PeerLinkFixture::SetUp();
        DeclareShares();
        if (m_buildManager)
            Build();
    }

    void Build() { mp_manager = std::make_unique<TransferQueueManager>(); }
    // The shares' file types by hand; a fixture may build the shares engine here instead.
    virtual void DeclareShares() { DeclareSharedFileTypes(); }

    // Transfers still running and objects still held are freed while the handlers listen.
    void TearDown() override
    {
        for (ItemPtr l_entry : mp_manager ? g("download_entry") : ItemSet())
            mp_manager->RemoveDownload(l_entry);
        for (ItemPtr l_entry : mp_manager ? g("upload_entry") : ItemSet())
            mp_manager->RemoveUpload(l_entry);
        d.RemoveDisconnectedItems();
        mp_manager.reset();
        PeerLinkFixture::TearDown();
    }

    // Without a status when i_status is null.
    ItemPtr NewEntry(bool i_upload, const char* i_status, const QString& i_user = "bob")
    {
        ItemPtr l_entry = d.GetType(i_upload ? "upload_entry" : "download_entry")->NewItem();
        l_entry += User(i_user);
        if (i_upload)
        {
            const ItemPtr l_file = l_entry += d.GetType("shared_file")->NewItem();
            l_file += d.GetType("shared_file_name")->GetItem("song.mp3");
            l_entry += d.GetType("filename_as_requested")->GetItem("Music\\song.mp3");
        }
        if (i_status)
            SetStatus(l_entry, i_upload, i_status);
        return l_entry;
    }

    void SetStatus(ItemPtr i_entry, bool i_upload, const char* i_status)
    {
        (mp_manager.get()->*(i_upload ? &TransferQueueManager::SetUploadEntryStatus
                                      : &TransferQueueManager::SetDownloadEntryStatus))(i_entry, i_status);
    }

    // An active entry with a running thread, a loopback socket, a partial file with unflushed
    // bytes and every transient value.
    Running NewRunning(bool i_upload, const QString& i_user)
    {
        const std::string l_kind = i_upload ? "upload" : "download";
        const ItemPtr l_entry = NewEntry(i_upload, i_upload ? transfer_status::Uploading : transfer_status::Downloading, i_user);
        Running l_run{l_entry, new RunningThread, new QTcpSocket, nullptr, nullptr, m_dir.filePath(i_user)};
        EXPECT_TRUE(m_listener.isListening() || m_listener.listen(QHostAddress::LocalHost));
        l_run.socket->connectToHost(QHostAddress::LocalHost, m_listener.serverPort());
        EXPECT_TRUE(l_run.socket->waitForConnected(5000) && m_listener.waitForNewConnection(5000));
        l_run.peerEnd = m_listener.nextPendingConnection();
        l_run.file = new QFile(l_run.path);
        EXPECT_TRUE(l_run.file->open(QIODevice::WriteOnly) && l_run.file->write("abc") == 3);
        mp_manager->AttachObject(l_entry, (l_kind + "_socket").c_str(), l_run.socket.data());
        mp_manager->AttachObject(l_entry, (l_kind + "_file").c_str(), l_run.file.data());
        for (const char* l_count : {i_upload ? "read_position" : "write_position", "bytes_since_last_receipt"})
            mp_manager->AttachObject(l_entry, l_count, new qint64(3));
        for (const char* l_time : {"last_receipt_time", "last_speed_measurement_time"})
            mp_manager->AttachObject(l_entry, l_time, new QDateTime);
        mp_manager->AttachObject(l_entry, "bytes_per_second", new qint32(0));
        QObject::connect(l_run.thread, &RunningThread::Finishing, mp_manager.get(), [this] { ++m_reports; });
        mp_manager->AttachObject(l_entry, (l_kind + "_thread").c_str(), static_cast<TransferThread*>(l_run.thread));
        l_run.thread->start();
        return l_run;
    }

    // "type=value" for every item connected to the item (only "type" without values), sorted.
    static QStringList Parts(ItemPtr i_item, bool i_values = true)
    {
        QStringList l_parts;
        for (auto l_type = i_item->Connections().Begin(); l_type != i_item->Connections().End(); ++l_type)
            for (ItemPtr l_part : *l_type.Set())
                l_parts << QString::fromStdString(l_part.GetType()->GetName()) +
                               (i_values ? "=" + l_part.AsString() : QString());
        l_parts.sort();
        return l_parts;
    }

    bool m_buildManager = true;
    std::unique_ptr<TransferQueueManager> mp_manager;
    QTcpServer m_listener;
    QTemporaryDir m_dir;
    int m_reports = 0;
};
