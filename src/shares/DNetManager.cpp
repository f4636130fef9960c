#include "shares/DNetManager.h"

#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <utility>
#include <vector>

#include "diagnostics/Log.h"
#include "peer/PeerMessenger.h"
#include "server/Server.h"
#include "shares/DNetDetail.h"
#include "store/Data.h"
#include "store/PathNode.h"
#include "store/SchemaDeclaration.h"
#include "store/Settings.h"
#include "store/TimerManager.h"

using namespace dnet_detail;

DNetManager* dnetManager = nullptr;

namespace
{
const TypeDeclaration MembershipTypes[] = {
    {"dnet_global", Primary, false},
    {"dnet_value", Leaf, false},
    {"dnet_child", Primary, false},
    {"dnet_child_depth", Leaf, false},
    {"dnet_parent_candidate", Primary, false},
    {"dnet_candidate_level", Leaf, false},
    {"dnet_candidate_leader", Leaf, false},
};

const RelationDeclaration MembershipRelations[] = {
    {"dnet_global", "dnet_value", Many, One},
    {"dnet_child", "user", One, One},
    {"dnet_child", "dnet_child_depth", Many, One},
    {"dnet_parent_candidate", "user", Many, One},
    {"dnet_parent_candidate", "dnet_candidate_level", Many, One},
    {"dnet_parent_candidate", "dnet_candidate_leader", Many, One},
};
} // namespace

DNetManager::DNetManager()
{
    dnetManager = this;
    connect(gp_server, &Server::DNetParentMinSpeed, this, &DNetManager::OnDNetParentMinSpeed);
    connect(gp_server, &Server::DNetParentSpeedConnectionRatio, this,
            &DNetManager::OnDNetParentSpeedConnectionRatio);
    connect(gp_server, &Server::DNetPossibleParents, this, &DNetManager::OnDNetPossibleParents);
    connect(gp_server, &Server::DNetMessage, this, &DNetManager::OnDNetMessage);
    connect(gp_server, &Server::DNetDeliveryReport, this, &DNetManager::OnDNetDeliveryReport);
    connect(gp_server, &Server::DNetReset, this, &DNetManager::OnDNetReset);
    DeclareTypes({{"attempted_dnet_connection", Leaf, true}});
    DeclareRelations({{"user", "attempted_dnet_connection", Many, One}});
    connect(peerMessenger, &PeerMessenger::DNetConnectionAccepted, this,
            &DNetManager::OnDNetConnectionAccepted);
    connect(peerMessenger, &PeerMessenger::DNetConnectionRequested, this,
            &DNetManager::OnDNetConnectionRequested);
    connect(gp_server, &Server::Connected, this, &DNetManager::OnConnected);
    DeclareSchema();

    PathNode* lp_root = new PathNode(d.GetType("global")->GetItem("upload_speed"));
    new PathNode(lp_root, "global_value", NotifyOnConnect);
    d.AddPathEventHandler(lp_root, NewEventHandler(this, &DNetManager::OnReceivedOwnUploadSpeed));

    connect(timerManager->halfMinuteTimer, &QTimer::timeout, this, &DNetManager::EveryHalfMinute);
}

DNetManager::~DNetManager()
{
    // The sockets we still hold go with us; none of them may call back into a half-destroyed
    // manager while they close.
    for (QTcpSocket* lp_socket : findChildren<QTcpSocket*>(QString(), Qt::FindDirectChildrenOnly))
    {
        lp_socket->disconnect(this);
        Unhold(lp_socket);
    }
    if (dnetManager == this)
        dnetManager = nullptr;
}

void DNetManager::DeclareSchema()
{
    DeclareTypes(MembershipTypes);
    DeclareRelations(MembershipRelations);
}

void DNetManager::OnDNetParentMinSpeed(int i_speed)
{
    Log(Area, 1, QString("Received parent min speed %1, currently not processing").arg(i_speed));
    m_parentMinSpeed = i_speed;
    DetermineCanParent();
}

