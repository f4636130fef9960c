#pragma once

#include <QMetaType>
#include <QString>

#include <cstdint>
#include <functional>
#include <string>

#include "store/Value.h"

class Item;
class ItemSet;
class Type;

// The nullable handle through which all code uses an item. It owns and counts nothing: after
// the item is removed every handle to it dangles, and holders drop theirs when the type's or the
// store's removal event tells them.
class ItemPtr
{
public:
    ItemPtr() = default;
    ItemPtr(Item* ip_item) : mp_item(ip_item) {}

    explicit operator bool() const { return mp_item != nullptr; }
    bool operator!() const { return mp_item == nullptr; }
    Item* operator->() const { return mp_item; }
    Item& operator*() const { return *mp_item; }
    Item* Get() const { return mp_item; }

    friend bool operator==(ItemPtr i_a, ItemPtr i_b) { return i_a.mp_item == i_b.mp_item; }
    friend bool operator!=(ItemPtr i_a, ItemPtr i_b) { return i_a.mp_item != i_b.mp_item; }
    friend bool operator<(ItemPtr i_a, ItemPtr i_b)
    {
        return std::less<Item*>()(i_a.mp_item, i_b.mp_item);
    }

    // These accept a null handle.
    ItemPtr operator[](const char* ip_typeName) const { return HasItem(ip_typeName); }
    ItemPtr HasItem(const char* ip_typeName) const;
    ItemPtr GetItem(const char* ip_typeName) const { return HasItem(ip_typeName); }
    void GetItems(const char* ip_typeName, ItemSet& o_out) const;
    ItemSet GetItems(const char* ip_typeName) const;

    std::string AsStdString() const;
    QString AsString() const;
    int AsInt() const;
    unsigned int AsUInt() const;
    qint64 AsInt64() const;
    quint64 AsUInt64() const;
    // The live object whose address this item's value holds, read back at full pointer width.
    template <class T>
    T* AsPointer() const
    {
        return reinterpret_cast<T*>(static_cast<std::uintptr_t>(AsUInt64()));
    }

    // The rest require a non-null handle.
    ItemPtr NewItem(const char* ip_typeName) const;
    ItemPtr Connect(ItemPtr i_other) const;
    ItemPtr operator+=(ItemPtr i_other) const { return Connect(i_other); }
    void Disconnect(ItemPtr i_other) const;
    ItemPtr operator-=(ItemPtr i_other) const;
    void Disconnect(const char* ip_typeName) const;
    bool IsConnected(ItemPtr i_other) const;
    bool IsConnected(Type* ip_type) const;
    bool IsConnected(const char* ip_typeName) const;
    bool IsDisconnectedFromAll() const;
    Type* GetType() const;
    Value GetValue() const;
    void Remove() const;

private:
    Item* mp_item = nullptr;
};

Q_DECLARE_METATYPE(ItemPtr)
