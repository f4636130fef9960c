// Hands arbitrary message bodies to the dispatch of a logged-in server link. The first byte
// picks the message code; a hostile body must never crash, read past its data, allocate
// without bound or end the link.
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest/QTest>

#include <iterator>

#include "FuzzHarness.h"

namespace
{
// The handled codes first, so most inputs reach a handler; the rest test the dropping. The low
// seven bits of the first byte pick one, so seeds keep their code as the table grows.
const qint32 Codes[] = {13,  14,  15,  16,  17,  64,  113, 133, 134, 135, 139, 140, 141, 143,
                        144, 145, 146, 148, 3,   5,   7,   18,  22,  36,  69,  92,  26,  66,
                        83,  84,  93,  102, 104, 128, 130, 153, 1001, 1, 0, 4, 42, 1002, -1};

std::size_t s_dnetBytes = 0;

// One link to a local listener that accepts the login, kept for the whole run.
struct Target : Engine
{
    Target() : Engine("fuzz_server_dispatch")
    {
        DeclarePeerSideTypes();
        // A receiver that reads all it is given: what it gets must end with the body.
        QObject::connect(mp_server.get(), &Server::DNetMessage, [](MemStream& io_body) {
            for (quint8 l_byte = 0; io_body.Read(l_byte);)
                ++s_dnetBytes;
        });
        Check(m_listener.listen(QHostAddress::LocalHost, 0));
        SetSetting("server_host", "127.0.0.1");
        SetSetting("server_port", m_listener.serverPort());
        SetSetting("username", "fuzz");
        SetSetting("password", "fuzz");
        mp_server->Connect();
        Check(QTest::qWaitFor([&] { return m_listener.hasPendingConnections(); }));
        QTcpSocket* lp_peer = m_listener.nextPendingConnection();
        Check(QTest::qWaitFor([&] { return lp_peer->bytesAvailable() > 0; }));
        // Length 17, code 1, accepted, then an empty greeting, address and digest.
        lp_peer->write(QByteArray("\x11\0\0\0\x01\0\0\0\x01", 9) + QByteArray(12, '\0'));
        Check(QTest::qWaitFor([&] { return mp_server->IsConnected(); }));
    }

    QTcpServer m_listener;
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    static Target* sp_target = new Target();
    if (size < 1)
        return 0;
    // Every other input also lets the room list create rooms.
    SetFlagSetting("accept_room_list", data[0] & 0x80);
    MemStream l_body = Body(data, size);
    s_dnetBytes = 0;
    sp_target->mp_server->HandleMessage(Codes[(data[0] & 0x7f) % std::size(Codes)], l_body);
    Check(s_dnetBytes <= size - 1);
    Check(l_body.GetPendingReadLength() >= 0 && std::size_t(l_body.GetPendingReadLength()) <= size - 1);
    Check(sp_target->mp_server->IsConnected());
    ClearStore();
    return 0;
}
