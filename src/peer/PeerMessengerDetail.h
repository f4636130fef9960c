#pragma once

#include <QDateTime>
#include <QString>
#include <QTcpSocket>

#include "diagnostics/LogService.h"
#include "store/Data.h"

// What the peer messenger's files share: the log area and the small lookups of its items.
namespace peer_detail
{
const char* const Area = "Peer Messenger";

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

inline ItemPtr UserItem(const QString& i_user)
{
    return d.GetType("user")->GetItem(i_user);
}

// Little-endian words at a byte position.
inline void PutWord(char* ip_bytes, quint32 i_word)
{
    for (int l_byte = 0; l_byte < 4; ++l_byte)
        ip_bytes[l_byte] = static_cast<char>((i_word >> (8 * l_byte)) & 0xff);
}

inline quint32 WordAt(const char* ip_bytes)
{
    quint32 l_word = 0;
    for (int l_byte = 3; l_byte >= 0; --l_byte)
        l_word = (l_word << 8) | static_cast<quint8>(ip_bytes[l_byte]);
    return l_word;
}

// Time texts have whole seconds and English names whatever the locale.
inline ItemPtr TimeItem(const char* i_type, const QDateTime& i_time)
{
    return d.GetType(i_type)->GetItem(LogService::Stamp(i_time));
}

inline void StampActivity(ItemPtr i_peerSocket)
{
    ItemPtr l_stamp = i_peerSocket["last_activity_time"];
    if (l_stamp)
        *l_stamp.AsPointer<QDateTime>() = QDateTime::currentDateTime();
}
} // namespace peer_detail
