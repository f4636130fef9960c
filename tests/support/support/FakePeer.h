#pragma once

#include <QTcpServer>

class QTcpSocket;

// A scripted other client on 127.0.0.1: it connects to the messenger's listeners or accepts
// the messenger's own connection, sends frames plain or obfuscated, and records the bodies of
// the frames it receives. Its framing is written out byte by byte, apart from the client's.
class FakePeer : public QObject
{
    Q_OBJECT

public:
    explicit FakePeer(bool i_obfuscated = false) : m_obfuscated(i_obfuscated) {}
    ~FakePeer() override;

    // The XOR run of an obfuscated frame, from the run's first byte on.
    static QByteArray Xor(QByteArray i_run, quint32 i_key);
    static QByteArray Frame(const QByteArray& i_body, bool i_obfuscated = false,
                            quint32 i_key = 0x9e3779b9u);
    // First frames: a peer init (kind 1 unless told otherwise) and a firewall pierce.
    static QByteArray InitBody(const QString& i_user, const QString& i_type, quint8 i_kind = 1);
    static QByteArray PierceBody(quint32 i_token);
    // A port that nothing was bound to a moment ago, where the listeners bind.
    static quint16 FreePort();

    bool ConnectTo(quint16 i_port);
    // Listens at a port the system picks, for the messenger to connect to.
    quint16 Listen();
    // Listens and connects a new socket to itself: the socket is the other end, the caller's.
    QTcpSocket* Linked();
    void SendRaw(const QByteArray& i_bytes);
    void SendFrame(const QByteArray& i_body) { SendRaw(Frame(i_body, m_obfuscated, m_key++)); }
    void Close();
    // Leaves whatever arrives from now on unread, in the system's buffers.
    void StopReading();

    const QList<QByteArray>& Bodies() const { return m_bodies; }
    // Every byte received, as it came.
    const QByteArray& Raw() const { return m_raw; }
    bool WaitForBodies(int i_count);
    // Until a connection to the listener has been taken.
    bool WaitForConnection();
    bool WaitForDisconnected();

private:
    void Adopt(QTcpSocket* ip_socket);
    void OnReadyRead();

    bool m_obfuscated;
    quint32 m_key = 0x2468ace1u;
    QTcpServer m_listener;
    QTcpSocket* mp_socket = nullptr;
    QByteArray m_raw;
    int m_parsed = 0;
    QList<QByteArray> m_bodies;
    bool m_disconnected = false;
};
