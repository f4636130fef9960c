#pragma once

#include "server/WireOrder.h"

#include <QDateTime>
#include <QString>
#include <QTcpSocket>

#include "diagnostics/LogService.h"
#include "store/Data.h"

// What the peer messenger's files share: the log area and the small lookups of its items.
namespace peer_detail
{
const char* const Area = "Peer Messenger";
// Set on the sockets we open ourselves: no listener owns them, so the shut-down deletes those
// still in use.
const char* const OwnSocketProperty = "tarnwickOwnSocket";

// The word that log lines put before "connection" on an obfuscated one.
inline QString Obfuscated(bool i_obfuscated)
{
    return i_obfuscated ? QStringLiteral("obfuscated ") : QString();
}

// The item of that socket type keyed by the socket, never created.
inline ItemPtr SocketItem(const char* i_type, QTcpSocket* ip_socket)
{
    return d.GetType(i_type)->HasItem(Value(ip_socket));
}


// Time texts have whole seconds and English names whatever the locale.
inline ItemPtr TimeItem(const char* i_type, const QDateTime& i_time)
{
    return d.GetType(i_type)->GetItem(LogService::Stamp(i_time));
}

// Every message stamps its connection. The stamp is an instant in UTC, which every reader compares
// with another instant: the local time would read and check the time zone file each time.
inline void StampActivity(ItemPtr i_peerSocket)
{
    ItemPtr l_stamp = i_peerSocket["last_activity_time"];
    if (l_stamp)
        *l_stamp.AsPointer<QDateTime>() = QDateTime::currentDateTimeUtc();
}
} // namespace peer_detail
