#pragma once

#include <QLocale>
#include <QPointer>

#include <set>
#include <vector>

#include "diagnostics/LogService.h"
#include "diagnostics/LogSink.h"
#include "peer/Inflater.h"
#include "peer/PeerMessenger.h"
#include "support/support/ClosedPort.h"
#include "support/support/FakePeer.h"
#include "support/support/ServerFixture.h"

// One zlib stream at level 9, as the shares engine writes it: qCompress's, without its length prefix.
inline QByteArray Deflated(const QByteArray& i_bytes) { return qCompress(i_bytes, 9).mid(4); }

// One file record; a negative size stands for a record whose present byte is 0.
struct ShareFile
{
    QByteArray path;
    qint64 size;
    std::vector<std::pair<qint32, qint32>> attributes;
};

// What tests reach of the messenger's own state.
class PeerMessengerTesting
{
public:
    static void ApplyListeningPortSettings() { PeerMessenger::ApplyListeningPortSettings(); }
    static void ExpireAsOf(PeerMessenger& io_messenger, const QDateTime& i_now) { io_messenger.ExpireAsOf(i_now); }
    // What has arrived of the socket's current frame; null when it has no receive record.
    static const PeerMessenger::SocketBufferInfo* ReceiveRecord(const PeerMessenger& i_messenger,
                                                                QTcpSocket* ip_socket)
    {
        auto l_found = i_messenger.m_socketBuffers.find(ip_socket);
        return l_found == i_messenger.m_socketBuffers.end() ? nullptr : &l_found->second;
    }
    static bool Listening(const PeerMessenger& i_messenger)
    {
        return i_messenger.m_listener.isListening() && i_messenger.m_obfuscatedListener.isListening();
    }
    static void CloseListeners(PeerMessenger& io_messenger)
    {
        io_messenger.m_listener.close();
        io_messenger.m_obfuscatedListener.close();
    }
    static void SetCeilings(PeerMessenger& io_messenger, qint64 i_unsent, qint64 i_heldFrames,
                            qint64 i_totalUnsent = PeerMessenger::MaxTotalUnsentBytes)
    {
        io_messenger.m_maxUnsentBytes = i_unsent;
        io_messenger.HeldFrames().SetCeiling(i_heldFrames);
        io_messenger.UnsentBytes().SetCeiling(i_totalUnsent);
    }
    // The freed bytes past which the half-minute hands pages back to the system, and how often
    // it has.
    static void SetReturnedBytes(PeerMessenger& io_messenger, qint64 i_bytes) { io_messenger.m_returnedBytes = i_bytes; }
    static quint64 MemoryReturns(const PeerMessenger& i_messenger) { return i_messenger.m_memoryReturns; }
};

// A messenger on free ports, its log lines and signals recorded as text, fake peers on 127.0.0.1.
class PeerLinkFixture : public ServerFixture, public LogSink
{
protected:
    struct Frame
    {
        const char* name;
        QByteArray body;
        bool keeps;     // whether the connection survives the frame
        QString signal; // the one signal it gives, as recorded
    };

    void SetUp() override
    {
        ServerFixture::SetUp();
        mp_messenger = std::make_unique<PeerMessenger>();
        logService.InstallSink(this);
        qRegisterMetaType<QTcpSocket*>();
        qRegisterMetaType<ItemPtr>();
#define RECORD(NAME) RecordSignal(&PeerMessenger::NAME, #NAME)
        RECORD(UserInfoRequested); RECORD(UserInfoReceived); RECORD(FileTransferRequested);
        RECORD(FileTransferResponse); RECORD(QueueUploadRequested); RECORD(DownloadPlaceInLine);
        RECORD(UploadFailed); RECORD(UploadDenied); RECORD(UploadPlaceInLineRequested); RECORD(QueueDownloadRequested);
        RECORD(SharedFileListRequested); RECORD(SharedFilesInFolderRequested); RECORD(SearchResults); RECORD(UserShare);
#undef RECORD
    }

    void TearDown() override
    {
        logService.RemoveSink(this);
        mp_bob.reset();
        mp_messenger.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        ServerFixture::TearDown();
    }

