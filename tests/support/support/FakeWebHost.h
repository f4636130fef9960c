#pragma once

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <memory>

#include "support/support/ClosedPort.h"

// The maker's web host on 127.0.0.1 at a port the system picks: records each HTTP request line and
// answers it with the scripted status and body, then closes the connection.
class FakeWebHost : public QObject
{
public:
    FakeWebHost()
    {
        connect(&m_listener, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* lp_socket = m_listener.nextPendingConnection())
            {
                connect(lp_socket, &QTcpSocket::disconnected, lp_socket, &QObject::deleteLater);
                connect(lp_socket, &QTcpSocket::readyRead, this, [this, lp_socket] {
                    // The request stays in the socket's buffer until its head is whole.
                    const QByteArray l_request = lp_socket->peek(lp_socket->bytesAvailable());
                    if (!l_request.contains("\r\n\r\n"))
                        return;
                    lp_socket->readAll();
                    m_requests.append(l_request.left(l_request.indexOf("\r\n")));
                    const QString l_head("HTTP/1.1 %1 Scripted\r\nContent-Type: text/plain\r\nContent-Length: %2\r\n"
                                         "Connection: close\r\n\r\n");
                    lp_socket->write(l_head.arg(m_status).arg(m_body.size()).toUtf8() + m_body);
                    lp_socket->disconnectFromHost();
                });
            }
        });
        m_listener.listen(QHostAddress::LocalHost, 0);
    }

    quint16 Port() const { return m_listener.serverPort(); }
    // The port then refuses connections, and stays ours until this goes.
    void StopListening()
    {
        const quint16 l_port = m_listener.serverPort();
        m_listener.close();
        mp_closed = std::make_unique<ClosedPort>(l_port);
    }

    void SetReply(int i_status, const QByteArray& i_body)
    {
        m_status = i_status;
        m_body = i_body;
    }
    // "GET /path HTTP/1.1" for each request, in arrival order.
    const QList<QByteArray>& Requests() const { return m_requests; }
    bool WaitForRequests(int i_count, int i_ms = 5000) { return QTest::qWaitFor([&] { return m_requests.size() >= i_count; }, i_ms); }

private:
    QTcpServer m_listener;
    std::unique_ptr<ClosedPort> mp_closed;
    QList<QByteArray> m_requests;
    int m_status = 200;
    QByteArray m_body;
};
