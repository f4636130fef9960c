#include "server/Server.h"

#include <utility>
#include <vector>

#include "server/ServerItems.h"
#include "store/Data.h"
#include "store/Settings.h"

using namespace server_items;

// Room messages.
// Fields are read on without checking each one: what cannot be read stays empty or 0, and a
// list keeps the entries read before the first one that failed.

void Server::HandleSayChatroom(MemStream& io_body)
{
    QString l_room;
    QString l_user;
    QString l_text;
    io_body.Read(l_room);
    io_body.Read(l_user);
    io_body.Read(l_text);
    ItemPtr l_speaker = Find("user", l_user);
    if (l_speaker && l_speaker.IsConnected("is_ignored"))
        return;
    emit RoomChat(l_room, l_user, l_text);
}

void Server::HandleJoinRoom(MemStream& io_body)
{
    QString l_roomName;
    std::vector<QString> l_users;
    std::vector<qint32> l_statuses;
    std::vector<UserStats> l_stats;
    std::vector<qint32> l_unused;
    std::vector<QString> l_countries;
    io_body.Read(l_roomName);
    io_body.Read(l_users);
    io_body.Read(l_statuses);
    io_body.Read(l_stats);
    io_body.Read(l_unused);
    io_body.Read(l_countries);

    ItemPtr l_room = Lookup("room", l_roomName);
    // Only a private room's answer goes on past the countries.
    QString l_owner;
    if (io_body.Read(l_owner))
    {
        std::set<QString> l_operators;
        io_body.Read(l_operators);
        l_room.NewItem("room_owner") += Lookup("user", l_owner);
        ItemPtr l_operatorLink = l_room.NewItem("room_operators");
        l_operatorLink.Disconnect("user");
        for (const QString& l_operator : l_operators)
            l_operatorLink += Lookup("user", l_operator);
    }

    l_room.NewItem("in_room");
    l_room.Disconnect("user");
    for (const QString& l_user : l_users)
        l_room += Lookup("user", l_user);

    const std::size_t l_walk = std::min({l_users.size(), l_stats.size(), l_countries.size()});
    for (std::size_t l_index = 0; l_index < l_walk; ++l_index)
        SetUserDetails(Lookup("user", l_users[l_index]), l_stats[l_index], l_countries[l_index]);
}

void Server::HandleLeaveRoom(MemStream& io_body)
{
    QString l_roomName;
    io_body.Read(l_roomName);
    ItemPtr l_room = Find("room", l_roomName);
    if (!l_room || !l_room.IsConnected("in_room"))
        return;
    l_room.Disconnect("in_room");
    l_room.Disconnect("user");
}

void Server::HandleUserJoinedRoom(MemStream& io_body)
{
    QString l_roomName;
    QString l_userName;
    qint32 l_status = 0;
    UserStats l_stats;
    qint32 l_unused = 0;
    QString l_country;
    io_body.Read(l_roomName);
    io_body.Read(l_userName);
    io_body.Read(l_status);
    l_stats.Read(io_body);
    io_body.Read(l_unused);
    io_body.Read(l_country);

    ItemPtr l_user = Lookup("user", l_userName);
    Lookup("room", l_roomName) += l_user;
    SetUserDetails(l_user, l_stats, l_country);
}

void Server::HandleUserLeftRoom(MemStream& io_body)
{
    QString l_roomName;
    QString l_userName;
    io_body.Read(l_roomName);
    io_body.Read(l_userName);
    ItemPtr l_room = Find("room", l_roomName);
    ItemPtr l_user = Find("user", l_userName);
    if (l_room && l_user)
        l_room.Disconnect(l_user);
}