    void LogLine(const QString&, const QString& i_line) override { m_lines << i_line; }
    const PeerMessenger::SocketBufferInfo* ReceiveRecord(QTcpSocket* ip_socket) const
    {
        return PeerMessengerTesting::ReceiveRecord(*mp_messenger, ip_socket);
    }
    void ExpireAsOf(const QDateTime& i_now) { PeerMessengerTesting::ExpireAsOf(*mp_messenger, i_now); }
    int Logged(const QString& i_text) const { return m_lines.filter(i_text).size(); }
    // Each emission as a line of text: name|argument|argument..., pictures in hex.
    template <typename... A>
    void RecordSignal(void (PeerMessenger::*ip_signal)(A...), const char* i_name)
    {
        QObject::connect(mp_messenger.get(), ip_signal, [this, i_name](A... i_arguments) {
            m_signals << (QStringList{i_name} << ... << Text(i_arguments)).join('|');
        });
    }
    template <typename T> static QString Text(T i_number) { return QString::number(i_number); }
    static QString Text(const QString& i_text) { return i_text; }
    static QString Text(const std::string& i_bytes) { return QString::fromLatin1(i_bytes.c_str()); }
    static QString Text(const QByteArray& i_bytes) { return QString::fromLatin1(i_bytes.toHex()); }
    static QString Text(ItemPtr i_results)
    {
        return Fields(i_results, {"search_request", "user", "search_results_user_available", "search_results_user_speed",
                                  "search_results_uploads_in_queue"});
    }
    // A share as folder:name/size/code=value,...;... and its names as code=name,...
    static QString Text(const FileInfoMap& i_share)
    {
        QStringList l_folders;
        for (const auto& [l_folder, l_files] : i_share)
        {
            QStringList l_lines;
            for (const FileInfo& l_file : l_files)
            {
                l_lines << Text(l_file.name) + "/" + Text(l_file.size);
                for (const auto& [l_code, l_value] : l_file.attributeMap.attributes)
                    l_lines.last() += QString("/%1=%2").arg(l_code).arg(l_value);
            }
            l_folders << Text(l_folder) + ":" + l_lines.join(',');
        }
        return l_folders.join(';');
    }
    static QString Text(const AttributeTranslationTable& i_names)
    {
        QStringList l_names;
        for (const auto& [l_code, l_name] : i_names)
            l_names << QString("%1=%2").arg(l_code).arg(Text(l_name));
        return l_names.join(',');
    }

    // A probed port is free only until someone else binds it: tried until both listeners hold theirs.
    void Listen()
    {
        for (int l_try = 0; l_try < 20 && !PeerMessengerTesting::Listening(*mp_messenger); ++l_try)
        {
            PeerMessengerTesting::CloseListeners(*mp_messenger);
            SetSetting("listening_port", QString::number(FakePeer::FreePort()));
            SetSetting("obfuscated_listening_port", QString::number(FakePeer::FreePort()));
            mp_messenger->DataLoaded();
        }
        ASSERT_TRUE(PeerMessengerTesting::Listening(*mp_messenger));
    }
    static quint16 Port(bool i_obfuscated) { return Setting(i_obfuscated ? "obfuscated_listening_port" : "listening_port").toUShort(); }

    static std::size_t Count(const char* i_type) { return d.GetType(i_type)->ItemCount(); }
    // The values the item is connected to of those types, joined by '|'.
    static QString Fields(ItemPtr i_item, std::initializer_list<const char*> i_types)
    {
        QStringList l_fields;
        for (const char* l_type : i_types)
            l_fields << i_item[l_type].AsString();
        return l_fields.join('|');
    }
    static ItemPtr User(const QString& i_name) { return d.GetType("user")->GetItem(i_name); }
    // The messenger's end of the only socket of that type.
    static QTcpSocket* OnlySocket(const char* i_type) { return ItemPtr(g(i_type)).AsPointer<QTcpSocket>(); }
    static bool WaitForCount(const char* i_type, std::size_t i_count)
    {
        return QTest::qWaitFor([&] { return Count(i_type) == i_count; }, 5000);
    }

    // 127.0.0.1 with the ports the server would announce (obfuscated 0: none).
    static ItemPtr Reachable(const QString& i_user, quint16 i_port, quint16 i_obfuscatedPort)
    {
        ItemPtr l_user = User(i_user);
        l_user += d.GetType("user_address")->GetItem(Value(0x7f000001u));
        l_user += d.GetType("user_port")->GetItem(Value(int(i_port)));
        l_user += d.GetType("user_obfuscated_port")->GetItem(Value(int(i_obfuscatedPort)));
        return l_user;
    }

    // Time texts have whole seconds; written here independently of the messenger.
    static void Restamp(ItemPtr i_item, const char* i_type, const QDateTime& i_time)
    {
        i_item += d.GetType(i_type)->GetItem(QLocale::c().toString(i_time, QStringLiteral("ddd MMM d HH:mm:ss yyyy")));
    }

    // What the fake server received with that code; with a count, once that many came and were fenced.
    QList<FakeCentralServer::Frame> Sent(qint32 i_code, int i_atLeast = 0)
    {
        if (i_atLeast > 0)
        {
            (void)QTest::qWaitFor([&] { return m_fake.FramesWithCode(i_code).size() >= i_atLeast; }, 5000);
            Fence();
        }
        return m_fake.FramesWithCode(i_code);
    }

