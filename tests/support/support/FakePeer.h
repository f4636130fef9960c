#pragma once

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <gtest/gtest.h>

#include <sys/socket.h>

#include "support/support/WireFields.h"

// A scripted other client on 127.0.0.1 that connects to the messenger or accepts its connection,
// sends frames plain or obfuscated (framed apart from the client's code) and records bodies received.
class FakePeer : public QObject
{
public:
    explicit FakePeer(bool i_obfuscated = false) : m_obfuscated(i_obfuscated) {}
    ~FakePeer() override { delete mp_socket; }

    // The XOR run of an obfuscated frame, from the run's first byte on.
    static QByteArray Xor(QByteArray i_run, quint32 i_key)
    {
        for (int l_index = 0; l_index < i_run.size(); ++l_index)
        {
            if (l_index % 4 == 0)
                i_key = (i_key << 1) | (i_key >> 31);
            i_run[l_index] = static_cast<char>(i_run[l_index] ^ (i_key >> (8 * (l_index % 4))));
        }
        return i_run;
    }
    static QByteArray Frame(const QByteArray& i_body, bool i_obfuscated = false, quint32 i_key = 0x9e3779b9u)
    {
        const QByteArray l_plain = WireFields().UInt32(i_body.size()).Raw(i_body);
        return i_obfuscated ? WireFields().UInt32(i_key).Raw(Xor(l_plain, i_key)) : l_plain;
    }
    // First frames: a peer init (kind 1 unless told otherwise) and a firewall pierce.
    static QByteArray InitBody(const QString& i_user, const QString& i_type, quint8 i_kind = 1)
    {
        return WireFields().Byte(i_kind).Text(i_user).Text(i_type).UInt32(0);
    }
    static QByteArray PierceBody(quint32 i_token) { return WireFields().Byte(0).UInt32(i_token); }
    // A port that nothing was bound to a moment ago, where the listeners bind.
    static quint16 FreePort()
    {
        QTcpServer l_probe;
        l_probe.listen(QHostAddress::AnyIPv4, 0);
        return l_probe.serverPort();
    }

    // May be tried again until something listens there: each try's socket goes with the peer.
    bool ConnectTo(quint16 i_port)
    {
        Adopt(new QTcpSocket(this));
        mp_socket->connectToHost(QHostAddress::LocalHost, i_port);
        return mp_socket->waitForConnected(5000);
    }
    // Listens at a port the system picks for the messenger to connect to; takes one connection.
    quint16 Listen()
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
    // Listens and connects a new socket to itself: the socket is the other end, the caller's.
    QTcpSocket* Linked()
    {
        auto* lp_socket = new QTcpSocket;
        lp_socket->connectToHost(QHostAddress::LocalHost, Listen());
        EXPECT_TRUE(lp_socket->waitForConnected(5000) && QTest::qWaitFor([&] { return mp_socket != nullptr; }, 5000));
        return lp_socket;
    }
    void SendRaw(const QByteArray& i_bytes)
    {
        mp_socket->write(i_bytes);
        mp_socket->flush();
    }
    void SendFrame(const QByteArray& i_body) { SendRaw(Frame(i_body, m_obfuscated, m_key++)); }
    void Close() { mp_socket->disconnectFromHost(); }
    // Ends the connection with a reset, as a killed process with unread bytes does.
    void Reset()
    {
        const linger l_atOnce{1, 0};
        setsockopt(static_cast<int>(mp_socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &l_atOnce, sizeof l_atOnce);
        mp_socket->abort();
    }
    // Leaves whatever arrives from now on unread, in the system's buffers.
    void StopReading()
    {
        mp_socket->setReadBufferSize(1);
        disconnect(mp_socket, &QTcpSocket::readyRead, this, &FakePeer::OnReadyRead);
    }
    const QList<QByteArray>& Bodies() const { return m_bodies; }
    const QByteArray& Raw() const { return m_raw; }
    bool WaitForBodies(int i_count) { return QTest::qWaitFor([&] { return m_bodies.size() >= i_count; }, 5000); }
    bool WaitForDisconnected() { return QTest::qWaitFor([&] { return m_disconnected; }, 5000); }

private:
    void Adopt(QTcpSocket* ip_socket)
    {
        mp_socket = ip_socket;
        connect(ip_socket, &QTcpSocket::readyRead, this, &FakePeer::OnReadyRead);
        connect(ip_socket, &QTcpSocket::disconnected, this, [this] { m_disconnected = true; });
    }
    void OnReadyRead()
    {
        m_raw += mp_socket->readAll();
        const int l_header = m_obfuscated ? 8 : 4;
        while (m_raw.size() - m_parsed >= l_header)
        {
            const quint32 l_key = qFromLittleEndian<quint32>(m_raw.constData() + m_parsed);
            const auto l_unmask = [&](const QByteArray& i_run) { return m_obfuscated ? Xor(i_run, l_key) : i_run; };
            const int l_size = qFromLittleEndian<qint32>(l_unmask(m_raw.mid(m_parsed + l_header - 4, 4)).constData());
            if (l_size < 0 || m_raw.size() - m_parsed - l_header < l_size)
                return;
            m_bodies.append(l_unmask(m_raw.mid(m_parsed + l_header - 4, 4 + l_size)).mid(4));
            m_parsed += l_header + l_size;
        }
    }

    bool m_obfuscated;
    quint32 m_key = 0x2468ace1u;
    QTcpServer m_listener;
    QTcpSocket* mp_socket = nullptr;
    QByteArray m_raw;
    int m_parsed = 0;
    QList<QByteArray> m_bodies;
    bool m_disconnected = false;
};
