#include "server/Server.h"

#include <QCryptographicHash>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <set>
#include <utility>
#include <vector>

#include "diagnostics/Log.h"
#include "server/PortForwarder.h"
#include "server/UpnpBackend.h"
#include "server/UserStats.h"
#include "server/WireOrder.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/SchemaDeclaration.h"
#include "store/Settings.h"
#include "store/TimerManager.h"

Server* gp_server = nullptr;

const char* const Server::DefaultHost = "server.tarnwick.net";

namespace
{
const char* const DefaultUserName = "TarnwickQT";
const char* const DefaultPassword = "QuorvelMintLedgeXy";
const qint32 LoginVersion = 157;
const qint32 LoginMinorVersion = 100;

MemStream NewMessage(qint32 i_code)
{
    MemStream l_message;
    l_message.Write(i_code);
    return l_message;
}

// The item of that type and value, created when missing.
ItemPtr Lookup(const char* i_type, const Value& i_value)
{
    return d.GetType(i_type)->GetItem(i_value);
}

// The item of that type and value, never created.
ItemPtr Find(const char* i_type, const Value& i_value)
{
    return d.GetType(i_type)->HasItem(i_value);
}

// Points a user at the statistics and country the server reports, each replacing the last.
void SetUserDetails(ItemPtr i_user, const UserStats& i_stats, const QString& i_country)
{
    i_user += Lookup("average_download_speed", i_stats.m_averageSpeed);
    i_user += Lookup("shared_files_count", i_stats.m_sharedFileCount);
    i_user += Lookup("country_code", i_country);
}

const TypeDeclaration ServerTypes[] = {
    {"user", Primary, false},
    {"is_online", Leaf, true},
    {"is_tracked", Leaf, true},
    {"is_privileged", Leaf, true},
    {"is_away", Leaf, true},
    {"room", Primary, false},
    {"room_autojoin", Leaf, true},
    {"user_count", Leaf, false},
    {"is_private", Leaf, true},
    {"is_member", Leaf, true},
    {"in_room", Leaf, true},
    {"room_owner", Intermediate, true},
    {"room_operators", Intermediate, true},
    {"room_members", Intermediate, true},
    {"is_owner", Leaf, true},
    {"is_operator", Leaf, true},
    {"average_download_speed", Leaf, false},
    {"shared_files_count", Leaf, false},
    {"country_code", Leaf, false},
    {"in_user_list", Leaf, true},
    {"user_list_group", Primary, false},
    {"group_download_priority", Leaf, false},
    {"is_ignored", Leaf, true},
    {"accept_uploads", Leaf, true},
    {"user_address_request", Leaf, true},
    {"room_ticker", Intermediate, true},
    {"room_ticker_text", Leaf, false},
    {"room_ticker_order", Leaf, false},
    {"ticker_order_counter", Leaf, false},
};

const RelationDeclaration ServerRelations[] = {
    {"user", "is_online", Many, One},
    {"user", "is_tracked", Many, One},
    {"user", "is_privileged", Many, One},
    {"user", "average_download_speed", Many, One},
    {"user", "shared_files_count", Many, One},
    {"user", "country_code", Many, One},
    {"user", "in_user_list", One, One},
    {"user", "is_ignored", Many, One},
    {"user", "is_away", Many, One},
    {"in_user_list", "user_list_group", Many, Many},
    {"user_list_group", "group_download_priority", Many, One},
    {"user_list_group", "accept_uploads", Many, One},
    {"room", "user", Many, Many},
    {"room", "user_count", Many, One},
    {"room", "in_room", Many, One},
    {"room", "room_autojoin", Many, One},
    {"room", "room_owner", One, One},
    {"room", "room_operators", One, One},
    {"room", "room_members", One, One},
    {"room_owner", "user", Many, One},
    {"room_operators", "user", Many, Many},
    {"room_members", "user", Many, Many},
    {"room", "is_private", Many, One},
    {"room", "is_owner", Many, One},
    {"room", "is_operator", Many, One},
    {"room", "is_member", Many, One},
    {"user_address_request", "user", One, Many},
    {"room", "room_ticker", One, Many},
    {"room", "ticker_order_counter", Many, One},
    {"room_ticker", "room_ticker_text", Many, One},
    {"room_ticker", "room_ticker_order", Many, One},
    {"room_ticker", "user", Many, One},
};
} // namespace

Server::Server(std::unique_ptr<UpnpBackend> ip_upnp) : mp_socket(new QTcpSocket(this))
{
    gp_server = this;
    connect(mp_socket, &QTcpSocket::connected, this, &Server::OnConnected);
    connect(mp_socket, &QTcpSocket::readyRead, this, &Server::OnSocketReadyToRead);
    connect(mp_socket, &QTcpSocket::errorOccurred, this, &Server::OnSocketError);
    connect(mp_socket, &QTcpSocket::disconnected, this, &Server::OnSocketClosed);
    if (timerManager)
    {
        connect(timerManager->halfMinuteTimer, &QTimer::timeout, this, &Server::AttemptReconnect);
        connect(timerManager->hourTimer, &QTimer::timeout, this, &Server::RenewPortMapping);
        connect(timerManager->fiveMinuteTimer, &QTimer::timeout, this, &Server::EveryFiveMinutes);
    }
    if (dataSaver)
        dataSaver->AddDataLoadedEventHandler(this);
    // A child, so its worker thread is stopped when the server goes.
    mp_portForwarder = new PortForwarder(std::move(ip_upnp), this);
}

Server::~Server()
{
    // Going away is not a dropped link: nobody is told.
    mp_socket->disconnect(this);
    mp_socket->abort();
    delete mp_socket;
    if (gp_server == this)
        gp_server = nullptr;
}