void DNetManager::OnDNetParentSpeedConnectionRatio(int i_ratio)
{
    Log(Area, 1,
        QString("Received parent speed connection ratio %1, currently not processing").arg(i_ratio));
    m_parentSpeedConnectionRatio = i_ratio;
    DetermineCanParent();
}

void DNetManager::OnReceivedOwnUploadSpeed(ItemPtr)
{
    DetermineCanParent();
}

void DNetManager::OnConnected()
{
    gp_server->SendDNetHasParent(HasParent());
    if (ItemPtr l_leader = KeyValue("dnet_group_leader"))
        gp_server->SendDNetGroupLeader(l_leader.AsString());
    if (ItemPtr l_level = KeyValue("dnet_level"))
        gp_server->SendDNetLevel(l_level.AsInt());
    DetermineCanParent();
}

void DNetManager::OnDNetReset()
{
    Log(Area, 1, "Received DNet reset request");
}

void DNetManager::OnDNetDeliveryReport(int i_req)
{
    Log(Area, 1, QString("Received DNet delivery report request, req %1").arg(i_req));
}

void DNetManager::DetermineCanParent()
{
    if (m_parentMinSpeed == -1 || m_parentSpeedConnectionRatio == -1)
        return;
    ItemPtr l_speed = SettingValueItem("upload_speed");
    if (!l_speed)
        return;
    const qint64 l_ownSpeed = l_speed.AsInt();
    Log(Area, 1, "Determining whether we can accept child connections.");

    // In 64 bits, so that no server value can overflow the product, and a ratio that is not
    // positive leaves room for no child at all.
    bool l_decision = false;
    if (l_ownSpeed < qint64(m_parentMinSpeed) * 1024)
        Log(Area, 2, "Below minimum parent speed, so no.");
    else
    {
        const qint64 l_capacity = m_parentSpeedConnectionRatio > 0
                                      ? l_ownSpeed * 10 / 1024 / m_parentSpeedConnectionRatio
                                      : 0;
        const qint64 l_count = qint64(d.GetType("dnet_child")->ItemCount());
        Log(Area, 2,
            QString("Currently have %1 child connections, max capacity %2").arg(l_count).arg(l_capacity));
        l_decision = l_capacity > l_count;
    }

    if (l_decision == m_canParent)
    {
        Log(Area, 2, "No status change, not notifying.");
        return;
    }
    m_canParent = l_decision;
    Log(Area, 2, "Status changed, sending notification.");
    gp_server->SendDNetCanParent(l_decision);
}

void DNetManager::DetermineChildDepth()
{
    ItemPtr l_current = KeyValue("dnet_child_depth");
    const qint64 l_was = l_current ? l_current.AsInt64() : 0;
    qint64 l_depth = 0;
    for (ItemPtr l_child : g("dnet_child"))
        if (ItemPtr l_reported = l_child["dnet_child_depth"])
            l_depth = std::max(l_depth, qint64(l_reported.AsInt()) + 1);
    if (l_depth == l_was)
        return;
    Log(Area, 1, QString("New child depth is %1").arg(l_depth));
    if (l_depth == 0)
        ClearKey("dnet_child_depth");
    else
        SetKey("dnet_child_depth", Value(static_cast<long long>(l_depth)));
    gp_server->SendChildDepth(l_depth != 0);
}

void DNetManager::OnDNetPossibleParents(std::list<std::pair<QString, TCPAddress>>& i_parentList)
{
    if (HasParent())
    {
        Log(Area, 1, "Received possible parents list, but already have a parent. Not processing.");
        return;
    }
    Log(Area, 1, QString("Received possible parents list, %1 entries").arg(i_parentList.size()));
    for (const std::pair<QString, TCPAddress>& l_entry : i_parentList)
    {
        ItemPtr l_user = d.GetType("user")->GetItem(l_entry.first);
        if (l_user.IsConnected("attempted_dnet_connection"))
        {
            Log(Area, 2, QString("Already attempted parent connection to %1, skipping").arg(l_entry.first));
            continue;
        }
        Log(Area, 2, QString("Attempting parent connection to %1").arg(l_entry.first));
        l_user += d.GetType("user_address")->GetItem(Value(l_entry.second.address));
        l_user += d.GetType("user_port")->GetItem(Value(l_entry.second.port));
        l_user.NewItem("attempted_dnet_connection");
        peerMessenger->RequestDNetConnection(l_entry.first);
    }
}

