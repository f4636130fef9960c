#include "store/Type.h"

#include "store/Data.h"
#include "store/ItemWalk.h"

Type::Type(Data* ip_data, std::string i_name, Primacy i_primacy, bool i_isNull, bool i_autoCreate)
    : mp_data(ip_data), m_name(std::move(i_name)), m_primacy(i_primacy), m_isNull(i_isNull),
      m_autoCreate(i_autoCreate)
{
}

Type::~Type() = default;

void Type::RelateToType(Type* ip_other, OneOrMany i_thisSide, OneOrMany i_otherSide, bool i_owns)
{
    if (IsRelated(ip_other))
        throw new AlreadyRelatedException;
    if (ip_other == this)
    {
        // A type related to itself holds one entry, exactly as declared.
        m_relations[this] = RelationInfo{i_thisSide, i_otherSide, i_owns, i_owns};
        return;
    }
    m_relations[ip_other] = RelationInfo{i_thisSide, i_otherSide, i_owns, false};
    ip_other->m_relations[this] = RelationInfo{i_otherSide, i_thisSide, false, i_owns};
}

RelationInfo Type::GetRelation(Type* ip_other) const
{
    const RelationInfo* lp_relation = FindRelation(ip_other);
    if (!lp_relation)
        throw new NotRelatedException;
    return *lp_relation;
}

const RelationInfo* Type::FindRelation(Type* ip_other) const
{
    auto l_entry = m_relations.find(ip_other);
    return l_entry == m_relations.end() ? nullptr : &l_entry->second;
}

void Type::GetRelatedTypes(std::map<Type*, RelationInfo>& o_out) const
{
    if (&o_out != &m_relations)
        o_out = m_relations;
}

Item* Type::CreateItem(Value i_value, std::map<Value, Item*>::iterator i_position)
{
    Item* lp_item = new Item(this, std::move(i_value));
    if (m_isNull)
        m_nullItems.Insert(lp_item);
    else
        m_itemsByValue.emplace_hint(i_position, lp_item->GetValue(), lp_item);
    ItemPtr l_handle(lp_item);
    m_newItemEvent.Notify(l_handle);
    mp_data->m_newItemEvent.Notify(l_handle);
    return lp_item;
}

ItemPtr Type::GetItem(const Value& i_value)
{
    if (m_isNull)
        throw new NullTypeException;
    auto l_found = m_itemsByValue.lower_bound(i_value);
    if (l_found != m_itemsByValue.end() && l_found->first == i_value)
        return l_found->second;
    if (!m_autoCreate)
        return ItemPtr();
    return CreateItem(i_value, l_found);
}

ItemPtr Type::NewItem(const Value& i_value)
{
    if (m_isNull)
        throw new NullTypeException;
    auto l_found = m_itemsByValue.lower_bound(i_value);
    if (l_found != m_itemsByValue.end() && l_found->first == i_value)
        return l_found->second;
    return CreateItem(i_value, l_found);
}

ItemPtr Type::HasItem(const Value& i_value) const
{
    if (m_isNull)
        throw new NullTypeException;
    auto l_found = m_itemsByValue.find(i_value);
    return l_found == m_itemsByValue.end() ? ItemPtr() : ItemPtr(l_found->second);
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
    ItemSet l_result;
    GetItems(l_result);
    return l_result;
}

void Type::GetItems(ItemSet& o_out) const
{
    if (m_isNull)
    {
        o_out.Add(m_nullItems);
        return;
    }
    for (const auto& l_entry : m_itemsByValue)
        o_out.Insert(l_entry.second);
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
    ItemWalk(*mp_data, std::move(l_items)).Run([](Item* ip_item) { ip_item->Remove(); });
}

void Type::Remove()
{
    RemoveAllItems();
    auto l_entry = mp_data->m_types.find(m_name);
    if (l_entry == mp_data->m_types.end() || l_entry->second != this)
        return;
    mp_data->m_types.erase(l_entry);
    // Other types forget the relation, and the pair handlers and path subscriptions that name
    // this type end with it.
    for (auto& l_relation : m_relations)
        if (l_relation.first != this)
            l_relation.first->m_relations.erase(this);
    mp_data->ForgetType(this);
    Type* lp_self = this;
    mp_data->m_typeRemovedEvent.Notify(lp_self);
    delete this;
}