void Server::CreateData()
{
    DeclareTypes(ServerTypes);
    DeclareRelations(ServerRelations);

    dataSaver->AddSavedType("room_autojoin");
    dataSaver->AddSavedByConnectionType("room", "room_autojoin");
    dataSaver->AddSavedType("in_user_list");
    dataSaver->AddSavedByConnectionType("user", "in_user_list");
    dataSaver->AddSavedType("user_list_group");
    dataSaver->AddSavedType("is_ignored");
    dataSaver->AddSavedByConnectionType("user", "is_ignored");
    dataSaver->AddSavedType("group_download_priority");
    dataSaver->AddSavedType("accept_uploads");

    SetSetting("availability_status", "available");
}

void Server::Connect()
{
    if (m_state != StateDisconnected || !SettingValueItem("username"))
        return;

    // A link that ended mid-frame must not leave its half frame to the next one.
    ResetReader();
    if (mp_socket->state() != QAbstractSocket::UnconnectedState)
        mp_socket->abort();
    m_closeExpected = false;

    m_state = StateConnecting;
    emit Connecting();

    QString l_host = GetSetting("server_host");
    if (l_host.isEmpty())
        l_host = DefaultHost;
    bool l_valid = false;
    const uint l_setPort = GetSetting("server_port").toUInt(&l_valid);
    const quint16 l_port =
        l_valid && l_setPort >= 1 && l_setPort <= 65535 ? static_cast<quint16>(l_setPort) : DefaultPort;

    mp_socket->connectToHost(l_host, l_port, QIODevice::ReadWrite);
    Log("server", 1, QString("Attempting connection on port %1").arg(l_port));
    if (IsSettingYes("use_upnp"))
        mp_portForwarder->Init();
}

void Server::Disconnect()
{
    if (m_state != StateLoggedIn)
        return;
    OnDisconnected();
    m_closeExpected = true;
    m_dropped = false;
    mp_socket->close();
}

void Server::SendMessage(MemStream& i_message, bool i_force)
{
    const bool l_allowed =
        m_state == StateLoggedIn || (i_force && m_state == StateConnecting);
    if (!l_allowed)
        return;
    const int l_length = i_message.GetWriteIndex();
    MemStream l_frame;
    l_frame.Write(static_cast<quint32>(l_length));
    l_frame.WriteBuffer(i_message.GetBuffer(), static_cast<unsigned long>(l_length));
    mp_socket->write(l_frame.GetBuffer(), l_frame.GetWriteIndex());
}

void Server::HandleMessage(int i_code, MemStream& io_body)
{
    if (m_state == StateDisconnected)
        return;
    switch (i_code)
    {
    case 1:
        if (m_state == StateConnecting)
            HandleLoginReply(io_body);
        break;
    case 13: HandleSayChatroom(io_body); break;
    case 14: HandleJoinRoom(io_body); break;
    case 15: HandleLeaveRoom(io_body); break;
    case 16: HandleUserJoinedRoom(io_body); break;
    case 17: HandleUserLeftRoom(io_body); break;
    case 64: HandleRoomList(io_body); break;
    case 113: HandleRoomTicker(io_body); break;
    case 133: HandleRoomMembers(io_body, "room_members"); break;
    case 134: HandleRoomLinkChange(io_body, "room_members", true); break;
    case 135: HandleRoomLinkChange(io_body, "room_members", false); break;
    case 139: HandleAddRoomMembership(io_body); break;
    case 140: HandleRemoveRoomMembership(io_body); break;
    case 141: HandleEnablePrivateRoomAdd(io_body); break;
    case 143: HandleRoomLinkChange(io_body, "room_operators", true); break;
    case 144: HandleRoomLinkChange(io_body, "room_operators", false); break;
    case 145: HandleRoomFlag(io_body, "is_operator", true); break;
    case 146: HandleRoomFlag(io_body, "is_operator", false); break;
    case 148: HandleRoomMembers(io_body, "room_operators"); break;
    case 3: HandlePeerAddress(io_body); break;
    case 5: HandleAddUserAnswer(io_body); break;
    case 7: HandleUserStatus(io_body); break;
    case 18: HandleConnectToPeer(io_body); break;
    case 22: HandleMessageUser(io_body); break;
    case 36: HandleUserStats(io_body); break;
    case 69: HandlePrivilegedList(io_body); break;
    case 92: HandleOwnPrivilegesStatus(io_body); break;
    case 26: HandleFileSearch(io_body); break;
    case 66: EmitField<QString>(io_body, &Server::AdminMessage); break;
    case 83: EmitField<qint32>(io_body, &Server::DNetParentMinSpeed); break;
    case 84: EmitField<qint32>(io_body, &Server::DNetParentSpeedConnectionRatio); break;
    case 93: HandleDNetMessage(io_body); break;
    case 102: HandlePossibleParents(io_body); break;
    case 104: EmitField<quint32>(io_body, &Server::WishListWait); break;
    case 128: EmitField<qint32>(io_body, &Server::DNetDeliveryReport); break;
    case 130: emit DNetReset(); break;
    case 153: HandleSearchCorrelations(io_body); break;
    case 1001: EmitField<quint32>(io_body, &Server::IndirectPeerConnectionFailure); break;
    default:
        break;
    }
}

void Server::HandleLoginReply(MemStream& io_body)
{
    quint8 l_accepted = 0;
    // Too short to say either way: not an answer.
    if (!io_body.Read(l_accepted))
        return;
    if (l_accepted != 0)
    {
        QString l_greeting;
        quint32 l_address = 0;
        QString l_digest;
        io_body.Read(l_greeting);
        io_body.Read(l_address);
        io_body.Read(l_digest);
        m_state = StateLoggedIn;
        emit Connected();
        OnConnectedToServer();
        return;
    }
    QString l_reason;
    io_body.Read(l_reason);
    emit ConnectionFailed(l_reason);
    m_state = StateDisconnected;
    mp_socket->close();
}

