#include "store/ItemWalk.h"

#include "store/Data.h"

ItemWalk::ItemWalk(Data& i_data, std::vector<Item*> i_items) : m_items(std::move(i_items))
{
    m_scope.emplace(i_data);
}

ItemWalk::ItemWalk(const ItemSet& i_members)
{
    m_items.reserve(i_members.Size());
    for (ItemPtr l_member : i_members)
    {
        if (!m_scope && l_member->IsAlive())
            m_scope.emplace(*l_member->GetType()->GetData());
        m_items.push_back(l_member.Get());
    }
    // Nothing alive: nothing to visit, and no store to hold.
    if (!m_scope)
        m_items.clear();
}

ItemWalk::ItemWalk(Data& i_data, const TypeItemsMap& i_connections)
{
    m_scope.emplace(i_data);
    for (auto l_entry = i_connections.Begin(); l_entry != i_connections.End(); ++l_entry)
        for (ItemPtr l_item : *l_entry.Set())
            m_items.push_back(l_item.Get());
}
