#pragma once

#include <map>

#include "store/ItemSet.h"

class Type;

// An item's connections grouped by the connected items' type. Most items are connected to a
// single type, which is kept in place without an allocation; the ordered map is built from the
// second type on and given up again when only one type is left.
class TypeItemsMap
{
    using Map = std::map<Type*, ItemSet>;

public:
    class Iterator
    {
    public:
        Iterator() = default;
        Type* GetType() const;
        ItemSet* Set() const;
        Iterator& operator++();
        Iterator operator++(int);
        friend bool operator==(const Iterator& i_a, const Iterator& i_b);
        friend bool operator!=(const Iterator& i_a, const Iterator& i_b) { return !(i_a == i_b); }
        void Normalize();

    private:
        friend class TypeItemsMap;
        enum State
        {
            AtFirst = 0,
            AtEnd = 1,
            AtMapPosition = 2
        };
        Iterator(const TypeItemsMap* ip_map, State i_state, Map::iterator i_position)
            : mp_map(ip_map), m_state(i_state), m_position(i_position)
        {
        }
        const TypeItemsMap* mp_map = nullptr;
        State m_state = AtEnd;
        Map::iterator m_position{};
    };

    TypeItemsMap() : mp_map(nullptr) {}
    TypeItemsMap(const TypeItemsMap& i_other);
    TypeItemsMap& operator=(const TypeItemsMap& i_other);
    ~TypeItemsMap() { Clear(); }

    Iterator Begin() const;
    Iterator End() const { return Iterator(this, Iterator::AtEnd, Map::iterator()); }
    std::size_t Size() const { return mp_type ? 1 : (mp_map ? mp_map->size() : 0); }
    bool Empty() const { return !mp_type && !mp_map; }
    Iterator Find(Type* ip_type) const;
    // The set of that type, or null when the map has no entry for it.
    ItemSet* FindSet(Type* ip_type) const;
    // The set of that type, created empty when missing.
    ItemSet& operator[](Type* ip_type);
    void Erase(Type* ip_type);
    void Clear();

private:
    // Makes this the single entry of that type, taking the set.
    void BecomeSingle(Type* ip_type, ItemSet&& io_set);

    // The one connected type, or null when there are none or several.
    Type* mp_type = nullptr;
    union
    {
        // Its items, while there is one type.
        ItemSet m_set;
        // Otherwise: every type with its items, or null when there are none.
        Map* mp_map;
    };
};
