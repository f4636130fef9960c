#pragma once

#include <QTcpSocket>

// A port on 127.0.0.1 that refuses every connection for as long as this lives. A port that was
// merely free a moment ago can meanwhile become the listener of another test running beside this
// one, which would then take our connection attempts for a stranger's, and fail for it. Bound,
// never listening and not shared, the port is neither handed out nor bindable by anyone else.
class ClosedPort
{
public:
    // With a port: the one a listener here has just closed, kept from whoever would take it next.
    explicit ClosedPort(quint16 i_port = 0)
    {
        m_holder.bind(QHostAddress::LocalHost, i_port, QAbstractSocket::DontShareAddress);
    }
    quint16 Port() const { return m_holder.localPort(); }

private:
    QTcpSocket m_holder;
};
