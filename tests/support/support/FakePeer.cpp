#include "support/support/FakePeer.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTest>
#include <QtEndian>
#include <gtest/gtest.h>

#include "support/support/FakeCentralServer.h"

FakePeer::~FakePeer()
{
    if (mp_socket)
        { mp_socket->disconnect(this); delete mp_socket; }
}

QByteArray FakePeer::Xor(QByteArray i_run, quint32 i_key)
{
    for (int l_index = 0; l_index < i_run.size(); ++l_index)
    {
        if (l_index % 4 == 0)
            i_key = (i_key << 1) | (i_key >> 31);
        i_run[l_index] = static_cast<char>(i_run[l_index] ^ (i_key >> (8 * (l_index % 4))));
    }
    return i_run;
}

QByteArray FakePeer::Frame(const QByteArray& i_body, bool i_obfuscated, quint32 i_key)
{
    const QByteArray l_plain = WireFields().UInt32(i_body.size()).Raw(i_body);
    return i_obfuscated ? WireFields().UInt32(i_key).Raw(Xor(l_plain, i_key)) : l_plain;
}

QByteArray FakePeer::InitBody(const QString& i_user, const QString& i_type, quint8 i_kind)
{
    return WireFields().Byte(i_kind).Text(i_user).Text(i_type).UInt32(0);
}
QByteArray FakePeer::PierceBody(quint32 i_token) { return WireFields().Byte(0).UInt32(i_token); }

quint16 FakePeer::FreePort()
{
    QTcpServer l_probe;
    l_probe.listen(QHostAddress::AnyIPv4, 0);
    return l_probe.serverPort();
}

bool FakePeer::ConnectTo(quint16 i_port)
{
    Adopt(new QTcpSocket);
    mp_socket->connectToHost(QHostAddress::LocalHost, i_port);
    return mp_socket->waitForConnected(5000);
}

quint16 FakePeer::Listen()
{
    connect(&m_listener, &QTcpServer::newConnection, this, [this] {
        QTcpSocket* lp_socket = m_listener.nextPendingConnection();
        lp_socket->setParent(nullptr);
        if (mp_socket)
            delete lp_socket;
        else
            Adopt(lp_socket);
    });
    m_listener.listen(QHostAddress::LocalHost, 0);
    return m_listener.serverPort();
}

QTcpSocket* FakePeer::Linked()
{
    auto* lp_socket = new QTcpSocket;
    lp_socket->connectToHost(QHostAddress::LocalHost, Listen());
    EXPECT_TRUE(lp_socket->waitForConnected(5000) && WaitForConnection());
    return lp_socket;
}

void FakePeer::SendRaw(const QByteArray& i_bytes) { mp_socket->write(i_bytes); mp_socket->flush(); }
void FakePeer::Close() { mp_socket->disconnectFromHost(); }
bool FakePeer::WaitForBodies(int i_count) { return QTest::qWaitFor([&] { return m_bodies.size() >= i_count; }, 5000); }
bool FakePeer::WaitForConnection() { return QTest::qWaitFor([&] { return mp_socket != nullptr; }, 5000); }
bool FakePeer::WaitForDisconnected() { return QTest::qWaitFor([&] { return m_disconnected; }, 5000); }

void FakePeer::Adopt(QTcpSocket* ip_socket)
{
    mp_socket = ip_socket;
    connect(ip_socket, &QTcpSocket::readyRead, this, &FakePeer::OnReadyRead);
    connect(ip_socket, &QTcpSocket::disconnected, this, [this] { m_disconnected = true; });
}

void FakePeer::StopReading()
{
    mp_socket->setReadBufferSize(1);
    disconnect(mp_socket, &QTcpSocket::readyRead, this, &FakePeer::OnReadyRead);
}

void FakePeer::OnReadyRead()
{
    m_raw += mp_socket->readAll();
    const int l_header = m_obfuscated ? 8 : 4;
    while (m_raw.size() - m_parsed >= l_header)
    {
        const quint32 l_key = qFromLittleEndian<quint32>(m_raw.constData() + m_parsed);
        const QByteArray l_length = m_raw.mid(m_parsed + l_header - 4, 4);
        const int l_size = static_cast<int>(qFromLittleEndian<quint32>(
            (m_obfuscated ? Xor(l_length, l_key) : l_length).constData()));
        if (m_raw.size() - m_parsed - l_header < l_size)
            return;
        const QByteArray l_run = m_raw.mid(m_parsed + l_header - 4, 4 + l_size);
        m_bodies.append((m_obfuscated ? Xor(l_run, l_key) : l_run).mid(4));
        m_parsed += l_header + l_size;
    }
}
