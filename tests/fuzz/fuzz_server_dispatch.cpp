// Hands arbitrary message bodies to the dispatch of a logged-in server link. The first byte
// picks the message code; a hostile body must never crash, read past its data, allocate
// without bound or end the link.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "server/MemStream.h"
#include "server/Server.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "support/support/ClientSchema.h"
#include "support/support/FakeUpnpBackend.h"

namespace
{
void Check(bool condition)
{
    if (!condition)
        std::abort();
}

// The handled codes first, so most inputs reach a handler; the rest test the dropping. The low
// seven bits of the first byte pick the entry, so seeds keep their code as the table grows.
const qint32 Codes[] = {13,  14,  15,  16,  17,  64,  113, 133, 134, 135, 139, 140, 141, 143,
                        144, 145, 146, 148, 3,   5,   7,   18,  22,  36,  69,  92,  26,  66,
                        83,  84,  93,  102, 104, 128, 130, 153, 1001, 1, 0, 4, 42, 1002, -1};
static_assert(sizeof(Codes) / sizeof(Codes[0]) <= 128, "a seed's first byte must reach every code");

bool WaitFor(const std::function<bool()>& condition)
{
    QElapsedTimer l_clock;
    l_clock.start();
    while (!condition())
    {
        if (l_clock.elapsed() > 5000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

void AppendUInt32(QByteArray& io_bytes, quint32 i_value)
{
    for (int l_shift = 0; l_shift < 32; l_shift += 8)
        io_bytes.append(static_cast<char>((i_value >> l_shift) & 0xff));
}

// One link to a local listener that accepts the login, kept for the whole run.
struct Target
{
    Target()
    {
        static int s_argc = 1;
        static char s_name[] = "fuzz_server_dispatch";
        static char* s_argv[] = {s_name, nullptr};
        mp_application = std::make_unique<QCoreApplication>(s_argc, s_argv);
        mp_saver = std::make_unique<DataSaver>();
        mp_server = std::make_unique<Server>(std::make_unique<FakeUpnpBackend>());
        DeclareSettingsTypes();
        Server::CreateData();
        DeclarePeerSideTypes();
        // Receivers that read all they are given: what they get must end with the body.
        QObject::connect(mp_server.get(), &Server::DNetMessage, [](MemStream& io_body) {
            quint8 l_byte = 0;
            while (io_body.Read(l_byte))
                ++s_dnetBytes;
        });

        Check(m_listener.listen(QHostAddress::LocalHost, 0));
        Set("server_host", "127.0.0.1");
        Set("server_port", QString::number(m_listener.serverPort()));
        Set("username", "fuzz");
        Set("password", "fuzz");
        mp_server->Connect();
        Check(WaitFor([&] { return m_listener.hasPendingConnections(); }));
        mp_peer = m_listener.nextPendingConnection();
        Check(WaitFor([&] { return mp_peer->bytesAvailable() > 0; }));
        QByteArray l_reply;
        const QByteArray l_fields = QByteArray(1, '\1') + QByteArray(12, '\0');
        AppendUInt32(l_reply, static_cast<quint32>(l_fields.size() + 4));
        AppendUInt32(l_reply, 1);
        l_reply.append(l_fields);
        mp_peer->write(l_reply);
        mp_peer->flush();
        Check(WaitFor([&] { return mp_server->IsConnected(); }));
    }

    static void Set(const char* i_key, const QString& i_value)
    {
        d.GetType("global")->GetItem(i_key) += d.GetType("global_value")->NewItem(i_value);
    }

    // What one message left behind goes before the next, so the store stays small.
    static void Clear()
    {
        const std::map<std::string, Type*> l_types = d.Types();
        for (const auto& l_type : l_types)
            if (l_type.first != "global" && l_type.first != "global_value")
                l_type.second->RemoveAllItems();
    }

    std::unique_ptr<QCoreApplication> mp_application;
    std::unique_ptr<DataSaver> mp_saver;
    std::unique_ptr<Server> mp_server;
    QTcpServer m_listener;
    QTcpSocket* mp_peer = nullptr;
    static std::size_t s_dnetBytes;
};

std::size_t Target::s_dnetBytes = 0;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    static Target* sp_target = new Target();
    if (size < 1)
        return 0;
    const qint32 l_code = Codes[(data[0] & 0x7f) % (sizeof(Codes) / sizeof(Codes[0]))];
    // Every other input also lets the room list create rooms.
    Target::Set("accept_room_list", (data[0] & 0x80) ? "yes" : "no");

    MemStream l_body;
    Check(l_body.WriteBuffer(data + 1, size - 1));
    Target::s_dnetBytes = 0;
    sp_target->mp_server->HandleMessage(l_code, l_body);
    Check(Target::s_dnetBytes <= size - 1);
    Check(l_body.GetPendingReadLength() >= 0);
    Check(static_cast<std::size_t>(l_body.GetPendingReadLength()) <= size - 1);
    Check(sp_target->mp_server->IsConnected());
    Target::Clear();
    return 0;
}
