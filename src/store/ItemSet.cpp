#include "store/ItemSet.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>

#include "store/Data.h"
#include "store/ItemWalk.h"

namespace
{
// An array set holds up to this many members; a set that grows past it becomes a tree, and a
// tree that shrinks to a quarter of it becomes an array again. Members that come in ascending
// order, as a scan or a load makes them, keep a larger set in its array until one goes
// anywhere but at its end.
constexpr std::size_t g_arrayMost = 64;
constexpr std::size_t g_treeLeast = g_arrayMost / 4;

bool Before(const Item* ip_a, const Item* ip_b)
{
    return std::less<const Item*>()(ip_a, ip_b);
}
} // namespace

Item* ItemSet::At(std::size_t i_index) const
{
    switch (GetKind())
    {
    case OneMember:
        return i_index == 0 ? FirstItem() : nullptr;
    case TwoMembers:
        return i_index == 0 ? FirstItem() : (i_index == 1 ? mp_second : nullptr);
    case InArray:
        return i_index < ArraySize() ? Members()[i_index] : nullptr;
    default:
        return nullptr;
    }
}

std::size_t ItemSet::Size() const
{
    switch (GetKind())
    {
    case NoMember:
        return 0;
    case OneMember:
        return 1;
    case TwoMembers:
        return 2;
    case InArray:
        return ArraySize();
    case InTree:
        return GetTree()->size();
    }
    return 0;
}

void ItemSet::MakePair(::Item* ip_a, ::Item* ip_b)
{
    Clear();
    if (Before(ip_b, ip_a))
        std::swap(ip_a, ip_b);
    Set(TwoMembers, ip_a);
    mp_second = ip_b;
}

// Replaces whatever the set held by an array of these members, already in order.
void ItemSet::MakeArray(::Item* const* ip_members, std::size_t i_count, std::size_t i_capacity)
{
    Array* lp_array = static_cast<Array*>(::operator new(sizeof(Array) + i_capacity * sizeof(::Item*)));
    lp_array->m_size = static_cast<std::uint32_t>(i_count);
    lp_array->m_capacity = static_cast<std::uint32_t>(i_capacity);
    std::memcpy(reinterpret_cast<::Item**>(lp_array + 1), ip_members, i_count * sizeof(::Item*));
    Clear();
    Set(InArray, lp_array);
}

void ItemSet::MakeTree(::Item* const* ip_members, std::size_t i_count, ::Item* ip_more)
{
    Tree* lp_tree = new Tree;
    for (std::size_t l_k = 0; l_k < i_count; ++l_k)
        lp_tree->emplace_hint(lp_tree->end(), ip_members[l_k]);
    if (ip_more)
        lp_tree->insert(ip_more);
    Clear();
    Set(InTree, lp_tree);
}

ItemSet::ItemSet(const ItemSet& i_other)
{
    *this = i_other;
}

ItemSet::ItemSet(ItemSet&& i_other) noexcept : m_word(i_other.m_word), mp_second(i_other.mp_second)
{
    i_other.m_word = 0;
    i_other.mp_second = nullptr;
}