void Server::OnConnectedToServer()
{
    if (m_firstLoginPending)
    {
        m_firstLoginPending = false;
        for (ItemPtr l_room : g("room").Connected("room_autojoin"))
            EnterRoom(l_room.AsString(), false);
        if (IsSettingYes("use_upnp"))
            AddPortMappings();
    }
    if (GetSetting("availability_status") == "away")
    {
        SendFields(28, qint32(1));
    }
    // The server forgets between links whom it watched and whose address it owed us.
    for (ItemPtr l_user : g("user").Connected("is_tracked"))
        AddUser(l_user.AsString());
    for (ItemPtr l_user : g("user").Connected("user_address_request"))
    {
        SendFields(3, l_user.AsString());
    }
    SetFlagSetting("accept_room_list", true);
}

void Server::OnDisconnected()
{
    m_state = StateDisconnected;
    emit Disconnected();
    for (ItemPtr l_user : g("user").Connected("is_online"))
        l_user.Disconnect("is_online");
}

void Server::OnConnected()
{
    if (!SettingValueItem("username") || !SettingValueItem("password"))
    {
        SetSetting("username", DefaultUserName);
        SetSetting("password", DefaultPassword);
    }
    const QString l_user = GetSetting("username");
    const QString l_password = GetSetting("password");
    const QString l_digest = QString::fromLatin1(
        QCryptographicHash::hash((l_user + l_password).toUtf8(), QCryptographicHash::Md5).toHex());

    MemStream l_login = NewMessage(1);
    l_login.Write(l_user);
    l_login.Write(l_password);
    l_login.Write(LoginVersion);
    l_login.Write(l_digest);
    l_login.Write(LoginMinorVersion);
    SendMessage(l_login, true);
    m_dropped = false;
}

void Server::OnSocketReadyToRead()
{
    char l_chunk[16384];
    for (;;)
    {
        // A handler may have closed the link; what is left of it belongs to nobody.
        if (!mp_socket->isOpen())
            return;
        if (!m_frameLengthKnown)
        {
            if (mp_socket->bytesAvailable() < 4)
                return;
            unsigned char l_header[4];
            if (mp_socket->read(reinterpret_cast<char*>(l_header), 4) != 4)
                return;
            m_frameLength = FromWireOrder<quint32>(l_header);
            if (m_frameLength > MaxFrameLength)
            {
                FailLink();
                return;
            }
            m_frameLengthKnown = true;
        }

        // The body is kept as it arrives; the announced length alone reserves nothing.
        const quint32 l_received = static_cast<quint32>(m_receiveStream.GetWriteIndex());
        const quint32 l_missing = m_frameLength - l_received;
        if (l_missing > 0)
        {
            const qint64 l_want = std::min<qint64>(
                {static_cast<qint64>(l_missing), mp_socket->bytesAvailable(),
                 static_cast<qint64>(sizeof(l_chunk))});
            if (l_want <= 0)
                return;
            const qint64 l_read = mp_socket->read(l_chunk, l_want);
            if (l_read <= 0)
                return;
            m_receiveStream.WriteBuffer(l_chunk, static_cast<unsigned long>(l_read));
            if (static_cast<quint32>(l_read) < l_missing)
                continue;
        }

        // A body without room for its code carries nothing: skipped.
        qint32 l_code = 0;
        if (m_frameLength >= 4 && m_receiveStream.Read(l_code))
            HandleMessage(l_code, m_receiveStream);
        ResetReader();
    }
}

void Server::OnSocketError(QAbstractSocket::SocketError)
{
    HandleSocketEnd();
}

void Server::OnSocketClosed()
{
    HandleSocketEnd();
}

void Server::HandleSocketEnd()
{
    if (m_closeExpected)
    {
        m_closeExpected = false;
        return;
    }
    if (m_state == StateConnecting)
    {
        emit ConnectionFailed("socket error");
        m_state = StateDisconnected;
    }
    else if (m_state == StateLoggedIn)
    {
        m_dropped = true;
        OnDisconnected();
    }
}

void Server::ResetReader()
{
    m_frameLengthKnown = false;
    m_frameLength = 0;
    m_receiveStream.Reset();
}

void Server::FailLink()
{
    ResetReader();
    HandleSocketEnd();
    // The stream is out of step for good; the close that follows finds nothing left to do.
    mp_socket->abort();
}

void Server::AttemptReconnect()
{
    if (m_dropped)
        Connect();
}

void Server::EveryFiveMinutes()
{
    if (m_state != StateLoggedIn)
        return;
    SendFields(32);
}

void Server::RenewPortMapping()
{
    if (m_state != StateLoggedIn || !IsSettingYes("use_upnp"))
        return;
    Log("server", 1, "Renewing UPnP port mapping.");
    AddPortMappings();
}

void Server::AddPortMappings()
{
    mp_portForwarder->AddPortMapping(mp_socket, static_cast<int>(GetSettingInt("listening_port")));
    const int l_obfuscatedPort = static_cast<int>(GetSettingInt("obfuscated_listening_port"));
    if (l_obfuscatedPort != 0)
        mp_portForwarder->AddPortMapping(mp_socket, l_obfuscatedPort);
}

void Server::DataLoaded()
{
    SetSettingIfUnset("use_upnp", "yes");
}

