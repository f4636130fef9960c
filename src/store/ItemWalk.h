#pragma once

#include <optional>
#include <vector>

#include "store/Item.h"
#include "store/RemovalScope.h"

class Data;
class ItemSet;
class TypeItemsMap;

// Goes through a snapshot of items while the visit of each one may run store handlers, and those
// handlers may remove, disconnect or connect any item, the ones still to come included. No item
// removed while the walk lasts is freed before the walk ends, and an item is visited only if it
// is still alive at its turn. Every store operation that calls handlers while it goes through a
// set of items or a connection list does so through a walk.
class ItemWalk
{
public:
    // The items in the given order.
    ItemWalk(Data& i_data, std::vector<Item*> i_items);
    // The members in the set's order. A set may still list items removed earlier in the
    // surrounding removal; the store is found through a live member.
    explicit ItemWalk(const ItemSet& i_members);
    // Every connected item, by type in the map's order and then in each set's order.
    ItemWalk(Data& i_data, const TypeItemsMap& i_connections);
    ItemWalk(const ItemWalk&) = delete;
    ItemWalk& operator=(const ItemWalk&) = delete;

    template <class Visit>
    void Run(Visit i_visit) const
    {
        for (Item* lp_item : m_items)
            if (lp_item->IsAlive())
                i_visit(lp_item);
    }

private:
    std::optional<RemovalScope> m_scope;
    std::vector<Item*> m_items;
};
