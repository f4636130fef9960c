#pragma once

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtEndian>

#include <atomic>
#include <functional>
#include <tuple>

#include "peer/PeerLinkFixture.h"
#include "shares/SharedFoldersManager.h"
#include "store/Settings.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferStatus.h"
#include "transfers/UploadThread.h"

using namespace transfer_status;

// Runs until asked to stop, then takes i_stopMs more as in the middle of a block; it gives up
// after 20 s, so a missing stop request fails the test instead of hanging it.
class RunningThread : public TransferThread
{
    Q_OBJECT
public:
    explicit RunningThread(int i_stopMs = 0) : m_stopMs(i_stopMs) {}
    std::atomic<bool> m_stoppedOnRequest{false};
signals:
    void Finishing();
protected:
    void run() override
    {
        QElapsedTimer l_clock;
        for (l_clock.start(); !IsExitRequested() && !l_clock.hasExpired(20000);)
            msleep(1);
        m_stoppedOnRequest = IsExitRequested();
        msleep(static_cast<unsigned long>(m_stopMs));
        emit Finishing();
    }
    const int m_stopMs;
};

// A transfer queue manager over a messenger and the real shares engine, downloading into m_dir.
class TransferFixture : public PeerLinkFixture
{
protected:
    struct Running
    {
        ItemPtr entry;
        QPointer<RunningThread> thread;
        QPointer<QTcpSocket> socket;
        QPointer<QFile> file;
        std::unique_ptr<FakePeer> peer;
    };

    void SetUp() override
    {
        PeerLinkFixture::SetUp();
        mp_shares = std::make_unique<SharedFoldersManager>();
        if (!m_buildManager)
            return;
        Build();
        SetSetting("download_folder", m_dir.path());
    }

    void Build() { mp_manager = std::make_unique<TransferQueueManager>(); }

    // The manager frees what transfers still running hold.
    void TearDown() override
    {
        mp_manager.reset();
        PeerLinkFixture::TearDown();
        mp_shares.reset();
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
        i_upload ? mp_manager->SetUploadEntryStatus(i_entry, i_status) : mp_manager->SetDownloadEntryStatus(i_entry, i_status);
    }

    ItemPtr Download(const std::string& i_file = "song.mp3", qint64 i_size = 100, const QString& i_user = "bob")
    {
        return mp_manager->AddDownload(i_user, i_file, "Music\\Album", i_size, 0);
    }

    // Either kind of entry.
    static QString Status(ItemPtr i_entry)
    {
        return i_entry["download_entry_status"].AsString() + i_entry["upload_entry_status"].AsString();
    }
    static void Online(const QString& i_user) { User(i_user).NewItem("is_online"); }

    // Whether the item's stamp, read back with Qt::TextDate, lies i_seconds after the test began.
    bool StampedAhead(ItemPtr i_item, const char* i_type, int i_seconds) const
    {
        const QDateTime l_stamp = QDateTime::fromString(i_item[i_type].AsString(), Qt::TextDate);
        return l_stamp.isValid() && l_stamp >= m_start.addSecs(i_seconds - 1) &&
               l_stamp <= QDateTime::currentDateTime().addSecs(i_seconds);
    }

    // The messages parked for the user, oldest first, as text without our shared folder; then forgotten.
    QStringList Parked(const QString& i_user = "bob")
    {
        // i: 32 bits, b: a byte, l: 64 bits, t: a text; a message may end early.
        static const QMap<quint32, QByteArray> s_fields = {
            {40, "iitl"}, {41, "ibt"}, {43, "t"}, {44, "ti"}, {46, "t"}, {50, "tt"}, {51, "t"}, {60, "tl"}};
        QStringList l_messages;
        const ItemSet l_parked = User(i_user).GetItems("unsent_message");
        for (ItemPtr l_item : l_parked.SortNumericBy("send_order", true))
        {
            const MemStream* lp_message = l_item.AsPointer<MemStream>();
            QByteArray l_bytes(lp_message->GetBuffer(), lp_message->GetWriteIndex());
            const auto l_take = [&](int i_size) { return std::exchange(l_bytes, l_bytes.mid(i_size)).left(i_size); };
            const auto l_word = [&] { return qFromLittleEndian<quint32>(l_take(4).constData()); };
            QStringList l_fields{QString::number(l_word())};
            for (const char l_kind : s_fields.value(l_fields[0].toUInt()))
                if (!l_bytes.isEmpty())
                    l_fields << (l_kind == 't'   ? QString::fromUtf8(l_take(int(l_word()))).remove(Remote(""))
                                 : l_kind == 'l' ? QString::number(qFromLittleEndian<qint64>(l_take(8).constData()))
                                                 : QString::number(l_kind == 'i' ? l_word() : quint8(l_take(1)[0])));
            l_messages << l_fields.join(' ');
        }
        l_parked.Remove();
        return l_messages;
    }

