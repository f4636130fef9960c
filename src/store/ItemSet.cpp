#include "store/ItemSet.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>

#include "store/Data.h"
#include "store/ItemWalk.h"

// The header of an array set; its members follow it in the same allocation.
struct ItemSet::Array
{
    std::uint32_t m_size;
    std::uint32_t m_capacity;
};

namespace
{
// An array set holds up to this many members; a set that grows past it becomes a tree, and a
// tree that shrinks to a quarter of it becomes an array again.
constexpr std::size_t g_arrayMost = 64;
constexpr std::size_t g_treeLeast = g_arrayMost / 4;

bool Before(const Item* ip_a, const Item* ip_b)
{
    return std::less<const Item*>()(ip_a, ip_b);
}
} // namespace

Item** ItemSet::Members() const
{
    return reinterpret_cast<::Item**>(mp_array + 1);
}

std::size_t ItemSet::ArraySize() const
{
    return mp_array->m_size;
}

std::size_t ItemSet::Size() const
{
    switch (m_kind)
    {
    case Kind::Empty:
        return 0;
    case Kind::One:
        return 1;
    case Kind::Few:
        return mp_array->m_size;
    case Kind::Many:
        return mp_tree->size();
    }
    return 0;
}

// Replaces whatever the set held by an array of these members, already in order.
void ItemSet::MakeArray(::Item* const* ip_members, std::size_t i_count, std::size_t i_capacity)
{
    Array* lp_array = static_cast<Array*>(::operator new(sizeof(Array) + i_capacity * sizeof(::Item*)));
    lp_array->m_size = static_cast<std::uint32_t>(i_count);
    lp_array->m_capacity = static_cast<std::uint32_t>(i_capacity);
    std::memcpy(reinterpret_cast<::Item**>(lp_array + 1), ip_members, i_count * sizeof(::Item*));
    Clear();
    mp_array = lp_array;
    m_kind = Kind::Few;
}

void ItemSet::MakeTree(::Item* const* ip_members, std::size_t i_count, ::Item* ip_more)
{
    Tree* lp_tree = new Tree;
    for (std::size_t l_k = 0; l_k < i_count; ++l_k)
        lp_tree->emplace_hint(lp_tree->end(), ip_members[l_k]);
    lp_tree->insert(ip_more);
    Clear();
    mp_tree = lp_tree;
    m_kind = Kind::Many;
}

ItemSet::ItemSet(const ItemSet& i_other) : mp_one(nullptr)
{
    *this = i_other;
}

ItemSet::ItemSet(ItemSet&& i_other) noexcept : mp_one(i_other.mp_one), m_kind(i_other.m_kind)
{
    i_other.mp_one = nullptr;
    i_other.m_kind = Kind::Empty;
}

ItemSet& ItemSet::operator=(const ItemSet& i_other)
{
    if (this == &i_other)
        return *this;
    switch (i_other.m_kind)
    {
    case Kind::Empty:
        Clear();
        break;
    case Kind::One:
        Clear();
        mp_one = i_other.mp_one;
        m_kind = Kind::One;
        break;
    case Kind::Few:
        MakeArray(i_other.Members(), i_other.ArraySize(), i_other.mp_array->m_capacity);
        break;
    case Kind::Many:
    {
        Tree* lp_tree = new Tree(*i_other.mp_tree);
        Clear();
        mp_tree = lp_tree;
        m_kind = Kind::Many;
        break;
    }
    }
    return *this;
}

ItemSet& ItemSet::operator=(ItemSet&& i_other) noexcept
{
    if (this != &i_other)
    {
        Clear();
        mp_one = i_other.mp_one;
        m_kind = i_other.m_kind;
        i_other.mp_one = nullptr;
        i_other.m_kind = Kind::Empty;
    }
    return *this;
}

ItemSet::Iterator ItemSet::Begin() const
{
    switch (m_kind)
    {
    case Kind::Empty:
        return End();
    case Kind::Many:
        return Iterator(this, Iterator::AtFirst, mp_tree->begin());
    default:
        return Iterator(this, Iterator::AtFirst, Tree::const_iterator());
    }
}

ItemSet::Iterator ItemSet::Find(ItemPtr i_item) const
{
    if (!i_item)
        return End();
    switch (m_kind)
    {
    case Kind::Empty:
        return End();
    case Kind::One:
        return mp_one == i_item.Get() ? Begin() : End();
    case Kind::Few:
    {
        ::Item** lp_begin = Members();
        ::Item** lp_end = lp_begin + ArraySize();
        ::Item** lp_at = std::lower_bound(lp_begin, lp_end, i_item.Get(), Before);
        if (lp_at == lp_end || *lp_at != i_item.Get())
            return End();
        Iterator l_it(this, Iterator::AtTreePosition, Tree::const_iterator(),
                      static_cast<std::size_t>(lp_at - lp_begin));
        l_it.Normalize();
        return l_it;
    }
    case Kind::Many:
    {
        auto l_position = mp_tree->find(i_item);
        if (l_position == mp_tree->end())
            return End();
        Iterator l_it(this, Iterator::AtTreePosition, l_position);
        l_it.Normalize();
        return l_it;
    }
    }
    return End();
}

