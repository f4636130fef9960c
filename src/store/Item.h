#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <string_view>

#include "store/OneOrMany.h"
#include "store/RelationInfo.h"
#include "store/TypeItemsMap.h"
#include "store/Value.h"
#include "store/ValueView.h"

class Type;

// One node of the store: its type, its fixed value and its connections. Items are created
// through their type and freed only by Remove; the type's index owns them. An item keeps its
// value's bytes right after itself, in the same piece of memory; only a long value lies apart.
class Item
{
public:
    using Path = std::list<Type*>;
    // The room an item of a value of that many bytes takes, given to its operator new.
    struct Room
    {
        std::size_t m_valueSize;
    };
    // Values up to this many bytes are kept in the item's own memory.
    static constexpr std::size_t InPlace = 216;

    Type* GetType() const { return mp_type; }
    // False once the item has been removed; readable only until the removal that freed it ends.
    bool IsAlive() const { return mp_type != nullptr; }
    ValueView GetValue() const { return ValueView(ValueBytes(), m_size); }
    const TypeItemsMap& Connections() const { return m_connections; }

    Item* NewItem(const char* ip_typeName);
    Item* Connect(Item* ip_other);
    // The same, with this type's relation to the other's looked up already.
    Item* Connect(Item* ip_other, const RelationInfo& i_relation);
    // Connects to each of these items of one type, given in identity order without repeats, with
    // this type's relation to theirs, filling both ends directly: this end's set in one go, each
    // other end's at its end, where an item made later goes. Only when this item holds none of
    // their type, neither end can give up an item and nobody hears of such connections; false,
    // with nothing done, otherwise.
    bool ConnectUnheard(Item* const* ip_others, std::size_t i_count, const RelationInfo& i_relation);
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
    Item(Type* ip_type, std::string_view i_bytes);
    ~Item();
    static void* operator new(std::size_t i_size, Room i_room);
    // Only if the constructor failed.
    static void operator delete(void* ip_item, Room i_room);
    static void operator delete(void* ip_item);

    const char* ValueBytes() const
    {
        const char* lp_after = reinterpret_cast<const char*>(this + 1);
        return m_size <= InPlace ? lp_after : *reinterpret_cast<char* const*>(lp_after);
    }

    Type* mp_type;
    TypeItemsMap m_connections;
    // Scratch for the walks over the whole store, which never overlap: the store file's writer
    // keeps an item's index in the file here while it saves, and a collection whether the item
    // is still to be reached while it runs.
    int m_scratch = 0;
    std::uint32_t m_size;
    // The value's bytes follow, or the address of a long value's.
};
