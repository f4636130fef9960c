#include "peer/PeerMessenger.h"

#include <QDateTime>
#include <QHostAddress>
#include <QTcpSocket>

#include <utility>
#include <vector>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "diagnostics/Log.h"
#include "peer/PeerMessengerDetail.h"
#include "server/Server.h"
#include "store/Data.h"

using namespace peer_detail;

namespace attempt_expiry
{
// Every leg, answer socket and unintroduced socket gets this long.
const qint64 LegLimit = 59999;
const qint64 QueuedMessageLimit = 299999;
// Set on a socket that waits for its file token when the expiry first meets it.
const char* const TokenWaitProperty = "tarnwickTokenWaitSince";

// Milliseconds from the time text of the item's stamp to i_now. A missing or unreadable stamp
// counts as 0, and a negative age (the clock was set back) never expires either.
qint64 AgeOf(ItemPtr i_item, const char* i_stampType, const QDateTime& i_now)
{
    ItemPtr l_stamp = i_item[i_stampType];
    if (!l_stamp)
        return 0;
    const QDateTime l_time = QDateTime::fromString(l_stamp.AsString(), Qt::TextDate);
    return l_time.isValid() ? l_time.msecsTo(i_now) : 0;
}

QString TypeAndUser(const char* i_text, ItemPtr i_item)
{
    return QString(i_text).arg(i_item["peer_connection_type"].AsString(),
                               i_item["user"].AsString());
}
} // namespace attempt_expiry

namespace
{
void ReturnFreedMemory()
{
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}
} // namespace

void PeerMessenger::ConnectToUser(QString i_user, char const* i_type)
{
    using namespace attempt_expiry;
    const QString l_typeName = QString::fromLatin1(i_type);
    ItemPtr l_user = d.GetType("user")->GetItem(i_user);
    Log(Area, 1,
        QString("Attempting peer connection of type %1 to user %2").arg(l_typeName, i_user),
        l_user);

    ItemPtr l_type = d.GetType("peer_connection_type")->GetItem(l_typeName);
    ItemSet l_userAndType(l_user);
    l_userAndType.Insert(l_type);
    if (!d.GetItemSubset(l_userAndType, "connect_to_peer_request").Empty())
    {
        Log(Area, 2,
            "Connection attempt to same user of same type already in progress, not "
            "re-attempting.",
            l_user);
        return;
    }

    ItemPtr l_attempt = d.GetType("connect_to_peer_request")->NewItem();
    l_attempt += l_user;
    l_attempt += l_type;

    if (!gp_server)
    {
        ConnectWithoutServer(l_attempt, l_user, l_type);
        return;
    }
    Log(Area, 2, "Also sending indirect connection request.", l_user);
    const unsigned int l_token = gp_server->SendIndirectConnectionRequest(i_user, l_typeName);
    ItemPtr l_indirect = d.GetType("indirect_connect_to_peer_request")->GetItem(Value(l_token));
    l_attempt += l_indirect;
    l_indirect += TimeItem("send_time", QDateTime::currentDateTime());
    l_indirect += l_user;
    l_indirect += l_type;

    if (l_user["user_address"])
    {
        OpenDirectLeg(l_attempt, l_user, l_type);
        return;
    }
    Log(Area, 2, "User address not found, requesting address", l_user);
    gp_server->GetUserAddress(i_user);
    l_attempt += d.GetType("connect_to_peer_request_status")->GetItem("getting_address");
}

// Without a server link there is no indirect leg and no address to ask for: only a known
// address is tried. An attempt left with no leg fails once the caller's work is done, as it
// would after a failed leg, so that no caller hears of the failure inside its own request.
void PeerMessenger::ConnectWithoutServer(ItemPtr i_attempt, ItemPtr i_user, ItemPtr i_type)
{
    if (i_user["user_address"])
    {
        OpenDirectLeg(i_attempt, i_user, i_type);
        return;
    }
    Log(Area, 2, "No server link to ask for the user's address, giving up.", i_user);
    i_attempt += d.GetType("connect_to_peer_request_status")->GetItem("getting_address");
    const QString l_user = i_user.AsString();
    const QString l_type = i_type.AsString();
    QMetaObject::invokeMethod(
        this,
        [this, l_user, l_type] {
            const ItemPtr l_userItem = d.GetType("user")->HasItem(l_user);
            const ItemPtr l_typeItem = d.GetType("peer_connection_type")->HasItem(l_type);
            if (!l_userItem || !l_typeItem)
                return;
            ItemSet l_userAndType(l_userItem);
            l_userAndType.Insert(l_typeItem);
            for (ItemPtr l_attempt : d.GetItemSubset(l_userAndType, "connect_to_peer_request"))
                InspectPeerConnectionRequest(l_attempt);
        },
        Qt::QueuedConnection);
}

