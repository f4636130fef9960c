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
    ItemPtr(Item* item) : m_item(item) {}

    explicit operator bool() const { return m_item != nullptr; }
    bool operator!() const { return m_item == nullptr; }
    Item* operator->() const { return m_item; }
    Item& operator*() const { return *m_item; }
    Item* Get() const { return m_item; }

    friend bool operator==(ItemPtr a, ItemPtr b) { return a.m_item == b.m_item; }
    friend bool operator!=(ItemPtr a, ItemPtr b) { return a.m_item != b.m_item; }
    friend bool operator<(ItemPtr a, ItemPtr b) { return std::less<Item*>()(a.m_item, b.m_item); }

    // These accept a null handle.
    ItemPtr operator[](const char* typeName) const { return HasItem(typeName); }
    ItemPtr HasItem(const char* typeName) const;
    ItemPtr GetItem(const char* typeName) const { return HasItem(typeName); }
    void GetItems(const char* typeName, ItemSet& out) const;
    ItemSet GetItems(const char* typeName) const;

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
    ItemPtr NewItem(const char* typeName) const;
    ItemPtr Connect(ItemPtr other) const;
    ItemPtr operator+=(ItemPtr other) const { return Connect(other); }
    void Disconnect(ItemPtr other) const;
    ItemPtr operator-=(ItemPtr other) const;
    void Disconnect(const char* typeName) const;
    bool IsConnected(ItemPtr other) const;
    bool IsConnected(Type* type) const;
    bool IsConnected(const char* typeName) const;
    bool IsDisconnectedFromAll() const;
    Type* GetType() const;
    Value GetValue() const;
    void Remove() const;

private:
    Item* m_item = nullptr;
};

Q_DECLARE_METATYPE(ItemPtr)
