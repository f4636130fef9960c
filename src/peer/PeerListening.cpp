#include "peer/PeerMessenger.h"

#include <QHostAddress>
#include <QTcpSocket>

#include "diagnostics/Log.h"
#include "peer/PeerMessengerDetail.h"
#include "server/Server.h"
#include "store/Data.h"
#include "store/Settings.h"

using namespace peer_detail;

namespace
{
const quint16 DefaultListeningPort = 2235;
} // namespace

void PeerMessenger::ApplyListeningPortSettings()
{
    if (GetSetting("listening_port").toUInt() == 0)
    {
        SetSetting("listening_port", int(DefaultListeningPort));
        SetSetting("obfuscated_listening_port", int(DefaultListeningPort) + 1);
    }
    if (GetSetting("obfuscated_listening_port").toUInt() == 0)
        SetSetting("obfuscated_listening_port", GetSetting("listening_port").toInt() + 1);
    const QString l_chosen = GetSetting("new_listening_port");
    if (!l_chosen.isEmpty())
    {
        SetSetting("listening_port", l_chosen);
        SetSetting("obfuscated_listening_port", l_chosen.toInt() + 1);
        // The value item may be shared with another setting of the same value: only the
        // setting goes.
        d.GetType("global")->HasItem("new_listening_port").Remove();
    }
}

void PeerMessenger::DataLoaded()
{
    ApplyListeningPortSettings();
    // A port that is taken leaves its listener closed for this run; the other one still works.
    m_listener.listen(QHostAddress::AnyIPv4,
                      static_cast<quint16>(GetSetting("listening_port").toLongLong()));
    m_obfuscatedListener.listen(
        QHostAddress::AnyIPv4,
        static_cast<quint16>(GetSetting("obfuscated_listening_port").toLongLong()));
    connect(&m_listener, &QTcpServer::newConnection, this, &PeerMessenger::OnNewConnection,
            Qt::UniqueConnection);
    connect(&m_obfuscatedListener, &QTcpServer::newConnection, this,
            &PeerMessenger::OnNewObfuscatedConnection, Qt::UniqueConnection);
}

void PeerMessenger::OnConnectedToServer()
{
    if (gp_server)
        gp_server->SetWaitPort(GetSetting("listening_port").toInt(),
                               GetSetting("obfuscated_listening_port").toInt());
}

void PeerMessenger::OnNewConnection()
{
    AcceptConnections(m_listener, false);
}

void PeerMessenger::OnNewObfuscatedConnection()
{
    AcceptConnections(m_obfuscatedListener, true);
}

void PeerMessenger::AcceptConnections(QTcpServer& i_listener, bool i_obfuscated)
{
    while (QTcpSocket* lp_socket = i_listener.nextPendingConnection())
    {
        lp_socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
        WatchSocket(lp_socket);
        ItemPtr l_item = d.GetType("uninitialized_socket")->NewItem(Value(lp_socket));
        if (i_obfuscated)
            l_item.NewItem("is_obfuscated");
    }
}

void PeerMessenger::WatchSocket(QTcpSocket* ip_socket)
{
    connect(ip_socket, &QTcpSocket::readyRead, this, &PeerMessenger::OnSocketReadyToRead,
            Qt::UniqueConnection);
    connect(ip_socket, &QAbstractSocket::errorOccurred, this, &PeerMessenger::OnSocketError,
            Qt::UniqueConnection);
    connect(ip_socket, &QTcpSocket::disconnected, this, &PeerMessenger::OnSocketClosed,
            Qt::UniqueConnection);
}

// Frames that came before the end are handed on before it, even those that wait for a slice.
void PeerMessenger::OnSocketClosed()
{
    if (QTcpSocket* lp_socket = qobject_cast<QTcpSocket*>(sender()))
        EndSocket(lp_socket);
}

void PeerMessenger::OnSocketError(QAbstractSocket::SocketError)
{
    if (QTcpSocket* lp_socket = qobject_cast<QTcpSocket*>(sender()))
        EndSocket(lp_socket);
}

void PeerMessenger::EndSocket(QTcpSocket* ip_socket)
{
    const auto l_record = m_socketBuffers.find(ip_socket);
    if (l_record != m_socketBuffers.end() && l_record->second.waiting)
    {
        l_record->second.waiting = false;
        const QPointer<QTcpSocket> l_alive(ip_socket);
        ReadFrames(ip_socket, false);
        // A frame's handler may have disposed of it already.
        if (!l_alive || m_socketBuffers.count(ip_socket) == 0)
            return;
    }
    DisposeOfSocket(ip_socket);
}

void PeerMessenger::DisposeOfSocket(QTcpSocket* ip_socket)
{
    if (g_peerMessengerDeleted || !ip_socket)
        return;
    ip_socket->disconnect(this);
    ip_socket->close();
    ip_socket->deleteLater();
    Log(Area, 1, "Disposing of socket");

    if (ItemPtr l_answer = SocketItem("peer_connection_request_socket", ip_socket))
    {
        Log(Area, 2, "Identified as peer connection request socket");
        ItemPtr l_request = l_answer["peer_connection_request"];
        if (l_request)
        {
            Log(Area, 2, "Request found, removing");
            if (gp_server)
                gp_server->SendCantConnectToPeer(l_request["peer_connection_request_id"].AsUInt(),
                                                 l_request["user"].AsString());
            l_request.Remove();
            l_answer.Remove();
        }
        else
            Log(Area, 2, "Request not found");
    }
    else if (ItemPtr l_accepted = SocketItem("uninitialized_socket", ip_socket))
    {
        Log(Area, 2, "Identified as uninitialized socket");
        l_accepted.Remove();
    }
    else if (ItemPtr l_peer = SocketItem("peer_socket", ip_socket))
    {
        Log(Area, 2, "Identified as peer socket");
        ItemPtr l_user = l_peer["user"];
        l_peer.Remove();
        StrangerConnectionEnded(l_user);
    }
    else
        Log(Area, 2, "Socket not identified");

    ForgetReceiveRecord(ip_socket);
    m_unsentBytes.Forget(ip_socket);
    for (const char* l_type : {"peer_connection_request_socket", "uninitialized_socket",
                               "peer_socket", "connect_to_peer_request_socket"})
        if (ItemPtr l_left = SocketItem(l_type, ip_socket))
            l_left.Remove();
}

void PeerMessenger::AssertNoSocketOverlap(QTcpSocket* ip_socket)
{
    int l_found = 0;
    for (const char* l_type : {"uninitialized_socket", "peer_socket",
                               "connect_to_peer_request_socket", "peer_connection_request_socket"})
        if (SocketItem(l_type, ip_socket))
            ++l_found;
    Q_ASSERT(l_found <= 1);
    Q_UNUSED(l_found);
}
