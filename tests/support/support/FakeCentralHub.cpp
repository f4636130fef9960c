#include "support/support/FakeCentralHub.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QtEndian>

#include "support/support/FakeCentralServer.h"

namespace
{
const quint32 Loopback = 0x7f000001u;

// What a client wrote, field by field; a field past the end reads as empty or 0.
class Fields
{
public:
    explicit Fields(const QByteArray& i_bytes) : m_bytes(i_bytes) {}
    quint32 UInt32()
    {
        if (m_at + 4 > m_bytes.size())
            return 0;
        const quint32 l_value = qFromLittleEndian<quint32>(m_bytes.constData() + m_at);
        m_at += 4;
        return l_value;
    }
    QString Text()
    {
        const quint32 l_length = UInt32();
        if (l_length > quint32(m_bytes.size() - m_at))
            return QString();
        const QString l_text = QString::fromUtf8(m_bytes.mid(m_at, int(l_length)));
        m_at += int(l_length);
        return l_text;
    }

private:
    QByteArray m_bytes;
    int m_at = 0;
};
} // namespace

FakeCentralHub::FakeCentralHub()
{
    connect(&m_listener, &QTcpServer::newConnection, this, &FakeCentralHub::OnNewConnection);
    m_listener.listen(QHostAddress::LocalHost, 0);
}

FakeCentralHub::~FakeCentralHub()
{
    for (QTcpSocket* lp_socket : m_clients.keys())
    {
        lp_socket->disconnect(this);
        lp_socket->abort();
        delete lp_socket;
    }
}

bool FakeCentralHub::IsLoggedIn(const QString& i_user) const
{
    return SocketOf(i_user) != nullptr;
}

void FakeCentralHub::OnNewConnection()
{
    while (QTcpSocket* lp_socket = m_listener.nextPendingConnection())
    {
        lp_socket->setParent(nullptr);
        m_clients.insert(lp_socket, Client());
        connect(lp_socket, &QTcpSocket::readyRead, this, [this, lp_socket] { OnReadyRead(lp_socket); });
        connect(lp_socket, &QTcpSocket::disconnected, this, [this, lp_socket] { OnGone(lp_socket); });
        OnReadyRead(lp_socket);
    }
}

void FakeCentralHub::OnReadyRead(QTcpSocket* ip_socket)
{
    if (!m_clients.contains(ip_socket))
        return;
    QByteArray& l_pending = m_clients[ip_socket].pending;
    l_pending.append(ip_socket->readAll());
    while (l_pending.size() >= 8)
    {
        const quint32 l_length = qFromLittleEndian<quint32>(l_pending.constData());
        if (l_length < 4 || l_length > (1u << 20))
        {
            ip_socket->abort();
            return;
        }
        if (quint64(l_pending.size()) < 4ull + l_length)
            return;
        const qint32 l_code = qFromLittleEndian<qint32>(l_pending.constData() + 4);
        const QByteArray l_fields = l_pending.mid(8, int(l_length) - 4);
        l_pending.remove(0, int(4 + l_length));
        Answer(ip_socket, l_code, l_fields);
        if (!m_clients.contains(ip_socket))
            return;
    }
}

void FakeCentralHub::OnGone(QTcpSocket* ip_socket)
{
    if (m_clients.remove(ip_socket))
        ip_socket->deleteLater();
}

QTcpSocket* FakeCentralHub::SocketOf(const QString& i_user) const
{
    for (auto l_client = m_clients.begin(); l_client != m_clients.end(); ++l_client)
        if (!i_user.isEmpty() && l_client->user == i_user)
            return l_client.key();
    return nullptr;
}

void FakeCentralHub::Send(QTcpSocket* ip_socket, qint32 i_code, const QByteArray& i_fields)
{
    ip_socket->write(FakeCentralServer::MakeFrame(i_code, i_fields));
    ip_socket->flush();
}

void FakeCentralHub::Answer(QTcpSocket* ip_socket, qint32 i_code, const QByteArray& i_fields)
{
    Client& l_client = m_clients[ip_socket];
    Fields l_in(i_fields);
    switch (i_code)
    {
    case 1:
        l_client.user = l_in.Text();
        Send(ip_socket, 1, WireFields().Byte(1).Text("Welcome").UInt32(0x0100007f).Text("0123456789abcdef"));
        break;
    case 2:
        l_client.port = qint32(l_in.UInt32());
        break;
    case 3:
    {
        const QString l_user = l_in.Text();
        const QTcpSocket* lp_other = SocketOf(l_user);
        const qint32 l_port = lp_other ? m_clients[const_cast<QTcpSocket*>(lp_other)].port : 0;
        Send(ip_socket, 3, WireFields().Text(l_user).UInt32(lp_other ? Loopback : 0).Int32(l_port).Int32(0).Int32(0));
        break;
    }
    case 5:
    {
        const QString l_user = l_in.Text();
        Send(ip_socket, 5,
             WireFields().Text(l_user).Byte(1).Int32(IsLoggedIn(l_user) ? 2 : 0).Int32(0).Raw(QByteArray(8, '\0'))
                 .Int32(0).Int32(0).Text("XX"));
        break;
    }
    case 7:
    {
        const QString l_user = l_in.Text();
        Send(ip_socket, 7, WireFields().Text(l_user).Int32(IsLoggedIn(l_user) ? 2 : 0).Byte(0));
        break;
    }
    case 18:
    {
        const quint32 l_token = l_in.UInt32();
        const QString l_user = l_in.Text();
        const QString l_type = l_in.Text();
        if (QTcpSocket* lp_other = SocketOf(l_user))
            Send(lp_other, 18, WireFields().Text(l_client.user).Text(l_type).UInt32(Loopback).Int32(l_client.port)
                                   .UInt32(l_token).Byte(0).Int32(0).Int32(0));
        break;
    }
    case 26:
    {
        const quint32 l_ticket = l_in.UInt32();
        const QString l_text = l_in.Text();
        for (QTcpSocket* lp_other : m_clients.keys())
            if (lp_other != ip_socket && !m_clients[lp_other].user.isEmpty())
                Send(lp_other, 26, WireFields().Text(l_client.user).UInt32(l_ticket).Text(l_text));
        break;
    }
    default:
        break;
    }
}
