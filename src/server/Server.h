#pragma once

#include <QAbstractSocket>
#include <QObject>
#include <QString>
#include <QtGlobal>

#include "server/MemStream.h"
#include "store/DataLoadedEventHandler.h"

class QTcpSocket;

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

    Server();
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
    // One received message, the stream positioned after its code.
    void HandleMessage(int i_code, MemStream& io_body);
    static QString MessageCodeToString(int i_code);

    void OnConnectedToServer();
    void OnDisconnected();

    void DataLoaded() override;

signals:
    void Connecting();
    void ConnectionFailed(QString i_reason);
    void Connected();
    void Disconnected();

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
    void HandleSocketEnd();
    void ResetReader();
    // A frame that cannot be honest: handled like a failed socket, and the link is cut.
    void FailLink();

    qint32 m_state = StateDisconnected;
    QTcpSocket* mp_socket = nullptr;
    bool m_frameLengthKnown = false;
    quint32 m_frameLength = 0;
    MemStream m_receiveStream;
    bool m_firstLoginPending = true;
    bool m_closeExpected = false;
    bool m_dropped = false;
};

extern Server* gp_server;
