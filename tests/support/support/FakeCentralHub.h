#pragma once

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QtGlobal>

class QTcpSocket;

// A stand-in for the central server that several clients (other processes) log in to at once:
// it accepts every login and tells each client what it needs to reach the others, all on
// 127.0.0.1. It answers peer-address requests (3) with the port a client announced, user
// watches (5) and status requests (7) with whether that user is logged in, relays a file search
// (26) to every other client, and a connection request (18) to the user it names.
class FakeCentralHub : public QObject
{
    Q_OBJECT

public:
    FakeCentralHub();
    ~FakeCentralHub() override;

    quint16 Port() const { return m_listener.serverPort(); }
    bool IsLoggedIn(const QString& i_user) const;

private slots:
    void OnNewConnection();

private:
    struct Client
    {
        QByteArray pending;
        QString user;
        qint32 port = 0;
    };

    void OnReadyRead(QTcpSocket* ip_socket);
    void OnGone(QTcpSocket* ip_socket);
    void Answer(QTcpSocket* ip_socket, qint32 i_code, const QByteArray& i_fields);
    QTcpSocket* SocketOf(const QString& i_user) const;
    static void Send(QTcpSocket* ip_socket, qint32 i_code, const QByteArray& i_fields);

    QTcpServer m_listener;
    QMap<QTcpSocket*, Client> m_clients;
};
