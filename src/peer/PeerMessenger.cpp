#include "peer/PeerMessenger.h"

#include <QDateTime>
#include <QHostAddress>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <map>
#include <set>
#include <vector>

#include "diagnostics/Log.h"
#include "diagnostics/LogService.h"
#include "peer/InFunction.h"
#include "peer/Inflater.h"
#include "peer/Obfuscation.h"
#include "server/Server.h"
#include "shares/SearchParser.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/GeneralFunctions.h"
#include "store/SchemaDeclaration.h"
#include "store/Settings.h"
#include "store/TimerManager.h"

PeerMessenger* peerMessenger = nullptr;
bool g_peerMessengerDeleted = false;

namespace
{
const TypeDeclaration SocketTypes[] = {
    {"uninitialized_socket", Primary, false, false},
    {"peer_socket", Primary, false, false},
    {"connection_open_time", Leaf, false, true},
    {"last_activity_time", Primary, false, true},
    {"is_obfuscated", Leaf, true, true},
};

const RelationDeclaration SocketRelations[] = {
    {"peer_socket", "user", Many, One, false},
    {"peer_socket", "connection_open_time", Many, One, false},
    {"peer_socket", "last_activity_time", Many, One, false},
    {"peer_socket", "is_obfuscated", Many, One, false},
    {"uninitialized_socket", "is_obfuscated", Many, One, false},
};

const TypeDeclaration RequestTypes[] = {
    {"peer_connection_request", Primary, true, false},
    {"peer_connection_request_id", Leaf, false, true},
    {"peer_connection_type", Leaf, false, true},
    {"peer_connection_request_socket", Primary, false, false},
    {"user_address", Leaf, false, true},
    {"user_port", Leaf, false, true},
    {"user_obfuscated_port", Leaf, false, true},
    {"socket_creation_time", Leaf, false, true},
};

const RelationDeclaration RequestRelations[] = {
    {"peer_connection_request", "peer_connection_request_id", Many, One, false},
    {"peer_connection_request", "peer_connection_request_socket", One, One, false},
    {"peer_connection_request", "user", Many, One, false},
    {"peer_connection_request", "peer_connection_type", Many, One, false},
    {"peer_connection_request", "is_obfuscated", Many, One, false},
    {"peer_connection_request_socket", "socket_creation_time", Many, One, false},
    {"user", "user_address", Many, One, false},
    {"user", "user_port", Many, One, false},
    {"user", "user_obfuscated_port", Many, One, false},
};

const TypeDeclaration SearchTypes[] = {
    {"search_request", Primary, false, false},
    {"search_request_text", Primary, false, true},
    {"wishlist_search", Leaf, true, true},
    {"search_results", Primary, true, true},
    {"search_result", Intermediate, true, true},
    {"search_results_user_available", Leaf, false, true},
    {"search_results_user_speed", Leaf, false, true},
    {"search_results_uploads_in_queue", Leaf, false, true},
    {"search_result_file_name", Leaf, false, true},
    {"search_result_file_folder", Leaf, false, true},
    {"file_size", Leaf, false, true},
    {"search_stopped", Leaf, true, true},
};

const RelationDeclaration SearchRelations[] = {
    {"search_request", "search_request_text", Many, One, false},
    {"search_request", "wishlist_search", Many, One, false},
    {"search_request", "search_results", One, Many, true},
    {"search_results", "search_result", One, Many, true},
    {"search_results", "user", Many, One, false},
    {"search_results", "search_results_user_available", Many, One, false},
    {"search_results", "search_results_user_speed", Many, One, false},
    {"search_results", "search_results_uploads_in_queue", Many, One, false},
    {"search_result", "search_result_file_name", Many, One, false},
    {"search_result", "search_result_file_folder", Many, One, false},
    {"search_result", "file_size", Many, One, false},
    {"search_request", "search_stopped", Many, One, false},
};

const TypeDeclaration CorrelationTypes[] = {
    {"search_correlation", Intermediate, true, true},
    {"correlation_text", Leaf, false, true},
    {"correlation_rank", Leaf, false, true},
};

const RelationDeclaration CorrelationRelations[] = {
    {"search_request_text", "search_correlation", One, Many, false},
    {"search_correlation", "correlation_text", Many, One, false},
    {"search_correlation", "correlation_rank", Many, One, false},
};

const TypeDeclaration Mp3Types[] = {
    {"mpeg_version", Leaf, false, true},
    {"channel_mode", Leaf, false, true},
    {"audio_frequency", Leaf, false, true},
    {"bitrate_mode", Leaf, false, true},
    {"bitrate", Leaf, false, true},
    {"length_seconds", Leaf, false, true},
};

const RelationDeclaration Mp3Relations[] = {
    {"search_result", "bitrate_mode", Many, One, false},
    {"search_result", "bitrate", Many, One, false},
    {"search_result", "length_seconds", Many, One, false},
};

const TypeDeclaration QueueTypes[] = {
    {"unsent_message", Primary, false, true},
    {"send_order", Leaf, false, true},
    {"send_time", Leaf, false, true},
};

const RelationDeclaration QueueRelations[] = {
    {"unsent_message", "user", Many, One, false},
    {"unsent_message", "send_order", One, One, false},
    {"unsent_message", "send_time", Many, One, false},
};

const TypeDeclaration AttemptTypes[] = {
    {"connect_to_peer_request", Primary, true, true},
    {"connect_to_peer_request_status", Leaf, false, true},
    {"connect_to_peer_request_socket", Primary, false, true},
    {"indirect_connect_to_peer_request", Primary, false, true},
};

// No owner flag ties an attempt to its legs: a settled attempt goes, its losing leg runs on.
const RelationDeclaration AttemptRelations[] = {
    {"connect_to_peer_request", "connect_to_peer_request_status", Many, One, false},
    {"connect_to_peer_request", "connect_to_peer_request_socket", One, One, false},
    {"connect_to_peer_request", "user", Many, One, false},
    {"connect_to_peer_request", "peer_connection_type", Many, One, false},
    {"connect_to_peer_request", "indirect_connect_to_peer_request", One, One, false},
    {"connect_to_peer_request_socket", "socket_creation_time", Many, One, false},
    {"indirect_connect_to_peer_request", "send_time", Many, One, false},
    {"connect_to_peer_request_socket", "user", Many, One, false},
    {"connect_to_peer_request_socket", "peer_connection_type", Many, One, false},
    {"connect_to_peer_request_socket", "is_obfuscated", Many, One, false},
    {"indirect_connect_to_peer_request", "user", Many, One, false},
    {"indirect_connect_to_peer_request", "peer_connection_type", Many, One, false},
};

template <std::size_t TypeCount, std::size_t RelationCount>
void Declare(const TypeDeclaration (&i_types)[TypeCount],
             const RelationDeclaration (&i_relations)[RelationCount])
{
    DeclareTypes(i_types);
    DeclareRelations(i_relations);
}

// Hangs the three address children under a user node; each of them must be there and each
// new one triggers.
void AddAddressNodes(PathNode* ip_user)
{
    new PathNode(ip_user, "user_address", ConnectedAndNotify);
    new PathNode(ip_user, "user_port", ConnectedAndNotify);
    new PathNode(ip_user, "user_obfuscated_port", ConnectedAndNotify);
}
} // namespace