bool ItemSet::Contains(ItemPtr i_item) const
{
    if (!i_item)
        return false;
    switch (m_kind)
    {
    case Kind::Empty:
        return false;
    case Kind::One:
        return mp_one == i_item.Get();
    case Kind::Few:
    {
        ::Item** lp_begin = Members();
        ::Item** lp_end = lp_begin + ArraySize();
        ::Item** lp_at = std::lower_bound(lp_begin, lp_end, i_item.Get(), Before);
        return lp_at != lp_end && *lp_at == i_item.Get();
    }
    case Kind::Many:
        return mp_tree->count(i_item) != 0;
    }
    return false;
}

void ItemSet::Insert(ItemPtr i_item)
{
    if (!i_item)
        return;
    ::Item* lp_item = i_item.Get();
    switch (m_kind)
    {
    case Kind::Empty:
        mp_one = lp_item;
        m_kind = Kind::One;
        return;
    case Kind::One:
    {
        if (mp_one == lp_item)
            return;
        ::Item* const l_pair[2] = {Before(mp_one, lp_item) ? mp_one : lp_item,
                                   Before(mp_one, lp_item) ? lp_item : mp_one};
        MakeArray(l_pair, 2, 2);
        return;
    }
    case Kind::Few:
    {
        const std::size_t l_size = ArraySize();
        ::Item** lp_begin = Members();
        ::Item** lp_at = std::lower_bound(lp_begin, lp_begin + l_size, lp_item, Before);
        if (lp_at != lp_begin + l_size && *lp_at == lp_item)
            return;
        if (l_size == mp_array->m_capacity)
        {
            if (l_size >= g_arrayMost)
            {
                MakeTree(lp_begin, l_size, lp_item);
                return;
            }
            const std::size_t l_position = static_cast<std::size_t>(lp_at - lp_begin);
            MakeArray(lp_begin, l_size, l_size * 2);
            lp_begin = Members();
            lp_at = lp_begin + l_position;
        }
        std::memmove(lp_at + 1, lp_at, static_cast<std::size_t>(lp_begin + l_size - lp_at) * sizeof(::Item*));
        *lp_at = lp_item;
        ++mp_array->m_size;
        return;
    }
    case Kind::Many:
        mp_tree->insert(i_item);
        return;
    }
}

void ItemSet::Erase(ItemPtr i_item)
{
    if (!i_item)
        return;
    ::Item* lp_item = i_item.Get();
    switch (m_kind)
    {
    case Kind::Empty:
        return;
    case Kind::One:
        if (mp_one == lp_item)
            Clear();
        return;
    case Kind::Few:
    {
        const std::size_t l_size = ArraySize();
        ::Item** lp_begin = Members();
        ::Item** lp_at = std::lower_bound(lp_begin, lp_begin + l_size, lp_item, Before);
        if (lp_at == lp_begin + l_size || *lp_at != lp_item)
            return;
        std::memmove(lp_at, lp_at + 1, static_cast<std::size_t>(lp_begin + l_size - lp_at - 1) * sizeof(::Item*));
        if (--mp_array->m_size == 1)
        {
            ::Item* lp_left = lp_begin[0];
            Clear();
            mp_one = lp_left;
            m_kind = Kind::One;
        }
        return;
    }
    case Kind::Many:
    {
        mp_tree->erase(i_item);
        const std::size_t l_size = mp_tree->size();
        if (l_size > g_treeLeast)
            return;
        std::vector<::Item*> l_left;
        l_left.reserve(l_size);
        for (ItemPtr l_member : *mp_tree)
            l_left.push_back(l_member.Get());
        MakeArray(l_left.data(), l_size, g_treeLeast * 2);
        return;
    }
    }
}

void ItemSet::Clear()
{
    switch (m_kind)
    {
    case Kind::Few:
        ::operator delete(mp_array);
        break;
    case Kind::Many:
        delete mp_tree;
        break;
    default:
        break;
    }
    mp_one = nullptr;
    m_kind = Kind::Empty;
}

ItemSet::operator ItemPtr() const
{
    switch (m_kind)
    {
    case Kind::Empty:
        return ItemPtr();
    case Kind::One:
        return ItemPtr(mp_one);
    case Kind::Few:
        return ItemPtr(Members()[0]);
    case Kind::Many:
        return *mp_tree->begin();
    }
    return ItemPtr();
}

