#include "support/support/FakeWebHost.h"

#include <QHostAddress>
#include <QTcpSocket>

FakeWebHost::FakeWebHost()
{
    connect(&m_listener, &QTcpServer::newConnection, this, &FakeWebHost::OnNewConnection);
    m_listener.listen(QHostAddress::LocalHost, 0);
}

void FakeWebHost::OnNewConnection()
{
    while (QTcpSocket* lp_socket = m_listener.nextPendingConnection())
    {
        connect(lp_socket, &QTcpSocket::disconnected, lp_socket, &QObject::deleteLater);
        auto lp_request = new QByteArray;
        connect(lp_socket, &QObject::destroyed, [lp_request] { delete lp_request; });
        connect(lp_socket, &QTcpSocket::readyRead, this, [this, lp_socket, lp_request] {
            lp_request->append(lp_socket->readAll());
            if (!lp_request->contains("\r\n\r\n"))
                return;
            m_requests.append(lp_request->left(lp_request->indexOf("\r\n")));
            lp_request->clear();
            const QByteArray l_head = "HTTP/1.1 " + QByteArray::number(m_status) + " Scripted\r\n" +
                                      "Content-Type: text/plain\r\nContent-Length: " +
                                      QByteArray::number(m_body.size()) +
                                      "\r\nConnection: close\r\n\r\n";
            lp_socket->write(l_head + m_body);
            lp_socket->disconnectFromHost();
        });
    }
}