PeerMessenger::PeerMessenger()
{
    // Only one messenger lives at a time; a new one starts with live socket handling.
    g_peerMessengerDeleted = false;
    peerMessenger = this;

    if (gp_server)
        connect(gp_server, &Server::Connected, this, &PeerMessenger::OnConnectedToServer);

    Declare(SocketTypes, SocketRelations);
    Type* lp_peerSocket = d.GetType("peer_socket");
    lp_peerSocket->m_newItemEvent.AddHandler(
        NewEventHandler(this, &PeerMessenger::OnPeerSocketItemAdded));
    lp_peerSocket->m_removedEvent.AddHandler(
        NewEventHandler(this, &PeerMessenger::OnPeerSocketItemRemoved));

    Declare(RequestTypes, RequestRelations);
    PathNode* lp_request = new PathNode(&d, "peer_connection_request");
    new PathNode(lp_request, "peer_connection_request_id", ConnectedAndNotify);
    new PathNode(lp_request, "peer_connection_type", ConnectedAndNotify);
    AddAddressNodes(new PathNode(lp_request, "user", ConnectedAndNotify));
    d.AddPathEventHandler(lp_request,
                          NewEventHandler(this, &PeerMessenger::OnPeerConnectionRequest));

    Declare(SearchTypes, SearchRelations);
    Declare(CorrelationTypes, CorrelationRelations);
    Declare(Mp3Types, Mp3Relations);
    Declare(QueueTypes, QueueRelations);
    d.GetType("unsent_message")->m_removedEvent.AddHandler(
        NewEventHandler(this, &PeerMessenger::OnUnsentMessageRemoved));
    sendOrderCounter = 0;
    Declare(AttemptTypes, AttemptRelations);

    PathNode* lp_user = new PathNode(&d, "user");
    AddAddressNodes(lp_user);
    d.AddPathEventHandler(lp_user, NewEventHandler(this, &PeerMessenger::OnUserAddress));

    StampAcceptedSockets();

    if (gp_server)
        connect(gp_server, &Server::IndirectPeerConnectionFailure, this,
                &PeerMessenger::OnIndirectPeerConnectionFailure);
    if (timerManager)
        connect(timerManager->halfMinuteTimer, &QTimer::timeout, this,
                &PeerMessenger::EveryHalfMinute);
    if (dataSaver)
        dataSaver->AddDataLoadedEventHandler(this);

    // The keys of obfuscated frames are drawn from this generator.
    srand(static_cast<unsigned int>(time(nullptr)));
}

PeerMessenger::~PeerMessenger()
{
    // Sockets are not closed one by one: whatever they report from here on is ignored. The
    // listeners take their accepted sockets with them.
    g_peerMessengerDeleted = true;
    if (peerMessenger == this)
        peerMessenger = nullptr;
}

void PeerMessenger::OnPeerSocketItemAdded(ItemPtr i_socketItem)
{
    QDateTime* lp_lastActivity = new QDateTime(QDateTime::currentDateTime());
    i_socketItem += d.GetType("last_activity_time")->GetItem(Value(lp_lastActivity));
}

void PeerMessenger::OnUnsentMessageRemoved(ItemPtr i_message)
{
    delete i_message.AsPointer<MemStream>();
}

void PeerMessenger::OnPeerSocketItemRemoved(ItemPtr i_socketItem)
{
    ItemPtr l_stamp = i_socketItem["last_activity_time"];
    if (!l_stamp)
        return;
    QDateTime* lp_lastActivity = l_stamp.AsPointer<QDateTime>();
    l_stamp.Remove();
    delete lp_lastActivity;
}

// ---- Connection attempts and expiry ----