bool operator==(const ItemSet& i_a, const ItemSet& i_b)
{
    if (i_a.Size() != i_b.Size())
        return false;
    auto l_b = i_b.Begin();
    for (ItemPtr l_member : i_a)
    {
        if (l_member != l_b.Item())
            return false;
        ++l_b;
    }
    return true;
}

ItemPtr ItemSet::Iterator::Item() const
{
    if (m_state == AtEnd || !Current())
        return ItemPtr();
    switch (m_kind)
    {
    case Kind::One:
        return ItemPtr(mp_set->mp_one);
    case Kind::Few:
        return m_index < mp_set->ArraySize() ? ItemPtr(mp_set->Members()[m_index]) : ItemPtr();
    case Kind::Many:
        return *m_position;
    default:
        return ItemPtr();
    }
}

ItemSet::Iterator& ItemSet::Iterator::operator++()
{
    if (m_state == AtEnd)
        return *this;
    if (!Current() || m_kind == Kind::One)
    {
        m_state = AtEnd;
        return *this;
    }
    if (m_kind == Kind::Few)
        ++m_index;
    else
        ++m_position;
    Normalize();
    return *this;
}

ItemSet::Iterator ItemSet::Iterator::operator++(int)
{
    Iterator l_before = *this;
    ++*this;
    return l_before;
}

void ItemSet::Iterator::Normalize()
{
    if (!Current())
        return;
    if (m_kind == Kind::Few)
    {
        if (m_index >= mp_set->ArraySize())
            m_state = AtEnd;
        else
            m_state = m_index == 0 ? AtFirst : AtTreePosition;
        return;
    }
    if (m_kind != Kind::Many)
        return;
    if (m_position == mp_set->mp_tree->end())
        m_state = AtEnd;
    else if (m_position == mp_set->mp_tree->begin())
        m_state = AtFirst;
    else
        m_state = AtTreePosition;
}

bool operator==(const ItemSet::Iterator& i_a, const ItemSet::Iterator& i_b)
{
    if (i_a.mp_set != i_b.mp_set || i_a.m_state != i_b.m_state)
        return false;
    if (i_a.m_state != ItemSet::Iterator::AtTreePosition)
        return true;
    // An array position has no tree position, a tree position no index.
    return i_a.m_index == i_b.m_index && i_a.m_position == i_b.m_position;
}

// ---- Algebra over connections ----

namespace
{
// Whether any item connected to `item`, of any type, is in `set`.
bool TouchesSet(const Item* ip_item, const ItemSet& i_set)
{
    const TypeItemsMap& l_connections = ip_item->Connections();
    for (auto l_type = l_connections.Begin(); l_type != l_connections.End(); ++l_type)
        for (ItemPtr l_connected : *l_type.Set())
            if (i_set.Contains(l_connected))
                return true;
    return false;
}
} // namespace

void ItemSet::Add(const ItemSet& i_other)
{
    for (ItemPtr l_item : i_other)
        Insert(l_item);
}

ItemSet ItemSet::operator+(const ItemSet& i_other) const
{
    ItemSet l_result(*this);
    l_result.Add(i_other);
    return l_result;
}

ItemSet ItemSet::Common(const ItemSet& i_other) const
{
    ItemSet l_result;
    Iterator l_a = Begin();
    Iterator l_b = i_other.Begin();
    const Iterator l_aEnd = End();
    const Iterator l_bEnd = i_other.End();
    while (l_a != l_aEnd && l_b != l_bEnd)
    {
        ItemPtr l_x = *l_a;
        ItemPtr l_y = *l_b;
        if (l_x < l_y)
            ++l_a;
        else if (l_y < l_x)
            ++l_b;
        else
        {
            l_result.Insert(l_x);
            ++l_a;
            ++l_b;
        }
    }
    return l_result;
}

ItemSet ItemSet::Connected(const ItemSet& i_other) const
{
    ItemSet l_result;
    // Walk the smaller set and probe the larger one.
    const bool l_walkOther = i_other.Size() <= Size();
    const ItemSet& l_walked = l_walkOther ? i_other : *this;
    const ItemSet& l_probed = l_walkOther ? *this : i_other;
    for (ItemPtr l_w : l_walked)
    {
        const TypeItemsMap& l_connections = l_w->Connections();
        for (auto l_type = l_connections.Begin(); l_type != l_connections.End(); ++l_type)
            for (ItemPtr l_c : *l_type.Set())
                if (l_probed.Contains(l_c))
                    l_result.Insert(l_walkOther ? l_c : l_w);
    }
    return l_result;
}

ItemSet ItemSet::Connected(ItemPtr i_item) const
{
    if (!i_item)
        return ItemSet();
    return Connected(ItemSet(i_item));
}