QString Server::MessageCodeToString(int i_code)
{
    switch (i_code)
    {
    case 1: return "SM_LOGIN";
    case 2: return "SM_SET_WAIT_PORT";
    case 3: return "SM_GET_PEER_ADDRESS";
    case 5: return "SM_ADD_USER";
    case 6: return "SM_REMOVE_USER";
    case 7: return "SM_GET_USER_STATUS";
    case 10: return "SM_ADD_CHATROOM";
    case 11: return "SM_IGNORE_USER";
    case 12: return "SM_UNIGNORE_USER";
    case 13: return "SM_SAY_CHATROOM";
    case 14: return "SM_JOIN_ROOM";
    case 15: return "SM_LEAVE_ROOM";
    case 16: return "SM_USER_JOINED_ROOM";
    case 17: return "SM_USER_LEFT_ROOM";
    case 18: return "SM_CONNECT_TO_PEER";
    case 22: return "SM_MESSAGE_USER";
    case 23: return "SM_MESSAGE_ACKED";
    case 26: return "SM_FILE_SEARCH";
    case 28: return "SM_SET_STATUS";
    case 32: return "SM_HEARTBEAT";
    case 33: return "SM_SEND_CONNECT_TOKEN";
    case 34: return "SM_DOWNLOAD_SPEED";
    case 35: return "SM_SHARED_FOLDERS_FILES";
    case 36: return "SM_GET_USER_STATS";
    case 41: return "SM_RELOGGED";
    case 42: return "SM_SEARCH_USER_FILES";
    case 50: return "SM_GET_SIMILAR_TERMS";
    case 51: return "SM_ADD_LIKE_TERM";
    case 52: return "SM_REMOVE_LIKE_TERM";
    case 54: return "SM_GET_RECOMMENDATIONS";
    case 55: return "SM_GET_MY_RECOMMENDATIONS";
    case 56: return "SM_GET_GLOBAL_RECOMMENDATIONS";
    case 57: return "SM_GET_USER_RECOMMENDATIONS";
    case 58: return "SM_COMMAND";
    case 59: return "SM_PLACE_IN_LINE";
    case 60: return "SM_PLACE_IN_LINE_RESPONSE";
    case 61: return "SM_USER_LIST";
    case 62: return "SM_ROOM_ADDED";
    case 63: return "SM_ROOM_REMOVED";
    case 64: return "SM_ROOM_LIST";
    case 65: return "SM_EXACT_FILE_SEARCH";
    case 66: return "SM_ADMIN_MESSAGE";
    case 67: return "SM_GLOBAL_USER_LIST";
    case 68: return "SM_PEER_MESSAGE";
    case 69: return "SM_PRIVILEGED_LIST";
    case 70: return "SM_CONNECT_TO_CLIENT";
    case 71: return "SM_SEND_DISTRIBUTIONS";
    case 73: return "SM_NOTE_PARENT";
    case 82: return "SM_CHILD_PARENT_MAP";
    case 83: return "SM_SET_PARENT_MIN_SPEED";
    case 84: return "SM_SET_PARENT_SPEED_CONNECTION_RATIO";
    case 86: return "SM_SET_PARENT_INACTIVITY_BEFORE_DISCONNECT";
    case 87: return "SM_SET_SERVER_INACTIVITY_BEFORE_DISCONNECT";
    case 88: return "SM_NODES_IN_CACHE_BEFORE_DISCONNECT";
    case 90: return "SM_SET_SECONDS_BEFORE_PING_CHILDREN";
    case 91: return "SM_ADD_PRIVILEGED_USER";
    case 92: return "SM_GET_OWN_PRIVILEGES_STATUS";
    case 93: return "SM_DNET_MESSAGE";
    case 100: return "SM_CAN_PARENT";
    case 102: return "SM_POSSIBLE_PARENTS";
    case 103: return "SM_LOW_PRIORITY_FILE_SEARCH";
    case 104: return "SM_WISHLIST_WAIT";
    case 110: return "SM_GET_RECOMMENDED_USERS";
    case 111: return "SM_GET_TERM_RECOMMENDATIONS";
    case 112: return "SM_GET_RECOMMENDATION_USERS";
    case 113: return "SM_GET_ROOM_TICKER";
    case 114: return "SM_ROOM_TICKER_USER_ADDED";
    case 115: return "SM_ROOM_TICKER_USER_REMOVED";
    case 116: return "SM_SET_TICKER";
    case 117: return "SM_ADD_HATE_TERM";
    case 118: return "SM_REMOVE_HATE_TERM";
    case 120: return "SM_SEARCH_ROOM";
    case 121: return "SM_UPLOAD_SPEED";
    case 122: return "SM_GET_USER_PRIVILEGES_STATUS";
    case 123: return "SM_GIVE_PRIVILEGE";
    case 124: return "SM_INFORM_USER_OF_PRIVILEGES";
    case 125: return "SM_INFORM_USER_OF_PRIVILEGES_ACK";
    case 126: return "SM_DNET_LEVEL";
    case 127: return "SM_DNET_GROUP_LEADER";
    case 128: return "SM_DNET_DELIVERY_REPORT";
    case 129: return "SM_DNET_CHILD_DEPTH";
    case 130: return "SM_DNET_RESET";
    case 131: return "SM_FLOOD";
    case 132: return "SM_BAN_USER";
    case 133: return "SM_ROOM_MEMBERS";
    case 134: return "SM_ADD_ROOM_MEMBER";
    case 135: return "SM_REMOVE_ROOM_MEMBER";
    case 136: return "SM_REMOVE_OWN_ROOM_MEMBERSHIP";
    case 137: return "SM_GIVE_UP_ROOM";
    case 138: return "SM_TRANSFER_ROOM_OWNERSHIP";
    case 139: return "SM_ADD_ROOM_MEMBERSHIP";
    case 140: return "SM_REMOVE_ROOM_MEMBERSHIP";
    case 141: return "SM_ENABLE_PRIVATE_ROOM_ADD";
    case 142: return "SM_CHANGE_PASSWORD";
    case 143: return "SM_ADD_ROOM_OPERATOR";
    case 144: return "SM_REMOVE_ROOM_OPERATOR";
    case 145: return "SM_ADD_ROOM_OPERATORSHIP";
    case 146: return "SM_REMOVE_ROOM_OPERATORSHIP";
    case 147: return "SM_REMOVE_OWN_ROOM_OPERATORSHIP";
    case 148: return "SM_ROOM_OPERATORS";
    case 149: return "SM_MESSAGE_USERS";
    case 150: return "SM_JOIN_GLOBAL_ROOM";
    case 151: return "SM_LEAVE_GLOBAL_ROOM";
    case 152: return "SM_SAY_GLOBAL_ROOM";
    case 153: return "SM_SEARCH_CORRELATIONS";
    case 1001: return "SE_CANT_CONNECT_TO_PEER";
    case 1002: return "SE_CANT_CREATE_ROOM";
    default: return QString();
    }
}

