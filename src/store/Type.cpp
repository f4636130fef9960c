#include "store/Type.h"

#include "store/Data.h"
#include "store/ItemWalk.h"

Type::Type(Data* data, std::string name, Primacy primacy, bool isNull, bool autoCreate)
    : m_data(data), m_name(std::move(name)), m_primacy(primacy), m_isNull(isNull),
      m_autoCreate(autoCreate)
{
}

Type::~Type() = default;

void Type::RelateToType(Type* other, OneOrMany thisSide, OneOrMany otherSide, bool owns)
{
    if (IsRelated(other))
        throw new AlreadyRelatedException;
    if (other == this)
    {
        // A type related to itself holds one entry, exactly as declared.
        m_relations[this] = RelationInfo{thisSide, otherSide, owns, owns};
        return;
    }
    m_relations[other] = RelationInfo{thisSide, otherSide, owns, false};
    other->m_relations[this] = RelationInfo{otherSide, thisSide, false, owns};
}

RelationInfo Type::GetRelation(Type* other) const
{
    const RelationInfo* relation = FindRelation(other);
    if (!relation)
        throw new NotRelatedException;
    return *relation;
}

const RelationInfo* Type::FindRelation(Type* other) const
{
    auto entry = m_relations.find(other);
    return entry == m_relations.end() ? nullptr : &entry->second;
}

void Type::GetRelatedTypes(std::map<Type*, RelationInfo>& out) const
{
    if (&out != &m_relations)
        out = m_relations;
}

Item* Type::CreateItem(Value value, std::map<Value, Item*>::iterator position)
{
    Item* item = new Item(this, std::move(value));
    if (m_isNull)
        m_nullItems.Insert(item);
    else
        m_itemsByValue.emplace_hint(position, item->GetValue(), item);
    ItemPtr handle(item);
    m_newItemEvent.Notify(handle);
    m_data->m_newItemEvent.Notify(handle);
    return item;
}

ItemPtr Type::GetItem(const Value& value)
{
    if (m_isNull)
        throw new NullTypeException;
    auto found = m_itemsByValue.lower_bound(value);
    if (found != m_itemsByValue.end() && found->first == value)
        return found->second;
    if (!m_autoCreate)
        return ItemPtr();
    return CreateItem(value, found);
}

ItemPtr Type::NewItem(const Value& value)
{
    if (m_isNull)
        throw new NullTypeException;
    auto found = m_itemsByValue.lower_bound(value);
    if (found != m_itemsByValue.end() && found->first == value)
        return found->second;
    return CreateItem(value, found);
}

ItemPtr Type::HasItem(const Value& value) const
{
    if (m_isNull)
        throw new NullTypeException;
    auto found = m_itemsByValue.find(value);
    return found == m_itemsByValue.end() ? ItemPtr() : ItemPtr(found->second);
}

ItemPtr Type::NewItem()
{
    if (!m_isNull)
        throw new NullTypeException;
    return CreateItem(Value(), m_itemsByValue.end());
}

ItemPtr Type::GetGlobalNullItem()
{
    if (!m_isNull)
        throw new NullTypeException;
    if (!m_nullItems.Empty())
        return m_nullItems;
    return CreateItem(Value(), m_itemsByValue.end());
}

ItemSet Type::GetItems() const
{
    ItemSet result;
    GetItems(result);
    return result;
}

void Type::GetItems(ItemSet& out) const
{
    if (m_isNull)
    {
        out.Add(m_nullItems);
        return;
    }
    for (const auto& entry : m_itemsByValue)
        out.Insert(entry.second);
}

void Type::RemoveAllItems()
{
    std::vector<Item*> l_items;
    l_items.reserve(ItemCount());
    if (m_isNull)
        for (ItemPtr l_item : m_nullItems)
            l_items.push_back(l_item.Get());
    else
        for (const auto& l_entry : m_itemsByValue)
            l_items.push_back(l_entry.second);
    ItemWalk(*m_data, std::move(l_items)).Run([](Item* ip_item) { ip_item->Remove(); });
}

void Type::Remove()
{
    RemoveAllItems();
    auto entry = m_data->m_types.find(m_name);
    if (entry == m_data->m_types.end() || entry->second != this)
        return;
    m_data->m_types.erase(entry);
    // Other types forget the relation, and the pair handlers and path subscriptions that name
    // this type end with it.
    for (auto& relation : m_relations)
        if (relation.first != this)
            relation.first->m_relations.erase(this);
    m_data->ForgetType(this);
    Type* self = this;
    m_data->m_typeRemovedEvent.Notify(self);
    delete this;
}
