#pragma once

#include <QList>
#include <QObject>
#include <QStringList>
#include <QTcpServer>
#include <QTest>

class QTcpSocket;

// Builds the fields of a message in the wire encoding, independently of the client's own
// stream classes, so tests compare against bytes they wrote out by hand.
class WireFields
{
public:
    WireFields& Int32(qint32 i_value);
    WireFields& UInt32(quint32 i_value);
    WireFields& Byte(quint8 i_value);
    // A uint32 byte count and the UTF-8 bytes.
    WireFields& Text(const QString& i_text);
    WireFields& Raw(const QByteArray& i_bytes);
    // An int32 count and the items.
    WireFields& Texts(const QStringList& i_texts);
    WireFields& Int32s(const QList<qint32>& i_numbers);
    const QByteArray& Bytes() const { return m_bytes; }
    operator const QByteArray&() const { return m_bytes; }

private:
    QByteArray m_bytes;
};

// A scripted stand-in for the central server. It listens on 127.0.0.1 at a port the system
// picks, takes one client at a time, records every frame the client sends and, when told to,
// answers logins by itself.
class FakeCentralServer : public QObject
{
    Q_OBJECT

public:
    struct Frame
    {
        qint32 code = 0;
        // The fields after the code.
        QByteArray fields;
        // The whole frame as it came, length header included.
        QByteArray raw;
    };

    enum class LoginScript { Silent, Accept, Refuse };

    FakeCentralServer();
    ~FakeCentralServer() override;

    quint16 Port() const { return m_listener.serverPort(); }
    void StopListening() { m_listener.close(); }

    void AcceptLogins() { m_script = LoginScript::Accept; }
    void RefuseLogins(const QString& i_reason) { m_script = LoginScript::Refuse; m_refusal = i_reason; }
    void StaySilentOnLogin() { m_script = LoginScript::Silent; }

    // A frame around a code and fields, as the server sends it.
    static QByteArray MakeFrame(qint32 i_code, const QByteArray& i_fields);
    void SendRaw(const QByteArray& i_bytes);
    void SendFrame(qint32 i_code, const QByteArray& i_fields = QByteArray());
    // Cuts the current client off without a word.
    void DropClient();

    int ConnectionCount() const { return m_connectionCount; }
    bool HasClient() const { return mp_client != nullptr; }
    const QList<Frame>& Frames() const { return m_frames; }
    QList<Frame> FramesWithCode(qint32 i_code) const;

    bool WaitForConnections(int i_count, int i_ms = 5000) { return Wait([&] { return m_connectionCount >= i_count; }, i_ms); }
    bool WaitForFrames(int i_count, int i_ms = 5000) { return Wait([&] { return m_frames.size() >= i_count; }, i_ms); }
    bool WaitForClientGone(int i_ms = 5000) { return Wait([&] { return mp_client == nullptr; }, i_ms); }

private slots:
    void OnNewConnection();
    void OnReadyRead();
    void OnClientGone();

private:
    template <class C> static bool Wait(C i_done, int i_ms) { return QTest::qWaitFor(i_done, i_ms); }
    void Answer(const Frame& i_frame);

    QTcpServer m_listener;
    QTcpSocket* mp_client = nullptr;
    QByteArray m_pending;
    QList<Frame> m_frames;
    int m_connectionCount = 0;
    LoginScript m_script = LoginScript::Silent;
    QString m_refusal;
};
