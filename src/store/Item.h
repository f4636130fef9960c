#pragma once

#include <list>
#include <map>
#include <string_view>

#include "store/OneOrMany.h"
#include "store/RelationInfo.h"
#include "store/TypeItemsMap.h"
#include "store/Value.h"

class Type;

// One node of the store: its type, its fixed value and its connections. Items are created
// through their type and freed only by Remove; the type's index owns them.
class Item
{
public:
    using Path = std::list<Type*>;

    Type* GetType() const { return mp_type; }
    // False once the item has been removed; readable only until the removal that freed it ends.
    bool IsAlive() const { return mp_type != nullptr; }
    const Value& GetValue() const { return m_value; }
    const TypeItemsMap& Connections() const { return m_connections; }

    Item* NewItem(const char* ip_typeName);
    Item* Connect(Item* ip_other);
    // The same, with this type's relation to the other's looked up already.
    Item* Connect(Item* ip_other, const RelationInfo& i_relation);
    void ConnectThisEnd(Item* ip_other, OneOrMany i_side);
    void Disconnect(Item* ip_other);
    void DisconnectThisEnd(Item* ip_other);
    void Disconnect(const char* ip_typeName);

    bool IsConnected(Item* ip_other) const;
    bool IsConnected(Type* ip_type) const;
    bool IsConnected(const char* ip_typeName) const;
    bool IsDisconnectedFromAll() const { return m_connections.Empty(); }
    Item* HasItem(const char* ip_typeName) const;
    Item* GetItem(const char* ip_typeName) const { return HasItem(ip_typeName); }
    // The first connected item of that type, or null.
    Item* FirstOf(Type* ip_type) const;
    void GetItems(const char* ip_typeName, ItemSet& o_out) const;
    void GetConnectedItems(TypeItemsMap& o_out) const { o_out = m_connections; }

    void GetUniqueItems(std::map<Item*, Path>& o_out);
    void GetUniqueToItems(std::map<Item*, Path>& o_out);
    void GetUniqueItemsFromOrTo(Item* ip_item, Path i_path, std::map<Item*, Path>& o_out,
                                bool i_from);

    void Remove();

private:
    friend class Type;
    friend class Data;
    friend class RemovalScope;
    friend struct ItemFileIndex;
    void EraseEnd(Type* ip_otherType, Item* ip_other);
    void EraseRemovedEnds();
    Item(Type* ip_type, Value i_value) : mp_type(ip_type), m_value(std::move(i_value)) {}
    Item(Type* ip_type, std::string_view i_bytes)
        : mp_type(ip_type), m_value(i_bytes.data(), i_bytes.size())
    {
    }
    ~Item() = default;
    // Items come from a pool of their own: see ItemPool.
    static void* operator new(std::size_t i_size);
    static void operator delete(void* ip_item);

    Type* mp_type;
    Value m_value;
    TypeItemsMap m_connections;
    // Set and read only by the store file's writer while it saves.
    int m_fileIndex = 0;
};