// ---- Requests ----

void Server::SetWaitPort(int i_port, int i_obfuscatedPort)
{
    SendFields(2, qint32(i_port), qint32(1), qint32(i_obfuscatedPort));
}

void Server::AddUser(QString i_user)
{
    SendFields(5, i_user);
}

void Server::GetUserStatus(QString i_user)
{
    SendFields(7, i_user);
}

void Server::SendRoomChat(QString i_room, QString i_chat)
{
    SendFields(13, i_room, i_chat);
}

void Server::EnterRoom(QString i_room, bool i_private)
{
    SendFields(14, i_room, qint32(i_private ? 1 : 0));
}

void Server::SendFilesFolders(int i_folders, int i_files)
{
    SendFields(35, qint32(i_folders), qint32(i_files));
}

void Server::GetUserStats(QString i_user)
{
    SendFields(36, i_user);
}

void Server::SendDNetHasParent(bool i_hasParent)
{
    // The server asks the opposite question: whether we still need a parent.
    SendFields(71, quint8(i_hasParent ? 0 : 1));
}

void Server::GetOwnPrivilegesStatus()
{
    SendFields(92);
}

void Server::SendDNetCanParent(bool i_canParent)
{
    SendFields(100, quint8(i_canParent ? 1 : 0));
}

void Server::SendUploadSpeed(int i_speed)
{
    SendFields(121, qint32(i_speed));
}

void Server::GiftPrivileges(QString i_user, int i_days)
{
    SendFields(123, i_user, qint32(i_days));
}

void Server::SendDNetLevel(int i_level)
{
    SendFields(126, qint32(i_level));
}

void Server::SendDNetGroupLeader(QString i_user)
{
    SendFields(127, i_user);
}

void Server::SendChildDepth(bool i_childDepth)
{
    SendFields(129, quint8(i_childDepth ? 1 : 0));
}

void Server::AddPrivateRoomMember(QString i_room, QString i_user)
{
    SendFields(134, i_room, i_user);
}

void Server::RemovePrivateRoomMember(QString i_room, QString i_user)
{
    SendFields(135, i_room, i_user);
}

void Server::GiveUpPrivateRoomMembership(QString i_room)
{
    SendFields(136, i_room);
}

void Server::GiveUpPrivateRoom(QString i_room)
{
    SendFields(137, i_room);
}

void Server::EnablePrivateRoomAdd(bool i_enable)
{
    SendFields(141, quint8(i_enable ? 1 : 0));
}

void Server::AddPrivateRoomOperator(QString i_room, QString i_user)
{
    SendFields(143, i_room, i_user);
}

void Server::RemovePrivateRoomOperator(QString i_room, QString i_user)
{
    SendFields(144, i_room, i_user);
}

void Server::GetSearchCorrelations(QString i_text)
{
    SendFields(153, i_text);
}

void Server::SendCantConnectToPeer(unsigned int i_token, QString i_user)
{
    SendFields(1001, quint32(i_token), i_user);
}

ItemPtr Server::NewSearchRequest(unsigned int i_token, const QString& i_text)
{
    ItemPtr l_request = d.GetType("search_request")->NewItem(Value(i_token));
    l_request += Lookup("search_request_text", i_text);
    return l_request;
}

unsigned int Server::FileSearch(QString i_text, bool i_wishList)
{
    const quint32 l_token = m_nextSearchToken++;
    MemStream l_message = NewMessage(i_wishList ? 103 : 26);
    l_message.Write(l_token);
    l_message.Write(i_text);
    SendMessage(l_message);

    ItemPtr l_request = NewSearchRequest(l_token, i_text);
    if (i_wishList)
        l_request += d.GetType("wishlist_search")->GetGlobalNullItem();
    emit SearchRequested(l_token, i_text, i_wishList);
    return l_token;
}

unsigned int Server::SearchUserList(QString i_text)
{
    const quint32 l_token = m_nextSearchToken++;
    NewSearchRequest(l_token, i_text);
    for (ItemPtr l_user : g("user").Connected("in_user_list").Connected("is_online"))
    {
        MemStream l_message = NewMessage(42);
        // The name goes out as stored, byte for byte.
        l_message.Write(l_user.AsStdString());
        l_message.Write(l_token);
        l_message.Write(i_text);
        SendMessage(l_message);
    }
    return l_token;
}

unsigned int Server::SearchRoom(QString i_room, QString i_text)
{
    const quint32 l_token = m_nextSearchToken++;
    NewSearchRequest(l_token, i_text);
    SendFields(120, i_room, l_token, i_text);
    return l_token;
}

unsigned int Server::SendIndirectConnectionRequest(QString i_user, QString i_connectionType)
{
    const quint32 l_token = m_nextConnectionRequestToken++;
    SendFields(18, l_token, i_user, i_connectionType);
    return l_token;
}

void Server::SendPrivateChat(QString i_user, QString i_text)
{
    // One message is one line on the other side.
    i_text.replace('\n', ' ');
    i_text.replace('\r', ' ');
    SendFields(22, i_user, i_text);
    emit PrivateChatSent(i_user, i_text);
}

void Server::GetUserAddress(QString i_user)
{
    ItemPtr l_user = Lookup("user", i_user);
    if (l_user.IsConnected("user_address_request"))
        return;
    SendFields(3, i_user);
    // Kept also when nothing went out: the next login asks again.
    d.GetType("user_address_request")->NewItem() += l_user;
}

void Server::TrackUser(QString i_user)
{
    ItemPtr l_user = Lookup("user", i_user);
    if (l_user.IsConnected("is_tracked"))
        return;
    l_user.NewItem("is_tracked");
    AddUser(i_user);
}

