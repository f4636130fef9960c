#include "store/Item.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>
#include <stdexcept>

#include "store/Data.h"
#include "store/ItemPool.h"
#include "store/ItemWalk.h"

namespace
{
// Items are cut from pools by the room they take, in steps of 16 bytes.
constexpr std::size_t g_step = 16;

std::size_t SlotSize(std::size_t i_valueSize)
{
    const std::size_t l_kept = i_valueSize <= Item::InPlace ? i_valueSize : sizeof(char*);
    return (sizeof(Item) + l_kept + g_step - 1) / g_step * g_step;
}

// Never destroyed: the store's own destruction at exit still gives its items back to them.
ItemPool& PoolFor(std::size_t i_valueSize)
{
    static ItemPool* sp_pools[(sizeof(Item) + Item::InPlace) / g_step + 2] = {};
    const std::size_t l_slot = SlotSize(i_valueSize);
    ItemPool*& lp_pool = sp_pools[l_slot / g_step];
    if (!lp_pool)
        lp_pool = new ItemPool(l_slot);
    return *lp_pool;
}
} // namespace

static_assert(sizeof(Item) % alignof(char*) == 0, "a long value's address follows the item");

void* Item::operator new(std::size_t, Room i_room)
{
    return PoolFor(i_room.m_valueSize).Allocate();
}

void Item::operator delete(void* ip_item, Room)
{
    if (ip_item)
        ItemPool::FreeSlot(ip_item);
}

void Item::operator delete(void* ip_item)
{
    if (ip_item)
        ItemPool::FreeSlot(ip_item);
}

Item::Item(Type* ip_type, std::string_view i_bytes) : mp_type(ip_type)
{
    if (i_bytes.size() > std::numeric_limits<std::uint32_t>::max())
        throw std::length_error("item value");
    char* lp_after = reinterpret_cast<char*>(this + 1);
    char* lp_bytes = lp_after;
    if (i_bytes.size() > InPlace)
    {
        lp_bytes = new char[i_bytes.size()];
        std::memcpy(lp_after, &lp_bytes, sizeof lp_bytes);
    }
    if (!i_bytes.empty())
        std::memcpy(lp_bytes, i_bytes.data(), i_bytes.size());
    m_size = static_cast<std::uint32_t>(i_bytes.size());
}

Item::~Item()
{
    if (m_size > InPlace)
        delete[] *reinterpret_cast<char**>(this + 1);
}

Item* Item::NewItem(const char* ip_typeName)
{
    Type* lp_type = mp_type->GetData()->GetType(ip_typeName);
    const RelationInfo l_relation = mp_type->GetRelation(lp_type);
    if (!lp_type->IsNull())
        throw new NullTypeException;
    if (l_relation.otherSide == Many)
        return Connect(lp_type->NewItem().Get());
    if (Item* lp_held = FirstOf(lp_type))
        return lp_held;
    Item* lp_flag =
        l_relation.thisSide == Many ? lp_type->GetGlobalNullItem().Get() : lp_type->NewItem().Get();
    return Connect(lp_flag);
}

Item* Item::Connect(Item* ip_other)
{
    return Connect(ip_other, mp_type->GetRelation(ip_other->mp_type));
}

Item* Item::Connect(Item* ip_other, const RelationInfo& i_relation)
{
    Type* lp_otherType = ip_other->mp_type;
    const RelationInfo l_relation = i_relation;
    if (IsConnected(ip_other))
        return ip_other;
    Type* lp_thisType = mp_type;
    Data* lp_data = lp_thisType->GetData();
    // When neither end gives up an item it held and nobody hears of it, the two ends are all
    // there is to a connection.
    const bool l_replaces = (l_relation.otherSide == One && FirstOf(lp_otherType)) ||
                            (l_relation.thisSide == One && ip_other->FirstOf(lp_thisType));
    if (!l_replaces && !lp_data->HearsConnection(lp_thisType, lp_otherType))
    {
        m_connections[lp_otherType].Insert(ip_other);
        ip_other->m_connections[lp_thisType].Insert(this);
        return ip_other;
    }
    // A handler may remove either item; it stays readable until this scope ends, and the
    // notifications still to come are skipped for a pair that no longer exists.
    RemovalScope l_scope(*lp_data);
    ConnectThisEnd(ip_other, l_relation.otherSide);
    if (!IsAlive() || !ip_other->IsAlive())
        return ip_other;
    ip_other->ConnectThisEnd(this, l_relation.thisSide);
    if (!IsAlive() || !ip_other->IsAlive())
    {
        EraseEnd(lp_otherType, ip_other);
        return ip_other;
    }

    ConnectionInfo l_forward{this, ip_other};
    ConnectionInfo l_backward{ip_other, this};
    lp_thisType->m_connectedEvent.Notify(l_forward);
    if (!IsAlive() || !ip_other->IsAlive())
        return ip_other;
    lp_data->m_connectedEvent.Notify(l_forward);
    if (!IsAlive() || !ip_other->IsAlive())
        return ip_other;
    lp_otherType->m_connectedEvent.Notify(l_backward);
    if (!IsAlive() || !ip_other->IsAlive())
        return ip_other;
    lp_data->NotifyConnectionEventHandlers(this, ip_other);
    return ip_other;
}