void PeerMessenger::RequestFileConnectionToUser(QString i_user)
{
    ConnectToUser(i_user, "F");
}

void PeerMessenger::RequestDNetConnection(QString i_user)
{
    ConnectToUser(i_user, "D");
}

int PeerMessenger::GetUserPort(ItemPtr i_user, bool& o_obfuscated)
{
    const int l_obfuscatedPort = i_user["user_obfuscated_port"].AsInt();
    o_obfuscated = l_obfuscatedPort != 0;
    return o_obfuscated ? l_obfuscatedPort : i_user["user_port"].AsInt();
}

void PeerMessenger::OpenDirectLeg(ItemPtr i_attempt, ItemPtr i_user, ItemPtr i_type)
{
    using namespace attempt_expiry;
    bool l_obfuscated = false;
    const int l_port = GetUserPort(i_user, l_obfuscated);
    QTcpSocket* lp_socket = new QTcpSocket();
    lp_socket->setProperty(OwnSocketProperty, true);
    connect(lp_socket, &QTcpSocket::connected, this,
            &PeerMessenger::OnConnectToPeerSocketConnected);
    connect(lp_socket, &QAbstractSocket::errorOccurred, this,
            &PeerMessenger::OnConnectToPeerSocketError);

    // The items exist before the socket can report anything about itself.
    ItemPtr l_leg = d.GetType("connect_to_peer_request_socket")->GetItem(Value(lp_socket));
    l_leg += TimeItem("socket_creation_time", QDateTime::currentDateTime());
    l_leg += i_user;
    l_leg += i_type;
    if (l_obfuscated)
        l_leg.NewItem("is_obfuscated");
    i_attempt += d.GetType("connect_to_peer_request_status")->GetItem("connecting");
    i_attempt += l_leg;

    lp_socket->connectToHost(QHostAddress(i_user["user_address"].AsUInt()),
                             static_cast<quint16>(l_port));
}

void PeerMessenger::OnUserAddress(ItemPtr i_user)
{
    using namespace attempt_expiry;
    const ItemSet l_attempts = i_user.GetItems("connect_to_peer_request");
    if (l_attempts.Empty())
        return;
    const ItemSet l_waiting = l_attempts.Connected(
        d.GetType("connect_to_peer_request_status")->HasItem("getting_address"));
    Log(Area, 1, QString("User %1 address arrived").arg(i_user.AsString()), i_user);
    for (ItemPtr l_attempt : l_waiting)
    {
        ItemPtr l_type = l_attempt["peer_connection_type"];
        Log(Area, 2, QString("Attempting direct connection of type %1").arg(l_type.AsString()),
            i_user);
        OpenDirectLeg(l_attempt, i_user, l_type);
    }
}

void PeerMessenger::OnConnectToPeerSocketError(QAbstractSocket::SocketError)
{
    using namespace attempt_expiry;
    QTcpSocket* lp_socket = qobject_cast<QTcpSocket*>(sender());
    if (!lp_socket)
        return;
    ItemPtr l_leg = d.GetType("connect_to_peer_request_socket")->HasItem(Value(lp_socket));
    lp_socket->disconnect();
    lp_socket->close();
    lp_socket->deleteLater();
    if (!l_leg)
        return;
    Log(Area, 1, TypeAndUser("Direct connection of type %1 to user %2 failed", l_leg),
        l_leg["user"]);
    ItemPtr l_attempt = l_leg["connect_to_peer_request"];
    l_leg.Remove();
    if (l_attempt)
        InspectPeerConnectionRequest(l_attempt);
}