ItemSet& ItemSet::operator=(const ItemSet& i_other)
{
    if (this == &i_other)
        return *this;
    switch (i_other.GetKind())
    {
    case NoMember:
    case OneMember:
    case TwoMembers:
        Clear();
        m_word = i_other.m_word;
        mp_second = i_other.mp_second;
        break;
    case InArray:
        MakeArray(i_other.Members(), i_other.ArraySize(), i_other.GetArray()->m_capacity);
        break;
    case InTree:
    {
        Tree* lp_tree = new Tree(*i_other.GetTree());
        Clear();
        Set(InTree, lp_tree);
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
        m_word = i_other.m_word;
        mp_second = i_other.mp_second;
        i_other.m_word = 0;
        i_other.mp_second = nullptr;
    }
    return *this;
}

ItemSet::Iterator ItemSet::Begin() const
{
    switch (GetKind())
    {
    case NoMember:
        return End();
    case InTree:
        return Iterator(this, Iterator::AtFirst, GetTree()->begin());
    default:
        return Iterator(this, Iterator::AtFirst, Tree::const_iterator());
    }
}

ItemSet::Iterator ItemSet::Find(ItemPtr i_item) const
{
    if (!i_item)
        return End();
    switch (GetKind())
    {
    case NoMember:
        return End();
    case OneMember:
    case TwoMembers:
    case InArray:
    {
        std::size_t l_index = 0;
        if (GetKind() == InArray)
            l_index = static_cast<std::size_t>(
                std::lower_bound(Members(), Members() + ArraySize(), i_item.Get(), Before) - Members());
        else if (At(0) != i_item.Get())
            l_index = 1;
        if (At(l_index) != i_item.Get())
            return End();
        Iterator l_it(this, Iterator::AtTreePosition, Tree::const_iterator(), l_index);
        l_it.Normalize();
        return l_it;
    }
    case InTree:
    {
        auto l_position = GetTree()->find(i_item);
        if (l_position == GetTree()->end())
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
    ::Item* lp_item = i_item.Get();
    switch (GetKind())
    {
    case NoMember:
        return false;
    case OneMember:
        return FirstItem() == lp_item;
    case TwoMembers:
        return FirstItem() == lp_item || mp_second == lp_item;
    case InArray:
    {
        ::Item** lp_begin = Members();
        ::Item** lp_end = lp_begin + ArraySize();
        // What is about to go in at the end is asked about first.
        if (Before(lp_end[-1], lp_item))
            return false;
        ::Item** lp_at = std::lower_bound(lp_begin, lp_end, lp_item, Before);
        return lp_at != lp_end && *lp_at == lp_item;
    }
    case InTree:
        return GetTree()->count(i_item) != 0;
    }
    return false;
}

void ItemSet::Insert(ItemPtr i_item)
{
    if (!i_item)
        return;
    ::Item* lp_item = i_item.Get();
    switch (GetKind())
    {
    case NoMember:
        Set(OneMember, lp_item);
        return;
    case OneMember:
        if (FirstItem() != lp_item)
            MakePair(FirstItem(), lp_item);
        return;
    case TwoMembers:
    {
        ::Item* lp_first = FirstItem();
        if (lp_first == lp_item || mp_second == lp_item)
            return;
        ::Item* l_three[3] = {lp_first, mp_second, lp_item};
        std::sort(l_three, l_three + 3, Before);
        MakeArray(l_three, 3, 4);
        return;
    }
    case InArray:
    {
        const std::size_t l_size = ArraySize();
        ::Item** lp_begin = Members();
        // Most inserts come in identity order and go at the end.
        if (l_size > 0 && l_size < GetArray()->m_capacity && Before(lp_begin[l_size - 1], lp_item))
        {
            lp_begin[l_size] = lp_item;
            ++GetArray()->m_size;
            return;
        }
        ::Item** lp_at = l_size > 0 && Before(lp_begin[l_size - 1], lp_item)
                             ? lp_begin + l_size
                             : std::lower_bound(lp_begin, lp_begin + l_size, lp_item, Before);
        if (lp_at != lp_begin + l_size && *lp_at == lp_item)
            return;
        // A large array only grows at its end; a member that goes anywhere else makes it a tree.
        const bool l_atEnd = lp_at == lp_begin + l_size;
        if (l_size >= g_arrayMost && !l_atEnd)
        {
            MakeTree(lp_begin, l_size, lp_item);
            return;
        }
        if (l_size == GetArray()->m_capacity)
        {
            const std::size_t l_position = static_cast<std::size_t>(lp_at - lp_begin);
            MakeArray(lp_begin, l_size, l_size * 2);
            lp_begin = Members();
            lp_at = lp_begin + l_position;
        }
        std::memmove(lp_at + 1, lp_at, static_cast<std::size_t>(lp_begin + l_size - lp_at) * sizeof(::Item*));
        *lp_at = lp_item;
        ++GetArray()->m_size;
        return;
    }
    case InTree:
        // Items made one after the other mostly come in ascending order: an item above every
        // member goes in at the end without a walk down the tree.
        GetTree()->insert(GetTree()->end(), i_item);
        return;
    }
}

void ItemSet::AssignAscending(::Item* const* ip_members, std::size_t i_count)
{
    if (i_count == 0)
        return;
    if (i_count == 1)
        Set(OneMember, ip_members[0]);
    else if (i_count == 2)
        MakePair(ip_members[0], ip_members[1]);
    else
        MakeArray(ip_members, i_count, std::max<std::size_t>(i_count, 4));
}

void ItemSet::Erase(ItemPtr i_item)
{
    if (!i_item)
        return;
    ::Item* lp_item = i_item.Get();
    switch (GetKind())
    {
    case NoMember:
        return;
    case OneMember:
        if (FirstItem() == lp_item)
            Clear();
        return;
    case TwoMembers:
    {
        ::Item* lp_first = FirstItem();
        ::Item* lp_second = mp_second;
        if (lp_first == lp_item)
        {
            Clear();
            Set(OneMember, lp_second);
        }
        else if (lp_second == lp_item)
        {
            Clear();
            Set(OneMember, lp_first);
        }
        return;
    }
    case InArray:
    {
        const std::size_t l_size = ArraySize();
        ::Item** lp_begin = Members();
        ::Item** lp_at = std::lower_bound(lp_begin, lp_begin + l_size, lp_item, Before);
        if (lp_at == lp_begin + l_size || *lp_at != lp_item)
            return;
        if (l_size > g_arrayMost && lp_at != lp_begin + l_size - 1)
        {
            MakeTree(lp_begin, l_size, nullptr);
            GetTree()->erase(i_item);
            return;
        }
        std::memmove(lp_at, lp_at + 1, static_cast<std::size_t>(lp_begin + l_size - lp_at - 1) * sizeof(::Item*));
        if (--GetArray()->m_size == 2)
            MakePair(lp_begin[0], lp_begin[1]);
        return;
    }
    case InTree:
    {
        Tree* lp_tree = GetTree();
        lp_tree->erase(i_item);
        const std::size_t l_size = lp_tree->size();
        if (l_size > g_treeLeast)
            return;
        std::vector<::Item*> l_left;
        l_left.reserve(l_size);
        for (ItemPtr l_member : *lp_tree)
            l_left.push_back(l_member.Get());
        MakeArray(l_left.data(), l_size, g_treeLeast * 2);
        return;
    }
    }
}

void ItemSet::Clear()
{
    switch (GetKind())
    {
    case InArray:
        ::operator delete(GetArray());
        break;
    case InTree:
        delete GetTree();
        break;
    default:
        break;
    }
    m_word = 0;
    mp_second = nullptr;
}

ItemSet::operator ItemPtr() const
{
    switch (GetKind())
    {
    case NoMember:
        return ItemPtr();
    case InTree:
        return *GetTree()->begin();
    default:
        return ItemPtr(At(0));
    }
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
    if (m_kind == InTree)
        return *m_position;
    return ItemPtr(mp_set->At(m_index));
}

ItemSet::Iterator& ItemSet::Iterator::operator++()
{
    if (m_state == AtEnd)
        return *this;
    if (!Current())
    {
        m_state = AtEnd;
        return *this;
    }
    if (m_kind == InTree)
        ++m_position;
    else
        ++m_index;
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
    if (m_kind != InTree)
    {
        if (m_index >= mp_set->Size())
            m_state = AtEnd;
        else
            m_state = m_index == 0 ? AtFirst : AtTreePosition;
        return;
    }
    if (m_position == mp_set->GetTree()->end())
        m_state = AtEnd;
    else if (m_position == mp_set->GetTree()->begin())
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
    // A place in place or in an array has no tree position, a tree position no index.
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
    // Between a few items, each pair is looked up: a walked item may have thousands of
    // connections, as a folder has files, when one file of it is asked for.
    constexpr std::size_t l_few = 8;
    if (l_probed.Size() <= l_few)
    {
        for (ItemPtr l_w : l_walked)
            for (ItemPtr l_p : l_probed)
                if (l_w->IsConnected(l_p.Get()))
                    l_result.Insert(l_walkOther ? l_p : l_w);
        return l_result;
    }
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
qint64 NumericKey(std::string_view i_bytes)
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
