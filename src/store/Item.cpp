#include "store/Item.h"

#include "store/Data.h"
#include "store/ItemWalk.h"

Item* Item::NewItem(const char* typeName)
{
    Type* type = m_type->GetData()->GetType(typeName);
    const RelationInfo relation = m_type->GetRelation(type);
    if (!type->IsNull())
        throw new NullTypeException;
    if (relation.otherSide == Many)
        return Connect(type->NewItem().Get());
    if (Item* held = FirstOf(type))
        return held;
    Item* flag = relation.thisSide == Many ? type->GetGlobalNullItem().Get() : type->NewItem().Get();
    return Connect(flag);
}

Item* Item::Connect(Item* other)
{
    Type* otherType = other->m_type;
    const RelationInfo relation = m_type->GetRelation(otherType);
    if (IsConnected(other))
        return other;
    Type* thisType = m_type;
    Data* data = thisType->GetData();
    // A handler may remove either item; it stays readable until this scope ends, and the
    // notifications still to come are skipped for a pair that no longer exists.
    RemovalScope scope(*data);
    ConnectThisEnd(other, relation.otherSide);
    if (!IsAlive() || !other->IsAlive())
        return other;
    other->ConnectThisEnd(this, relation.thisSide);
    if (!IsAlive() || !other->IsAlive())
    {
        EraseEnd(otherType, other);
        return other;
    }

    ConnectionInfo forward{this, other};
    ConnectionInfo backward{other, this};
    thisType->m_connectedEvent.Notify(forward);
    if (!IsAlive() || !other->IsAlive())
        return other;
    data->m_connectedEvent.Notify(forward);
    if (!IsAlive() || !other->IsAlive())
        return other;
    otherType->m_connectedEvent.Notify(backward);
    if (!IsAlive() || !other->IsAlive())
        return other;
    data->NotifyConnectionEventHandlers(this, other);
    return other;
}

void Item::ConnectThisEnd(Item* other, OneOrMany side)
{
    Type* otherType = other->m_type;
    if (side == One)
    {
        // Replacing the held item fires its disconnection events now, so take the set again after.
        if (Item* held = FirstOf(otherType))
            if (held != other)
                Disconnect(held);
        // The replaced item's handlers may have removed either end: then there is nothing to hold.
        if (!IsAlive() || !other->IsAlive())
            return;
    }
    m_connections[otherType].Insert(other);
}

void Item::Disconnect(Item* other)
{
    DisconnectThisEnd(other);
    other->DisconnectThisEnd(this);

    Type* thisType = m_type;
    Type* otherType = other->m_type;
    Data* data = thisType->GetData();
    RemovalScope scope(*data);
    ConnectionInfo forward{this, other};
    ConnectionInfo backward{other, this};
    thisType->m_disconnectedEvent.Notify(forward);
    if (!IsAlive() || !other->IsAlive())
        return;
    data->m_disconnectedEvent.Notify(forward);
    if (!IsAlive() || !other->IsAlive())
        return;
    otherType->m_disconnectedEvent.Notify(backward);
    if (!IsAlive() || !other->IsAlive())
        return;
    data->NotifyDisconnectionEventHandlers(this, other);
}

void Item::DisconnectThisEnd(Item* other)
{
    EraseEnd(other->m_type, other);
}

void Item::EraseEnd(Type* otherType, Item* other)
{
    ItemSet* set = m_connections.FindSet(otherType);
    if (!set)
        return;
    set->Erase(other);
    if (set->Empty())
        m_connections.Erase(otherType);
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

void Item::Disconnect(const char* typeName)
{
    Type* type = m_type->GetData()->GetType(typeName);
    const ItemSet* held = m_connections.FindSet(type);
    if (!held)
        return;
    ItemWalk(*held).Run([this](Item* ip_item) {
        if (IsAlive())
            Disconnect(ip_item);
    });
}

bool Item::IsConnected(Item* other) const
{
    const ItemSet* set = m_connections.FindSet(other->m_type);
    return set && set->Contains(other);
}

bool Item::IsConnected(Type* type) const
{
    return m_connections.FindSet(type) != nullptr;
}

bool Item::IsConnected(const char* typeName) const
{
    return IsConnected(m_type->GetData()->GetType(typeName));
}

Item* Item::FirstOf(Type* type) const
{
    const ItemSet* set = m_connections.FindSet(type);
    return set ? static_cast<ItemPtr>(*set).Get() : nullptr;
}

Item* Item::HasItem(const char* typeName) const
{
    return FirstOf(m_type->GetData()->GetType(typeName));
}

void Item::GetItems(const char* typeName, ItemSet& out) const
{
    Type* type = m_type->GetData()->GetType(typeName);
    m_type->GetRelation(type);
    if (const ItemSet* set = m_connections.FindSet(type))
        out = *set;
}

void Item::GetUniqueItems(std::map<Item*, Path>& out)
{
    GetUniqueItemsFromOrTo(this, Path(), out, true);
    out.erase(this);
}

void Item::GetUniqueToItems(std::map<Item*, Path>& out)
{
    GetUniqueItemsFromOrTo(this, Path(), out, false);
    out.erase(this);
}

void Item::GetUniqueItemsFromOrTo(Item* item, Path path, std::map<Item*, Path>& out, bool from)
{
    path.push_back(item->m_type);
    out[item] = path;
    const TypeItemsMap& connections = item->m_connections;
    for (auto entry = connections.Begin(); entry != connections.End(); ++entry)
    {
        const RelationInfo relation = item->m_type->GetRelation(entry.GetType());
        ItemSet next;
        if (from && relation.otherSide == One)
            next.Insert(static_cast<ItemPtr>(*entry.Set()));
        else if (!from && relation.thisSide == One)
            next = *entry.Set();
        for (ItemPtr y : next)
            if (out.find(y.Get()) == out.end())
                GetUniqueItemsFromOrTo(y.Get(), path, out, from);
    }
}

void Item::Remove()
{
    Type* type = m_type;
    // Already removed: a handler of a bulk removal got to it first.
    if (!type)
        return;
    // Out of the index already: its removal is under way further up the stack. The identity
    // check also keeps a newer item of the same value, made by a handler meanwhile, indexed.
    if (type->IsNull())
    {
        if (!type->m_nullItems.Contains(this))
            return;
        type->m_nullItems.Erase(this);
    }
    else
    {
        auto indexed = type->m_itemsByValue.find(m_value);
        if (indexed == type->m_itemsByValue.end() || indexed->second != this)
            return;
        type->m_itemsByValue.erase(indexed);
    }
    Data* data = type->GetData();
    RemovalScope scope(*data);

    ItemPtr self(this);
    type->m_removedEvent.Notify(self);
    data->m_removedEvent.Notify(self);

    // Handlers may cut connections themselves, remove the other items, or even connect this
    // one again; it is freed only once nothing holds it any more.
    while (!m_connections.Empty())
    {
        ItemWalk(*data, m_connections).Run([this](Item* ip_other) {
            if (IsConnected(ip_other))
                Disconnect(ip_other);
        });
        if (!m_connections.Empty())
            EraseRemovedEnds();
    }

    m_type = nullptr;
    data->m_removedItems.push_back(this);
}
