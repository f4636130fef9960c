#include "store/ItemSet.h"

#include <algorithm>
#include <cstring>

#include "store/Data.h"
#include "store/ItemWalk.h"

ItemSet::ItemSet(const ItemSet& i_other)
    : mp_inline(i_other.mp_inline), mp_tree(i_other.mp_tree ? new Tree(*i_other.mp_tree) : nullptr)
{
}

ItemSet::ItemSet(ItemSet&& i_other) noexcept
    : mp_inline(i_other.mp_inline), mp_tree(i_other.mp_tree)
{
    i_other.mp_inline = nullptr;
    i_other.mp_tree = nullptr;
}

ItemSet& ItemSet::operator=(const ItemSet& i_other)
{
    if (this != &i_other)
    {
        Tree* lp_tree = i_other.mp_tree ? new Tree(*i_other.mp_tree) : nullptr;
        delete mp_tree;
        mp_tree = lp_tree;
        mp_inline = i_other.mp_inline;
    }
    return *this;
}

ItemSet& ItemSet::operator=(ItemSet&& i_other) noexcept
{
    if (this != &i_other)
    {
        delete mp_tree;
        mp_tree = i_other.mp_tree;
        mp_inline = i_other.mp_inline;
        i_other.mp_tree = nullptr;
        i_other.mp_inline = nullptr;
    }
    return *this;
}

ItemSet::Iterator ItemSet::Begin() const
{
    if (mp_tree)
        return Iterator(this, Iterator::AtFirst, mp_tree->begin());
    if (mp_inline)
        return Iterator(this, Iterator::AtFirst, Tree::const_iterator());
    return End();
}

ItemSet::Iterator ItemSet::Find(ItemPtr i_item) const
{
    if (!i_item)
        return End();
    if (mp_tree)
    {
        auto l_position = mp_tree->find(i_item);
        if (l_position == mp_tree->end())
            return End();
        Iterator l_it(this, Iterator::AtTreePosition, l_position);
        l_it.Normalize();
        return l_it;
    }
    if (mp_inline == i_item.Get())
        return Begin();
    return End();
}

bool ItemSet::Contains(ItemPtr i_item) const
{
    if (!i_item)
        return false;
    if (mp_tree)
        return mp_tree->count(i_item) != 0;
    return mp_inline == i_item.Get();
}

void ItemSet::Insert(ItemPtr i_item)
{
    if (!i_item)
        return;
    if (mp_tree)
    {
        // Items made one after the other mostly come in ascending order: an item above every
        // member goes in at the end without a walk down the tree.
        mp_tree->insert(mp_tree->end(), i_item);
        return;
    }
    if (!mp_inline)
    {
        mp_inline = i_item.Get();
        return;
    }
    if (mp_inline == i_item.Get())
        return;
    mp_tree = new Tree{ItemPtr(mp_inline), i_item};
    mp_inline = nullptr;
}

void ItemSet::Erase(ItemPtr i_item)
{
    if (!i_item)
        return;
    if (mp_tree)
    {
        mp_tree->erase(i_item);
        if (mp_tree->size() == 1)
        {
            mp_inline = mp_tree->begin()->Get();
            delete mp_tree;
            mp_tree = nullptr;
        }
        return;
    }
    if (mp_inline == i_item.Get())
        mp_inline = nullptr;
}

void ItemSet::Clear()
{
    delete mp_tree;
    mp_tree = nullptr;
    mp_inline = nullptr;
}

ItemSet::operator ItemPtr() const
{
    if (mp_tree)
        return *mp_tree->begin();
    return ItemPtr(mp_inline);
}

bool operator==(const ItemSet& i_a, const ItemSet& i_b)
{
    if (i_a.Size() != i_b.Size())
        return false;
    if (i_a.mp_tree)
        return *i_a.mp_tree == *i_b.mp_tree;
    return i_a.mp_inline == i_b.mp_inline;
}

ItemPtr ItemSet::Iterator::Item() const
{
    if (!mp_set || m_state == AtEnd)
        return ItemPtr();
    if (mp_set->mp_tree)
        return *m_position;
    return ItemPtr(mp_set->mp_inline);
}

ItemSet::Iterator& ItemSet::Iterator::operator++()
{
    if (!mp_set || m_state == AtEnd)
        return *this;
    if (!mp_set->mp_tree)
    {
        m_state = AtEnd;
        return *this;
    }
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
    if (!mp_set || !mp_set->mp_tree)
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
    return i_a.m_state != ItemSet::Iterator::AtTreePosition || i_a.m_position == i_b.m_position;
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
