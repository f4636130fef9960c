#pragma once

#include "server/WireOrder.h"

#include <QString>
#include <QTcpSocket>
#include <QtGlobal>

#include <limits>

#include "server/MemStream.h"
#include "store/Data.h"

// What the distributed network's files share: the log area, the keys of its state and the
// messages it builds itself.
namespace dnet_detail
{
const char* const Area = "Distributed Network";

// The value a `dnet_global` key holds, or null when the thing is absent.
inline ItemPtr KeyValue(const char* i_key)
{
    return d.GetType("dnet_global")->HasItem(i_key)["dnet_value"];
}

inline void SetKey(const char* i_key, const Value& i_value)
{
    d.GetType("dnet_global")->GetItem(i_key) += d.GetType("dnet_value")->GetItem(i_value);
}

inline void ClearKey(const char* i_key)
{
    if (ItemPtr l_key = d.GetType("dnet_global")->HasItem(i_key))
        l_key.Disconnect("dnet_value");
}

inline bool HasParent()
{
    return bool(KeyValue("dnet_parent_user"));
}

inline bool IsParentSocket(QTcpSocket* ip_socket)
{
    ItemPtr l_parent = KeyValue("dnet_parent_socket");
    return l_parent && l_parent.GetValue() == Value(ip_socket);
}

// The item of that type named by the socket, never created.
inline ItemPtr SocketItem(const char* i_type, QTcpSocket* ip_socket)
{
    return d.GetType(i_type)->HasItem(Value(ip_socket));
}


// The level a child of a node at that level has; -1 (none) stays -1, and the top stays put.
inline qint32 LevelBelow(qint32 i_level)
{
    if (i_level == -1 || i_level == std::numeric_limits<qint32>::max())
        return i_level;
    return i_level + 1;
}

inline MemStream LevelMessage(qint32 i_level)
{
    MemStream l_message;
    l_message.Write(quint8(4));
    l_message.Write(i_level);
    return l_message;
}

inline MemStream LeaderMessage(const QString& i_leader)
{
    MemStream l_message;
    l_message.Write(quint8(5));
    l_message.Write(i_leader);
    return l_message;
}
} // namespace dnet_detail
