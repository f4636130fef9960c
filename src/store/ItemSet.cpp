#include "store/ItemSet.h"

#include <algorithm>
#include <cstring>

#include "store/Data.h"
#include "store/ItemWalk.h"

ItemSet::ItemSet(const ItemSet& other)
    : m_inline(other.m_inline), m_tree(other.m_tree ? new Tree(*other.m_tree) : nullptr)
{
}

ItemSet::ItemSet(ItemSet&& other) noexcept : m_inline(other.m_inline), m_tree(other.m_tree)
{
    other.m_inline = nullptr;
    other.m_tree = nullptr;
}

ItemSet& ItemSet::operator=(const ItemSet& other)
{
    if (this != &other)
    {
        Tree* tree = other.m_tree ? new Tree(*other.m_tree) : nullptr;
        delete m_tree;
        m_tree = tree;
        m_inline = other.m_inline;
    }
    return *this;
}

ItemSet& ItemSet::operator=(ItemSet&& other) noexcept
{
    if (this != &other)
    {
        delete m_tree;
        m_tree = other.m_tree;
        m_inline = other.m_inline;
        other.m_tree = nullptr;
        other.m_inline = nullptr;
    }
    return *this;
}

ItemSet::Iterator ItemSet::Begin() const
{
    if (m_tree)
        return Iterator(this, Iterator::AtFirst, m_tree->begin());
    if (m_inline)
        return Iterator(this, Iterator::AtFirst, Tree::const_iterator());
    return End();
}

ItemSet::Iterator ItemSet::Find(ItemPtr item) const
{
    if (!item)
        return End();
    if (m_tree)
    {
        auto position = m_tree->find(item);
        if (position == m_tree->end())
            return End();
        Iterator it(this, Iterator::AtTreePosition, position);
        it.Normalize();
        return it;
    }
    if (m_inline == item.Get())
        return Begin();
    return End();
}

bool ItemSet::Contains(ItemPtr item) const
{
    if (!item)
        return false;
    if (m_tree)
        return m_tree->count(item) != 0;
    return m_inline == item.Get();
}

void ItemSet::Insert(ItemPtr item)
{
    if (!item)
        return;
    if (m_tree)
    {
        m_tree->insert(item);
        return;
    }
    if (!m_inline)
    {
        m_inline = item.Get();
        return;
    }
    if (m_inline == item.Get())
        return;
    m_tree = new Tree{ItemPtr(m_inline), item};
    m_inline = nullptr;
}

void ItemSet::Erase(ItemPtr item)
{
    if (!item)
        return;
    if (m_tree)
    {
        m_tree->erase(item);
        if (m_tree->size() == 1)
        {
            m_inline = m_tree->begin()->Get();
            delete m_tree;
            m_tree = nullptr;
        }
        return;
    }
    if (m_inline == item.Get())
        m_inline = nullptr;
}

void ItemSet::Clear()
{
    delete m_tree;
    m_tree = nullptr;
    m_inline = nullptr;
}

ItemSet::operator ItemPtr() const
{
    if (m_tree)
        return *m_tree->begin();
    return ItemPtr(m_inline);
}

bool operator==(const ItemSet& a, const ItemSet& b)
{
    if (a.Size() != b.Size())
        return false;
    if (a.m_tree)
        return *a.m_tree == *b.m_tree;
    return a.m_inline == b.m_inline;
}

ItemPtr ItemSet::Iterator::Item() const
{
    if (!m_set || m_state == AtEnd)
        return ItemPtr();
    if (m_set->m_tree)
        return *m_position;
    return ItemPtr(m_set->m_inline);
}

ItemSet::Iterator& ItemSet::Iterator::operator++()
{
    if (!m_set || m_state == AtEnd)
        return *this;
    if (!m_set->m_tree)
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
    Iterator before = *this;
    ++*this;
    return before;
}

void ItemSet::Iterator::Normalize()
{
    if (!m_set || !m_set->m_tree)
        return;
    if (m_position == m_set->m_tree->end())
        m_state = AtEnd;
    else if (m_position == m_set->m_tree->begin())
        m_state = AtFirst;
    else
        m_state = AtTreePosition;
}

bool operator==(const ItemSet::Iterator& a, const ItemSet::Iterator& b)
{
    if (a.m_set != b.m_set || a.m_state != b.m_state)
        return false;
    return a.m_state != ItemSet::Iterator::AtTreePosition || a.m_position == b.m_position;
}

// ---- Algebra over connections ----

namespace
{
// Whether any item connected to `item`, of any type, is in `set`.
bool TouchesSet(const Item* item, const ItemSet& set)
{
    const TypeItemsMap& connections = item->Connections();
    for (auto type = connections.Begin(); type != connections.End(); ++type)
        for (ItemPtr connected : *type.Set())
            if (set.Contains(connected))
                return true;
    return false;
}
} // namespace

void ItemSet::Add(const ItemSet& other)
{
    for (ItemPtr item : other)
        Insert(item);
}

ItemSet ItemSet::operator+(const ItemSet& other) const
{
    ItemSet result(*this);
    result.Add(other);
    return result;
}

