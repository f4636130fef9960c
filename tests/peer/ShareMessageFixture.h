#pragma once

#include <QSignalSpy>
#include <QStringList>
#include <zlib.h>

#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "PeerLinkFixture.h"
#include "peer/Inflater.h"
#include "store/Data.h"

// One zlib stream at level 9, as the shares engine writes it.
inline QByteArray Deflated(const QByteArray& i_bytes)
{
    uLongf l_length = compressBound(static_cast<uLong>(i_bytes.size()));
    QByteArray l_out(static_cast<int>(l_length), '\0');
    compress2(reinterpret_cast<Bytef*>(l_out.data()), &l_length,
              reinterpret_cast<const Bytef*>(i_bytes.constData()),
              static_cast<uLong>(i_bytes.size()), 9);
    l_out.resize(static_cast<int>(l_length));
    return l_out;
}

// One file record; a negative size stands for a record whose present byte is 0.
struct ShareFile
{
    QByteArray path;
    qint64 size;
    std::vector<std::pair<qint32, qint32>> attributes;
};

// Share lists and search replies written out byte by byte, sent by a fake peer "bob" over a
// messaging connection of his own.
class ShareMessageFixture : public PeerLinkFixture
{
protected:
    void TearDown() override
    {
        mp_bob.reset();
        // Our own outgoing sockets have no parent to free them.
        std::set<QTcpSocket*> l_sockets;
        for (const char* l_type : {"connect_to_peer_request_socket", "peer_socket"})
            for (ItemPtr l_socket : g(l_type))
                l_sockets.insert(l_socket.AsPointer<QTcpSocket>());
        for (QTcpSocket* lp_socket : l_sockets)
            mp_messenger->DisposeOfSocket(lp_socket);
        PeerLinkFixture::TearDown();
    }

    // A frame that inflates to one byte past the ceiling.
    static QByteArray Bomb(quint32 i_code)
    {
        static const QByteArray s_zeros = Deflated(QByteArray(Inflater::DefaultCeiling + 1, '\0'));
        return Word(i_code) + s_zeros;
    }

    static QByteArray Files(const std::vector<ShareFile>& i_files)
    {
        WireFields l_files;
        l_files.Int32(static_cast<qint32>(i_files.size()));
        for (const ShareFile& l_file : i_files)
        {
            if (l_file.size < 0)
            {
                l_files.Byte(0);
                continue;
            }
            l_files.Byte(1).UInt32(static_cast<quint32>(l_file.path.size())).Raw(l_file.path);
            l_files.UInt32(static_cast<quint32>(l_file.size))
                .UInt32(static_cast<quint32>(static_cast<quint64>(l_file.size) >> 32))
                .Text("mp3")
                .Int32(static_cast<qint32>(l_file.attributes.size()));
            for (const auto& l_pair : l_file.attributes)
                l_files.Int32(l_pair.first).Int32(l_pair.second);
        }
        return l_files;
    }

    static QByteArray Reply(quint32 i_token, const std::vector<ShareFile>& i_files,
                            const QByteArray& i_tail = WireFields().Byte(1).Int32(250).Int32(3),
                            const QString& i_user = "bob")
    {
        return Word(9) +
               Deflated(WireFields().Text(i_user).UInt32(i_token).Raw(Files(i_files)).Raw(i_tail));
    }

    static ItemPtr Search(quint32 i_token, const QString& i_text)
    {
        ItemPtr l_request = d.GetType("search_request")->NewItem(Value(i_token));
        l_request += d.GetType("search_request_text")->GetItem(i_text);
        return l_request;
    }

    // Every result stored for the search: folder|name|size|bitrate|length|mode, sorted.
    static QStringList Results(ItemPtr i_request)
    {
        QStringList l_lines;
        for (ItemPtr l_result : i_request.GetItems("search_results").GetItems("search_result"))
        {
            QStringList l_fields;
            for (const char* l_type : {"search_result_file_folder", "search_result_file_name",
                                       "file_size", "bitrate", "length_seconds", "bitrate_mode"})
                l_fields << l_result[l_type].AsString();
            l_lines << l_fields.join('|');
        }
        l_lines.sort();
        return l_lines;
    }

    // A fresh messaging connection of bob's, once the previous one has gone.
    void ConnectBob()
    {
        if (!mp_bob)
            Listen();
        mp_bob.reset();
        EXPECT_TRUE(QTest::qWaitFor([] { return Count("peer_socket") == 0; }, 5000));
        mp_bob = Accepted(false, "bob");
    }

    // Sends the body and a message that asks for nothing behind it: true when both were read
    // and the connection is still up, false once it has ended.
    bool SendKeeps(const QByteArray& i_body)
    {
        const QString l_marker = "Received PM_NOTHING message from user bob";
        const int l_before = Logged(l_marker);
        mp_bob->SendFrame(i_body);
        mp_bob->SendFrame(Word(52));
        static_cast<void>(QTest::qWaitFor(
            [&] { return Logged(l_marker) > l_before || Count("peer_socket") == 0; }, 10000));
        return Count("peer_socket") == 1 && Logged(l_marker) > l_before;
    }

    std::unique_ptr<FakePeer> mp_bob;
};
