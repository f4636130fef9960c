#include "server/Server.h"

#include <set>

#include "server/ServerItems.h"
#include "store/Data.h"
#include "store/Settings.h"

using namespace server_items;

// User, private message and address messages.

namespace
{
// Each replaces the user's previous value; the peer side watches them in this order.
void SetUserAddress(ItemPtr i_user, quint32 i_address, qint32 i_port, qint32 i_obfuscatedPort)
{
    i_user += Lookup("user_address", i_address);
    i_user += Lookup("user_port", i_port);
    i_user += Lookup("user_obfuscated_port", i_obfuscatedPort);
}
} // namespace

void Server::HandlePeerAddress(MemStream& io_body)
{
    QString l_userName;
    quint32 l_address = 0;
    qint32 l_port = 0;
    qint32 l_obfuscated = 0;
    quint16 l_obfuscatedPort = 0;
    io_body.Read(l_userName);
    io_body.Read(l_address);
    io_body.Read(l_port);
    io_body.Read(l_obfuscated);
    io_body.Read(l_obfuscatedPort);

    ItemPtr l_user = Lookup("user", l_userName);
    SetUserAddress(l_user, l_address, l_port, l_obfuscated == 1 ? qint32(l_obfuscatedPort) : 0);
    l_user.Disconnect("user_address_request");
}

void Server::HandleAddUserAnswer(MemStream& io_body)
{
    QString l_userName;
    quint8 l_exists = 0;
    io_body.Read(l_userName);
    io_body.Read(l_exists);
    emit AddUserResponse(l_userName, l_exists != 0);
    if (l_exists == 0)
        return;

    qint32 l_status = 0;
    UserStats l_stats;
    io_body.Read(l_status);
    l_stats.Read(io_body);
    ItemPtr l_user = Lookup("user", l_userName);
    if (l_status <= 0)
    {
        l_user.Disconnect("is_online");
        return;
    }
    QString l_country;
    io_body.Read(l_country);
    l_user.NewItem("is_online");
    l_user += Lookup("country_code", l_country);
}

void Server::HandleUserStatus(MemStream& io_body)
{
    QString l_userName;
    qint32 l_status = 0;
    quint8 l_privileged = 0;
    io_body.Read(l_userName);
    io_body.Read(l_status);
    io_body.Read(l_privileged);

    ItemPtr l_user = Lookup("user", l_userName);
    SetFlag(l_user, "is_online", l_status > 0);
    SetFlag(l_user, "is_away", l_status == 1);
    if (l_privileged != 0)
        l_user.NewItem("is_privileged");
}

void Server::HandleConnectToPeer(MemStream& io_body)
{
    QString l_userName;
    QString l_type;
    quint32 l_address = 0;
    qint32 l_port = 0;
    quint32 l_token = 0;
    quint8 l_privileged = 0;
    qint32 l_obfuscated = 0;
    qint32 l_obfuscatedPort = 0;
    io_body.Read(l_userName);
    io_body.Read(l_type);
    io_body.Read(l_address);
    io_body.Read(l_port);
    io_body.Read(l_token);
    io_body.Read(l_privileged);
    io_body.Read(l_obfuscated);
    if (l_obfuscated == 1)
        io_body.Read(l_obfuscatedPort);

    ItemPtr l_user = Lookup("user", l_userName);
    ItemPtr l_request = d.GetType("peer_connection_request")->NewItem();
    l_request += Lookup("peer_connection_request_id", l_token);
    l_request += Lookup("peer_connection_type", l_type);
    // The address first: joining the request to the user is what answers it, and an address
    // the user had before would be the wrong one.
    SetUserAddress(l_user, l_address, l_port, l_obfuscatedPort);
    l_request += l_user;
    if (l_privileged != 0)
        l_user.NewItem("is_privileged");
}

void Server::HandleMessageUser(MemStream& io_body)
{
    qint32 l_id = 0;
    qint32 l_time = 0;
    QString l_userName;
    QString l_text;
    quint8 l_spontaneous = 0;
    io_body.Read(l_id);
    io_body.Read(l_time);
    io_body.Read(l_userName);
    io_body.Read(l_text);
    io_body.Read(l_spontaneous);

    MemStream l_ack = NewMessage(23);
    l_ack.Write(l_id);
    ItemPtr l_sender = Find("user", l_userName);
    if (!l_sender || !l_sender.IsConnected("is_ignored"))
        emit PrivateChat(l_userName, l_text, static_cast<time_t>(l_time), l_spontaneous != 0);
    // Ignored senders are acknowledged too, or the server keeps sending the message again.
    SendMessage(l_ack);
    if (l_text.contains(QLatin1String("privileges"), Qt::CaseSensitive))
        GetOwnPrivilegesStatus();
}

void Server::HandleUserStats(MemStream& io_body)
{
    QString l_userName;
    UserStats l_stats;
    io_body.Read(l_userName);
    l_stats.Read(io_body);
    emit ReceivedUserStats(l_userName, l_stats);
}

void Server::HandlePrivilegedList(MemStream& io_body)
{
    std::set<QString> l_names;
    io_body.Read(l_names);
    for (const QString& l_name : l_names)
        Lookup("user", l_name).NewItem("is_privileged");
}

void Server::HandleOwnPrivilegesStatus(MemStream& io_body)
{
    qint32 l_seconds = 0;
    io_body.Read(l_seconds);
    SetSetting("privileges_time_left", l_seconds);
    emit ReceivedOwnPrivilegesStatus(l_seconds);
}
