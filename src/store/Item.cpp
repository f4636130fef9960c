#include "store/Item.h"

#include "store/Data.h"
#include "store/ItemPool.h"
#include "store/ItemWalk.h"

namespace
{
// Never destroyed: the store's own destruction at exit still gives its items back to it.
ItemPool& Pool()
{
    static ItemPool* const sp_pool = new ItemPool(sizeof(Item));
    return *sp_pool;
}
} // namespace

void* Item::operator new(std::size_t)
{
    return Pool().Allocate();
}

void Item::operator delete(void* ip_item)
{
    if (ip_item)
        Pool().Free(ip_item);
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