void DNetManager::Adopt(QTcpSocket* ip_socket, bool i_child)
{
    ip_socket->setParent(this);
    if (i_child)
    {
        connect(ip_socket, &QTcpSocket::readyRead, this, &DNetManager::OnChildSocketReadyToRead);
        connect(ip_socket, &QAbstractSocket::errorOccurred, this, &DNetManager::OnChildSocketError);
        connect(ip_socket, &QAbstractSocket::disconnected, this, &DNetManager::OnChildSocketClosed);
    }
    else
    {
        connect(ip_socket, &QTcpSocket::readyRead, this, &DNetManager::OnSocketReadyToRead);
        connect(ip_socket, &QAbstractSocket::errorOccurred, this, &DNetManager::OnSocketError);
        connect(ip_socket, &QAbstractSocket::disconnected, this, &DNetManager::OnSocketClosed);
    }
}

void DNetManager::Dismiss(QTcpSocket* ip_socket)
{
    Unhold(ip_socket);
    ip_socket->setParent(this);
    ip_socket->disconnect(this);
    ip_socket->abort();
    ip_socket->deleteLater();
}

void DNetManager::OnDNetConnectionAccepted(QString i_user, QTcpSocket* ip_socket)
{
    Log(Area, 1, QString("Parent connection to user %1 accepted").arg(i_user));
    if (HasParent())
    {
        Log(Area, 2, "Rejecting, already have parent");
        Dismiss(ip_socket);
        return;
    }
    Log(Area, 2, "Adding as possible parent candidate");
    ItemPtr l_candidate = d.GetType("dnet_parent_candidate")->GetItem(Value(ip_socket));
    l_candidate += d.GetType("user")->GetItem(i_user);
    Adopt(ip_socket, false);
    // What came behind the handshake is already in the socket and announces itself no more.
    ReadFrames(ip_socket, false);
}

void DNetManager::OnDNetConnectionRequested(QString i_user, QTcpSocket* ip_socket)
{
    Log(Area, 1, QString("Child connection accepted from %1").arg(i_user));
    // Anyone may connect as a child under any name: a user made for it goes with it.
    ItemPtr l_user = peerMessenger->StrangerUser(i_user);
    if (ItemPtr l_old = l_user["dnet_child"])
    {
        Log(Area, 2, "Child connection already found, closing old connection.");
        QTcpSocket* lp_old = l_old.AsPointer<QTcpSocket>();
        l_old.Remove();
        Dismiss(lp_old);
    }
    d.GetType("dnet_child")->GetItem(Value(ip_socket)) += l_user;
    Adopt(ip_socket, true);

    auto l_send = [ip_socket](const MemStream& i_message) {
        char l_header[4];
        PutWord(l_header, static_cast<quint32>(i_message.GetWriteIndex()));
        ip_socket->write(l_header, 4);
        ip_socket->write(i_message.GetBuffer(), i_message.GetWriteIndex());
    };
    if (ItemPtr l_level = KeyValue("dnet_level"))
        l_send(LevelMessage(l_level.AsInt()));
    if (ItemPtr l_leader = KeyValue("dnet_group_leader"))
        l_send(LeaderMessage(l_leader.AsString()));
    ReadFrames(ip_socket, true);
}

void DNetManager::OnSocketClosed()
{
    if (QTcpSocket* lp_socket = qobject_cast<QTcpSocket*>(sender()))
        ParentSideEnded(lp_socket);
}

void DNetManager::OnSocketError(QAbstractSocket::SocketError)
{
    OnSocketClosed();
}

