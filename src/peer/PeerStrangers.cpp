#include "peer/PeerMessenger.h"

#include <QMetaObject>

#include <vector>

#include "store/Data.h"
#include "store/Item.h"
#include "store/RemovalScope.h"

// Users that only a connection from another user made. Anyone may connect under any name, so
// such an item stays only as long as something refers to it: its connections, or whatever else
// of the client (lists, groups, chats, transfers, results, notes, views) came to hold it.

namespace
{
// Only the address and ports by which we would reach the user: nothing that anyone holds.
bool HeldByNothing(const Item& i_user)
{
    const TypeItemsMap& l_connections = i_user.Connections();
    for (auto l_type = l_connections.Begin(); l_type != l_connections.End(); ++l_type)
    {
        const std::string& l_name = l_type.GetType()->GetName();
        if (!l_type.Set()->Empty() && l_name != "user_address" && l_name != "user_port" &&
            l_name != "user_obfuscated_port")
            return false;
    }
    return true;
}
} // namespace

ItemPtr PeerMessenger::StrangerUser(const QString& i_name)
{
    Type* lp_users = d.GetType("user");
    if (ItemPtr l_known = lp_users->HasItem(i_name))
        return l_known;
    ItemPtr l_user = lp_users->GetItem(i_name);
    m_strangers.insert(l_user.Get());
    return l_user;
}

void PeerMessenger::StrangerConnectionEnded(ItemPtr i_user)
{
    if (!i_user || !m_strangers.count(i_user.Get()))
        return;
    m_endedStrangers.insert(i_user.Get());
    if (m_strangerCheckDue)
        return;
    // Whoever ended the connection may still be using the user's item.
    m_strangerCheckDue = true;
    QMetaObject::invokeMethod(this, &PeerMessenger::CheckEndedStrangers, Qt::QueuedConnection);
}

void PeerMessenger::CheckEndedStrangers()
{
    m_strangerCheckDue = false;
    std::vector<Item*> l_ended(m_endedStrangers.begin(), m_endedStrangers.end());
    m_endedStrangers.clear();
    RemovalScope l_scope(d);
    for (Item* lp_user : l_ended)
        LetStrangerGo(lp_user);
}

void PeerMessenger::LetStrangerGo(Item* ip_user)
{
    // Removal takes it out of the set; one no longer there went meanwhile.
    if (m_strangers.count(ip_user) && ip_user->IsAlive() && HeldByNothing(*ip_user))
        ItemPtr(ip_user).Remove();
}

void PeerMessenger::OnUserRemoved(ItemPtr i_user)
{
    m_strangers.erase(i_user.Get());
    m_endedStrangers.erase(i_user.Get());
}
