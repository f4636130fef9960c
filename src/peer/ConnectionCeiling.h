#pragma once

#include <QDateTime>
#include <QPointer>
#include <QString>
#include <QTcpSocket>
#include <QtGlobal>

#include <functional>
#include <map>

// Bytes that other users make us hold for their connections, counted over every connection
// together, whoever owns it, against one ceiling. Each owner tells what a connection holds now
// and how to close it; past the ceiling the connection the rule picks (the one holding since
// longest, or the one holding most) is closed, with a log line, until the rest fits.
class ConnectionCeiling
{
public:
    enum class Pick
    {
        Oldest,
        Largest
    };
    // Closes the connection; its owner forgets it there.
    using Closer = std::function<void(QTcpSocket*)>;
    // What a connection holds now, for bytes that also go away without their owner's doing
    // (unsent bytes drain). Asked again only once the recorded total passes the ceiling.
    using Measure = std::function<qint64(QTcpSocket*)>;

    // The log line names the ceiling as %1.
    ConnectionCeiling(qint64 i_ceiling, Pick i_pick, QString i_logLine, Measure i_measure = {});
    ConnectionCeiling(const ConnectionCeiling&) = delete;
    ConnectionCeiling& operator=(const ConnectionCeiling&) = delete;

    // Records what the connection holds now; 0 forgets it. i_anew starts a new stretch of
    // holding (a new frame), which makes the connection the youngest. False when keeping to the
    // ceiling closed this very connection.
    bool Hold(QTcpSocket* ip_socket, qint64 i_bytes, bool i_anew, Closer i_close);
    void Forget(QTcpSocket* ip_socket);

    // When the connection began holding what it holds now; null when it holds nothing.
    QDateTime HoldingSince(QTcpSocket* ip_socket) const;
    qint64 Held(QTcpSocket* ip_socket) const;
    qint64 Total() const { return m_total; }
    // The bytes that connections stopped holding since the last call.
    qint64 TakeReleased();
    void SetCeiling(qint64 i_ceiling) { m_ceiling = i_ceiling; }

private:
    struct Entry
    {
        QPointer<QTcpSocket> socket;
        qint64 bytes = 0;
        quint64 serial = 0;
        QDateTime since;
        Closer close;
    };

    // Closes connections until the total fits; the connection just reported is only one of them.
    void KeepToCeiling();
    void Measured();
    // Sets what the entry holds, keeping the total and the released bytes.
    void Count(Entry& io_entry, qint64 i_bytes);

    qint64 m_ceiling;
    Pick m_pick;
    QString m_logLine;
    Measure m_measure;
    std::map<QTcpSocket*, Entry> m_entries;
    qint64 m_total = 0;
    qint64 m_released = 0;
    quint64 m_nextSerial = 0;
    // A closer may report other connections: one pass closes at a time.
    bool m_closing = false;
};
