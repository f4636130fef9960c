#pragma once

#include <map>
#include <string>

#include "store/ConnectionInfo.h"
#include "store/Event.h"
#include "store/ItemPtr.h"
#include "store/ItemSet.h"
#include "store/Primacy.h"
#include "store/RelationInfo.h"
#include "store/Value.h"

class Data;
class Item;

// A named item type: its relations to other types, an index of its own items (by value, or a
// plain set for a null type, whose items carry no value) and four change events.
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
    ItemPtr GetGlobalNullItem();
    ItemSet GetItems() const;
    void GetItems(ItemSet& o_out) const;
    std::size_t ItemCount() const { return m_isNull ? m_nullItems.Size() : m_itemsByValue.size(); }
    const std::map<Value, Item*>& ItemsByValue() const { return m_itemsByValue; }
    const ItemSet& NullItems() const { return m_nullItems; }

    void RemoveAllItems();
    void Remove();

private:
    friend class Data;
    friend class Item;
    Type(Data* ip_data, std::string i_name, Primacy i_primacy, bool i_isNull, bool i_autoCreate);
    ~Type();

    Item* CreateItem(Value i_value, std::map<Value, Item*>::iterator i_position);

    Data* mp_data;
    std::string m_name;
    Primacy m_primacy;
    bool m_isNull;
    bool m_autoCreate;
    std::map<Type*, RelationInfo> m_relations;
    std::map<Value, Item*> m_itemsByValue;
    ItemSet m_nullItems;
};
