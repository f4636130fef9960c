#pragma once

#include <set>
#include <vector>

#include "store/ItemPtr.h"
#include "store/Value.h"

class Type;

// A set of items ordered by identity. One member is kept inline, so the common one-member set
// (every `One` side) costs no allocation; up to 64 members sit in one sorted array, and only a
// larger set becomes a tree. A set holds plain item pointers and does not follow the store: a
// removed item must not be reached through a set made before its removal. A set changed while
// it is walked may give a member twice or skip one, but never reads freed memory.
class ItemSet
{
    using Tree = std::set<ItemPtr>;
    struct Array;
    enum class Kind : unsigned char
    {
        Empty,
        One,
        Few,
        Many
    };

public:
    class Iterator
    {
    public:
        Iterator() = default;
        ItemPtr operator*() const { return Item(); }
        ItemPtr Item() const;
        Iterator& operator++();
        Iterator operator++(int);
        friend bool operator==(const Iterator& i_a, const Iterator& i_b);
        friend bool operator!=(const Iterator& i_a, const Iterator& i_b) { return !(i_a == i_b); }
        void Normalize();

    private:
        friend class ItemSet;
        enum State
        {
            AtFirst,
            AtEnd,
            AtTreePosition
        };
        Iterator(const ItemSet* ip_set, State i_state, Tree::const_iterator i_position,
                 std::size_t i_index = 0)
            : mp_set(ip_set), m_state(i_state), m_kind(ip_set->m_kind), m_position(i_position),
              m_index(i_index)
        {
        }
        // Whether the set still has the form it had when this iterator was made.
        bool Current() const { return mp_set && mp_set->m_kind == m_kind; }
        const ItemSet* mp_set = nullptr;
        State m_state = AtEnd;
        Kind m_kind = Kind::Empty;
        Tree::const_iterator m_position{};
        std::size_t m_index = 0;
    };

    ItemSet() : mp_one(nullptr) {}
    ItemSet(ItemPtr i_item) : mp_one(nullptr) { Insert(i_item); }
    ItemSet(const ItemSet& i_other);
    ItemSet(ItemSet&& i_other) noexcept;
    ItemSet& operator=(const ItemSet& i_other);
    ItemSet& operator=(ItemSet&& i_other) noexcept;
    ~ItemSet() { Clear(); }

    std::size_t Size() const;
    bool Empty() const { return m_kind == Kind::Empty; }
    Iterator Begin() const;
    Iterator End() const { return Iterator(this, Iterator::AtEnd, Tree::const_iterator()); }
    Iterator Find(ItemPtr i_item) const;
    bool Contains(ItemPtr i_item) const;
    void Insert(ItemPtr i_item);
    void Erase(ItemPtr i_item);
    void Clear();
    operator ItemPtr() const;

    // Range-for support.
    Iterator begin() const { return Begin(); }
    Iterator end() const { return End(); }

    // Set algebra over connections.
    void Add(const ItemSet& i_other);
    ItemSet operator+(const ItemSet& i_other) const;
    ItemSet Common(const ItemSet& i_other) const;
    ItemSet Connected(const ItemSet& i_other) const;
    ItemSet Connected(ItemPtr i_item) const;
    ItemSet Connected(const char* ip_typeName) const;
    ItemSet Connected(const char* ip_typeName, const Value& i_value) const;
    ItemSet NotConnected(const ItemSet& i_other) const;
    ItemSet NotConnected(ItemPtr i_item) const;
    ItemSet NotConnected(const char* ip_typeName) const;
    ItemSet NotConnected(const char* ip_typeName, const Value& i_value) const;
    ItemSet GetItems(const char* ip_typeName) const;
    ItemSet GetItems(Type* ip_type) const;

    // Sorted copies; equal keys keep identity order, and descending reverses the whole list.
    std::vector<ItemPtr> SortNumeric(bool i_ascending) const;
    std::vector<ItemPtr> SortAlphabetic(bool i_ascending) const;
    std::vector<ItemPtr> SortNumericBy(const char* ip_typeName, bool i_ascending) const;
    std::vector<ItemPtr> SortAlphabeticBy(const char* ip_typeName, bool i_ascending) const;

    void Disconnect(const char* ip_typeName) const;
    void Remove() const;

    friend bool operator==(const ItemSet& i_a, const ItemSet& i_b);
    friend bool operator!=(const ItemSet& i_a, const ItemSet& i_b) { return !(i_a == i_b); }

private:
    // The members of an array set, in identity order.
    ::Item** Members() const;
    std::size_t ArraySize() const;
    void MakeArray(::Item* const* ip_members, std::size_t i_count, std::size_t i_capacity);
    void MakeTree(::Item* const* ip_members, std::size_t i_count, ::Item* ip_more);

    union
    {
        ::Item* mp_one;
        Array* mp_array;
        Tree* mp_tree;
    };
    Kind m_kind = Kind::Empty;
};
