#pragma once

#include <QAbstractSocket>
#include <QObject>
#include <QString>
#include <QtGlobal>

#include <ctime>
#include <list>
#include <memory>
#include <utility>

#include "server/MemStream.h"
#include "server/TCPAddress.h"
#include "server/UserStats.h"
#include "store/DataLoadedEventHandler.h"
#include "store/ItemPtr.h"

class QTcpSocket;
class PortForwarder;
class UpnpBackend;

// The one link to the central server: connects, logs in, frames what is sent, cuts what
// arrives into messages, reconnects after a dropped link and keeps the link alive.
class Server : public QObject, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    enum State
    {
        StateDisconnected = 0,
        // Connecting, or waiting for the login reply.
        StateConnecting = 1,
        StateLoggedIn = 2
    };

    // Where the central server is when the settings do not say.
    static const char* const DefaultHost;
    static const quint16 DefaultPort = 2242;
    // No real server message comes near this; a larger announced body means a broken or
    // hostile peer, and the link is dropped before anything is allocated for it.
    static const quint32 MaxFrameLength = 32u * 1024u * 1024u;

    // The gateway backend is handed to the port forwarder the server creates.
    explicit Server(std::unique_ptr<UpnpBackend> ip_upnp);
    ~Server() override;
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Declares the user and room types, their relations and which of them are saved. Needs
    // the settings types; called once, before the store file is loaded.
    static void CreateData();

    void Connect();
    void Disconnect();
    bool IsConnected() const { return m_state == StateLoggedIn; }
    bool IsAbruptlyDisconnected() const { return m_dropped; }
    int GetState() const { return m_state; }

    // Frames and sends one built message; without force only while logged in, with force
    // also while the login is under way. Anything else is dropped without notice.
    void SendMessage(MemStream& i_message, bool i_force = false);
    // Builds a request of that code from its fields, in order, and sends it.
    template <class... Fields>
    void SendFields(qint32 i_code, const Fields&... i_fields)
    {
        MemStream l_message;
        l_message.Write(i_code);
        (l_message.Write(i_fields), ...);
        SendMessage(l_message);
    }
    // One received message, the stream positioned after its code.
    void HandleMessage(int i_code, MemStream& io_body);
    static QString MessageCodeToString(int i_code);

    void OnConnectedToServer();
    void OnDisconnected();

    // Requests. Each goes out only while logged in; the store effects of the ones that keep
    // state happen either way, and the tokens advance whether or not anything is sent.
    void SetWaitPort(int i_port, int i_obfuscatedPort);
    void AddUser(QString i_user);
    void GetUserStatus(QString i_user);
    void SendRoomChat(QString i_room, QString i_chat);
    void EnterRoom(QString i_room, bool i_private);
    void SendFilesFolders(int i_folders, int i_files);
    void GetUserStats(QString i_user);
    void SendDNetHasParent(bool i_hasParent);
    void GetOwnPrivilegesStatus();
    void SendDNetCanParent(bool i_canParent);
    void SendUploadSpeed(int i_speed);
    void GiftPrivileges(QString i_user, int i_days);
    void SendDNetLevel(int i_level);
    void SendDNetGroupLeader(QString i_user);
    void SendChildDepth(bool i_childDepth);
    void AddPrivateRoomMember(QString i_room, QString i_user);
    void RemovePrivateRoomMember(QString i_room, QString i_user);
    void GiveUpPrivateRoomMembership(QString i_room);
    void GiveUpPrivateRoom(QString i_room);
    void EnablePrivateRoomAdd(bool i_enable);
    void AddPrivateRoomOperator(QString i_room, QString i_user);
    void RemovePrivateRoomOperator(QString i_room, QString i_user);
    void GetSearchCorrelations(QString i_text);
    void SendCantConnectToPeer(unsigned int i_token, QString i_user);

    // Searches return their token, which the replies carry.
    unsigned int FileSearch(QString i_text, bool i_wishList);
    unsigned int SearchUserList(QString i_text);
    unsigned int SearchRoom(QString i_room, QString i_text);
    unsigned int SendIndirectConnectionRequest(QString i_user, QString i_connectionType);
    void SendPrivateChat(QString i_user, QString i_text);
    void GetUserAddress(QString i_user);
    void TrackUser(QString i_user);
    void UntrackUser(QString i_user);
    void SetAvailabilityStatus(bool i_available);
    void LeaveRoom(QString i_room);
    void GetRoomList();

    void DataLoaded() override;