void PeerMessenger::OnIndirectPeerConnectionFailure(uint i_token)
{
    using namespace attempt_expiry;
    ItemPtr l_indirect = d.GetType("indirect_connect_to_peer_request")->HasItem(Value(i_token));
    if (!l_indirect)
        return;
    Log(Area, 1, TypeAndUser("Indirect connection of type %1 to user %2 failed", l_indirect),
        l_indirect["user"]);
    ItemPtr l_attempt = l_indirect["connect_to_peer_request"];
    l_indirect.Remove();
    if (l_attempt)
        InspectPeerConnectionRequest(l_attempt);
}

void PeerMessenger::InspectPeerConnectionRequest(ItemPtr i_attempt)
{
    using namespace attempt_expiry;
    ItemPtr l_user = i_attempt["user"];
    Log(Area, 1,
        TypeAndUser("Inspecting peer connection request of type %1 to user %2 for possible "
                    "removal.",
                    i_attempt),
        l_user);
    if (i_attempt["connect_to_peer_request_socket"])
    {
        Log(Area, 2, "Socket found. Not removing request.", l_user);
        return;
    }
    if (i_attempt["indirect_connect_to_peer_request"])
    {
        Log(Area, 2, "Indirect request found. Not removing request.", l_user);
        return;
    }
    Log(Area, 2, "Neither socket nor indirect request found. Removing.", l_user);
    const QString l_userName = l_user.AsString();
    const QString l_type = i_attempt["peer_connection_type"].AsString();
    // Gone before the report, so that a receiver may start a new attempt at once.
    i_attempt.Remove();
    emit ConnectionToUserFailed(l_userName, l_type);
}

void PeerMessenger::DisposeOfPeerConnectionRequest(ItemPtr i_attempt)
{
    using namespace attempt_expiry;
    Log(Area, 1,
        TypeAndUser("Disposing of peer connection request of type %1 to user %2", i_attempt),
        i_attempt["user"]);
    i_attempt.Remove();
}

void PeerMessenger::OnPeerConnectionRequest(ItemPtr i_request)
{
    using namespace attempt_expiry;
    if (i_request["peer_connection_request_socket"])
        return;
    ItemPtr l_user = i_request["user"];
    bool l_obfuscated = false;
    const int l_port = GetUserPort(l_user, l_obfuscated);
    if (l_obfuscated)
        i_request.NewItem("is_obfuscated");

    QTcpSocket* lp_socket = new QTcpSocket();
    lp_socket->setProperty(OwnSocketProperty, true);
    connect(lp_socket, &QTcpSocket::connected, this,
            &PeerMessenger::OnIndirectResponseSocketConnected);
    connect(lp_socket, &QAbstractSocket::errorOccurred, this,
            &PeerMessenger::OnSocketError);
    connect(lp_socket, &QTcpSocket::disconnected, this, &PeerMessenger::OnSocketClosed);

    ItemPtr l_answer = d.GetType("peer_connection_request_socket")->NewItem(Value(lp_socket));
    i_request += l_answer;
    l_answer += TimeItem("socket_creation_time", QDateTime::currentDateTime());
    Log(Area, 1,
        QString("Indirect %1peer connection requested from user %2")
            .arg(l_obfuscated ? "obfuscated " : "", l_user.AsString()),
        l_user);

    lp_socket->connectToHost(QHostAddress(l_user["user_address"].AsUInt()),
                             static_cast<quint16>(l_port));
}

void PeerMessenger::OnUninitializedSocketItemAdded(ItemPtr i_socketItem)
{
    i_socketItem += TimeItem("socket_creation_time", QDateTime::currentDateTime());
}

void PeerMessenger::EveryHalfMinute()
{
    ExpireAsOf(QDateTime::currentDateTime());
    // What connections held, and what a list or reply held while it was read, is freed, but
    // the allocator keeps the pages it came from: once much has gone, they go back to the
    // system.
    const qint64 l_freed = m_heldFrames.TakeReleased() + m_unsentBytes.TakeReleased() +
                           std::exchange(m_readBytesFreed, 0);
    if (l_freed >= m_returnedBytes)
    {
        ReturnFreedMemory();
        ++m_memoryReturns;
    }
}