bool Item::ConnectUnheard(Item* const* ip_others, std::size_t i_count, const RelationInfo& i_relation)
{
    if (i_count == 0)
        return true;
    Type* lp_otherType = ip_others[0]->mp_type;
    Item* const* lp_end = ip_others + i_count;
    if (i_relation.thisSide != Many || i_relation.otherSide != Many ||
        mp_type->GetData()->HearsConnection(mp_type, lp_otherType) ||
        !std::all_of(ip_others, lp_end, [&](Item* ip_other) { return ip_other->mp_type == lp_otherType; }) ||
        std::adjacent_find(ip_others, lp_end, std::greater_equal<Item*>()) != lp_end)
        return false;
    // A set made here stays empty only for the moment it takes to fill it.
    ItemSet& l_mine = m_connections[lp_otherType];
    if (!l_mine.Empty())
        return false;
    l_mine.AssignAscending(ip_others, i_count);
    // The other ends lie all over memory: each is asked for a few turns ahead of its insert.
    constexpr std::size_t l_ahead = 4;
    for (std::size_t l_at = 0; l_at < i_count; ++l_at)
    {
        if (l_at + l_ahead < i_count)
            __builtin_prefetch(&ip_others[l_at + l_ahead]->m_connections);
        ip_others[l_at]->m_connections[mp_type].Insert(this);
    }
    return true;
}

void Item::ConnectThisEnd(Item* ip_other, OneOrMany i_side)
{
    Type* lp_otherType = ip_other->mp_type;
    if (i_side == One)
    {
        // Replacing the held item fires its disconnection events now, so take the set again after.
        if (Item* lp_held = FirstOf(lp_otherType))
            if (lp_held != ip_other)
                Disconnect(lp_held);
        // The replaced item's handlers may have removed either end: then there is nothing to hold.
        if (!IsAlive() || !ip_other->IsAlive())
            return;
    }
    m_connections[lp_otherType].Insert(ip_other);
}

void Item::Disconnect(Item* ip_other)
{
    DisconnectThisEnd(ip_other);
    ip_other->DisconnectThisEnd(this);

    Type* lp_thisType = mp_type;
    Type* lp_otherType = ip_other->mp_type;
    Data* lp_data = lp_thisType->GetData();
    RemovalScope l_scope(*lp_data);
    ConnectionInfo l_forward{this, ip_other};
    ConnectionInfo l_backward{ip_other, this};
    lp_thisType->m_disconnectedEvent.Notify(l_forward);
    if (!IsAlive() || !ip_other->IsAlive())
        return;
    lp_data->m_disconnectedEvent.Notify(l_forward);
    if (!IsAlive() || !ip_other->IsAlive())
        return;
    lp_otherType->m_disconnectedEvent.Notify(l_backward);
    if (!IsAlive() || !ip_other->IsAlive())
        return;
    lp_data->NotifyDisconnectionEventHandlers(this, ip_other);
}

void Item::DisconnectThisEnd(Item* ip_other)
{
    EraseEnd(ip_other->mp_type, ip_other);
}

void Item::EraseEnd(Type* ip_otherType, Item* ip_other)
{
    ItemSet* lp_set = m_connections.FindSet(ip_otherType);
    if (!lp_set)
        return;
    lp_set->Erase(ip_other);
    if (lp_set->Empty())
        m_connections.Erase(ip_otherType);
}

// Both ends of a connection go together, so a live item never holds a removed one; were one
// left, it could never be disconnected and Remove would never finish.
void Item::EraseRemovedEnds()
{
    const TypeItemsMap l_snapshot(m_connections);
    for (auto l_entry = l_snapshot.Begin(); l_entry != l_snapshot.End(); ++l_entry)
        for (ItemPtr l_other : *l_entry.Set())
            if (!l_other->IsAlive())
                EraseEnd(l_entry.GetType(), l_other.Get());
}