    // A peer connected to a listener once the messenger holds it; with a user, introduced as messaging.
    std::unique_ptr<FakePeer> Accepted(bool i_obfuscated, const QString& i_user = QString())
    {
        Listen();
        auto lp_peer = std::make_unique<FakePeer>(i_obfuscated);
        const std::size_t l_accepted = Count("uninitialized_socket");
        const std::size_t l_introduced = Count("peer_socket");
        EXPECT_TRUE(lp_peer->ConnectTo(Port(i_obfuscated)));
        EXPECT_TRUE(WaitForCount("uninitialized_socket", l_accepted + 1));
        if (i_user.isEmpty())
            return lp_peer;
        lp_peer->SendFrame(FakePeer::InitBody(i_user, "P"));
        EXPECT_TRUE(WaitForCount("peer_socket", l_introduced + 1));
        return lp_peer;
    }

    static bool BobConnected() { return !User("bob").GetItems("peer_socket").Empty(); }

    // A fresh messaging connection of bob's, once the previous one has gone.
    void ConnectBob()
    {
        mp_bob.reset();
        EXPECT_TRUE(QTest::qWaitFor([] { return !BobConnected(); }, 5000));
        mp_bob = Accepted(false, "bob");
    }

    // Sends the body, then PM_NOTHING, on bob's connection: whether both were read and it still stands.
    bool SendKeeps(const QByteArray& i_body)
    {
        if (!mp_bob || !BobConnected())
            ConnectBob();
        const QString l_marker = "Received PM_NOTHING message from user bob";
        const int l_before = Logged(l_marker);
        mp_bob->SendFrame(i_body);
        mp_bob->SendFrame(Word(52));
        // A list of tens of megabytes takes a while to read under the sanitizers on a busy machine.
        static_cast<void>(QTest::qWaitFor([&] { return Logged(l_marker) > l_before || !BobConnected(); }, 60000));
        return BobConnected() && Logged(l_marker) > l_before;
    }

    // The frame must keep or end bob's connection as told and give the one signal told.
    void Run(const Frame& i_frame)
    {
        SCOPED_TRACE(i_frame.name);
        m_signals.clear();
        EXPECT_EQ(SendKeeps(i_frame.body), i_frame.keeps);
        EXPECT_EQ(m_signals, i_frame.signal.isEmpty() ? QStringList() : QStringList(i_frame.signal));
    }

    static QByteArray Word(quint32 i_value) { return WireFields().UInt32(i_value); }
    static WireFields Code(quint32 i_code) { return WireFields().UInt32(i_code); }
    // Whether the messenger left a handed-on socket, once closed, to its new owner (freed here).
    static bool LeftToItsOwner(QPointer<QTcpSocket> ip_socket)
    {
        EXPECT_TRUE(QTest::qWaitFor([&] { return ip_socket.isNull() || ip_socket->state() == QAbstractSocket::UnconnectedState; }, 5000));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        const bool l_alive = !ip_socket.isNull();
        delete ip_socket.data();
        return l_alive;
    }
    static QByteArray Int64(qint64 i_value) { return Word(quint32(i_value)) + Word(quint32(quint64(i_value) >> 32)); }
    static MemStream Message(quint32 i_code, quint32 i_number = 0)
    {
        MemStream l_message;
        l_message.Write(i_code);
        l_message.Write(i_number);
        return l_message;
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
            l_files.Byte(l_file.size >= 0);
            if (l_file.size < 0)
                continue;
            l_files.UInt32(static_cast<quint32>(l_file.path.size())).Raw(l_file.path).Raw(Int64(l_file.size))
                .Text("mp3").Int32(static_cast<qint32>(l_file.attributes.size()));
            for (const auto& l_pair : l_file.attributes)
                l_files.Int32(l_pair.first).Int32(l_pair.second);
        }
        return l_files;
    }

    static QByteArray Reply(quint32 i_token, const std::vector<ShareFile>& i_files,
                            const QByteArray& i_tail = WireFields().Byte(1).Int32(250).Int32(3),
                            const QString& i_user = "bob")
    {
        return Word(9) + Deflated(WireFields().Text(i_user).UInt32(i_token).Raw(Files(i_files)).Raw(i_tail));
    }

    std::unique_ptr<PeerMessenger> mp_messenger;
    std::unique_ptr<FakePeer> mp_bob;
    // Where a user's announced address refuses us.
    ClosedPort m_closed;
    QStringList m_lines;
    QStringList m_signals;
};