void Server::UntrackUser(QString i_user)
{
    ItemPtr l_user = Find("user", i_user);
    if (!l_user || !l_user.IsConnected("is_tracked"))
        return;
    l_user.Disconnect("is_tracked");
    SendFields(6, i_user);
}

void Server::SetAvailabilityStatus(bool i_available)
{
    SetSetting("availability_status", i_available ? "available" : "away");
    SendFields(28, qint32(i_available ? 2 : 1));
}

void Server::LeaveRoom(QString i_room)
{
    ItemPtr l_room = Find("room", i_room);
    if (!l_room || !l_room.IsConnected("in_room"))
        return;
    SendFields(15, i_room);
}

void Server::GetRoomList()
{
    SendFields(64);
    SetFlagSetting("accept_room_list", true);
}

// ---- Room messages ----
// Fields are read on without checking each one: what cannot be read stays empty or 0, and a
// list keeps the entries read before the first one that failed.

void Server::HandleSayChatroom(MemStream& io_body)
{
    QString l_room;
    QString l_user;
    QString l_text;
    io_body.Read(l_room);
    io_body.Read(l_user);
    io_body.Read(l_text);
    ItemPtr l_speaker = Find("user", l_user);
    if (l_speaker && l_speaker.IsConnected("is_ignored"))
        return;
    emit RoomChat(l_room, l_user, l_text);
}

void Server::HandleJoinRoom(MemStream& io_body)
{
    QString l_roomName;
    std::vector<QString> l_users;
    std::vector<qint32> l_statuses;
    std::vector<UserStats> l_stats;
    std::vector<qint32> l_unused;
    std::vector<QString> l_countries;
    io_body.Read(l_roomName);
    io_body.Read(l_users);
    io_body.Read(l_statuses);
    io_body.Read(l_stats);
    io_body.Read(l_unused);
    io_body.Read(l_countries);

    ItemPtr l_room = Lookup("room", l_roomName);
    // Only a private room's answer goes on past the countries.
    QString l_owner;
    if (io_body.Read(l_owner))
    {
        std::set<QString> l_operators;
        io_body.Read(l_operators);
        l_room.NewItem("room_owner") += Lookup("user", l_owner);
        ItemPtr l_operatorLink = l_room.NewItem("room_operators");
        l_operatorLink.Disconnect("user");
        for (const QString& l_operator : l_operators)
            l_operatorLink += Lookup("user", l_operator);
    }

    l_room.NewItem("in_room");
    l_room.Disconnect("user");
    for (const QString& l_user : l_users)
        l_room += Lookup("user", l_user);

    const std::size_t l_walk = std::min({l_users.size(), l_stats.size(), l_countries.size()});
    for (std::size_t l_index = 0; l_index < l_walk; ++l_index)
        SetUserDetails(Lookup("user", l_users[l_index]), l_stats[l_index], l_countries[l_index]);
}

void Server::HandleLeaveRoom(MemStream& io_body)
{
    QString l_roomName;
    io_body.Read(l_roomName);
    ItemPtr l_room = Find("room", l_roomName);
    if (!l_room || !l_room.IsConnected("in_room"))
        return;
    l_room.Disconnect("in_room");
    l_room.Disconnect("user");
}

void Server::HandleUserJoinedRoom(MemStream& io_body)
{
    QString l_roomName;
    QString l_userName;
    qint32 l_status = 0;
    UserStats l_stats;
    qint32 l_unused = 0;
    QString l_country;
    io_body.Read(l_roomName);
    io_body.Read(l_userName);
    io_body.Read(l_status);
    l_stats.Read(io_body);
    io_body.Read(l_unused);
    io_body.Read(l_country);

    ItemPtr l_user = Lookup("user", l_userName);
    Lookup("room", l_roomName) += l_user;
    SetUserDetails(l_user, l_stats, l_country);
}

void Server::HandleUserLeftRoom(MemStream& io_body)
{
    QString l_roomName;
    QString l_userName;
    io_body.Read(l_roomName);
    io_body.Read(l_userName);
    ItemPtr l_room = Find("room", l_roomName);
    ItemPtr l_user = Find("user", l_userName);
    if (l_room && l_user)
        l_room.Disconnect(l_user);
}

void Server::HandleRoomList(MemStream& io_body)
{
    // Unasked lists only refresh the rooms we already know of.
    const bool l_accepted = IsSettingYes("accept_room_list");
    SetFlagSetting("accept_room_list", false);

    std::vector<QString> l_publicNames;
    std::vector<qint32> l_publicCounts;
    std::vector<QString> l_ownedNames;
    std::vector<qint32> l_ownedCounts;
    std::vector<QString> l_memberNames;
    std::vector<qint32> l_memberCounts;
    std::set<QString> l_operatorNames;
    io_body.Read(l_publicNames);
    io_body.Read(l_publicCounts);
    io_body.Read(l_ownedNames);
    io_body.Read(l_ownedCounts);
    io_body.Read(l_memberNames);
    io_body.Read(l_memberCounts);
    io_body.Read(l_operatorNames);

    const std::size_t l_public = std::min(l_publicNames.size(), l_publicCounts.size());
    for (std::size_t l_index = 0; l_index < l_public; ++l_index)
    {
        ItemPtr l_room = l_accepted ? Lookup("room", l_publicNames[l_index])
                                    : Find("room", l_publicNames[l_index]);
        if (l_room)
            l_room += Lookup("user_count", l_publicCounts[l_index]);
    }

    ItemSet l_owned;
    const std::size_t l_ownedWalk = std::min(l_ownedNames.size(), l_ownedCounts.size());
    for (std::size_t l_index = 0; l_index < l_ownedWalk; ++l_index)
    {
        ItemPtr l_room = Lookup("room", l_ownedNames[l_index]);
        l_room += Lookup("user_count", l_ownedCounts[l_index]);
        l_room.NewItem("is_owner");
        l_room.NewItem("is_private");
        l_room.NewItem("is_member");
        l_owned.Insert(l_room);
    }
    for (ItemPtr l_room : g("room").Connected("is_owner"))
        if (!l_owned.Contains(l_room))
            l_room.Disconnect("is_owner");

    ItemSet l_member;
    const std::size_t l_memberWalk = std::min(l_memberNames.size(), l_memberCounts.size());
    for (std::size_t l_index = 0; l_index < l_memberWalk; ++l_index)
    {
        ItemPtr l_room = Lookup("room", l_memberNames[l_index]);
        l_room += Lookup("user_count", l_memberCounts[l_index]);
        if (l_operatorNames.count(l_memberNames[l_index]))
            l_room.NewItem("is_operator");
        l_room.NewItem("is_private");
        l_room.NewItem("is_member");
        l_member.Insert(l_room);
    }
    for (ItemPtr l_room : g("room").Connected("is_member"))
        if (!l_member.Contains(l_room) && !l_owned.Contains(l_room))
            l_room.Disconnect("is_member");
}

