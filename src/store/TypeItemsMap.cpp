#include "store/TypeItemsMap.h"

TypeItemsMap::TypeItemsMap(const TypeItemsMap& other)
{
    *this = other;
}

TypeItemsMap& TypeItemsMap::operator=(const TypeItemsMap& other)
{
    if (this == &other)
        return *this;
    Clear();
    if (other.m_single)
        m_single = new Single{other.m_single->type, other.m_single->set};
    else if (other.m_map)
        m_map = new Map(*other.m_map);
    return *this;
}

TypeItemsMap::Iterator TypeItemsMap::Begin() const
{
    if (m_single)
        return Iterator(this, Iterator::AtFirst, Map::iterator());
    if (m_map && !m_map->empty())
        return Iterator(this, Iterator::AtFirst, m_map->begin());
    return End();
}

TypeItemsMap::Iterator TypeItemsMap::Find(Type* type) const
{
    if (m_single)
    {
        if (m_single->type == type)
            return Begin();
        return End();
    }
    if (!m_map)
        return End();
    auto position = m_map->find(type);
    if (position == m_map->end())
        return End();
    Iterator it(this, Iterator::AtMapPosition, position);
    it.Normalize();
    return it;
}

ItemSet* TypeItemsMap::FindSet(Type* type) const
{
    if (m_single)
        return m_single->type == type ? &m_single->set : nullptr;
    if (!m_map)
        return nullptr;
    auto position = m_map->find(type);
    return position == m_map->end() ? nullptr : &position->second;
}

ItemSet& TypeItemsMap::operator[](Type* type)
{
    if (m_single)
    {
        if (m_single->type == type)
            return m_single->set;
        m_map = new Map;
        m_map->emplace(m_single->type, std::move(m_single->set));
        delete m_single;
        m_single = nullptr;
        return (*m_map)[type];
    }
    if (m_map)
        return (*m_map)[type];
    m_single = new Single{type, ItemSet()};
    return m_single->set;
}

void TypeItemsMap::Erase(Type* type)
{
    if (m_single)
    {
        if (m_single->type == type)
        {
            delete m_single;
            m_single = nullptr;
        }
        return;
    }
    if (!m_map)
        return;
    m_map->erase(type);
    if (m_map->size() == 1)
    {
        auto only = m_map->begin();
        m_single = new Single{only->first, std::move(only->second)};
        delete m_map;
        m_map = nullptr;
    }
    else if (m_map->empty())
    {
        delete m_map;
        m_map = nullptr;
    }
}

void TypeItemsMap::Clear()
{
    delete m_single;
    m_single = nullptr;
    delete m_map;
    m_map = nullptr;
}

Type* TypeItemsMap::Iterator::GetType() const
{
    if (m_state == AtEnd)
        return nullptr;
    if (m_map->m_single)
        return m_map->m_single->type;
    return m_position->first;
}

ItemSet* TypeItemsMap::Iterator::Set() const
{
    if (m_state == AtEnd)
        return nullptr;
    if (m_map->m_single)
        return &m_map->m_single->set;
    return &m_position->second;
}

TypeItemsMap::Iterator& TypeItemsMap::Iterator::operator++()
{
    if (m_state == AtEnd)
        return *this;
    if (m_map->m_single)
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
    Iterator before = *this;
    ++*this;
    return before;
}

void TypeItemsMap::Iterator::Normalize()
{
    if (m_map->m_single)
        return;
    if (!m_map->m_map || m_position == m_map->m_map->end())
        m_state = AtEnd;
    else if (m_position == m_map->m_map->begin())
        m_state = AtFirst;
    else
        m_state = AtMapPosition;
}

bool operator==(const TypeItemsMap::Iterator& a, const TypeItemsMap::Iterator& b)
{
    if (a.m_map != b.m_map || a.m_state != b.m_state)
        return false;
    return a.m_state != TypeItemsMap::Iterator::AtMapPosition || a.m_position == b.m_position;
}
