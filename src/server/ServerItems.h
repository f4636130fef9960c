#pragma once

#include <QString>

#include "server/MemStream.h"
#include "server/UserStats.h"
#include "store/Data.h"

// Small helpers that the server link's readers and senders share.
namespace server_items
{
inline MemStream NewMessage(qint32 i_code)
{
    MemStream l_message;
    l_message.Write(i_code);
    return l_message;
}

// The item of that type and value, created when missing.
inline ItemPtr Lookup(const char* i_type, const Value& i_value)
{
    return d.GetType(i_type)->GetItem(i_value);
}

// The item of that type and value, never created.
inline ItemPtr Find(const char* i_type, const Value& i_value)
{
    return d.GetType(i_type)->HasItem(i_value);
}

// Points a user at the statistics and country the server reports, each replacing the last.
inline void SetUserDetails(ItemPtr i_user, const UserStats& i_stats, const QString& i_country)
{
    i_user += Lookup("average_download_speed", i_stats.m_averageSpeed);
    i_user += Lookup("shared_files_count", i_stats.m_sharedFileCount);
    i_user += Lookup("country_code", i_country);
}

// Connects or disconnects the item's flag.
inline void SetFlag(ItemPtr i_item, const char* i_flag, bool i_set)
{
    if (i_set)
        i_item.NewItem(i_flag);
    else
        i_item.Disconnect(i_flag);
}
} // namespace server_items
