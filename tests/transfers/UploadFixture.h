#pragma once

#include <QDir>
#include <QTimer>
#include <QtEndian>

#include <vector>

#include "TransferFixture.h"
#include "shares/SharedFoldersManager.h"
#include "transfers/UploadThread.h"

// The downloader's end of a file connection, scripted: it reads the transfer number, sends the
// offset in the pieces given (one every 100 ms), then takes the file's bytes, closing once it has
// closeAfter of them.
class Downloader : public QObject
{
public:
    Downloader(QTcpSocket* ip_socket, std::vector<QByteArray> i_pieces, qint64 i_closeAfter = -1)
        : mp_socket(ip_socket), m_pieces(std::move(i_pieces)), m_closeAfter(i_closeAfter)
    {
        connect(mp_socket, &QTcpSocket::readyRead, this, [this] { Read(); });
    }
    static std::vector<QByteArray> Offset(qint64 i_offset)
    {
        return {QByteArray(reinterpret_cast<const char*>(&(i_offset = qToLittleEndian(i_offset))), 8)};
    }
    void Read()
    {
        const QByteArray l_bytes = mp_socket->readAll();
        const int l_header = qMin(l_bytes.size(), 4 - m_number.size());
        m_number += l_bytes.left(l_header);
        m_data += l_bytes.mid(l_header);
        if (m_number.size() == 4 && !std::exchange(m_offsetStarted, true))
            SendPiece();
        if (m_closeAfter >= 0 && m_data.size() >= m_closeAfter)
            mp_socket->close();
    }
    void SendPiece()
    {
        if (m_pieces.empty())
            return;
        mp_socket->write(m_pieces.front());
        m_pieces.erase(m_pieces.begin());
        QTimer::singleShot(100, this, [this] { SendPiece(); });
    }
    QTcpSocket* mp_socket;
    std::vector<QByteArray> m_pieces;
    qint64 m_closeAfter;
    QByteArray m_number, m_data;
    bool m_offsetStarted = false;
};

// The transfer queue manager over the real shares engine with one folder on disk shared with
// everyone, and what the client told each user, read from the messages parked for them.
class UploadFixture : public TransferFixture
{
protected:
    void DeclareShares() override { mp_shares = std::make_unique<SharedFoldersManager>(); }
    void TearDown() override { TransferFixture::TearDown(), mp_shares.reset(); }

    // Files of those sizes starting with a pattern; the rest of a large one is a hole.
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
    static QByteArray Pattern(qint64 i_size) { return QByteArray("0123456789abcdefghijklmnopqrstuvwxyz").repeated(int(i_size / 36 + 1)).left(int(i_size)); }
    // The path a peer asks for: our local path in backslash form.
    QString Remote(const QString& i_name) const { return m_dir.filePath("shared/" + i_name).replace('/', '\\'); }
    ItemPtr Entry(const QString& i_user, const QString& i_name) const
    {
        const ItemPtr l_name = d.GetType("filename_as_requested")->HasItem(Remote(i_name));
        return l_name ? d.GetItem(User(i_user), l_name, "upload_entry") : ItemPtr();
    }
    static QString Status(ItemPtr i_entry) { return i_entry["upload_entry_status"].AsString(); }
    static void Online(const QString& i_user) { User(i_user).NewItem("is_online"); }

    // The messages parked for the user, oldest first, then forgotten: the code and the fields of 4, 40
    // (direction, number, file, size), 44 (file, place), 50 (file, reason), 60 (file, size); paths cut to names.
    QStringList Told(const QString& i_user)
    {
        QStringList l_messages;
        const ItemSet l_parked = User(i_user).GetItems("unsent_message");
        for (ItemPtr l_item : l_parked.SortNumericBy("send_order", true))
        {
            const MemStream* lp_message = l_item.AsPointer<MemStream>();
            const char* lp_at = lp_message->GetBuffer();
            const auto l_word = [&] { return qFromLittleEndian<qint32>((lp_at += 4) - 4); };
            const auto l_text = [&] {
                const int l_length = l_word();
                return QString::fromUtf8((lp_at += l_length) - l_length, l_length).section('\\', -1);
            };
            const qint32 l_code = l_word();
            QStringList l_fields{QString::number(l_code)};
            if (l_code == 40)
                l_fields << QString::number(l_word()) << QString::number(l_word());
            if (l_code != 4)
                l_fields << l_text();
            if (l_code == 50)
                l_fields << l_text();
            if (l_code == 44 || l_code == 40 || l_code == 60)
                l_fields << QString::number(l_code == 44 ? l_word() : qFromLittleEndian<qint64>(lp_at));
            l_messages << l_fields.join(' ');
        }
        l_parked.Remove();
        return l_messages;
    }

    // The uploader's end of a loopback connection, parentless as the messenger hands it over,
    // and the test's end.
    std::pair<QTcpSocket*, QTcpSocket*> Connection()
    {
        EXPECT_TRUE(m_listener.isListening() || m_listener.listen(QHostAddress::LocalHost));
        QTcpSocket* lp_uploader = new QTcpSocket;
        lp_uploader->connectToHost(QHostAddress::LocalHost, m_listener.serverPort());
        EXPECT_TRUE(lp_uploader->waitForConnected(5000) && m_listener.waitForNewConnection(5000));
        return {lp_uploader, m_listener.nextPendingConnection()};
    }

    // The user's "requesting" upload accepted by the peer and given a file connection.
    std::unique_ptr<Downloader> Accept(const QString& i_user, std::vector<QByteArray> i_offset = Downloader::Offset(0),
                                       qint64 i_closeAfter = -1)
    {
        const ItemPtr l_requesting = d.GetType("upload_entry_status")->HasItem(transfer_status::Requesting);
        const ItemPtr l_entry = d.GetItem(User(i_user), l_requesting, "upload_entry");
        mp_manager->OnFileTransferResponse(i_user, l_entry["transfer_req"].AsUInt(), true, false, 0, "");
        const auto [lp_uploader, lp_downloader] = Connection();
        mp_manager->OnFileConnectionAccepted(i_user, lp_uploader);
        return std::make_unique<Downloader>(lp_downloader, std::move(i_offset), i_closeAfter);
    }

    std::unique_ptr<SharedFoldersManager> mp_shares;
    ItemPtr m_folder;
};