ItemSet ItemSet::Connected(const char* ip_typeName) const
{
    Type* lp_type = d.GetType(ip_typeName);
    ItemSet l_result;
    for (ItemPtr l_member : *this)
        if (l_member->IsConnected(lp_type))
            l_result.Insert(l_member);
    return l_result;
}

ItemSet ItemSet::Connected(const char* ip_typeName, const Value& i_value) const
{
    ItemPtr l_item = d.GetType(ip_typeName)->HasItem(i_value);
    if (!l_item)
        return ItemSet();
    return Connected(l_item);
}

ItemSet ItemSet::NotConnected(const ItemSet& i_other) const
{
    ItemSet l_result;
    for (ItemPtr l_member : *this)
        if (!TouchesSet(l_member.Get(), i_other))
            l_result.Insert(l_member);
    return l_result;
}

ItemSet ItemSet::NotConnected(ItemPtr i_item) const
{
    if (!i_item)
        return *this;
    return NotConnected(ItemSet(i_item));
}

ItemSet ItemSet::NotConnected(const char* ip_typeName) const
{
    Type* lp_type = d.GetType(ip_typeName);
    ItemSet l_result;
    for (ItemPtr l_member : *this)
        if (!l_member->IsConnected(lp_type))
            l_result.Insert(l_member);
    return l_result;
}

ItemSet ItemSet::NotConnected(const char* ip_typeName, const Value& i_value) const
{
    ItemPtr l_item = d.GetType(ip_typeName)->HasItem(i_value);
    if (!l_item)
        return *this;
    return NotConnected(l_item);
}

ItemSet ItemSet::GetItems(const char* ip_typeName) const
{
    return GetItems(d.GetType(ip_typeName));
}

ItemSet ItemSet::GetItems(Type* ip_type) const
{
    ItemSet l_result;
    for (ItemPtr l_member : *this)
    {
        l_member->GetType()->GetRelation(ip_type);
        if (const ItemSet* lp_connected = l_member->Connections().FindSet(ip_type))
            l_result.Add(*lp_connected);
    }
    return l_result;
}

void ItemSet::Disconnect(const char* ip_typeName) const
{
    ItemWalk(*this).Run([ip_typeName](Item* ip_member) { ip_member->Disconnect(ip_typeName); });
}

// ---- Sorts ----

namespace
{
qint64 NumericKey(const std::string& i_bytes)
{
    const std::size_t l_length = strnlen(i_bytes.data(), i_bytes.size());
    bool l_ok = false;
    const qint64 l_key =
        QString::fromLatin1(i_bytes.data(), static_cast<int>(l_length)).toLongLong(&l_ok);
    return l_ok ? l_key : 0;
}

template <class Key, class KeyOf>
std::vector<ItemPtr> SortBy(const ItemSet& i_set, Type* ip_keyType, bool i_ascending, KeyOf i_keyOf)
{
    std::vector<std::pair<Key, ItemPtr>> l_keyed;
    l_keyed.reserve(i_set.Size());
    for (ItemPtr l_member : i_set)
    {
        const Item* lp_keyItem = ip_keyType ? l_member->FirstOf(ip_keyType) : l_member.Get();
        if (!lp_keyItem)
            continue;
        l_keyed.emplace_back(i_keyOf(lp_keyItem->GetValue().Bytes()), l_member);
    }
    // The set is walked in identity order, so a stable sort keeps each group in that order.
    std::stable_sort(l_keyed.begin(), l_keyed.end(),
                     [](const auto& i_a, const auto& i_b) { return i_a.first < i_b.first; });
    std::vector<ItemPtr> l_result;
    l_result.reserve(l_keyed.size());
    for (auto& l_entry : l_keyed)
        l_result.push_back(l_entry.second);
    if (!i_ascending)
        std::reverse(l_result.begin(), l_result.end());
    return l_result;
}
} // namespace

std::vector<ItemPtr> ItemSet::SortNumeric(bool i_ascending) const
{
    return SortBy<qint64>(*this, nullptr, i_ascending, NumericKey);
}

std::vector<ItemPtr> ItemSet::SortAlphabetic(bool i_ascending) const
{
    return SortBy<QString>(*this, nullptr, i_ascending, ToQString);
}

std::vector<ItemPtr> ItemSet::SortNumericBy(const char* ip_typeName, bool i_ascending) const
{
    return SortBy<qint64>(*this, d.GetType(ip_typeName), i_ascending, NumericKey);
}

std::vector<ItemPtr> ItemSet::SortAlphabeticBy(const char* ip_typeName, bool i_ascending) const
{
    return SortBy<QString>(*this, d.GetType(ip_typeName), i_ascending, ToQString);
}

void ItemSet::Remove() const
{
    ItemWalk(*this).Run([](Item* ip_member) { ip_member->Remove(); });
}
