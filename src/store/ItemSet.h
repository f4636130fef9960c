#pragma once

#include <set>
#include <vector>

#include "store/ItemPtr.h"
#include "store/Value.h"

class Type;

// A set of items ordered by identity. One member is kept inline, so the common one-member set
// (every `One` side) costs no tree; the tree is built from the second distinct member on.
// A set holds plain item pointers and does not follow the store: a removed item must not be
// reached through a set made before its removal.
class ItemSet
{
    using Tree = std::set<ItemPtr>;

public:
    class Iterator
    {
    public:
        Iterator() = default;
        ItemPtr operator*() const { return Item(); }
        ItemPtr Item() const;
        Iterator& operator++();
        Iterator operator++(int);
        friend bool operator==(const Iterator& a, const Iterator& b);
        friend bool operator!=(const Iterator& a, const Iterator& b) { return !(a == b); }
        void Normalize();

    private:
        friend class ItemSet;
        enum State
        {
            AtFirst,
            AtEnd,
            AtTreePosition
        };
        Iterator(const ItemSet* set, State state, Tree::const_iterator position)
            : m_set(set), m_state(state), m_position(position)
        {
        }
        const ItemSet* m_set = nullptr;
        State m_state = AtEnd;
        Tree::const_iterator m_position{};
    };

    ItemSet() = default;
    ItemSet(ItemPtr item) { Insert(item); }
    ItemSet(const ItemSet& other);
    ItemSet(ItemSet&& other) noexcept;
    ItemSet& operator=(const ItemSet& other);
    ItemSet& operator=(ItemSet&& other) noexcept;
    ~ItemSet() { delete m_tree; }

    std::size_t Size() const { return m_tree ? m_tree->size() : (m_inline ? 1 : 0); }
    bool Empty() const { return !m_tree && !m_inline; }
    Iterator Begin() const;
    Iterator End() const { return Iterator(this, Iterator::AtEnd, Tree::const_iterator()); }
    Iterator Find(ItemPtr item) const;
    bool Contains(ItemPtr item) const;
    void Insert(ItemPtr item);
    void Erase(ItemPtr item);
    void Clear();
    operator ItemPtr() const;

    // Range-for support.
    Iterator begin() const { return Begin(); }
    Iterator end() const { return End(); }

    // Set algebra over connections.
    void Add(const ItemSet& other);
    ItemSet operator+(const ItemSet& other) const;
    ItemSet Common(const ItemSet& other) const;
    ItemSet Connected(const ItemSet& other) const;
    ItemSet Connected(ItemPtr item) const;
    ItemSet Connected(const char* typeName) const;
    ItemSet Connected(const char* typeName, const Value& value) const;
    ItemSet NotConnected(const ItemSet& other) const;
    ItemSet NotConnected(ItemPtr item) const;
    ItemSet NotConnected(const char* typeName) const;
    ItemSet NotConnected(const char* typeName, const Value& value) const;
    ItemSet GetItems(const char* typeName) const;
    ItemSet GetItems(Type* type) const;

    // Sorted copies; equal keys keep identity order, and descending reverses the whole list.
    std::vector<ItemPtr> SortNumeric(bool ascending) const;
    std::vector<ItemPtr> SortAlphabetic(bool ascending) const;
    std::vector<ItemPtr> SortNumericBy(const char* typeName, bool ascending) const;
    std::vector<ItemPtr> SortAlphabeticBy(const char* typeName, bool ascending) const;

    void Disconnect(const char* typeName) const;
    void Remove() const;

    friend bool operator==(const ItemSet& a, const ItemSet& b);
    friend bool operator!=(const ItemSet& a, const ItemSet& b) { return !(a == b); }

private:
    ::Item* m_inline = nullptr;
    Tree* m_tree = nullptr;
};
