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

    Data* GetData() const { return m_data; }
    const std::string& GetName() const { return m_name; }
    Primacy GetPrimacy() const { return m_primacy; }
    bool IsNull() const { return m_isNull; }
    bool IsAutoCreate() const { return m_autoCreate; }

    void RelateToType(Type* other, OneOrMany thisSide, OneOrMany otherSide, bool owns);
    RelationInfo GetRelation(Type* other) const;
    // The relation entry for that type, or null; never throws.
    const RelationInfo* FindRelation(Type* other) const;
    bool IsRelated(Type* other) const { return m_relations.count(other) != 0; }
    void GetRelatedTypes(std::map<Type*, RelationInfo>& out) const;
    const std::map<Type*, RelationInfo>& Relations() const { return m_relations; }

    ItemPtr GetItem(const Value& value);
    ItemPtr operator[](const Value& value) { return GetItem(value); }
    ItemPtr NewItem(const Value& value);
    ItemPtr HasItem(const Value& value) const;
    ItemPtr NewItem();
    ItemPtr GetGlobalNullItem();
    ItemSet GetItems() const;
    void GetItems(ItemSet& out) const;
    std::size_t ItemCount() const { return m_isNull ? m_nullItems.Size() : m_itemsByValue.size(); }
    const std::map<Value, Item*>& ItemsByValue() const { return m_itemsByValue; }
    const ItemSet& NullItems() const { return m_nullItems; }

    void RemoveAllItems();
    void Remove();

private:
    friend class Data;
    friend class Item;
    Type(Data* data, std::string name, Primacy primacy, bool isNull, bool autoCreate);
    ~Type();

    Item* CreateItem(Value value, std::map<Value, Item*>::iterator position);

    Data* m_data;
    std::string m_name;
    Primacy m_primacy;
    bool m_isNull;
    bool m_autoCreate;
    std::map<Type*, RelationInfo> m_relations;
    std::map<Value, Item*> m_itemsByValue;
    ItemSet m_nullItems;
};