void Server::HandleRoomList(MemStream& io_body)
{
    // Unasked lists only refresh the rooms we already know of.
    const bool l_accepted = IsSettingYes("accept_room_list");
    SetFlagSetting("accept_room_list", false);

    std::vector<QString> l_publicNames;
    std::vector<qint32> l_publicCounts;
    std::vector<QString> l_ownedNames;
    std::vector<qint32> l_ownedCounts;
    std::vector<QString> l_memberNames;
    std::vector<qint32> l_memberCounts;
    std::set<QString> l_operatorNames;
    io_body.Read(l_publicNames);
    io_body.Read(l_publicCounts);
    io_body.Read(l_ownedNames);
    io_body.Read(l_ownedCounts);
    io_body.Read(l_memberNames);
    io_body.Read(l_memberCounts);
    io_body.Read(l_operatorNames);

    const std::size_t l_public = std::min(l_publicNames.size(), l_publicCounts.size());
    for (std::size_t l_index = 0; l_index < l_public; ++l_index)
    {
        ItemPtr l_room = l_accepted ? Lookup("room", l_publicNames[l_index])
                                    : Find("room", l_publicNames[l_index]);
        if (l_room)
            l_room += Lookup("user_count", l_publicCounts[l_index]);
    }

    ItemSet l_owned;
    const std::size_t l_ownedWalk = std::min(l_ownedNames.size(), l_ownedCounts.size());
    for (std::size_t l_index = 0; l_index < l_ownedWalk; ++l_index)
    {
        ItemPtr l_room = Lookup("room", l_ownedNames[l_index]);
        l_room += Lookup("user_count", l_ownedCounts[l_index]);
        l_room.NewItem("is_owner");
        l_room.NewItem("is_private");
        l_room.NewItem("is_member");
        l_owned.Insert(l_room);
    }
    for (ItemPtr l_room : g("room").Connected("is_owner"))
        if (!l_owned.Contains(l_room))
            l_room.Disconnect("is_owner");

    ItemSet l_member;
    const std::size_t l_memberWalk = std::min(l_memberNames.size(), l_memberCounts.size());
    for (std::size_t l_index = 0; l_index < l_memberWalk; ++l_index)
    {
        ItemPtr l_room = Lookup("room", l_memberNames[l_index]);
        l_room += Lookup("user_count", l_memberCounts[l_index]);
        if (l_operatorNames.count(l_memberNames[l_index]))
            l_room.NewItem("is_operator");
        l_room.NewItem("is_private");
        l_room.NewItem("is_member");
        l_member.Insert(l_room);
    }
    for (ItemPtr l_room : g("room").Connected("is_member"))
        if (!l_member.Contains(l_room) && !l_owned.Contains(l_room))
            l_room.Disconnect("is_member");
}

void Server::HandleRoomTicker(MemStream& io_body)
{
    QString l_roomName;
    std::vector<std::pair<QString, QString>> l_entries;
    io_body.Read(l_roomName);
    io_body.Read(l_entries);

    ItemPtr l_room = Lookup("room", l_roomName);
    // The old lines leave the room; the collector takes them once nothing else holds them.
    l_room.Disconnect("room_ticker");
    l_room.GetItems("ticker_order_counter").Remove();

    qint32 l_order = 0;
    for (const std::pair<QString, QString>& l_entry : l_entries)
    {
        ItemPtr l_line = d.GetType("room_ticker")->NewItem();
        l_line += l_room;
        l_line += Lookup("user", l_entry.first);
        l_line += Lookup("room_ticker_text", l_entry.second);
        l_line += Lookup("room_ticker_order", ++l_order);
    }
}

// Private room messages.

namespace
{
// The room's member or operator set, made when the room has none yet.
ItemPtr RoomLink(const QString& i_room, const char* i_link)
{
    return Lookup("room", i_room).NewItem(i_link);
}
} // namespace

void Server::HandleRoomMembers(MemStream& io_body, const char* i_link)
{
    QString l_roomName;
    std::set<QString> l_names;
    io_body.Read(l_roomName);
    io_body.Read(l_names);
    ItemPtr l_link = RoomLink(l_roomName, i_link);
    l_link.Disconnect("user");
    for (const QString& l_name : l_names)
        l_link += Lookup("user", l_name);
}

void Server::HandleRoomLinkChange(MemStream& io_body, const char* i_link, bool i_add)
{
    QString l_roomName;
    QString l_userName;
    io_body.Read(l_roomName);
    io_body.Read(l_userName);
    ItemPtr l_link = RoomLink(l_roomName, i_link);
    ItemPtr l_user = Lookup("user", l_userName);
    if (i_add)
        l_link += l_user;
    else
        l_link.Disconnect(l_user);
}

void Server::HandleRoomFlag(MemStream& io_body, const char* i_flag, bool i_set)
{
    QString l_roomName;
    io_body.Read(l_roomName);
    SetFlag(Lookup("room", l_roomName), i_flag, i_set);
}

void Server::HandleAddRoomMembership(MemStream& io_body)
{
    QString l_roomName;
    io_body.Read(l_roomName);
    ItemPtr l_room = Lookup("room", l_roomName);
    l_room.NewItem("is_private");
    l_room.NewItem("is_member");
    EnterRoom(l_roomName, false);
}

void Server::HandleRemoveRoomMembership(MemStream& io_body)
{
    QString l_roomName;
    io_body.Read(l_roomName);
    ItemPtr l_room = Lookup("room", l_roomName);
    l_room.Disconnect("is_member");
    l_room.Disconnect("is_operator");
    l_room.Disconnect("is_owner");
}

void Server::HandleEnablePrivateRoomAdd(MemStream& io_body)
{
    quint8 l_flag = 0;
    io_body.Read(l_flag);
    SetFlagSetting("accept_private_room_add", l_flag != 0);
    emit PrivateRoomAddEnabled(l_flag != 0);
}