void DNetManager::ParentSideEnded(QTcpSocket* ip_socket)
{
    // Whichever of error and disconnection comes first ends it; the other finds nothing.
    ip_socket->disconnect(this);
    Unhold(ip_socket);
    if (IsParentSocket(ip_socket))
    {
        Log(Area, 1, "Parent socket closed");
        for (const char* l_key : {"dnet_parent_user", "dnet_parent_socket", "dnet_group_leader", "dnet_level"})
            ClearKey(l_key);
        gp_server->SendDNetHasParent(false);
        gp_server->SendDNetGroupLeader(QString());
        gp_server->SendDNetLevel(-1);
    }
    else if (ItemPtr l_candidate = SocketItem("dnet_parent_candidate", ip_socket))
    {
        Log(Area, 1, "Parent candidate socket closed");
        l_candidate.Remove();
    }
    ip_socket->deleteLater();
}

void DNetManager::OnChildSocketClosed()
{
    if (QTcpSocket* lp_socket = qobject_cast<QTcpSocket*>(sender()))
        ChildEnded(lp_socket);
}

void DNetManager::OnChildSocketError(QAbstractSocket::SocketError)
{
    OnChildSocketClosed();
}

void DNetManager::ChildEnded(QTcpSocket* ip_socket)
{
    Log(Area, 1, "Child socket closed");
    ip_socket->disconnect(this);
    ip_socket->deleteLater();
    Unhold(ip_socket);
    ItemPtr l_child = SocketItem("dnet_child", ip_socket);
    if (!l_child)
    {
        Log(Area, 2, "Child socket item not found, aborting");
        return;
    }
    const bool l_reported = l_child.IsConnected("dnet_child_depth");
    const ItemPtr l_user = l_child["user"];
    l_child.Remove();
    if (peerMessenger)
        peerMessenger->StrangerConnectionEnded(l_user);
    // Otherwise the server would go on hearing of a depth below us that has left.
    if (l_reported)
        DetermineChildDepth();
}

void DNetManager::EveryHalfMinute()
{
    const QDateTime l_now = QDateTime::currentDateTimeUtc();
    DropSilentParentAsOf(l_now);
    DropStalledFramesAsOf(l_now);
}

void DNetManager::Drop(QTcpSocket* ip_socket)
{
    const bool l_child = bool(SocketItem("dnet_child", ip_socket));
    ip_socket->disconnect(this);
    ip_socket->abort();
    if (l_child)
        ChildEnded(ip_socket);
    else
        ParentSideEnded(ip_socket);
}

void DNetManager::HoldPending(QTcpSocket* ip_socket, qint64 i_bytes, bool i_newFrame)
{
    if (peerMessenger)
        peerMessenger->HeldFrames().Hold(ip_socket, i_bytes, i_newFrame,
                                         [this](QTcpSocket* ip_oldest) { Drop(ip_oldest); });
}

void DNetManager::HoldUnsent(QTcpSocket* ip_socket)
{
    if (peerMessenger)
        peerMessenger->UnsentBytes().Hold(ip_socket, ip_socket->bytesToWrite(), false,
                                          [this](QTcpSocket* ip_largest) { Drop(ip_largest); });
}

void DNetManager::Unhold(QTcpSocket* ip_socket)
{
    if (!peerMessenger)
        return;
    peerMessenger->HeldFrames().Forget(ip_socket);
    peerMessenger->UnsentBytes().Forget(ip_socket);
}