namespace attempt_expiry
{
const char* const Area = "Peer Messenger";
// Every leg, answer socket and unintroduced socket gets this long.
const qint64 LegLimit = 59999;
const qint64 IdleLimit = 119999;
const qint64 QueuedMessageLimit = 299999;
// Set on a socket that waits for its file token when the expiry first meets it.
const char* const TokenWaitProperty = "tarnwickTokenWaitSince";

// Time texts have whole seconds and English names whatever the locale.
ItemPtr TimeItem(const char* i_type, const QDateTime& i_time)
{
    return d.GetType(i_type)->GetItem(LogService::Stamp(i_time));
}

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

void PeerMessenger::ConnectToUser(QString i_user, char const* i_type)
{
    using namespace attempt_expiry;
    Q_ASSERT(gp_server != nullptr);
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

void PeerMessenger::StampAcceptedSockets()
{
    d.GetType("uninitialized_socket")
        ->RelateToType(d.GetType("socket_creation_time"), Many, One, false);
    d.GetType("uninitialized_socket")
        ->m_newItemEvent.AddHandler(
            NewEventHandler(this, &PeerMessenger::OnUninitializedSocketItemAdded));
}

void PeerMessenger::OnUninitializedSocketItemAdded(ItemPtr i_socketItem)
{
    i_socketItem += attempt_expiry::TimeItem("socket_creation_time", QDateTime::currentDateTime());
}

void PeerMessenger::EveryHalfMinute()
{
    ExpireAsOf(QDateTime::currentDateTime());
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
}

// ---- Framing, handshake and delivery ----

namespace peer_framing
{
const char* const Area = "Peer Messenger";
const quint16 DefaultListeningPort = 2235;
// Bodies below this size get their whole buffer at once; larger ones grow with the bytes that
// arrive, so an announced length alone never costs a connection more than this.
const int UpfrontBodyBytes = 64 * 1024;
// A long frame refreshes its connection's activity each time this many more bytes are in.
const int ActivityStep = 102400;
const int ReadChunkBytes = 64 * 1024;

QString Obfuscated(bool i_obfuscated)
{
    return i_obfuscated ? QStringLiteral("obfuscated ") : QString();
}

ItemPtr SocketItem(const char* i_type, QTcpSocket* ip_socket)
{
    return d.GetType(i_type)->HasItem(Value(ip_socket));
}

ItemPtr UserItem(const QString& i_user)
{
    return d.GetType("user")->GetItem(i_user);
}

void PutWord(char* ip_bytes, quint32 i_word)
{
    for (int l_byte = 0; l_byte < 4; ++l_byte)
        ip_bytes[l_byte] = static_cast<char>((i_word >> (8 * l_byte)) & 0xff);
}

quint32 WordAt(const char* ip_bytes)
{
    quint32 l_word = 0;
    for (int l_byte = 3; l_byte >= 0; --l_byte)
        l_word = (l_word << 8) | static_cast<quint8>(ip_bytes[l_byte]);
    return l_word;
}

void StampActivity(ItemPtr i_peerSocket)
{
    ItemPtr l_stamp = i_peerSocket["last_activity_time"];
    if (l_stamp)
        *l_stamp.AsPointer<QDateTime>() = QDateTime::currentDateTime();
}
} // namespace peer_framing

void PeerMessenger::ApplyListeningPortSettings()
{
    using namespace peer_framing;
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
    using namespace peer_framing;
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
    using namespace peer_framing;
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

void PeerMessenger::OnSocketClosed()
{
    if (QTcpSocket* lp_socket = qobject_cast<QTcpSocket*>(sender()))
        DisposeOfSocket(lp_socket);
}

void PeerMessenger::OnSocketError(QAbstractSocket::SocketError)
{
    if (QTcpSocket* lp_socket = qobject_cast<QTcpSocket*>(sender()))
        DisposeOfSocket(lp_socket);
}

void PeerMessenger::DisposeOfSocket(QTcpSocket* ip_socket)
{
    using namespace peer_framing;
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
        l_peer.Remove();
    }
    else
        Log(Area, 2, "Socket not identified");

    m_socketBuffers.erase(ip_socket);
    for (const char* l_type : {"peer_connection_request_socket", "uninitialized_socket",
                               "peer_socket", "connect_to_peer_request_socket"})
        if (ItemPtr l_left = SocketItem(l_type, ip_socket))
            l_left.Remove();
}

void PeerMessenger::AssertNoSocketOverlap(QTcpSocket* ip_socket)
{
    using namespace peer_framing;
    int l_found = 0;
    for (const char* l_type : {"uninitialized_socket", "peer_socket",
                               "connect_to_peer_request_socket", "peer_connection_request_socket"})
        if (SocketItem(l_type, ip_socket))
            ++l_found;
    Q_ASSERT(l_found <= 1);
    Q_UNUSED(l_found);
}

const PeerMessenger::SocketBufferInfo* PeerMessenger::ReceiveRecord(QTcpSocket* ip_socket) const
{
    auto l_found = m_socketBuffers.find(ip_socket);
    return l_found == m_socketBuffers.end() ? nullptr : &l_found->second;
}

bool PeerMessenger::SendMessage(QTcpSocket* ip_socket, MemStream& i_message, bool i_obfuscated)
{
    using namespace peer_framing;
    const int l_length = i_message.GetWriteIndex();
    const int l_header = i_obfuscated ? 8 : 4;
    if (l_length > std::numeric_limits<int>::max() - l_header)
    {
        Log(Area, 1, "Error writing message to socket: message too long");
        return false;
    }
    QByteArray l_frame(l_header + l_length, Qt::Uninitialized);
    char* lp_run = l_frame.data() + l_header - 4;
    PutWord(lp_run, static_cast<quint32>(l_length));
    if (l_length > 0)
        std::memcpy(lp_run + 4, i_message.GetBuffer(), static_cast<std::size_t>(l_length));
    if (i_obfuscated)
    {
        const quint32 l_key = Obfuscation::DrawKey();
        PutWord(l_frame.data(), l_key);
        Obfuscation::Apply(lp_run, static_cast<std::size_t>(l_length) + 4, l_key);
    }
    if (ip_socket->write(l_frame) == -1)
    {
        Log(Area, 1, QString("Error writing message to socket: %1").arg(ip_socket->errorString()));
        return false;
    }
    return true;
}

void PeerMessenger::OnSocketReadyToRead()
{
    using namespace peer_framing;
    QTcpSocket* lp_socket = qobject_cast<QTcpSocket*>(sender());
    if (!lp_socket)
        return;
    InFunction l_guard("OnSocketReadyToRead");
    // A handler may spin an event loop, in which the socket can be disposed of or deleted.
    QPointer<QTcpSocket> l_alive(lp_socket);

    auto l_found = m_socketBuffers.find(lp_socket);
    if (l_found == m_socketBuffers.end())
    {
        SocketBufferInfo l_fresh;
        if (ItemPtr l_accepted = SocketItem("uninitialized_socket", lp_socket))
            l_fresh.obfuscated = l_accepted.IsConnected("is_obfuscated");
        else if (ItemPtr l_peer = SocketItem("peer_socket", lp_socket))
            l_fresh.obfuscated = l_peer.IsConnected("is_obfuscated");
        l_found = m_socketBuffers.emplace(lp_socket, std::move(l_fresh)).first;
    }
    SocketBufferInfo* lp_record = &l_found->second;

    // A frame of length 0 is whole as soon as its header is in.
    while (lp_socket->bytesAvailable() > 0 || (lp_record->lengthKnown && lp_record->length == 0))
    {
        if (lp_record->awaitFileToken)
        {
            // Raw and in the clear, even on an obfuscated connection.
            char l_token[4];
            if (lp_socket->bytesAvailable() < 4 || lp_socket->read(l_token, 4) != 4)
                return;
            const QString l_user = lp_record->user;
            lp_socket->disconnect();
            m_socketBuffers.erase(lp_socket);
            emit FileConnectionRequested(l_user, lp_socket, WordAt(l_token));
            return;
        }

        if (!lp_record->lengthKnown)
        {
            const int l_header = lp_record->obfuscated ? 8 : 4;
            char l_bytes[8];
            if (lp_socket->bytesAvailable() < l_header ||
                lp_socket->read(l_bytes, l_header) != l_header)
                return;
            quint32 l_length = WordAt(l_bytes + l_header - 4);
            if (lp_record->obfuscated)
            {
                lp_record->key = Obfuscation::RotateLeft(WordAt(l_bytes));
                l_length ^= lp_record->key;
            }
            if (l_length > MaxFrameLength)
            {
                l_guard.Dispose();
                DisposeOfSocket(lp_socket);
                return;
            }
            lp_record->length = l_length;
            lp_record->lengthKnown = true;
            if (l_length < static_cast<quint32>(UpfrontBodyBytes))
                lp_record->buffer.EnsureBufferCapacity(static_cast<int>(l_length) + 1);
            continue;
        }

        MemStream& l_buffer = lp_record->buffer;
        const int l_before = l_buffer.GetWriteIndex();
        qint64 l_wanted = static_cast<qint64>(lp_record->length) - l_before;
        if (l_wanted > 0 && l_buffer.GetBufferSize() - l_before > l_wanted)
        {
            const qint64 l_read = lp_socket->read(l_buffer.GetWriteBuffer(), l_wanted);
            if (l_read > 0)
                l_buffer.AdvanceWriteIndex(static_cast<int>(l_read));
        }
        else
        {
            char l_chunk[ReadChunkBytes];
            while (l_wanted > 0)
            {
                const qint64 l_read =
                    lp_socket->read(l_chunk, qMin<qint64>(l_wanted, sizeof l_chunk));
                if (l_read <= 0)
                    break;
                l_buffer.WriteBuffer(l_chunk, static_cast<unsigned long>(l_read));
                l_wanted -= l_read;
            }
        }
        const int l_after = l_buffer.GetWriteIndex();
        if (l_before / ActivityStep != l_after / ActivityStep)
            if (ItemPtr l_peer = SocketItem("peer_socket", lp_socket))
                StampActivity(l_peer);
        if (static_cast<quint32>(l_after) < lp_record->length)
            continue;

        // A whole frame. The handler gets the buffer for itself; the next frame starts afresh.
        MemStream l_body = l_buffer;
        lp_record->buffer = MemStream();
        lp_record->lengthKnown = false;
        if (lp_record->obfuscated && l_after > 0)
            Obfuscation::Apply(l_body.GetWriteBuffer() - l_after, static_cast<std::size_t>(l_after),
                               lp_record->key);
        const bool l_keep = HandleMessage(lp_socket, l_body);

        // Whoever disposed of the socket meanwhile has ended its record too.
        auto l_again = m_socketBuffers.find(lp_socket);
        if (!l_alive || l_again == m_socketBuffers.end() || &l_again->second != lp_record)
            return;
        if (!l_keep)
        {
            l_guard.Dispose();
            lp_socket->disconnect();
            DisposeOfSocket(lp_socket);
            return;
        }
        if (lp_record->handedOver)
        {
            // The rest of its bytes belong to the new owner.
            m_socketBuffers.erase(l_again);
            return;
        }
    }
}

bool PeerMessenger::HandleMessage(QTcpSocket* ip_socket, MemStream i_body)
{
    using namespace peer_framing;
    if (ItemPtr l_accepted = SocketItem("uninitialized_socket", ip_socket))
        return HandleFirstFrame(ip_socket, l_accepted, i_body);
    if (ItemPtr l_peer = SocketItem("peer_socket", ip_socket))
        return HandlePeerMessage(ip_socket, l_peer, i_body);
    // Neither introduced nor messaging: nothing on it can be understood.
    return false;
}

bool PeerMessenger::HandleFirstFrame(QTcpSocket* ip_socket, ItemPtr i_accepted, MemStream& io_body)
{
    using namespace peer_framing;
    const bool l_obfuscated = i_accepted.IsConnected("is_obfuscated");
    const QString l_via = Obfuscated(l_obfuscated);
    i_accepted.Remove();
    const QString l_failure =
        QString("Failure initializing %1peer connection, disposing of socket").arg(l_via);

    quint8 l_kind = 0;
    if (!io_body.Read(l_kind))
    {
        Log(Area, 1, QString("Failed to read direction from new %1peer connection").arg(l_via));
        Log(Area, 1, l_failure);
        return false;
    }

    if (l_kind == 0)
    {
        quint32 l_token = 0;
        if (!io_body.Read(l_token))
        {
            Log(Area, 1, QString("Failed to read req from %1indirect peer connection").arg(l_via));
            Log(Area, 1, l_failure);
            return false;
        }
        ItemPtr l_indirect = d.GetType("indirect_connect_to_peer_request")->HasItem(Value(l_token));
        if (!l_indirect)
        {
            Log(Area, 1, QString("Req sent on %1indirect peer connection not found").arg(l_via));
            Log(Area, 1, l_failure);
            return false;
        }
        ItemPtr l_user = l_indirect["user"];
        const QString l_type = l_indirect["peer_connection_type"].AsString();
        ItemPtr l_attempt = l_indirect["connect_to_peer_request"];
        l_indirect.Remove();
        if (l_attempt)
            DisposeOfPeerConnectionRequest(l_attempt);
        Log(Area, 1,
            QString("Found req, accepted %1indirect connection to user %2, connection type %3")
                .arg(l_via, l_user.AsString(), l_type),
            l_user);
        if (l_type == "P")
        {
            NewPeerSocketItem(ip_socket, l_user, l_obfuscated);
            SendUnsentMessages(l_user.AsString());
            return true;
        }
        if (l_type == "F" || l_type == "D")
        {
            m_socketBuffers[ip_socket].handedOver = true;
            ip_socket->disconnect();
            if (l_type == "F")
                emit FileConnectionAccepted(l_user.AsString(), ip_socket);
            else
                emit DNetConnectionAccepted(l_user.AsString(), ip_socket);
            return true;
        }
        Log(Area, 1, l_failure);
        return false;
    }

    QString l_userName;
    QString l_type;
    quint32 l_ignoredToken = 0;
    if (!io_body.Read(l_userName) || !io_body.Read(l_type) || !io_body.Read(l_ignoredToken))
    {
        Log(Area, 1, l_failure);
        return false;
    }
    ItemPtr l_user = UserItem(l_userName);
    if (l_type == "P")
    {
        Log(Area, 1, QString("Accepted %1messaging connection to user %2").arg(l_via, l_userName),
            l_user);
        NewPeerSocketItem(ip_socket, l_user, l_obfuscated);
        SendUnsentMessages(l_userName);
    }
    else if (l_type == "F")
    {
        Log(Area, 1, QString("Accepted %1file connection to user %2").arg(l_via, l_userName),
            l_user);
        SocketBufferInfo& l_record = m_socketBuffers[ip_socket];
        l_record.awaitFileToken = true;
        l_record.user = l_userName;
    }
    else if (l_type == "D")
    {
        Log(Area, 1, QString("Accepted %1DNet connection to user %2").arg(l_via, l_userName),
            l_user);
        ip_socket->disconnect();
        m_socketBuffers[ip_socket].handedOver = true;
        emit DNetConnectionRequested(l_userName, ip_socket);
    }
    else
    {
        Log(Area, 1, l_failure, l_user);
        return false;
    }
    Log(Area, 1,
        QString("Peer %1connection of type %2 opened from user %3").arg(l_via, l_type, l_userName),
        l_user);
    return true;
}

bool PeerMessenger::HandlePeerMessage(QTcpSocket*, ItemPtr i_peerSocket, MemStream& io_body)
{
    using namespace peer_framing;
    ItemPtr l_user = i_peerSocket["user"];
    quint32 l_code = 0;
    if (!io_body.Read(l_code))
    {
        Log(Area, 1,
            QString("Could not read message code on connection to user %1, disposing of socket")
                .arg(l_user.AsString()),
            l_user);
        return false;
    }
    StampActivity(i_peerSocket);
    Log(Area, 1,
        QString("Received %1 message from user %2")
            .arg(MessageCodeToString(static_cast<int>(l_code)), l_user.AsString()),
        l_user);

    const QString l_userName = l_user.AsString();
    switch (l_code)
    {
    // Share lists, search replies and folder requests.
    case 4:
        return ReceiveSharedFileListRequest(l_userName);
    case 5:
        return ReceiveSharedFileList(l_userName, io_body);
    case 9:
        return ReceiveSearchReply(l_userName, io_body);
    case 36:
        return ReceiveFolderContentsRequest(l_userName, io_body);
    // User information, then transfer negotiation and queues.
    case 15:
        emit UserInfoRequested(l_userName);
        return true;
    case 16:
        return ReceiveUserInfoReply(l_userName, io_body);
    case 40:
        return ReceiveTransferRequest(l_userName, io_body);
    case 41:
        return ReceiveTransferResponse(l_userName, io_body);
    case 43:
    case 44:
    case 46:
    case 50:
    case 51:
    case 60:
        return ReceiveQueueMessage(l_code, l_userName, io_body);
    default:
        // Everything else is only logged.
        return true;
    }
}

ItemPtr PeerMessenger::NewPeerSocketItem(QTcpSocket* ip_socket, ItemPtr i_user, bool i_obfuscated)
{
    ItemPtr l_item = d.GetType("peer_socket")->NewItem(Value(ip_socket));
    l_item += i_user;
    l_item += d.GetType("connection_open_time")
                  ->GetItem(LogService::Stamp(QDateTime::currentDateTime()));
    if (i_obfuscated)
        l_item.NewItem("is_obfuscated");
    return l_item;
}

void PeerMessenger::HandOverOutgoing(QTcpSocket* ip_socket, ItemPtr i_user, const QString& i_type,
                                     bool i_obfuscated)
{
    if (i_type == "P")
    {
        WatchSocket(ip_socket);
        NewPeerSocketItem(ip_socket, i_user, i_obfuscated);
        SendUnsentMessages(i_user.AsString());
        return;
    }
    // The new owner answers for the socket from here on.
    ip_socket->disconnect(this);
    if (i_type == "F")
        emit FileConnectionAccepted(i_user.AsString(), ip_socket);
    else if (i_type == "D")
        emit DNetConnectionAccepted(i_user.AsString(), ip_socket);
    else
    {
        ip_socket->close();
        ip_socket->deleteLater();
    }
}

void PeerMessenger::OnConnectToPeerSocketConnected()
{
    using namespace peer_framing;
    QTcpSocket* lp_socket = qobject_cast<QTcpSocket*>(sender());
    if (!lp_socket)
        return;
    lp_socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    ItemPtr l_leg = SocketItem("connect_to_peer_request_socket", lp_socket);
    if (!l_leg)
    {
        lp_socket->disconnect(this);
        lp_socket->close();
        lp_socket->deleteLater();
        return;
    }
    const bool l_obfuscated = l_leg.IsConnected("is_obfuscated");
    ItemPtr l_user = l_leg["user"];
    const QString l_type = l_leg["peer_connection_type"].AsString();
    Log(Area, 1,
        QString("Direct %1connection of type %2 to user %3 successful")
            .arg(Obfuscated(l_obfuscated), l_type, l_user.AsString()),
        l_user);

    MemStream l_init;
    l_init.Write(quint8(1));
    l_init.Write(GetSetting("username"));
    l_init.Write(l_type);
    l_init.Write(quint32(0));
    SendMessage(lp_socket, l_init, l_obfuscated);

    QObject::disconnect(lp_socket, &QAbstractSocket::errorOccurred, nullptr, nullptr);
    ItemPtr l_attempt = l_leg["connect_to_peer_request"];
    l_leg.Remove();
    if (l_attempt)
        DisposeOfPeerConnectionRequest(l_attempt);
    HandOverOutgoing(lp_socket, l_user, l_type, l_obfuscated);
}

void PeerMessenger::OnIndirectResponseSocketConnected()
{
    using namespace peer_framing;
    QTcpSocket* lp_socket = qobject_cast<QTcpSocket*>(sender());
    if (!lp_socket)
        return;
    lp_socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    ItemPtr l_answer = SocketItem("peer_connection_request_socket", lp_socket);
    ItemPtr l_request = l_answer["peer_connection_request"];
    if (!l_request)
    {
        DisposeOfSocket(lp_socket);
        return;
    }
    const bool l_obfuscated = l_request.IsConnected("is_obfuscated");
    MemStream l_pierce;
    l_pierce.Write(quint8(0));
    l_pierce.Write(quint32(l_request["peer_connection_request_id"].AsUInt()));
    SendMessage(lp_socket, l_pierce, l_obfuscated);

    ItemPtr l_user = l_request["user"];
    const QString l_type = l_request["peer_connection_type"].AsString();
    l_answer.Remove();
    Log(Area, 1,
        QString("Response %1connection to indirect request from %2, type %3 opened")
            .arg(Obfuscated(l_obfuscated), l_user.AsString(), l_type),
        l_user);
    l_request.Remove();

    if (l_type == "P")
    {
        WatchSocket(lp_socket);
        NewPeerSocketItem(lp_socket, l_user, l_obfuscated);
        SendUnsentMessages(l_user.AsString());
    }
    else if (l_type == "F")
    {
        WatchSocket(lp_socket);
        SocketBufferInfo& l_record = m_socketBuffers[lp_socket];
        l_record.awaitFileToken = true;
        l_record.user = l_user.AsString();
    }
    else
    {
        // Unhooked like every other hand-over: the new owner alone closes and frees it.
        lp_socket->disconnect();
        if (l_type == "D")
            emit DNetConnectionRequested(l_user.AsString(), lp_socket);
        else
        {
            lp_socket->close();
            lp_socket->deleteLater();
        }
    }
}

ItemPtr PeerMessenger::LatestPeerSocket(ItemPtr i_user, bool i_log)
{
    using namespace peer_framing;
    const ItemSet l_sockets = i_user.GetItems("peer_socket");
    if (l_sockets.Empty())
        return ItemPtr();
    if (l_sockets.Size() == 1)
    {
        if (i_log)
            Log(Area, 2, "Found one existing messaging connection to user", i_user);
        return l_sockets;
    }
    if (i_log)
        Log(Area, 2,
            QString("Found %1 existing messaging connections to user, picking latest")
                .arg(l_sockets.Size()),
            i_user);
    ItemPtr l_choice;
    QDateTime l_chosenTime;
    for (ItemPtr l_socket : l_sockets)
    {
        const QString l_text = l_socket["connection_open_time"].AsString();
        const QDateTime l_time = QDateTime::fromString(l_text, Qt::TextDate);
        if (!l_choice)
        {
            l_choice = l_socket;
            l_chosenTime = l_time;
            if (i_log)
                Log(Area, 3, QString("First connection opened %1").arg(l_text), i_user);
        }
        else if (l_time > l_chosenTime)
        {
            l_choice = l_socket;
            l_chosenTime = l_time;
            if (i_log)
                Log(Area, 3, QString("Found connection opened %1, exchanging").arg(l_text), i_user);
        }
    }
    return l_choice;
}

void PeerMessenger::SendMessage(QString i_user, MemStream& i_message)
{
    using namespace peer_framing;
    ItemPtr l_user = UserItem(i_user);
    char l_codeBytes[4] = {0, 0, 0, 0};
    std::memcpy(l_codeBytes, i_message.GetBuffer(),
                static_cast<std::size_t>(qBound(0, i_message.GetWriteIndex(), 4)));
    Log(Area, 1,
        QString("Send %1 message to user %2")
            .arg(MessageCodeToString(static_cast<qint32>(WordAt(l_codeBytes))), i_user),
        l_user);

    if (ItemPtr l_socket = LatestPeerSocket(l_user, true))
    {
        // A failed write is logged there; the message is not kept.
        SendMessage(l_socket.AsPointer<QTcpSocket>(), i_message,
                    l_socket.IsConnected("is_obfuscated"));
        return;
    }

    Log(Area, 2, "Did not find messaging connection to user, queueing unsent message", l_user);
    // A copy of its own, so that the caller's stream may be reused at once.
    MemStream* lp_parked = new MemStream;
    lp_parked->WriteBuffer(i_message.GetBuffer(),
                           static_cast<unsigned long>(i_message.GetWriteIndex()));
    ItemPtr l_parked = d.GetType("unsent_message")->NewItem(Value(lp_parked));
    l_parked += l_user;
    l_parked += d.GetType("send_order")->GetItem(Value(sendOrderCounter++));
    l_parked += d.GetType("send_time")->GetItem(LogService::Stamp(QDateTime::currentDateTime()));
    ConnectToUser(i_user, "P");
}

void PeerMessenger::SendMessageToUser(QString i_user, MemStream& i_message)
{
    SendMessage(i_user, i_message);
}

void PeerMessenger::SendUnsentMessages(QString i_user)
{
    using namespace peer_framing;
    ItemPtr l_user = d.GetType("user")->HasItem(i_user);
    if (!l_user)
        return;
    ItemPtr l_socket = LatestPeerSocket(l_user, false);
    if (!l_socket)
        return;
    QTcpSocket* lp_socket = l_socket.AsPointer<QTcpSocket>();
    const bool l_obfuscated = l_socket.IsConnected("is_obfuscated");
    const ItemSet l_parked = l_user.GetItems("unsent_message");
    if (l_parked.Empty())
        return;
    Log(Area, 1,
        QString("Sending %1 pending peer messages to user %2").arg(l_parked.Size()).arg(i_user),
        l_user);
    for (ItemPtr l_message : l_parked.SortNumericBy("send_order", true))
    {
        MemStream* lp_message = l_message.AsPointer<MemStream>();
        if (!SendMessage(lp_socket, *lp_message, l_obfuscated))
            return;
        l_message.Remove();
    }
}

QString PeerMessenger::MessageCodeToString(int i_code)
{
    switch (i_code)
    {
    case 1: return "PM_SAY";
    case 4: return "PM_GET_SHARED_FILE_LIST";
    case 5: return "PM_SHARED_FILE_LIST";
    case 8: return "PM_FILE_SEARCH_REQUEST";
    case 9: return "PM_FILE_SEARCH_RESULT";
    case 10: return "PM_INVITE_USER_TO_ROOM";
    case 14: return "PM_CANCELLED_QUEUED_TRANSFER";
    case 15: return "PM_USER_INFO_REQUEST";
    case 16: return "PM_USER_INFO_REPLY";
    case 33: return "PM_SEND_CONNECT_TOKEN";
    case 34: return "PM_MOVE_DOWNLOAD_TO_TOP";
    case 36: return "PM_GET_SHARED_FILES_IN_FOLDER";
    case 37: return "PM_SHARED_FILES_IN_FOLDER";
    case 40: return "PM_TRANSFER_REQUEST";
    case 41: return "PM_TRANSFER_RESPONSE";
    case 42: return "PM_PLACEHOLD_UPLOAD";
    case 43: return "PM_QUEUE_UPLOAD";
    case 44: return "PM_UPLOAD_PLACE_IN_LINE";
    case 46: return "PM_UPLOAD_FAILED";
    case 47: return "PM_EXACT_FILE_SEARCH_REQUEST";
    case 48: return "PM_QUEUED_DOWNLOADS";
    case 49: return "PM_INDIRECT_FILE_SEARCH_REQUEST";
    case 50: return "PM_UPLOAD_DENIED";
    case 51: return "PM_UPLOAD_PLACE_IN_LINE_REQUEST";
    case 52: return "PM_NOTHING";
    default: return QString::number(i_code) + " (unknown)";
    }
}

// ---- User information and transfer negotiation ----

namespace
{
MemStream MessageWithCode(quint32 i_code)
{
    MemStream l_message;
    l_message.Write(i_code);
    return l_message;
}
} // namespace

void PeerMessenger::GetUserInfo(QString i_user)
{
    MemStream l_message = MessageWithCode(15);
    SendMessage(i_user, l_message);
}

unsigned int PeerMessenger::RequestUpload(QString i_user, QString i_file, long long i_size)
{
    using namespace peer_framing;
    // Stored as decimal text, like every setting.
    const unsigned int l_req = GetSetting("transfer_req_counter").toUInt();
    SetSetting("transfer_req_counter", Value(QString::number(l_req + 1u)));

    MemStream l_message = MessageWithCode(40);
    l_message.Write(static_cast<qint32>(1));
    l_message.Write(static_cast<quint32>(l_req));
    l_message.Write(i_file);
    l_message.Write(static_cast<qint64>(i_size));
    SendMessage(i_user, l_message);
    return l_req;
}

void PeerMessenger::AcceptTransferRequest(QString i_user, unsigned int i_req, bool i_sendFileSize,
                                          long long i_fileSize)
{
    MemStream l_message = MessageWithCode(41);
    l_message.Write(static_cast<quint32>(i_req));
    l_message.Write(static_cast<quint8>(1));
    if (i_sendFileSize)
        l_message.Write(static_cast<qint64>(i_fileSize));
    SendMessage(i_user, l_message);
}

void PeerMessenger::DenyTransferRequest(QString i_user, unsigned int i_req, QString i_reason)
{
    MemStream l_message = MessageWithCode(41);
    l_message.Write(static_cast<quint32>(i_req));
    l_message.Write(static_cast<quint8>(0));
    l_message.Write(i_reason);
    SendMessage(i_user, l_message);
}

void PeerMessenger::QueueDownload(QString i_user, std::string i_file)
{
    MemStream l_message = MessageWithCode(43);
    l_message.Write(i_file);
    SendMessage(i_user, l_message);
}

void PeerMessenger::SendUploadPlaceInLine(QString i_user, QString i_file, int i_place)
{
    MemStream l_message = MessageWithCode(44);
    l_message.Write(i_file);
    l_message.Write(static_cast<qint32>(i_place));
    SendMessage(i_user, l_message);
}

void PeerMessenger::DenyUpload(QString i_user, QString i_file, QString i_reason)
{
    MemStream l_message = MessageWithCode(50);
    l_message.Write(i_file);
    l_message.Write(i_reason);
    SendMessage(i_user, l_message);
}

void PeerMessenger::QueueUpload(QString i_user, QString i_file, long long i_size)
{
    MemStream l_message = MessageWithCode(60);
    l_message.Write(i_file);
    l_message.Write(static_cast<qint64>(i_size));
    SendMessage(i_user, l_message);
}

bool PeerMessenger::ReceiveUserInfoReply(const QString& i_user, MemStream& io_body)
{
    QString l_description;
    quint8 l_hasPicture = 0;
    if (!io_body.Read(l_description) || !io_body.Read(l_hasPicture))
        return false;
    QByteArray l_picture;
    if (l_hasPicture)
    {
        qint32 l_length = 0;
        if (!io_body.Read(l_length))
            return false;
        // Checked against what the frame still holds before anything is allocated.
        if (l_length < 0 || l_length > io_body.GetPendingReadLength())
            return false;
        l_picture.resize(l_length);
        if (l_length > 0 &&
            !io_body.ReadBuffer(l_picture.data(), static_cast<unsigned long>(l_length)))
            return false;
    }
    qint32 l_slots = 0;
    qint32 l_queued = 0;
    quint8 l_free = 0;
    if (!io_body.Read(l_slots) || !io_body.Read(l_queued) || !io_body.Read(l_free))
        return false;
    emit UserInfoReceived(i_user, l_description, l_hasPicture != 0, l_picture, l_slots, l_queued,
                          l_free != 0);
    return true;
}

bool PeerMessenger::ReceiveTransferRequest(const QString& i_user, MemStream& io_body)
{
    qint32 l_direction = 0;
    quint32 l_req = 0;
    std::string l_file;
    if (!io_body.Read(l_direction) || !io_body.Read(l_req) || !io_body.Read(l_file))
        return false;
    // Only an upload announcement carries a size; otherwise it stays 0.
    qint64 l_size = 0;
    if (l_direction == 1 && !io_body.Read(l_size))
        return false;
    emit FileTransferRequested(i_user, l_direction, l_req, l_file, l_size);
    return true;
}

bool PeerMessenger::ReceiveTransferResponse(const QString& i_user, MemStream& io_body)
{
    quint32 l_req = 0;
    quint8 l_allowed = 0;
    if (!io_body.Read(l_req) || !io_body.Read(l_allowed))
        return false;
    if (l_allowed)
    {
        qint64 l_size = 0;
        const bool l_hasSize = io_body.Read(l_size);
        emit FileTransferResponse(i_user, l_req, true, l_hasSize, l_hasSize ? l_size : 0,
                                  QString());
        return true;
    }
    QString l_reason;
    if (!io_body.Read(l_reason))
        return false;
    emit FileTransferResponse(i_user, l_req, false, false, 0, l_reason);
    return true;
}

bool PeerMessenger::ReceiveQueueMessage(quint32 i_code, const QString& i_user, MemStream& io_body)
{
    if (i_code == 43 || i_code == 51)
    {
        QString l_file;
        if (!io_body.Read(l_file))
            return false;
        if (i_code == 43)
            emit QueueUploadRequested(i_user, l_file);
        else
            emit UploadPlaceInLineRequested(i_user, l_file);
        return true;
    }

    std::string l_file;
    if (!io_body.Read(l_file))
        return false;
    switch (i_code)
    {
    case 44:
    {
        qint32 l_place = 0;
        if (!io_body.Read(l_place))
            return false;
        emit DownloadPlaceInLine(i_user, l_file, l_place);
        return true;
    }
    case 46:
        emit UploadFailed(i_user, l_file);
        return true;
    case 50:
    {
        QString l_reason;
        if (!io_body.Read(l_reason))
            return false;
        emit UploadDenied(i_user, l_file, l_reason);
        return true;
    }
    case 60:
    {
        qint64 l_size = 0;
        if (!io_body.Read(l_size))
            return false;
        emit QueueDownloadRequested(i_user, l_file, l_size);
        return true;
    }
    default:
        return true;
    }
}

// ---- Share and search messages ----

namespace share_messages
{
const char* const Area = "Peer Messenger";

// Reads the fields of an inflated body in place, without another copy of its bytes.
class BytesInput final : public InputStream
{
public:
    explicit BytesInput(const QByteArray& i_bytes) : m_bytes(i_bytes) {}

    bool ReadBuffer(void* op_destination, unsigned long i_count) override
    {
        if (i_count > static_cast<unsigned long>(m_bytes.size() - m_position))
            return false;
        if (i_count > 0)
            std::memcpy(op_destination, m_bytes.constData() + m_position, i_count);
        m_position += static_cast<int>(i_count);
        return true;
    }

    // The next byte, left unread; -1 at the end.
    int Peek() const
    {
        return m_position < m_bytes.size() ? static_cast<quint8>(m_bytes[m_position]) : -1;
    }

private:
    const QByteArray& m_bytes;
    int m_position = 0;
};

// Everything after the code, inflated. An unreadable stream leaves the output empty, so that
// the first field read fails.
Inflater::Result InflateRest(const QString& i_user, MemStream& io_message, QByteArray& o_body)
{
    const Inflater::Result l_result = Inflater::Inflate(
        io_message.GetReadBuffer(), io_message.GetPendingReadLength(), o_body);
    if (l_result == Inflater::TooLarge)
        Log(Area, 1,
            QString("Message from user %1 inflates past %2 bytes, dropping it")
                .arg(i_user)
                .arg(Inflater::DefaultCeiling),
            d.GetType("user")->GetItem(i_user));
    return l_result;
}

bool ReadCount(BytesInput& io_input, qint32& o_count)
{
    return io_input.Read(o_count) && o_count >= 0 &&
           o_count <= static_cast<qint32>(InputStream::MaxCount);
}

// One record. A record marked absent is one byte and stands for no file: o_present is false,
// and nothing of an earlier record is repeated.
bool ReadFileRecord(BytesInput& io_input, FileInfo& o_file, bool& o_present)
{
    const int l_marker = io_input.Peek();
    if (l_marker < 0)
        return false;
    o_present = l_marker != 0;
    if (!o_present)
    {
        quint8 l_absent = 0;
        return io_input.Read(l_absent);
    }
    o_file = FileInfo();
    return o_file.Read(io_input);
}

bool ReadShareList(BytesInput& io_input, FileInfoMap& o_share)
{
    qint32 l_folders = 0;
    if (!ReadCount(io_input, l_folders))
        return false;
    for (qint32 l_folder = 0; l_folder < l_folders; ++l_folder)
    {
        std::string l_path;
        qint32 l_count = 0;
        if (!io_input.Read(l_path) || !ReadCount(io_input, l_count))
            return false;
        std::set<FileInfo> l_files;
        for (qint32 l_index = 0; l_index < l_count; ++l_index)
        {
            FileInfo l_file;
            bool l_present = false;
            if (!ReadFileRecord(io_input, l_file, l_present))
                return false;
            // Lists come sorted as a rule; the hint keeps that case linear.
            if (l_present)
                l_files.emplace_hint(l_files.end(), std::move(l_file));
        }
        o_share.insert_or_assign(o_share.end(), std::move(l_path), std::move(l_files));
    }
    return true;
}

// The store's types, looked up once per reply rather than once per file.
struct ResultTypes
{
    Type* request = d.GetType("search_request");
    Type* results = d.GetType("search_results");
    Type* result = d.GetType("search_result");
    Type* fileName = d.GetType("search_result_file_name");
    Type* folder = d.GetType("search_result_file_folder");
    Type* size = d.GetType("file_size");
    Type* wishList = d.GetType("wishlist_search");
    Type* bitrate = d.GetType("bitrate");
    Type* length = d.GetType("length_seconds");
    Type* bitrateMode = d.GetType("bitrate_mode");
};

// Whether the user already offered this file name in this folder to this search, or to any
// wish-list search when this is one. Walks the smaller of the two result lists, so a folder of
// many files costs no more per file than the name's few results.
bool AlreadyOffered(const ResultTypes& i_types, Item* ip_name, Item* ip_folder,
                    Item* ip_request, bool i_wishList, Item* ip_user)
{
    const ItemSet* lp_byName = ip_name->Connections().FindSet(i_types.result);
    const ItemSet* lp_byFolder = ip_folder->Connections().FindSet(i_types.result);
    if (!lp_byName || !lp_byFolder)
        return false;
    const bool l_nameFewer = lp_byName->Size() <= lp_byFolder->Size();
    Item* lp_other = l_nameFewer ? ip_folder : ip_name;
    for (ItemPtr l_result : l_nameFewer ? *lp_byName : *lp_byFolder)
    {
        if (!l_result->IsConnected(lp_other))
            continue;
        Item* lp_results = l_result->FirstOf(i_types.results);
        if (!lp_results || !lp_results->IsConnected(ip_user))
            continue;
        Item* lp_request = lp_results->FirstOf(i_types.request);
        if (lp_request &&
            (lp_request == ip_request || (i_wishList && lp_request->IsConnected(i_types.wishList))))
            return true;
    }
    return false;
}

void AddResult(const ResultTypes& i_types, ItemPtr i_results, const FileInfo& i_file,
               const std::string& i_name, const std::string& i_folder)
{
    ItemPtr l_result = i_types.result->NewItem();
    for (const std::pair<int, int>& l_attribute : i_file.attributeMap.attributes)
    {
        if (l_attribute.first == AttributeMap::Bitrate)
            l_result += i_types.bitrate->GetItem(Value(l_attribute.second));
        else if (l_attribute.first == AttributeMap::Length)
            l_result += i_types.length->GetItem(Value(l_attribute.second));
        else if (l_attribute.first == AttributeMap::VariableBitrate)
            l_result += i_types.bitrateMode->GetItem(l_attribute.second != 0 ? "vbr" : "cbr");
    }
    l_result += i_results;
    l_result += i_types.fileName->GetItem(Value(i_name));
    l_result += i_types.folder->GetItem(Value(i_folder));
    l_result += i_types.size->GetItem(Value(static_cast<long long>(i_file.size)));
}
} // namespace share_messages

void PeerMessenger::GetUserSharedFiles(QString i_user)
{
    MemStream l_message;
    l_message.Write(quint32(4));
    SendMessage(i_user, l_message);
}

bool PeerMessenger::ReceiveSharedFileListRequest(const QString& i_user)
{
    emit SharedFileListRequested(i_user);
    return true;
}

bool PeerMessenger::ReceiveSharedFileList(const QString& i_user, MemStream& io_body)
{
    using namespace share_messages;
    QByteArray l_inflated;
    if (InflateRest(i_user, io_body, l_inflated) == Inflater::TooLarge)
        return true;
    BytesInput l_input(l_inflated);
    FileInfoMap l_share;
    if (!ReadShareList(l_input, l_share))
        return false;
    AttributeTranslationTable l_names;
    if (!l_input.Read(l_names))
        l_names.clear();
    emit UserShare(i_user, l_share, l_names);
    return true;
}

bool PeerMessenger::ReceiveSearchReply(const QString& i_user, MemStream& io_body)
{
    using namespace share_messages;
    QByteArray l_inflated;
    if (InflateRest(i_user, io_body, l_inflated) == Inflater::TooLarge)
        return true;
    BytesInput l_input(l_inflated);
    QString l_replier;
    quint32 l_token = 0;
    if (!l_input.Read(l_replier) || l_replier != i_user || !l_input.Read(l_token))
        return false;
    const ResultTypes l_types;
    ItemPtr l_request = l_types.request->HasItem(Value(l_token));
    if (!l_request || l_request.IsConnected("search_stopped"))
        return true;

    SearchParser l_parser;
    // Our own text; should it break the limits meant for other users' searches, every file
    // passes, as the server has matched them already.
    if (!l_parser.SetSearchText(l_request["search_request_text"].AsString()))
        l_parser = SearchParser();

    qint32 l_count = 0;
    if (!ReadCount(l_input, l_count))
        return false;
    std::vector<FileInfo> l_files;
    l_files.reserve(static_cast<std::size_t>(qMin(l_count, qint32(1024))));
    for (qint32 l_index = 0; l_index < l_count; ++l_index)
    {
        FileInfo l_file;
        bool l_present = false;
        if (!ReadFileRecord(l_input, l_file, l_present))
            return false;
        if (l_present)
            l_files.push_back(std::move(l_file));
    }
    // The tail is optional: whatever is missing keeps its default.
    quint8 l_freeSlot = 0;
    qint32 l_speed = 0;
    qint32 l_queued = 0;
    if (l_input.Read(l_freeSlot) && l_input.Read(l_speed))
        l_input.Read(l_queued);

    ItemPtr l_user = d.GetType("user")->GetItem(i_user);
    const bool l_wishList = l_request.IsConnected(l_types.wishList);
    // Every file is judged against the results stored before this reply, which is all that
    // the check can see anyway, and each name and folder pair only once: a reply that repeats
    // one file many times costs no more than one that lists it once.
    struct Accepted
    {
        const FileInfo* file;
        std::string name;
        std::string folder;
    };
    std::vector<Accepted> l_accepted;
    std::map<std::pair<Item*, Item*>, bool> l_offered;
    for (const FileInfo& l_file : l_files)
    {
        const QString l_path = ToQString(l_file.name);
        if (!l_parser.IsMatch(l_path))
        {
            Log("Search", 1,
                QString("Filtered out search result %1 from user %2").arg(l_path, i_user));
            continue;
        }
        Accepted l_entry{&l_file, GetFileName(l_file.name), GetFolder(l_file.name)};
        ItemPtr l_nameItem = l_types.fileName->HasItem(Value(l_entry.name));
        ItemPtr l_folderItem = l_types.folder->HasItem(Value(l_entry.folder));
        if (l_nameItem && l_folderItem)
        {
            auto l_known = l_offered.emplace(std::make_pair(l_nameItem.Get(), l_folderItem.Get()),
                                             false);
            if (l_known.second)
                l_known.first->second =
                    AlreadyOffered(l_types, l_nameItem.Get(), l_folderItem.Get(),
                                   l_request.Get(), l_wishList, l_user.Get());
            if (l_known.first->second)
                continue;
        }
        l_accepted.push_back(std::move(l_entry));
    }
    if (l_accepted.empty())
        return true;

    ItemPtr l_results = l_types.results->NewItem();
    for (const Accepted& l_entry : l_accepted)
        AddResult(l_types, l_results, *l_entry.file, l_entry.name, l_entry.folder);
    l_results += l_request;
    l_results += l_user;
    l_results += d.GetType("search_results_user_available")->GetItem(l_freeSlot ? "yes" : "no");
    l_results += d.GetType("search_results_user_speed")->GetItem(Value(int(l_speed)));
    l_results += d.GetType("search_results_uploads_in_queue")->GetItem(Value(int(l_queued)));
    emit SearchResults(l_results);
    return true;
}

bool PeerMessenger::ReceiveFolderContentsRequest(const QString& i_user, MemStream& io_body)
{
    quint32 l_request = 0;
    QString l_folder;
    if (!io_body.Read(l_request) || !io_body.Read(l_folder))
        return false;
    emit SharedFilesInFolderRequested(i_user, l_request, l_folder);
    return true;
}