void Item::Disconnect(const char* ip_typeName)
{
    Type* lp_type = mp_type->GetData()->GetType(ip_typeName);
    const ItemSet* lp_held = m_connections.FindSet(lp_type);
    if (!lp_held)
        return;
    ItemWalk(*lp_held).Run([this](Item* ip_item) {
        if (IsAlive())
            Disconnect(ip_item);
    });
}

bool Item::IsConnected(Item* ip_other) const
{
    const ItemSet* lp_set = m_connections.FindSet(ip_other->mp_type);
    return lp_set && lp_set->Contains(ip_other);
}

bool Item::IsConnected(Type* ip_type) const
{
    return m_connections.FindSet(ip_type) != nullptr;
}

bool Item::IsConnected(const char* ip_typeName) const
{
    return IsConnected(mp_type->GetData()->GetType(ip_typeName));
}

Item* Item::FirstOf(Type* ip_type) const
{
    const ItemSet* lp_set = m_connections.FindSet(ip_type);
    return lp_set ? static_cast<ItemPtr>(*lp_set).Get() : nullptr;
}

Item* Item::HasItem(const char* ip_typeName) const
{
    return FirstOf(mp_type->GetData()->GetType(ip_typeName));
}

void Item::GetItems(const char* ip_typeName, ItemSet& o_out) const
{
    Type* lp_type = mp_type->GetData()->GetType(ip_typeName);
    mp_type->GetRelation(lp_type);
    if (const ItemSet* lp_set = m_connections.FindSet(lp_type))
        o_out = *lp_set;
}

void Item::GetUniqueItems(std::map<Item*, Path>& o_out)
{
    GetUniqueItemsFromOrTo(this, Path(), o_out, true);
    o_out.erase(this);
}

void Item::GetUniqueToItems(std::map<Item*, Path>& o_out)
{
    GetUniqueItemsFromOrTo(this, Path(), o_out, false);
    o_out.erase(this);
}

void Item::GetUniqueItemsFromOrTo(Item* ip_item, Path i_path, std::map<Item*, Path>& o_out,
                                  bool i_from)
{
    i_path.push_back(ip_item->mp_type);
    o_out[ip_item] = i_path;
    const TypeItemsMap& l_connections = ip_item->m_connections;
    for (auto l_entry = l_connections.Begin(); l_entry != l_connections.End(); ++l_entry)
    {
        const RelationInfo l_relation = ip_item->mp_type->GetRelation(l_entry.GetType());
        ItemSet l_next;
        if (i_from && l_relation.otherSide == One)
            l_next.Insert(static_cast<ItemPtr>(*l_entry.Set()));
        else if (!i_from && l_relation.thisSide == One)
            l_next = *l_entry.Set();
        for (ItemPtr l_y : l_next)
            if (o_out.find(l_y.Get()) == o_out.end())
                GetUniqueItemsFromOrTo(l_y.Get(), i_path, o_out, i_from);
    }
}

void Item::Remove()
{
    Type* lp_type = mp_type;
    // Already removed: a handler of a bulk removal got to it first.
    if (!lp_type)
        return;
    // Out of the index already: its removal is under way further up the stack. The identity
    // check also keeps a newer item of the same value, made by a handler meanwhile, indexed.
    if (lp_type->IsNull())
    {
        if (!lp_type->m_nullItems.Contains(this))
            return;
        lp_type->m_nullItems.Erase(this);
    }
    else
    {
        if (!lp_type->m_valueIndex.Erase(this))
            return;
    }
    Data* lp_data = lp_type->GetData();
    RemovalScope l_scope(*lp_data);

    ItemPtr l_self(this);
    lp_type->m_removedEvent.Notify(l_self);
    lp_data->m_removedEvent.Notify(l_self);

    // Handlers may cut connections themselves, remove the other items, or even connect this
    // one again; it is freed only once nothing holds it any more.
    while (!m_connections.Empty())
    {
        ItemWalk(*lp_data, m_connections).Run([this](Item* ip_other) {
            if (IsConnected(ip_other))
                Disconnect(ip_other);
        });
        if (!m_connections.Empty())
            EraseRemovedEnds();
    }

    mp_type = nullptr;
    lp_data->m_removedItems.push_back(this);
}