    // Files starting with a pattern, shared with everyone; the rest of a large one is a hole.
    void Share(const std::vector<std::pair<QString, qint64>>& i_files)
    {
        QDir().mkpath(m_dir.filePath("shared"));
        for (const auto& [l_name, l_size] : i_files)
        {
            QFile l_file(m_dir.filePath("shared/" + l_name));
            ASSERT_TRUE(l_file.open(QIODevice::WriteOnly) && l_file.resize(l_size));
            l_file.write(Pattern(qMin<qint64>(l_size, 1 << 16)));
        }
        m_folder = mp_shares->AddSharedFolder(m_dir.filePath("shared"));
        m_folder.NewItem("shared_public");
    }
    // Its period divides no block, so a misplaced block shows.
    static QByteArray Pattern(qint64 i_size)
    {
        return QByteArray("0123456789abcdefghijklmnopqrstuvwxyz").repeated(int(i_size / 36 + 1)).left(int(i_size));
    }
    // The path a peer asks for: our local path in backslash form.
    QString Remote(const QString& i_name) const { return m_dir.filePath("shared/" + i_name).replace('/', '\\'); }
    ItemPtr Entry(const QString& i_user, const QString& i_name) const
    {
        const ItemPtr l_name = d.GetType("filename_as_requested")->HasItem(Remote(i_name));
        return l_name ? d.GetItem(User(i_user), l_name, "upload_entry") : ItemPtr();
    }

    // The user's "requesting" upload accepted by the peer (the downloader), which sends offset 0.
    std::unique_ptr<FakePeer> Accept(const QString& i_user, bool i_sendOffset = true)
    {
        const ItemPtr l_requesting = d.GetType("upload_entry_status")->HasItem(transfer_status::Requesting);
        const ItemPtr l_entry = d.GetItem(User(i_user), l_requesting, "upload_entry");
        mp_manager->OnFileTransferResponse(i_user, l_entry["transfer_req"].AsUInt(), true, false, 0, "");
        auto lp_downloader = std::make_unique<FakePeer>();
        QTcpSocket* lp_uploader = lp_downloader->Linked();
        m_uploaderSocket = lp_uploader->socketDescriptor();
        mp_manager->OnFileConnectionAccepted(i_user, lp_uploader);
        if (i_sendOffset)
            lp_downloader->SendRaw(Int64(0));
        return lp_downloader;
    }

    // An active entry with a running thread, a socket, a file with unflushed bytes and every transient value.
    Running NewRunning(bool i_upload, const QString& i_user)
    {
        const std::string l_kind = i_upload ? "upload" : "download";
        const ItemPtr l_entry = NewEntry(i_upload, i_upload ? transfer_status::Uploading : transfer_status::Downloading, i_user);
        auto lp_peer = std::make_unique<FakePeer>();
        Running l_run{l_entry, new RunningThread, lp_peer->Linked(), new QFile(m_dir.filePath(i_user)), std::move(lp_peer)};
        EXPECT_TRUE(l_run.file->open(QIODevice::WriteOnly) && l_run.file->write("abc") == 3);
        mp_manager->AttachObject(l_entry, (l_kind + "_socket").c_str(), l_run.socket.data());
        mp_manager->AttachObject(l_entry, (l_kind + "_file").c_str(), l_run.file.data());
        for (const char* l_count : {i_upload ? "read_position" : "write_position", "bytes_since_last_receipt"})
            mp_manager->AttachObject(l_entry, l_count, new qint64(3));
        for (const char* l_time : {"last_receipt_time", "last_speed_measurement_time"})
            mp_manager->AttachObject(l_entry, l_time, new QDateTime);
        mp_manager->AttachObject(l_entry, "bytes_per_second", new qint32(0));
        mp_manager->AttachObject(l_entry, (l_kind + "_thread").c_str(), static_cast<TransferThread*>(l_run.thread));
        l_run.thread->start();
        return l_run;
    }

    // "type=value" (or "type") for every item connected to the item, sorted.
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
    // The reverse: connects an item of each "type=value".
    static void Fill(ItemPtr i_item, const QStringList& i_parts)
    {
        for (const QString& l_part : i_parts)
            i_item += d.GetType(l_part.section('=', 0, 0).toStdString())->GetItem(l_part.section('=', 1));
    }

    bool m_buildManager = true;
    std::unique_ptr<SharedFoldersManager> mp_shares;
    std::unique_ptr<TransferQueueManager> mp_manager;
    QTemporaryDir m_dir;
    ItemPtr m_folder;
    qintptr m_uploaderSocket = -1;
    const QDateTime m_start = QDateTime::currentDateTime();
};
