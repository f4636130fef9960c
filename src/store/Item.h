#pragma once

#include <list>
#include <map>

#include "store/OneOrMany.h"
#include "store/TypeItemsMap.h"
#include "store/Value.h"

class Type;

// One node of the store: its type, its fixed value and its connections. Items are created
// through their type and freed only by Remove; the type's index owns them.
class Item
{
public:
    using Path = std::list<Type*>;

    Type* GetType() const { return m_type; }
    // False once the item has been removed; readable only until the removal that freed it ends.
    bool IsAlive() const { return m_type != nullptr; }
    const Value& GetValue() const { return m_value; }
    const TypeItemsMap& Connections() const { return m_connections; }

    Item* NewItem(const char* typeName);
    Item* Connect(Item* other);
    void ConnectThisEnd(Item* other, OneOrMany side);
    void Disconnect(Item* other);
    void DisconnectThisEnd(Item* other);
    void Disconnect(const char* typeName);

    bool IsConnected(Item* other) const;
    bool IsConnected(Type* type) const;
    bool IsConnected(const char* typeName) const;
    bool IsDisconnectedFromAll() const { return m_connections.Empty(); }
    Item* HasItem(const char* typeName) const;
    Item* GetItem(const char* typeName) const { return HasItem(typeName); }
    // The first connected item of that type, or null.
    Item* FirstOf(Type* type) const;
    void GetItems(const char* typeName, ItemSet& out) const;
    void GetConnectedItems(TypeItemsMap& out) const { out = m_connections; }

    void GetUniqueItems(std::map<Item*, Path>& out);
    void GetUniqueToItems(std::map<Item*, Path>& out);
    void GetUniqueItemsFromOrTo(Item* item, Path path, std::map<Item*, Path>& out, bool from);

    void Remove();

private:
    friend class Type;
    friend class Data;
    friend class RemovalScope;
    void EraseEnd(Type* otherType, Item* other);
    void EraseRemovedEnds();
    Item(Type* type, Value value) : m_type(type), m_value(std::move(value)) {}
    ~Item() = default;

    Type* m_type;
    Value m_value;
    TypeItemsMap m_connections;
};