signals:
    void Connecting();
    void ConnectionFailed(QString i_reason);
    void Connected();
    void Disconnected();
    void SearchRequested(uint i_token, QString i_text, bool i_wishList);
    void PrivateChatSent(QString i_user, QString i_text);
    void RoomChat(QString i_room, QString i_user, QString i_chat);
    // Emitted by the handling of the other server messages.
    void PrivateChat(QString i_user, QString i_chat, time_t i_time, bool i_spontaneous);
    void IndirectPeerConnectionFailure(uint i_token);
    void DNetParentMinSpeed(int i_speed);
    void DNetParentSpeedConnectionRatio(int i_ratio);
    void DNetPossibleParents(std::list<std::pair<QString, TCPAddress>>& i_parents);
    void DNetMessage(MemStream& i_body);
    void DNetDeliveryReport(int i_report);
    void DNetReset();
    void ReceivedUserStats(QString i_user, UserStats i_stats);
    void WishListWait(uint i_period);
    void AddUserResponse(QString i_user, bool i_added);
    void ReceivedOwnPrivilegesStatus(int i_seconds);
    void SearchCorrelations(QString i_text);
    void PrivateRoomAddEnabled(bool i_enabled);
    void DirectFileSearch(QString i_user, quint32 i_token, QString i_text);
    void AdminMessage(QString i_text);

public slots:
    void OnConnected();
    void OnSocketReadyToRead();
    void OnSocketError(QAbstractSocket::SocketError i_error);
    void OnSocketClosed();
    void AttemptReconnect();
    void EveryFiveMinutes();
    void RenewPortMapping();

private:
    void HandleLoginReply(MemStream& io_body);
    void HandleSayChatroom(MemStream& io_body);
    void HandleJoinRoom(MemStream& io_body);
    void HandleLeaveRoom(MemStream& io_body);
    void HandleUserJoinedRoom(MemStream& io_body);
    void HandleUserLeftRoom(MemStream& io_body);
    void HandleRoomList(MemStream& io_body);
    void HandleRoomTicker(MemStream& io_body);
    // Private rooms.
    void HandleRoomMembers(MemStream& io_body, const char* i_link);
    void HandleRoomLinkChange(MemStream& io_body, const char* i_link, bool i_add);
    void HandleRoomFlag(MemStream& io_body, const char* i_flag, bool i_set);
    void HandleAddRoomMembership(MemStream& io_body);
    void HandleRemoveRoomMembership(MemStream& io_body);
    void HandleEnablePrivateRoomAdd(MemStream& io_body);
    // Users, private messages and addresses.
    void HandlePeerAddress(MemStream& io_body);
    void HandleAddUserAnswer(MemStream& io_body);
    void HandleUserStatus(MemStream& io_body);
    void HandleConnectToPeer(MemStream& io_body);
    void HandleMessageUser(MemStream& io_body);
    void HandleUserStats(MemStream& io_body);
    void HandlePrivilegedList(MemStream& io_body);
    void HandleOwnPrivilegesStatus(MemStream& io_body);
    // Distributed network, searches and notices.
    void HandleFileSearch(MemStream& io_body);
    void HandleDNetMessage(MemStream& io_body);
    void HandlePossibleParents(MemStream& io_body);
    void HandleSearchCorrelations(MemStream& io_body);
    // Reads one field and emits it with the signal; 0 or empty when the body has ended.
    template <class T, class... SignalArgs>
    void EmitField(MemStream& io_body, void (Server::*ip_signal)(SignalArgs...))
    {
        T l_value{};
        io_body.Read(l_value);
        emit(this->*ip_signal)(l_value);
    }
    // Creates the request item of a search and ties it to its text.
    ItemPtr NewSearchRequest(unsigned int i_token, const QString& i_text);
    void HandleSocketEnd();
    // Maps the listening ports on the gateway, for the local address of the link's socket.
    void AddPortMappings();
    void ResetReader();
    // A frame that cannot be honest: handled like a failed socket, and the link is cut.
    void FailLink();

    qint32 m_state = StateDisconnected;
    QTcpSocket* mp_socket = nullptr;
    PortForwarder* mp_portForwarder = nullptr;
    bool m_frameLengthKnown = false;
    quint32 m_frameLength = 0;
    quint32 m_nextSearchToken = 1;
    MemStream m_receiveStream;
    quint32 m_nextConnectionRequestToken = 1;
    bool m_firstLoginPending = true;
    bool m_closeExpected = false;
    bool m_dropped = false;
};

extern Server* gp_server;
