#include "server/Server.h"

#include <QTcpSocket>
#include <QTimer>

#include "server/PortForwarder.h"
#include "server/UpnpBackend.h"
#include "store/DataSaver.h"
#include "store/Settings.h"
#include "store/TimerManager.h"

Server* gp_server = nullptr;

const char* const Server::DefaultHost = "server.tarnwick.net";

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
