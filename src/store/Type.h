#pragma once

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "store/ConnectionInfo.h"
#include "store/Event.h"
#include "store/ItemPtr.h"
#include "store/ItemSet.h"
#include "store/Primacy.h"
#include "store/RelationInfo.h"
#include "store/Value.h"
#include "store/ValueIndex.h"

class Data;
class Item;

// A named item type: its relations to other types, an index of its own items (by value, or a
// plain set for a null type, whose items carry no value) and four change events. The value
// index is a hash table; what must come out in value order is sorted when asked for.
class Type
{
public:
    Type(const Type&) = delete;
    Type& operator=(const Type&) = delete;

    Event<ItemPtr> m_newItemEvent;
    Event<ItemPtr> m_removedEvent;
    Event<ConnectionInfo> m_connectedEvent;
    Event<ConnectionInfo> m_disconnectedEvent;

    Data* GetData() const { return mp_data; }
    const std::string& GetName() const { return m_name; }
    Primacy GetPrimacy() const { return m_primacy; }
    bool IsNull() const { return m_isNull; }
    bool IsAutoCreate() const { return m_autoCreate; }

    void RelateToType(Type* ip_other, OneOrMany i_thisSide, OneOrMany i_otherSide, bool i_owns);
    RelationInfo GetRelation(Type* ip_other) const;
    // The relation entry for that type, or null; never throws.
    const RelationInfo* FindRelation(Type* ip_other) const;
    bool IsRelated(Type* ip_other) const { return m_relations.count(ip_other) != 0; }
    void GetRelatedTypes(std::map<Type*, RelationInfo>& o_out) const;
    const std::map<Type*, RelationInfo>& Relations() const { return m_relations; }

    ItemPtr GetItem(const Value& i_value);
    ItemPtr operator[](const Value& i_value) { return GetItem(i_value); }
    ItemPtr NewItem(const Value& i_value);
    ItemPtr HasItem(const Value& i_value) const;
    ItemPtr NewItem();
    // NewItem(Value) for each value in turn: its item, existing or new, goes to the same place
    // of op_items, and each new item is announced before the next value is looked at. Made for
    // creating many items at once; each value comes with its ValueIndex::Hash.
    void NewItems(const std::string_view* ip_values, const std::uint64_t* ip_hashes,
                  std::size_t i_count, Item** op_items);
    ItemPtr GetGlobalNullItem();
    ItemSet GetItems() const;
    void GetItems(ItemSet& o_out) const;
    std::size_t ItemCount() const { return m_isNull ? m_nullItems.Size() : m_valueIndex.Size(); }
    // A valued type's items in byte-wise order of their values, a proper prefix first.
    std::vector<std::pair<Value, Item*>> ItemsByValue() const;
    // Every item, in no particular order.
    std::vector<Item*> AllItems() const;
    // Calls the visit with every item, in no particular order, valued or not. The visit must
    // neither make nor remove items of this type.
    template <class Visit>
    void ForEachItem(Visit i_visit) const
    {
        if (m_isNull)
            m_nullItems.ForEachMember(i_visit);
        else
            m_valueIndex.ForEach(i_visit);
    }
    // Room for that many more items of a valued type, made before creating them in bulk.
    void ReserveItems(std::size_t i_more);
    const ItemSet& NullItems() const { return m_nullItems; }

    void RemoveAllItems();
    void Remove();

private:
    friend class Data;
    friend class Item;
    Type(Data* ip_data, std::string i_name, Primacy i_primacy, bool i_isNull, bool i_autoCreate);
    ~Type();

    // Makes, indexes and announces an item. The probe is where the value index takes it: only
    // for a valued type.
    Item* CreateItem(std::string_view i_bytes, const ValueIndex::Probe* ip_probe);
    // NewItems when no new item is announced to anyone.
    void MakeUnannounced(const std::string_view* ip_values, const std::uint64_t* ip_hashes,
                         std::size_t i_count, Item** op_items);
    // A valued type's items sorted by value.
    std::vector<Item*> ItemsInValueOrder() const;

    Data* mp_data;
    std::string m_name;
    Primacy m_primacy;
    bool m_isNull;
    bool m_autoCreate;
    std::map<Type*, RelationInfo> m_relations;
    ValueIndex m_valueIndex;
    ItemSet m_nullItems;
};
