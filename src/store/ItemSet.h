#pragma once

#include <cstdint>
#include <set>
#include <vector>

#include "store/ItemPtr.h"
#include "store/Value.h"

class Type;

// A set of items ordered by identity. Up to two members are kept in place, so the common sets
// of one or two members cost no allocation; up to 64 members sit in one sorted array, and only
// a larger set becomes a tree, unless its members came in ascending order: such a set stays an
// array until a member goes in or out anywhere but at its end. A set holds plain item pointers
// and does not follow the store: a removed item must not be reached through a set made before
// its removal. A set changed while
// it is walked may give a member twice or skip one, but never reads freed memory.
class ItemSet
{
    using Tree = std::set<ItemPtr>;
    // The header of an array set; its members follow it in the same allocation.
    struct Array
    {
        std::uint32_t m_size;
        std::uint32_t m_capacity;
    };
    // Kept in the low bits of the first word: items, arrays and trees are all aligned to 8.
    enum Kind : std::uintptr_t
    {
        NoMember = 0,
        OneMember = 1,
        TwoMembers = 2,
        InArray = 3,
        InTree = 4
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
            : mp_set(ip_set), m_state(i_state), m_kind(ip_set->GetKind()), m_position(i_position),
              m_index(i_index)
        {
        }
        // Whether the set still has the form it had when this iterator was made.
        bool Current() const { return mp_set && mp_set->GetKind() == m_kind; }
        const ItemSet* mp_set = nullptr;
        State m_state = AtEnd;
        Kind m_kind = NoMember;
        // In a tree; in the other forms, the member's place.
        Tree::const_iterator m_position{};
        std::size_t m_index = 0;
    };

    ItemSet() = default;
    ItemSet(ItemPtr i_item) { Insert(i_item); }
    ItemSet(const ItemSet& i_other);
    ItemSet(ItemSet&& i_other) noexcept;
    ItemSet& operator=(const ItemSet& i_other);
    ItemSet& operator=(ItemSet&& i_other) noexcept;
    ~ItemSet() { Clear(); }

    std::size_t Size() const;
    bool Empty() const { return m_word == 0; }
    Iterator Begin() const;
    Iterator End() const { return Iterator(this, Iterator::AtEnd, Tree::const_iterator()); }
    Iterator Find(ItemPtr i_item) const;
    bool Contains(ItemPtr i_item) const;
    void Insert(ItemPtr i_item);
    // Fills an empty set with members given in identity order, without repeats, in one go.
    void AssignAscending(::Item* const* ip_members, std::size_t i_count);
    void Erase(ItemPtr i_item);
    void Clear();
    operator ItemPtr() const;

    // Range-for support.
    Iterator begin() const { return Begin(); }
    Iterator end() const { return End(); }
    // Calls the visit with each member in order, for walks that must be quick. The visit must
    // not change this set.
    template <class Visit>
    void ForEachMember(Visit i_visit) const
    {
        switch (GetKind())
        {
        case NoMember:
            return;
        case OneMember:
            i_visit(FirstItem());
            return;
        case TwoMembers:
            i_visit(FirstItem());
            i_visit(mp_second);
            return;
        case InArray:
        {
            ::Item* const* lp_member = Members();
            for (::Item* const* lp_end = lp_member + ArraySize(); lp_member != lp_end; ++lp_member)
                i_visit(*lp_member);
            return;
        }
        case InTree:
            for (ItemPtr l_member : *GetTree())
                i_visit(l_member.Get());
            return;
        }
    }

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
    Kind GetKind() const { return static_cast<Kind>(m_word & 7); }
    ::Item* FirstItem() const { return reinterpret_cast<::Item*>(m_word & ~std::uintptr_t(7)); }
    Array* GetArray() const { return reinterpret_cast<Array*>(m_word & ~std::uintptr_t(7)); }
    Tree* GetTree() const { return reinterpret_cast<Tree*>(m_word & ~std::uintptr_t(7)); }
    template <class T>
    void Set(Kind i_kind, T* ip_pointer)
    {
        m_word = reinterpret_cast<std::uintptr_t>(ip_pointer) | i_kind;
    }
    // The members of an array set, in identity order, after its header.
    ::Item** Members() const { return reinterpret_cast<::Item**>(GetArray() + 1); }
    std::size_t ArraySize() const { return GetArray()->m_size; }
    // The member at that place of a set kept in place or in an array; null past the end.
    ::Item* At(std::size_t i_index) const;
    void MakePair(::Item* ip_a, ::Item* ip_b);
    void MakeArray(::Item* const* ip_members, std::size_t i_count, std::size_t i_capacity);
    void MakeTree(::Item* const* ip_members, std::size_t i_count, ::Item* ip_more);

    // The kind, and the only or first member, the array or the tree.
    std::uintptr_t m_word = 0;
    // The second member of a set of two.
    ::Item* mp_second = nullptr;
};
