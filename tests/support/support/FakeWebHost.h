#pragma once

#include <QObject>
#include <QTcpServer>
#include <QTest>

// A stand-in for the maker's web host: listens on 127.0.0.1 at a port the system picks, records
// the request line of every HTTP request and answers each with the scripted status and body,
// then closes the connection.
class FakeWebHost : public QObject
{
    Q_OBJECT

public:
    FakeWebHost();

    quint16 Port() const { return m_listener.serverPort(); }
    void StopListening() { m_listener.close(); }

    void SetReply(int i_status, const QByteArray& i_body) { m_status = i_status; m_body = i_body; }
    // "GET /path HTTP/1.1" for each request, in arrival order.
    const QList<QByteArray>& Requests() const { return m_requests; }
    bool WaitForRequests(int i_count, int i_ms = 5000) { return QTest::qWaitFor([&] { return m_requests.size() >= i_count; }, i_ms); }

private slots:
    void OnNewConnection();

private:
    QTcpServer m_listener;
    QList<QByteArray> m_requests;
    int m_status = 200;
    QByteArray m_body;
};
