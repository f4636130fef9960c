#include "store/Type.h"

#include <algorithm>

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

Item* Type::CreateItem(std::string_view i_bytes, const ValueIndex::Probe* ip_probe)
{
    Item* lp_item = new (Item::Room{i_bytes.size()}) Item(this, i_bytes);
    if (m_isNull)
        m_nullItems.Insert(lp_item);
    else
        m_valueIndex.InsertAt(*ip_probe, lp_item);
    ItemPtr l_handle(lp_item);
    m_newItemEvent.Notify(l_handle);
    mp_data->m_newItemEvent.Notify(l_handle);
    return lp_item;
}

ItemPtr Type::GetItem(const Value& i_value)
{
    if (!m_autoCreate)
        return HasItem(i_value);
    return NewItem(i_value);
}

ItemPtr Type::NewItem(const Value& i_value)
{
    if (m_isNull)
        throw new NullTypeException;
    const ValueIndex::Probe l_probe = m_valueIndex.Look(i_value.Bytes());
    if (l_probe.mp_found)
        return l_probe.mp_found;
    return CreateItem(i_value.Bytes(), &l_probe);
}

void Type::NewItems(const std::string_view* ip_values, const std::uint64_t* ip_hashes,
                    std::size_t i_count, Item** op_items)
{
    if (m_isNull)
        throw new NullTypeException;
    // With nobody to announce them to, many items are all made first, in order, and then
    // taken into the index in the order of its slots rather than scattered over it.
    constexpr std::size_t l_many = 1024;
    if (i_count >= l_many && m_newItemEvent.Empty() && mp_data->m_newItemEvent.Empty())
    {
        MakeUnannounced(ip_values, ip_hashes, i_count, op_items);
        return;
    }
    m_valueIndex.Reserve(m_valueIndex.Size() + i_count);
    // The index's slots are scattered; each is asked for a few values ahead of its look-up.
    constexpr std::size_t l_ahead = 8;
    for (std::size_t l_k = 0; l_k < std::min(i_count, l_ahead); ++l_k)
        m_valueIndex.Prefetch(ip_hashes[l_k]);
    for (std::size_t l_k = 0; l_k < i_count; ++l_k)
    {
        if (l_k + l_ahead < i_count)
            m_valueIndex.Prefetch(ip_hashes[l_k + l_ahead]);
        const ValueIndex::Probe l_probe = m_valueIndex.Look(ip_values[l_k], ip_hashes[l_k]);
        op_items[l_k] = l_probe.mp_found ? l_probe.mp_found : CreateItem(ip_values[l_k], &l_probe);
    }
}

void Type::MakeUnannounced(const std::string_view* ip_values, const std::uint64_t* ip_hashes,
                           std::size_t i_count, Item** op_items)
{
    std::vector<Item*> l_made;
    l_made.reserve(i_count);
    try
    {
        for (std::size_t l_k = 0; l_k < i_count; ++l_k)
            l_made.push_back(new (Item::Room{ip_values[l_k].size()}) Item(this, ip_values[l_k]));
        std::copy(l_made.begin(), l_made.end(), op_items);
        m_valueIndex.InsertAll(op_items, ip_hashes, i_count);
    }
    catch (...)
    {
        // Nothing is indexed when anything failed.
        for (Item* lp_item : l_made)
            delete lp_item;
        throw;
    }
    // Made for a value that had its item already: never seen by anyone.
    for (std::size_t l_k = 0; l_k < i_count; ++l_k)
        if (op_items[l_k] != l_made[l_k])
            delete l_made[l_k];
}

ItemPtr Type::HasItem(const Value& i_value) const
{
    if (m_isNull)
        throw new NullTypeException;
    return m_valueIndex.Find(i_value.Bytes());
}

ItemPtr Type::NewItem()
{
    if (!m_isNull)
        throw new NullTypeException;
    return CreateItem(std::string_view(), nullptr);
}

ItemPtr Type::GetGlobalNullItem()
{
    if (!m_isNull)
        throw new NullTypeException;
    if (!m_nullItems.Empty())
        return m_nullItems;
    return CreateItem(std::string_view(), nullptr);
}

std::vector<Item*> Type::ItemsInValueOrder() const
{
    std::vector<Item*> l_items = AllItems();
    std::sort(l_items.begin(), l_items.end(), [](const Item* ip_a, const Item* ip_b) {
        return ip_a->GetValue() < ip_b->GetValue();
    });
    return l_items;
}

std::vector<std::pair<Value, Item*>> Type::ItemsByValue() const
{
    std::vector<std::pair<Value, Item*>> l_entries;
    l_entries.reserve(m_valueIndex.Size());
    for (Item* lp_item : ItemsInValueOrder())
        l_entries.emplace_back(Value(lp_item->GetValue()), lp_item);
    return l_entries;
}

std::vector<Item*> Type::AllItems() const
{
    std::vector<Item*> l_items;
    l_items.reserve(ItemCount());
    ForEachItem([&l_items](Item* ip_item) { l_items.push_back(ip_item); });
    return l_items;
}

void Type::ReserveItems(std::size_t i_more)
{
    if (!m_isNull)
        m_valueIndex.Reserve(m_valueIndex.Size() + i_more);
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
    m_valueIndex.ForEach([&o_out](Item* ip_item) { o_out.Insert(ip_item); });
}

void Type::RemoveAllItems()
{
    // Valued items go in the order of their values, null items in the set's order.
    std::vector<Item*> l_items = m_isNull ? AllItems() : ItemsInValueOrder();
    ItemWalk(*mp_data, std::move(l_items)).Run([](Item* ip_item) { ip_item->Remove(); });
}

void Type::Remove()
{
    RemoveAllItems();
    auto l_entry = mp_data->m_types.find(m_name);
    if (l_entry == mp_data->m_types.end() || l_entry->second != this)
        return;
    mp_data->m_types.erase(l_entry);
    mp_data->m_typesByName.erase(m_name);
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
