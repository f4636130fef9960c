#pragma once

#include <QMap>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <memory>

#include "support/support/ClosedPort.h"
#include "support/support/WireFields.h"

// A scripted central server on 127.0.0.1 at a port the system picks: it records every frame its
// clients send and, when told to, answers logins by itself.
class FakeCentralServer : public QObject
{
public:
    struct Frame
    {
        qint32 code = 0;
        QByteArray fields;
        QByteArray raw; // length header included
    };

    // By default one client at a time, as the real server sees one login per link.
    explicit FakeCentralServer(bool i_oneClient = true)
    {
        connect(&m_listener, &QTcpServer::newConnection, this, [this, i_oneClient] {
            while (QTcpSocket* lp_client = m_listener.nextPendingConnection())
            {
                if (i_oneClient)
                    DropClient();
                m_clients.insert(lp_client, QByteArray());
                ++m_connections;
                connect(lp_client, &QTcpSocket::readyRead, this, [this, lp_client] { Read(lp_client); });
                connect(lp_client, &QTcpSocket::disconnected, this, [this, lp_client] {
                    if (m_clients.remove(lp_client))
                        lp_client->deleteLater();
                });
                Read(lp_client);
            }
        });
        m_listener.listen(QHostAddress::LocalHost, 0);
    }
    ~FakeCentralServer() override { DropClient(); }

    quint16 Port() const { return m_listener.serverPort(); }
    // The port then refuses connections, and stays ours until this goes.
    void StopListening()
    {
        const quint16 l_port = m_listener.serverPort();
        m_listener.close();
        mp_closed = std::make_unique<ClosedPort>(l_port);
    }
    void AcceptLogins() { m_login = WireFields().Byte(1).Text("Welcome").UInt32(0x0100007f).Text("0123456789abcdef"); }
    void RefuseLogins(const QString& i_reason) { m_login = WireFields().Byte(0).Text(i_reason); }
    void StaySilentOnLogin() { m_login.clear(); }
    static QByteArray MakeFrame(qint32 i_code, const QByteArray& i_fields)
    {
        return WireFields().UInt32(static_cast<quint32>(i_fields.size() + 4)).Int32(i_code).Raw(i_fields);
    }
    void SendFrame(qint32 i_code, const QByteArray& i_fields = QByteArray()) { SendRaw(MakeFrame(i_code, i_fields)); }
    void SendRaw(const QByteArray& i_bytes)
    {
        for (QTcpSocket* lp_client : Clients())
            Send(lp_client, i_bytes);
    }
    // Cuts the clients off without a word.
    void DropClient()
    {
        for (QTcpSocket* lp_client : Clients())
        {
            m_clients.remove(lp_client);
            lp_client->disconnect(this);
            lp_client->abort();
            lp_client->deleteLater();
        }
    }
    int ConnectionCount() const { return m_connections; }
    const QList<Frame>& Frames() const { return m_frames; }
    QList<Frame> FramesWithCode(qint32 i_code) const
    {
        QList<Frame> l_found;
        for (const Frame& l_frame : m_frames)
            if (l_frame.code == i_code)
                l_found.append(l_frame);
        return l_found;
    }
    bool WaitForConnections(int i_count, int i_ms = 5000) { return Wait([&] { return m_connections >= i_count; }, i_ms); }
    bool WaitForFrames(int i_count, int i_ms = 5000) { return Wait([&] { return m_frames.size() >= i_count; }, i_ms); }
    bool WaitForClientGone(int i_ms = 5000) { return Wait([&] { return m_clients.isEmpty(); }, i_ms); }

protected:
    // What a client's frame gets back: logins answered as scripted.
    virtual void Answer(QTcpSocket* ip_client, const Frame& i_frame)
    {
        if (i_frame.code == 1 && !m_login.isEmpty())
            Send(ip_client, MakeFrame(1, m_login));
    }
    static void Send(QTcpSocket* ip_client, const QByteArray& i_bytes)
    {
        ip_client->write(i_bytes);
        ip_client->flush();
    }
    QList<QTcpSocket*> Clients() const { return m_clients.keys(); }

private:
    template <class C> static bool Wait(C i_done, int i_ms) { return QTest::qWaitFor(i_done, i_ms); }
    void Read(QTcpSocket* ip_client)
    {
        // Looked up again after each answer, which may have dropped the client.
        while (m_clients.contains(ip_client))
        {
            QByteArray& l_pending = m_clients[ip_client];
            l_pending += ip_client->readAll();
            const quint32 l_length = l_pending.size() < 4 ? 0 : qFromLittleEndian<quint32>(l_pending.constData());
            if (l_pending.size() < 4 || static_cast<quint64>(l_pending.size()) < 4ull + l_length)
                return;
            const QByteArray l_raw = l_pending.left(static_cast<int>(4 + l_length));
            l_pending.remove(0, l_raw.size());
            // A frame too short for a code is kept with code 0.
            const qint32 l_code = l_length >= 4 ? qFromLittleEndian<qint32>(l_raw.constData() + 4) : 0;
            m_frames.append(Frame{l_code, l_raw.mid(8), l_raw});
            Answer(ip_client, m_frames.last());
        }
    }

    QTcpServer m_listener;
    std::unique_ptr<ClosedPort> mp_closed;
    // Each client and what it sent that is not a whole frame yet.
    QMap<QTcpSocket*, QByteArray> m_clients;
    QList<Frame> m_frames;
    int m_connections = 0;
    // The fields that answer a login; none when silent.
    QByteArray m_login;
};