void Server::HandleRoomTicker(MemStream& io_body)
{
    QString l_roomName;
    std::vector<std::pair<QString, QString>> l_entries;
    io_body.Read(l_roomName);
    io_body.Read(l_entries);

    ItemPtr l_room = Lookup("room", l_roomName);
    // The old lines leave the room; the collector takes them once nothing else holds them.
    l_room.Disconnect("room_ticker");
    l_room.GetItems("ticker_order_counter").Remove();

    qint32 l_order = 0;
    for (const std::pair<QString, QString>& l_entry : l_entries)
    {
        ItemPtr l_line = d.GetType("room_ticker")->NewItem();
        l_line += l_room;
        l_line += Lookup("user", l_entry.first);
        l_line += Lookup("room_ticker_text", l_entry.second);
        l_line += Lookup("room_ticker_order", ++l_order);
    }
}

// ---- Private room messages ----

namespace
{
// The room's member or operator set, made when the room has none yet.
ItemPtr RoomLink(const QString& i_room, const char* i_link)
{
    return Lookup("room", i_room).NewItem(i_link);
}

void SetFlag(ItemPtr i_item, const char* i_flag, bool i_set)
{
    if (i_set)
        i_item.NewItem(i_flag);
    else
        i_item.Disconnect(i_flag);
}
} // namespace

void Server::HandleRoomMembers(MemStream& io_body, const char* i_link)
{
    QString l_roomName;
    std::set<QString> l_names;
    io_body.Read(l_roomName);
    io_body.Read(l_names);
    ItemPtr l_link = RoomLink(l_roomName, i_link);
    l_link.Disconnect("user");
    for (const QString& l_name : l_names)
        l_link += Lookup("user", l_name);
}

void Server::HandleRoomLinkChange(MemStream& io_body, const char* i_link, bool i_add)
{
    QString l_roomName;
    QString l_userName;
    io_body.Read(l_roomName);
    io_body.Read(l_userName);
    ItemPtr l_link = RoomLink(l_roomName, i_link);
    ItemPtr l_user = Lookup("user", l_userName);
    if (i_add)
        l_link += l_user;
    else
        l_link.Disconnect(l_user);
}

void Server::HandleRoomFlag(MemStream& io_body, const char* i_flag, bool i_set)
{
    QString l_roomName;
    io_body.Read(l_roomName);
    SetFlag(Lookup("room", l_roomName), i_flag, i_set);
}

void Server::HandleAddRoomMembership(MemStream& io_body)
{
    QString l_roomName;
    io_body.Read(l_roomName);
    ItemPtr l_room = Lookup("room", l_roomName);
    l_room.NewItem("is_private");
    l_room.NewItem("is_member");
    EnterRoom(l_roomName, false);
}

void Server::HandleRemoveRoomMembership(MemStream& io_body)
{
    QString l_roomName;
    io_body.Read(l_roomName);
    ItemPtr l_room = Lookup("room", l_roomName);
    l_room.Disconnect("is_member");
    l_room.Disconnect("is_operator");
    l_room.Disconnect("is_owner");
}

void Server::HandleEnablePrivateRoomAdd(MemStream& io_body)
{
    quint8 l_flag = 0;
    io_body.Read(l_flag);
    SetFlagSetting("accept_private_room_add", l_flag != 0);
    emit PrivateRoomAddEnabled(l_flag != 0);
}

// ---- User, private message and address messages ----

namespace
{
// Each replaces the user's previous value; the peer side watches them in this order.
void SetUserAddress(ItemPtr i_user, quint32 i_address, qint32 i_port, qint32 i_obfuscatedPort)
{
    i_user += Lookup("user_address", i_address);
    i_user += Lookup("user_port", i_port);
    i_user += Lookup("user_obfuscated_port", i_obfuscatedPort);
}
} // namespace

void Server::HandlePeerAddress(MemStream& io_body)
{
    QString l_userName;
    quint32 l_address = 0;
    qint32 l_port = 0;
    qint32 l_obfuscated = 0;
    quint16 l_obfuscatedPort = 0;
    io_body.Read(l_userName);
    io_body.Read(l_address);
    io_body.Read(l_port);
    io_body.Read(l_obfuscated);
    io_body.Read(l_obfuscatedPort);

    ItemPtr l_user = Lookup("user", l_userName);
    SetUserAddress(l_user, l_address, l_port, l_obfuscated == 1 ? qint32(l_obfuscatedPort) : 0);
    l_user.Disconnect("user_address_request");
}

void Server::HandleAddUserAnswer(MemStream& io_body)
{
    QString l_userName;
    quint8 l_exists = 0;
    io_body.Read(l_userName);
    io_body.Read(l_exists);
    emit AddUserResponse(l_userName, l_exists != 0);
    if (l_exists == 0)
        return;

    qint32 l_status = 0;
    UserStats l_stats;
    io_body.Read(l_status);
    l_stats.Read(io_body);
    ItemPtr l_user = Lookup("user", l_userName);
    if (l_status <= 0)
    {
        l_user.Disconnect("is_online");
        return;
    }
    QString l_country;
    io_body.Read(l_country);
    l_user.NewItem("is_online");
    l_user += Lookup("country_code", l_country);
}