ItemSet ItemSet::Common(const ItemSet& other) const
{
    ItemSet result;
    Iterator a = Begin();
    Iterator b = other.Begin();
    const Iterator aEnd = End();
    const Iterator bEnd = other.End();
    while (a != aEnd && b != bEnd)
    {
        ItemPtr x = *a;
        ItemPtr y = *b;
        if (x < y)
            ++a;
        else if (y < x)
            ++b;
        else
        {
            result.Insert(x);
            ++a;
            ++b;
        }
    }
    return result;
}

ItemSet ItemSet::Connected(const ItemSet& other) const
{
    ItemSet result;
    // Walk the smaller set and probe the larger one.
    const bool walkOther = other.Size() <= Size();
    const ItemSet& walked = walkOther ? other : *this;
    const ItemSet& probed = walkOther ? *this : other;
    for (ItemPtr w : walked)
    {
        const TypeItemsMap& connections = w->Connections();
        for (auto type = connections.Begin(); type != connections.End(); ++type)
            for (ItemPtr c : *type.Set())
                if (probed.Contains(c))
                    result.Insert(walkOther ? c : w);
    }
    return result;
}

ItemSet ItemSet::Connected(ItemPtr item) const
{
    if (!item)
        return ItemSet();
    return Connected(ItemSet(item));
}

ItemSet ItemSet::Connected(const char* typeName) const
{
    Type* type = d.GetType(typeName);
    ItemSet result;
    for (ItemPtr member : *this)
        if (member->IsConnected(type))
            result.Insert(member);
    return result;
}

ItemSet ItemSet::Connected(const char* typeName, const Value& value) const
{
    ItemPtr item = d.GetType(typeName)->HasItem(value);
    if (!item)
        return ItemSet();
    return Connected(item);
}

ItemSet ItemSet::NotConnected(const ItemSet& other) const
{
    ItemSet result;
    for (ItemPtr member : *this)
        if (!TouchesSet(member.Get(), other))
            result.Insert(member);
    return result;
}

ItemSet ItemSet::NotConnected(ItemPtr item) const
{
    if (!item)
        return *this;
    return NotConnected(ItemSet(item));
}

ItemSet ItemSet::NotConnected(const char* typeName) const
{
    Type* type = d.GetType(typeName);
    ItemSet result;
    for (ItemPtr member : *this)
        if (!member->IsConnected(type))
            result.Insert(member);
    return result;
}

ItemSet ItemSet::NotConnected(const char* typeName, const Value& value) const
{
    ItemPtr item = d.GetType(typeName)->HasItem(value);
    if (!item)
        return *this;
    return NotConnected(item);
}

ItemSet ItemSet::GetItems(const char* typeName) const
{
    return GetItems(d.GetType(typeName));
}

ItemSet ItemSet::GetItems(Type* type) const
{
    ItemSet result;
    for (ItemPtr member : *this)
    {
        member->GetType()->GetRelation(type);
        if (const ItemSet* connected = member->Connections().FindSet(type))
            result.Add(*connected);
    }
    return result;
}

void ItemSet::Disconnect(const char* ip_typeName) const
{
    ItemWalk(*this).Run([ip_typeName](Item* ip_member) { ip_member->Disconnect(ip_typeName); });
}

// ---- Sorts ----

namespace
{
qint64 NumericKey(const std::string& bytes)
{
    const std::size_t length = strnlen(bytes.data(), bytes.size());
    bool ok = false;
    const qint64 key = QString::fromLatin1(bytes.data(), static_cast<int>(length)).toLongLong(&ok);
    return ok ? key : 0;
}

template <class Key, class KeyOf>
std::vector<ItemPtr> SortBy(const ItemSet& set, Type* keyType, bool ascending, KeyOf keyOf)
{
    std::vector<std::pair<Key, ItemPtr>> keyed;
    keyed.reserve(set.Size());
    for (ItemPtr member : set)
    {
        const Item* keyItem = keyType ? member->FirstOf(keyType) : member.Get();
        if (!keyItem)
            continue;
        keyed.emplace_back(keyOf(keyItem->GetValue().Bytes()), member);
    }
    // The set is walked in identity order, so a stable sort keeps each group in that order.
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<ItemPtr> result;
    result.reserve(keyed.size());
    for (auto& entry : keyed)
        result.push_back(entry.second);
    if (!ascending)
        std::reverse(result.begin(), result.end());
    return result;
}
} // namespace

std::vector<ItemPtr> ItemSet::SortNumeric(bool ascending) const
{
    return SortBy<qint64>(*this, nullptr, ascending, NumericKey);
}

std::vector<ItemPtr> ItemSet::SortAlphabetic(bool ascending) const
{
    return SortBy<QString>(*this, nullptr, ascending, ToQString);
}

std::vector<ItemPtr> ItemSet::SortNumericBy(const char* typeName, bool ascending) const
{
    return SortBy<qint64>(*this, d.GetType(typeName), ascending, NumericKey);
}

std::vector<ItemPtr> ItemSet::SortAlphabeticBy(const char* typeName, bool ascending) const
{
    return SortBy<QString>(*this, d.GetType(typeName), ascending, ToQString);
}

void ItemSet::Remove() const
{
    ItemWalk(*this).Run([](Item* ip_member) { ip_member->Remove(); });
}
