#pragma once

#include <map>

#include "store/ItemSet.h"

class Type;

// An item's connections grouped by the connected items' type. Most items are connected to a
// single type, which is kept in one small entry; the ordered map is built from the second type
// on and given up again when only one type is left.
class TypeItemsMap
{
    using Map = std::map<Type*, ItemSet>;

    struct Single
    {
        Type* type;
        ItemSet set;
    };

public:
    class Iterator
    {
    public:
        Iterator() = default;
        Type* GetType() const;
        ItemSet* Set() const;
        Iterator& operator++();
        Iterator operator++(int);
        friend bool operator==(const Iterator& a, const Iterator& b);
        friend bool operator!=(const Iterator& a, const Iterator& b) { return !(a == b); }
        void Normalize();

    private:
        friend class TypeItemsMap;
        enum State
        {
            AtFirst = 0,
            AtEnd = 1,
            AtMapPosition = 2
        };
        Iterator(const TypeItemsMap* map, State state, Map::iterator position)
            : m_map(map), m_state(state), m_position(position)
        {
        }
        const TypeItemsMap* m_map = nullptr;
        State m_state = AtEnd;
        Map::iterator m_position{};
    };

    TypeItemsMap() = default;
    TypeItemsMap(const TypeItemsMap& other);
    TypeItemsMap& operator=(const TypeItemsMap& other);
    ~TypeItemsMap() { Clear(); }

    Iterator Begin() const;
    Iterator End() const { return Iterator(this, Iterator::AtEnd, Map::iterator()); }
    std::size_t Size() const { return m_map ? m_map->size() : (m_single ? 1 : 0); }
    bool Empty() const { return !m_map && !m_single; }
    Iterator Find(Type* type) const;
    // The set of that type, or null when the map has no entry for it.
    ItemSet* FindSet(Type* type) const;
    // The set of that type, created empty when missing.
    ItemSet& operator[](Type* type);
    void Erase(Type* type);
    void Clear();

private:
    Single* m_single = nullptr;
    Map* m_map = nullptr;
};
