// Hands arbitrary bytes to the distributed network's frame reader, as if they had come in on the
// parent's (or a candidate's) connection or on a child's, or as the body of a server message 93.
// The low two bits of the first byte pick the way in. Hostile bytes must never crash, read past
// their data, leave a connection's state behind a closed socket or a socket nobody owns.
#include <QBuffer>
#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

#include "FuzzHarness.h"
#include "peer/PeerMessenger.h"
#include "shares/DNetManager.h"

class DNetManagerTesting
{
public:
    static void Feed(DNetManager& io_manager, QIODevice& io_source, QTcpSocket* ip_socket, bool i_child)
    {
        io_manager.ReadFramesFrom(io_source, ip_socket, i_child);
    }
};

namespace
{
// One loopback connection: our end is handed to the manager, the far end is drained.
struct Link
{
    QPointer<QTcpSocket> ours;
    std::unique_ptr<QTcpSocket> far;
};

struct Target : Engine
{
    Target() : Engine("fuzz_dnet_messages")
    {
        mp_messenger = std::make_unique<PeerMessenger>();
        mp_dnet = std::make_unique<DNetManager>();
        // The answer reads what it is given; a text never has more units than bytes came in.
        QObject::connect(mp_dnet.get(), &DNetManager::DNetSearchRequest,
                         [](QString i_user, quint32, QString i_text) { s_answered += i_user.size() + i_text.size(); });
        m_listener.listen(QHostAddress::LocalHost, 0);
    }

    // A live connection on each side, made anew once the manager has closed the last one.
    QTcpSocket* Socket(bool i_child)
    {
        Link& l_link = i_child ? m_child : m_parent;
        if (l_link.ours && l_link.ours->state() == QAbstractSocket::ConnectedState)
            return l_link.ours;
        auto* lp_socket = new QTcpSocket;
        lp_socket->connectToHost(QHostAddress::LocalHost, m_listener.serverPort());
        Check(lp_socket->waitForConnected(5000) && m_listener.waitForNewConnection(5000));
        l_link.far.reset(m_listener.nextPendingConnection());
        l_link.far->setParent(nullptr);
        l_link.ours = lp_socket;
        if (i_child)
            mp_dnet->OnDNetConnectionRequested("kid", lp_socket);
        else
            mp_dnet->OnDNetConnectionAccepted("bob", lp_socket);
        return lp_socket;
    }

    // What the manager keeps must name live sockets of its own.
    void CheckState()
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        for (const char* l_type : {"dnet_child", "dnet_parent_candidate"})
            for (ItemPtr l_item : g(l_type))
            {
                QTcpSocket* lp_socket = l_item.AsPointer<QTcpSocket>();
                Check(lp_socket == m_child.ours || lp_socket == m_parent.ours);
                Check(lp_socket->parent() == mp_dnet.get());
            }
        for (Link* lp_link : {&m_child, &m_parent})
            if (lp_link->far)
                lp_link->far->readAll();
    }

    std::unique_ptr<PeerMessenger> mp_messenger;
    std::unique_ptr<DNetManager> mp_dnet;
    QTcpServer m_listener;
    Link m_child;
    Link m_parent;
    static qint64 s_answered;
};

qint64 Target::s_answered = 0;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    static Target* sp_target = new Target();
    if (size < 1)
        return 0;
    const int l_way = data[0] & 3;
    const QByteArray l_bytes(reinterpret_cast<const char*>(data + 1), static_cast<int>(size - 1));
    Target::s_answered = 0;
    if (l_way >= 2)
    {
        MemStream l_body;
        Check(l_body.WriteBuffer(l_bytes.constData(), static_cast<unsigned long>(l_bytes.size())));
        sp_target->mp_dnet->OnDNetMessage(l_body);
    }
    else
    {
        QBuffer l_source;
        l_source.setData(l_bytes);
        l_source.open(QIODevice::ReadOnly);
        QTcpSocket* lp_socket = sp_target->Socket(l_way == 1);
        DNetManagerTesting::Feed(*sp_target->mp_dnet, l_source, lp_socket, l_way == 1);
    }
    Check(Target::s_answered <= l_bytes.size());
    sp_target->CheckState();
    return 0;
}