void PeerMessenger::ExpireAsOf(const QDateTime& i_now)
{
    using namespace attempt_expiry;
    // Reports and disposals below may remove items of the lists being walked; removed items
    // stay readable, and recognisable, until this ends.
    RemovalScope l_scope(d);

    for (ItemPtr l_message : g("unsent_message"))
    {
        if (!l_message->IsAlive() || AgeOf(l_message, "send_time", i_now) <= QueuedMessageLimit)
            continue;
        l_message.Remove();
    }

    for (ItemPtr l_indirect : g("indirect_connect_to_peer_request"))
    {
        if (!l_indirect->IsAlive() || AgeOf(l_indirect, "send_time", i_now) <= LegLimit)
            continue;
        Log(Area, 1, TypeAndUser("Indirect connection request of type %1 to %2 expired, removing.",
                                 l_indirect),
            l_indirect["user"]);
        ItemPtr l_attempt = l_indirect["connect_to_peer_request"];
        l_indirect.Remove();
        if (l_attempt && l_attempt->IsAlive())
            InspectPeerConnectionRequest(l_attempt);
    }

    for (ItemPtr l_leg : g("connect_to_peer_request_socket"))
    {
        if (!l_leg->IsAlive() || AgeOf(l_leg, "socket_creation_time", i_now) <= LegLimit)
            continue;
        ItemPtr l_attempt = l_leg["connect_to_peer_request"];
        Log(Area, 1,
            TypeAndUser("Direct connection attempt of type %1 to %2 timed out, closing.", l_leg),
            l_leg["user"]);
        QTcpSocket* lp_socket = l_leg.AsPointer<QTcpSocket>();
        l_leg.Remove();
        // Aborted, not closed: a close waits for a connection that may never come.
        lp_socket->disconnect(this);
        lp_socket->abort();
        lp_socket->deleteLater();
        if (l_attempt && l_attempt->IsAlive())
            InspectPeerConnectionRequest(l_attempt);
    }

    // An answer socket still connecting would not report its end by itself; it is disposed of
    // here, which also tells the server that we cannot connect.
    for (ItemPtr l_answer : g("peer_connection_request_socket"))
    {
        if (!l_answer->IsAlive() || AgeOf(l_answer, "socket_creation_time", i_now) <= LegLimit)
            continue;
        Log(Area, 1,
            TypeAndUser("Indirect connection attempt of type %1 to %2 timed out, closing.",
                        l_answer["peer_connection_request"]),
            l_answer["peer_connection_request"]["user"]);
        DisposeOfSocket(l_answer.AsPointer<QTcpSocket>());
    }

    // Disposed of at once: a peer that does not read could hold a closing socket open.
    for (ItemPtr l_peer : g("peer_socket"))
    {
        if (!l_peer->IsAlive())
            continue;
        const QDateTime* lp_lastActivity = l_peer["last_activity_time"].AsPointer<QDateTime>();
        if (!lp_lastActivity || lp_lastActivity->msecsTo(i_now) <= IdleLimit)
            continue;
        Log(Area, 1,
            QString("Peer connection to user %1 expired, closing.").arg(l_peer["user"].AsString()),
            l_peer["user"]);
        DisposeOfSocket(l_peer.AsPointer<QTcpSocket>());
    }

    // A connection that never sends its first frame, or its file token, would stay forever.
    for (ItemPtr l_accepted : g("uninitialized_socket"))
    {
        if (!l_accepted->IsAlive() ||
            AgeOf(l_accepted, "socket_creation_time", i_now) <= LegLimit)
            continue;
        Log(Area, 1, "Incoming peer connection sent no first frame in time, closing.");
        DisposeOfSocket(l_accepted.AsPointer<QTcpSocket>());
    }
    std::vector<QTcpSocket*> l_tokenless;
    for (auto& l_record : m_socketBuffers)
    {
        if (!l_record.second.awaitFileToken)
            continue;
        const QVariant l_since = l_record.first->property(TokenWaitProperty);
        if (!l_since.isValid())
            l_record.first->setProperty(TokenWaitProperty, i_now);
        else if (l_since.toDateTime().msecsTo(i_now) > LegLimit)
            l_tokenless.push_back(l_record.first);
    }
    for (QTcpSocket* lp_socket : l_tokenless)
    {
        Log(Area, 1, "File connection sent no token in time, closing.");
        DisposeOfSocket(lp_socket);
    }

    // What held a stranger's user when its connection ended (a parked answer, an attempt, a
    // search result, a transfer ...) may have gone since.
    const std::vector<Item*> l_strangers(m_strangers.begin(), m_strangers.end());
    for (Item* lp_user : l_strangers)
        LetStrangerGo(lp_user);
}