void Server::HandleUserStatus(MemStream& io_body)
{
    QString l_userName;
    qint32 l_status = 0;
    quint8 l_privileged = 0;
    io_body.Read(l_userName);
    io_body.Read(l_status);
    io_body.Read(l_privileged);

    ItemPtr l_user = Lookup("user", l_userName);
    SetFlag(l_user, "is_online", l_status > 0);
    SetFlag(l_user, "is_away", l_status == 1);
    if (l_privileged != 0)
        l_user.NewItem("is_privileged");
}

void Server::HandleConnectToPeer(MemStream& io_body)
{
    QString l_userName;
    QString l_type;
    quint32 l_address = 0;
    qint32 l_port = 0;
    quint32 l_token = 0;
    quint8 l_privileged = 0;
    qint32 l_obfuscated = 0;
    qint32 l_obfuscatedPort = 0;
    io_body.Read(l_userName);
    io_body.Read(l_type);
    io_body.Read(l_address);
    io_body.Read(l_port);
    io_body.Read(l_token);
    io_body.Read(l_privileged);
    io_body.Read(l_obfuscated);
    if (l_obfuscated == 1)
        io_body.Read(l_obfuscatedPort);

    ItemPtr l_user = Lookup("user", l_userName);
    ItemPtr l_request = d.GetType("peer_connection_request")->NewItem();
    l_request += Lookup("peer_connection_request_id", l_token);
    l_request += Lookup("peer_connection_type", l_type);
    // The address first: joining the request to the user is what answers it, and an address
    // the user had before would be the wrong one.
    SetUserAddress(l_user, l_address, l_port, l_obfuscatedPort);
    l_request += l_user;
    if (l_privileged != 0)
        l_user.NewItem("is_privileged");
}

void Server::HandleMessageUser(MemStream& io_body)
{
    qint32 l_id = 0;
    qint32 l_time = 0;
    QString l_userName;
    QString l_text;
    quint8 l_spontaneous = 0;
    io_body.Read(l_id);
    io_body.Read(l_time);
    io_body.Read(l_userName);
    io_body.Read(l_text);
    io_body.Read(l_spontaneous);

    MemStream l_ack = NewMessage(23);
    l_ack.Write(l_id);
    ItemPtr l_sender = Find("user", l_userName);
    if (!l_sender || !l_sender.IsConnected("is_ignored"))
        emit PrivateChat(l_userName, l_text, static_cast<time_t>(l_time), l_spontaneous != 0);
    // Ignored senders are acknowledged too, or the server keeps sending the message again.
    SendMessage(l_ack);
    if (l_text.contains(QLatin1String("privileges"), Qt::CaseSensitive))
        GetOwnPrivilegesStatus();
}

void Server::HandleUserStats(MemStream& io_body)
{
    QString l_userName;
    UserStats l_stats;
    io_body.Read(l_userName);
    l_stats.Read(io_body);
    emit ReceivedUserStats(l_userName, l_stats);
}

void Server::HandlePrivilegedList(MemStream& io_body)
{
    std::set<QString> l_names;
    io_body.Read(l_names);
    for (const QString& l_name : l_names)
        Lookup("user", l_name).NewItem("is_privileged");
}

void Server::HandleOwnPrivilegesStatus(MemStream& io_body)
{
    qint32 l_seconds = 0;
    io_body.Read(l_seconds);
    SetSetting("privileges_time_left", l_seconds);
    emit ReceivedOwnPrivilegesStatus(l_seconds);
}

// ---- Distributed network, search and notice messages ----

void Server::HandleFileSearch(MemStream& io_body)
{
    QString l_userName;
    quint32 l_token = 0;
    QString l_text;
    io_body.Read(l_userName);
    io_body.Read(l_token);
    io_body.Read(l_text);
    emit DirectFileSearch(l_userName, l_token, l_text);
}

void Server::HandleDNetMessage(MemStream& io_body)
{
    // The receiver gets the rest of this body in a stream of its own: its reads end with the
    // frame, and nothing it does to the stream reaches the link's receive buffer.
    MemStream l_message;
    const int l_length = io_body.GetPendingReadLength();
    if (l_length > 0)
        l_message.WriteBuffer(io_body.GetReadBuffer(), static_cast<unsigned long>(l_length));
    emit DNetMessage(l_message);
}

void Server::HandlePossibleParents(MemStream& io_body)
{
    std::list<std::pair<QString, TCPAddress>> l_parents;
    qint32 l_count = 0;
    if (io_body.Read(l_count) && l_count <= qint32(InputStream::MaxCount))
    {
        // A negative count means "as many as follow"; the same ceiling holds.
        const qint32 l_limit = l_count < 0 ? qint32(InputStream::MaxCount) : l_count;
        for (qint32 l_index = 0; l_index < l_limit; ++l_index)
        {
            std::pair<QString, TCPAddress> l_entry;
            if (!io_body.Read(l_entry.first) || !io_body.Read(l_entry.second.address) ||
                !io_body.Read(l_entry.second.port))
                break;
            l_parents.push_back(std::move(l_entry));
        }
    }
    emit DNetPossibleParents(l_parents);
}

void Server::HandleSearchCorrelations(MemStream& io_body)
{
    QString l_search;
    std::vector<std::pair<QString, qint32>> l_terms;
    io_body.Read(l_search);
    io_body.Read(l_terms);

    ItemPtr l_text = Lookup("search_request_text", l_search);
    l_text.GetItems("search_correlation").Remove();
    for (const std::pair<QString, qint32>& l_term : l_terms)
    {
        ItemPtr l_correlation = l_text.NewItem("search_correlation");
        l_correlation += Lookup("correlation_text", l_term.first);
        l_correlation += Lookup("correlation_rank", l_term.second);
    }
    emit SearchCorrelations(l_search);
}