void DNetManager::DropStalledFramesAsOf(const QDateTime& i_now)
{
    if (!peerMessenger)
        return;
    std::vector<std::pair<QTcpSocket*, ItemPtr>> l_stalled;
    for (const char* l_side : {"dnet_child", "dnet_parent_candidate"})
        for (ItemPtr l_item : g(l_side))
        {
            QTcpSocket* lp_socket = l_item.AsPointer<QTcpSocket>();
            const QDateTime l_since = peerMessenger->HeldFrames().HoldingSince(lp_socket);
            if (l_since.isValid() && l_since.msecsTo(i_now) > PeerMessenger::IdleLimit)
                l_stalled.emplace_back(lp_socket, l_item["user"]);
        }
    if (ItemPtr l_parent = KeyValue("dnet_parent_socket"))
    {
        QTcpSocket* lp_socket = l_parent.AsPointer<QTcpSocket>();
        const QDateTime l_since = peerMessenger->HeldFrames().HoldingSince(lp_socket);
        if (lp_socket && l_since.isValid() && l_since.msecsTo(i_now) > PeerMessenger::IdleLimit)
            l_stalled.emplace_back(lp_socket, ItemPtr());
    }
    for (const auto& [lp_socket, l_user] : l_stalled)
    {
        Log(Area, 1,
            QString("Connection of %1 left a message unfinished for too long, closing it")
                .arg(l_user ? l_user.AsString() : KeyValue("dnet_parent_user").AsString()));
        Drop(lp_socket);
    }
}

void DNetManager::DropSilentParentAsOf(const QDateTime& i_now)
{
    ItemPtr l_parent = KeyValue("dnet_parent_socket");
    if (!l_parent || l_parent.AsUInt64() == 0 || m_lastSearchRequestTime.secsTo(i_now) < 61)
        return;
    Log(Area, 1, "More than a minute elapsed without hearing from parent, closing connection.");
    l_parent.AsPointer<QTcpSocket>()->abort();
}

void DNetManager::AdoptParent(ItemPtr i_candidate, QTcpSocket* ip_socket, MemStream& i_request)
{
    const QString l_user = i_candidate["user"].AsString();
    SetKey("dnet_parent_user", l_user);
    SetKey("dnet_parent_socket", Value(ip_socket));
    Log(Area, 1,
        QString("Received first search request from parent candidate %1, adopting as parent.").arg(l_user));
    if (ItemPtr l_level = i_candidate["dnet_candidate_level"])
    {
        Log(Area, 2, QString("Level recorded as %1.").arg(l_level.AsString()));
        SetKey("dnet_level", l_level.GetValue());
        gp_server->SendDNetLevel(l_level.AsInt());
        MemStream l_message = LevelMessage(l_level.AsInt());
        SendMessageToChildren(l_message);
    }
    const QString l_leader = i_candidate["dnet_candidate_leader"].AsString();
    Log(Area, 2, QString("Group leader recorded as %1.").arg(l_leader));
    SetKey("dnet_group_leader", l_leader);
    gp_server->SendDNetGroupLeader(l_leader);
    MemStream l_leaderMessage = LeaderMessage(l_leader);
    SendMessageToChildren(l_leaderMessage);

    std::vector<std::pair<ItemPtr, QTcpSocket*>> l_candidates;
    for (ItemPtr l_other : g("dnet_parent_candidate"))
        l_candidates.emplace_back(l_other, l_other.AsPointer<QTcpSocket>());
    for (const auto& [l_item, lp_socket] : l_candidates)
    {
        l_item.Remove();
        if (lp_socket != ip_socket)
            Dismiss(lp_socket);
    }
    gp_server->SendDNetHasParent(true);
    SendMessageToChildren(i_request);
}

void DNetManager::ApplyParentLevel(qint32 i_level)
{
    ItemPtr l_current = KeyValue("dnet_level");
    if (i_level == (l_current ? l_current.AsInt() : -1))
        return;
    Log(Area, 1, QString("Received level from parent, updating to %1").arg(i_level));
    if (i_level == -1)
        ClearKey("dnet_level");
    else
        SetKey("dnet_level", Value(i_level));
    gp_server->SendDNetLevel(i_level);
    MemStream l_message = LevelMessage(i_level);
    SendMessageToChildren(l_message);
}

void DNetManager::ApplyParentLeader(const QString& i_leader, MemStream& i_message)
{
    if (i_leader == KeyValue("dnet_group_leader").AsString())
        return;
    Log(Area, 1, QString("Received group leader from parent, updating to %1").arg(i_leader));
    SetKey("dnet_group_leader", i_leader);
    gp_server->SendDNetGroupLeader(i_leader);
    SendMessageToChildren(i_message);
}
