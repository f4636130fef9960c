#include "store/TypeItemsMap.h"

#include <new>
#include <utility>

TypeItemsMap::TypeItemsMap(const TypeItemsMap& i_other) : mp_map(nullptr)
{
    *this = i_other;
}

TypeItemsMap& TypeItemsMap::operator=(const TypeItemsMap& i_other)
{
    if (this == &i_other)
        return *this;
    Clear();
    if (i_other.mp_type)
        BecomeSingle(i_other.mp_type, ItemSet(i_other.m_set));
    else if (i_other.mp_map)
        mp_map = new Map(*i_other.mp_map);
    return *this;
}

void TypeItemsMap::BecomeSingle(Type* ip_type, ItemSet&& io_set)
{
    new (&m_set) ItemSet(std::move(io_set));
    mp_type = ip_type;
}

TypeItemsMap::Iterator TypeItemsMap::Begin() const
{
    if (mp_type)
        return Iterator(this, Iterator::AtFirst, Map::iterator());
    if (mp_map && !mp_map->empty())
        return Iterator(this, Iterator::AtFirst, mp_map->begin());
    return End();
}

TypeItemsMap::Iterator TypeItemsMap::Find(Type* ip_type) const
{
    if (mp_type)
    {
        if (mp_type == ip_type)
            return Begin();
        return End();
    }
    if (!mp_map)
        return End();
    auto l_position = mp_map->find(ip_type);
    if (l_position == mp_map->end())
        return End();
    Iterator l_it(this, Iterator::AtMapPosition, l_position);
    l_it.Normalize();
    return l_it;
}

ItemSet* TypeItemsMap::FindSet(Type* ip_type) const
{
    if (mp_type)
        return mp_type == ip_type ? const_cast<ItemSet*>(&m_set) : nullptr;
    if (!mp_map)
        return nullptr;
    auto l_position = mp_map->find(ip_type);
    return l_position == mp_map->end() ? nullptr : &l_position->second;
}

ItemSet& TypeItemsMap::operator[](Type* ip_type)
{
    if (mp_type)
    {
        if (mp_type == ip_type)
            return m_set;
        Map* lp_map = new Map;
        lp_map->emplace(mp_type, std::move(m_set));
        m_set.~ItemSet();
        mp_type = nullptr;
        mp_map = lp_map;
        return (*mp_map)[ip_type];
    }
    if (mp_map)
        return (*mp_map)[ip_type];
    new (&m_set) ItemSet();
    mp_type = ip_type;
    return m_set;
}

void TypeItemsMap::Erase(Type* ip_type)
{
    if (mp_type)
    {
        if (mp_type == ip_type)
            Clear();
        return;
    }
    if (!mp_map)
        return;
    mp_map->erase(ip_type);
    if (mp_map->size() == 1)
    {
        Map* lp_map = mp_map;
        auto l_only = lp_map->begin();
        BecomeSingle(l_only->first, std::move(l_only->second));
        delete lp_map;
    }
    else if (mp_map->empty())
    {
        delete mp_map;
        mp_map = nullptr;
    }
}

void TypeItemsMap::Clear()
{
    if (mp_type)
    {
        m_set.~ItemSet();
        mp_type = nullptr;
    }
    else
        delete mp_map;
    mp_map = nullptr;
}

Type* TypeItemsMap::Iterator::GetType() const
{
    if (m_state == AtEnd)
        return nullptr;
    if (mp_map->mp_type)
        return mp_map->mp_type;
    return m_position->first;
}

ItemSet* TypeItemsMap::Iterator::Set() const
{
    if (m_state == AtEnd)
        return nullptr;
    if (mp_map->mp_type)
        return const_cast<ItemSet*>(&mp_map->m_set);
    return &m_position->second;
}

TypeItemsMap::Iterator& TypeItemsMap::Iterator::operator++()
{
    if (m_state == AtEnd)
        return *this;
    if (mp_map->mp_type)
    {
        m_state = AtEnd;
        return *this;
    }
    ++m_position;
    Normalize();
    return *this;
}

TypeItemsMap::Iterator TypeItemsMap::Iterator::operator++(int)
{
    Iterator l_before = *this;
    ++*this;
    return l_before;
}

void TypeItemsMap::Iterator::Normalize()
{
    if (mp_map->mp_type)
        return;
    if (!mp_map->mp_map || m_position == mp_map->mp_map->end())
        m_state = AtEnd;
    else if (m_position == mp_map->mp_map->begin())
        m_state = AtFirst;
    else
        m_state = AtMapPosition;
}

bool operator==(const TypeItemsMap::Iterator& i_a, const TypeItemsMap::Iterator& i_b)
{
    if (i_a.mp_map != i_b.mp_map || i_a.m_state != i_b.m_state)
        return false;
    return i_a.m_state != TypeItemsMap::Iterator::AtMapPosition || i_a.m_position == i_b.m_position;
}
