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
qint64 s_answered = 0;

struct Target : Engine
{
    Target() : Engine("fuzz_dnet_messages")
    {
        // The answer reads what it is given; a text never has more units than bytes came in.
        QObject::connect(&m_dnet, &DNetManager::DNetSearchRequest,
                         [](QString i_user, quint32, QString i_text) { s_answered += i_user.size() + i_text.size(); });
        m_listener.listen(QHostAddress::LocalHost, 0);
    }

    // A live connection on each side (our end handed to the manager, the far end drained), made
    // anew once the manager has closed the last one.
    QTcpSocket* Socket(bool i_child)
    {
        QPointer<QTcpSocket>& lp_ours = m_ours[i_child];
        if (lp_ours && lp_ours->state() == QAbstractSocket::ConnectedState)
            return lp_ours;
        lp_ours = new QTcpSocket;
        lp_ours->connectToHost(QHostAddress::LocalHost, m_listener.serverPort());
        Check(lp_ours->waitForConnected(5000) && m_listener.waitForNewConnection(5000));
        m_far[i_child].reset(m_listener.nextPendingConnection());
        m_far[i_child]->setParent(nullptr);
        if (i_child)
            m_dnet.OnDNetConnectionRequested("kid", lp_ours);
        else
            m_dnet.OnDNetConnectionAccepted("bob", lp_ours);
        return lp_ours;
    }

    // What the manager keeps must name live sockets of its own.
    void CheckState()
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        for (const char* l_type : {"dnet_child", "dnet_parent_candidate"})
            for (ItemPtr l_item : g(l_type))
            {
                QTcpSocket* lp_socket = l_item.AsPointer<QTcpSocket>();
                Check((lp_socket == m_ours[0] || lp_socket == m_ours[1]) && lp_socket->parent() == &m_dnet);
            }
        for (const auto& lp_far : m_far)
            if (lp_far)
                lp_far->readAll();
    }

    PeerMessenger m_messenger; // the manager hooks into it as it is made
    DNetManager m_dnet;
    QTcpServer m_listener;
    QPointer<QTcpSocket> m_ours[2]; // the parent's side, the child's
    std::unique_ptr<QTcpSocket> m_far[2];
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    static Target* sp_target = new Target();
    if (size < 1)
        return 0;
    const bool l_child = data[0] & 1;
    MemStream l_body = Body(data, size);
    s_answered = 0;
    if (data[0] & 2)
        sp_target->m_dnet.OnDNetMessage(l_body);
    else
    {
        QBuffer l_source;
        l_source.setData(reinterpret_cast<const char*>(data + 1), static_cast<int>(size - 1));
        l_source.open(QIODevice::ReadOnly);
        DNetManagerTesting::Feed(sp_target->m_dnet, l_source, sp_target->Socket(l_child), l_child);
    }
    Check(s_answered <= qint64(size - 1));
    sp_target->CheckState();
    return 0;
}
