#include "server/Server.h"

#include "server/ServerItems.h"
#include "store/Data.h"
#include "store/Settings.h"

using namespace server_items;

void Server::SetWaitPort(int i_port, int i_obfuscatedPort)
{
    SendFields(2, qint32(i_port), qint32(1), qint32(i_obfuscatedPort));
}

void Server::AddUser(QString i_user)
{
    SendFields(5, i_user);
}

void Server::GetUserStatus(QString i_user)
{
    SendFields(7, i_user);
}

void Server::SendRoomChat(QString i_room, QString i_chat)
{
    SendFields(13, i_room, i_chat);
}

void Server::EnterRoom(QString i_room, bool i_private)
{
    SendFields(14, i_room, qint32(i_private ? 1 : 0));
}

void Server::SendFilesFolders(int i_folders, int i_files)
{
    SendFields(35, qint32(i_folders), qint32(i_files));
}

void Server::GetUserStats(QString i_user)
{
    SendFields(36, i_user);
}

void Server::SendDNetHasParent(bool i_hasParent)
{
    // The server asks the opposite question: whether we still need a parent.
    SendFields(71, quint8(i_hasParent ? 0 : 1));
}

void Server::GetOwnPrivilegesStatus()
{
    SendFields(92);
}

void Server::SendDNetCanParent(bool i_canParent)
{
    SendFields(100, quint8(i_canParent ? 1 : 0));
}

void Server::SendUploadSpeed(int i_speed)
{
    SendFields(121, qint32(i_speed));
}

void Server::GiftPrivileges(QString i_user, int i_days)
{
    SendFields(123, i_user, qint32(i_days));
}

void Server::SendDNetLevel(int i_level)
{
    SendFields(126, qint32(i_level));
}

void Server::SendDNetGroupLeader(QString i_user)
{
    SendFields(127, i_user);
}

void Server::SendChildDepth(bool i_childDepth)
{
    SendFields(129, quint8(i_childDepth ? 1 : 0));
}

void Server::AddPrivateRoomMember(QString i_room, QString i_user)
{
    SendFields(134, i_room, i_user);
}

void Server::RemovePrivateRoomMember(QString i_room, QString i_user)
{
    SendFields(135, i_room, i_user);
}

void Server::GiveUpPrivateRoomMembership(QString i_room)
{
    SendFields(136, i_room);
}

void Server::GiveUpPrivateRoom(QString i_room)
{
    SendFields(137, i_room);
}

void Server::EnablePrivateRoomAdd(bool i_enable)
{
    SendFields(141, quint8(i_enable ? 1 : 0));
}

void Server::AddPrivateRoomOperator(QString i_room, QString i_user)
{
    SendFields(143, i_room, i_user);
}

void Server::RemovePrivateRoomOperator(QString i_room, QString i_user)
{
    SendFields(144, i_room, i_user);
}

void Server::GetSearchCorrelations(QString i_text)
{
    SendFields(153, i_text);
}

void Server::SendCantConnectToPeer(unsigned int i_token, QString i_user)
{
    SendFields(1001, quint32(i_token), i_user);
}

ItemPtr Server::NewSearchRequest(unsigned int i_token, const QString& i_text)
{
    ItemPtr l_request = d.GetType("search_request")->NewItem(Value(i_token));
    l_request += Lookup("search_request_text", i_text);
    return l_request;
}

unsigned int Server::FileSearch(QString i_text, bool i_wishList)
{
    const quint32 l_token = m_nextSearchToken++;
    MemStream l_message = NewMessage(i_wishList ? 103 : 26);
    l_message.Write(l_token);
    l_message.Write(i_text);
    SendMessage(l_message);

    ItemPtr l_request = NewSearchRequest(l_token, i_text);
    if (i_wishList)
        l_request += d.GetType("wishlist_search")->GetGlobalNullItem();
    emit SearchRequested(l_token, i_text, i_wishList);
    return l_token;
}

unsigned int Server::SearchUserList(QString i_text)
{
    const quint32 l_token = m_nextSearchToken++;
    NewSearchRequest(l_token, i_text);
    for (ItemPtr l_user : g("user").Connected("in_user_list").Connected("is_online"))
    {
        MemStream l_message = NewMessage(42);
        // The name goes out as stored, byte for byte.
        l_message.Write(l_user.AsStdString());
        l_message.Write(l_token);
        l_message.Write(i_text);
        SendMessage(l_message);
    }
    return l_token;
}

unsigned int Server::SearchRoom(QString i_room, QString i_text)
{
    const quint32 l_token = m_nextSearchToken++;
    NewSearchRequest(l_token, i_text);
    SendFields(120, i_room, l_token, i_text);
    return l_token;
}

unsigned int Server::SendIndirectConnectionRequest(QString i_user, QString i_connectionType)
{
    const quint32 l_token = m_nextConnectionRequestToken++;
    SendFields(18, l_token, i_user, i_connectionType);
    return l_token;
}

void Server::SendPrivateChat(QString i_user, QString i_text)
{
    // One message is one line on the other side.
    i_text.replace('\n', ' ');
    i_text.replace('\r', ' ');
    SendFields(22, i_user, i_text);
    emit PrivateChatSent(i_user, i_text);
}

void Server::GetUserAddress(QString i_user)
{
    ItemPtr l_user = Lookup("user", i_user);
    if (l_user.IsConnected("user_address_request"))
        return;
    SendFields(3, i_user);
    // Kept also when nothing went out: the next login asks again.
    d.GetType("user_address_request")->NewItem() += l_user;
}

void Server::TrackUser(QString i_user)
{
    ItemPtr l_user = Lookup("user", i_user);
    if (l_user.IsConnected("is_tracked"))
        return;
    l_user.NewItem("is_tracked");
    AddUser(i_user);
}

void Server::UntrackUser(QString i_user)
{
    ItemPtr l_user = Find("user", i_user);
    if (!l_user || !l_user.IsConnected("is_tracked"))
        return;
    l_user.Disconnect("is_tracked");
    SendFields(6, i_user);
}

void Server::SetAvailabilityStatus(bool i_available)
{
    SetSetting("availability_status", i_available ? "available" : "away");
    SendFields(28, qint32(i_available ? 2 : 1));
}

void Server::LeaveRoom(QString i_room)
{
    ItemPtr l_room = Find("room", i_room);
    if (!l_room || !l_room.IsConnected("in_room"))
        return;
    SendFields(15, i_room);
}

void Server::GetRoomList()
{
    SendFields(64);
    SetFlagSetting("accept_room_list", true);
}
