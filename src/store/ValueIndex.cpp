#include "store/ValueIndex.h"

#include <QRandomGenerator>
#include <QtEndian>

#include <cstdlib>
#include <cstring>
#include <new>

#include "store/Item.h"

namespace
{
// The table grows past half full and gives memory back below one sixteenth.
constexpr std::size_t g_smallest = 8;

struct HashKey
{
    std::uint64_t m_k0;
    std::uint64_t m_k1;
};

const HashKey& Key()
{
    static const HashKey s_key{QRandomGenerator::system()->generate64(),
                               QRandomGenerator::system()->generate64()};
    return s_key;
}

inline std::uint64_t Rotate(std::uint64_t i_x, int i_bits)
{
    return (i_x << i_bits) | (i_x >> (64 - i_bits));
}

struct SipState
{
    std::uint64_t v0, v1, v2, v3;

    void Round()
    {
        v0 += v1;
        v1 = Rotate(v1, 13);
        v1 ^= v0;
        v0 = Rotate(v0, 32);
        v2 += v3;
        v3 = Rotate(v3, 16);
        v3 ^= v2;
        v0 += v3;
        v3 = Rotate(v3, 21);
        v3 ^= v0;
        v2 += v1;
        v1 = Rotate(v1, 17);
        v1 ^= v2;
        v2 = Rotate(v2, 32);
    }
};

// SipHash-1-3: quick on short values, and without the key nobody can make values collide.
std::uint64_t SipHash13(const unsigned char* ip_bytes, std::size_t i_length, const HashKey& i_key)
{
    SipState l_s{0x736f6d6570736575ULL ^ i_key.m_k0, 0x646f72616e646f6dULL ^ i_key.m_k1,
                 0x6c7967656e657261ULL ^ i_key.m_k0, 0x7465646279746573ULL ^ i_key.m_k1};
    const unsigned char* lp_end = ip_bytes + (i_length & ~std::size_t(7));
    for (; ip_bytes != lp_end; ip_bytes += 8)
    {
        const std::uint64_t l_word = qFromLittleEndian<quint64>(ip_bytes);
        l_s.v3 ^= l_word;
        l_s.Round();
        l_s.v0 ^= l_word;
    }
    std::uint64_t l_last = static_cast<std::uint64_t>(i_length) << 56;
    for (std::size_t l_k = 0; l_k < (i_length & 7); ++l_k)
        l_last |= static_cast<std::uint64_t>(ip_bytes[l_k]) << (8 * l_k);
    l_s.v3 ^= l_last;
    l_s.Round();
    l_s.v0 ^= l_last;
    l_s.v2 ^= 0xff;
    l_s.Round();
    l_s.Round();
    l_s.Round();
    return l_s.v0 ^ l_s.v1 ^ l_s.v2 ^ l_s.v3;
}
} // namespace

ValueIndex::~ValueIndex()
{
    std::free(mp_slots);
}

std::uint64_t ValueIndex::Hash(const std::string& i_bytes)
{
    return SipHash13(reinterpret_cast<const unsigned char*>(i_bytes.data()), i_bytes.size(), Key());
}

ValueIndex::Probe ValueIndex::LookFor(const std::string& i_bytes, std::uint64_t i_hash) const
{
    Probe l_probe;
    l_probe.m_hash = i_hash;
    const std::size_t l_mask = m_capacity - 1;
    for (std::size_t l_slot = i_hash & l_mask;; l_slot = (l_slot + 1) & l_mask)
    {
        const Slot& l_at = mp_slots[l_slot];
        if (!l_at.mp_item)
        {
            l_probe.m_slot = l_slot;
            return l_probe;
        }
        if (l_at.m_hash == i_hash && l_at.mp_item->GetValue().Bytes() == i_bytes)
        {
            l_probe.mp_found = l_at.mp_item;
            l_probe.m_slot = l_slot;
            return l_probe;
        }
    }
}

Item* ValueIndex::Find(const std::string& i_bytes) const
{
    if (m_size == 0)
        return nullptr;
    return LookFor(i_bytes, Hash(i_bytes)).mp_found;
}

ValueIndex::Probe ValueIndex::Look(const std::string& i_bytes)
{
    return Look(i_bytes, Hash(i_bytes));
}

ValueIndex::Probe ValueIndex::Look(const std::string& i_bytes, std::uint64_t i_hash)
{
    Reserve(m_size + 1);
    return LookFor(i_bytes, i_hash);
}

void ValueIndex::Prefetch(std::uint64_t i_hash) const
{
    if (m_capacity)
        __builtin_prefetch(&mp_slots[i_hash & (m_capacity - 1)]);
}

void ValueIndex::InsertAt(const Probe& i_probe, Item* ip_item)
{
    mp_slots[i_probe.m_slot] = Slot{i_probe.m_hash, ip_item};
    ++m_size;
}

bool ValueIndex::Erase(const Item* ip_item)
{
    if (m_size == 0)
        return false;
    const std::size_t l_mask = m_capacity - 1;
    const std::uint64_t l_hash = Hash(ip_item->GetValue().Bytes());
    std::size_t l_slot = l_hash & l_mask;
    while (mp_slots[l_slot].mp_item != ip_item)
    {
        if (!mp_slots[l_slot].mp_item)
            return false;
        l_slot = (l_slot + 1) & l_mask;
    }
    // Close the gap: every later item of the run that may live here moves back, so that no
    // look-up stops early at an empty slot.
    std::size_t l_gap = l_slot;
    for (std::size_t l_next = (l_gap + 1) & l_mask; mp_slots[l_next].mp_item;
         l_next = (l_next + 1) & l_mask)
    {
        const std::size_t l_home = mp_slots[l_next].m_hash & l_mask;
        // Movable when its home is not within (gap, next], walking round the table.
        const bool l_movable = l_gap <= l_next ? (l_home <= l_gap || l_home > l_next)
                                               : (l_home <= l_gap && l_home > l_next);
        if (l_movable)
        {
            mp_slots[l_gap] = mp_slots[l_next];
            l_gap = l_next;
        }
    }
    mp_slots[l_gap].mp_item = nullptr;
    --m_size;
    if (m_capacity > g_smallest && m_size * 16 < m_capacity)
        Rehash(m_capacity / 4 > g_smallest ? m_capacity / 4 : g_smallest);
    return true;
}

void ValueIndex::Reserve(std::size_t i_items)
{
    if (i_items * 2 <= m_capacity)
        return;
    std::size_t l_capacity = m_capacity ? m_capacity : g_smallest;
    while (i_items * 2 > l_capacity)
        l_capacity *= 2;
    Rehash(l_capacity);
}

void ValueIndex::Rehash(std::size_t i_capacity)
{
    Slot* lp_slots = static_cast<Slot*>(std::calloc(i_capacity, sizeof(Slot)));
    if (!lp_slots)
        throw std::bad_alloc();
    const std::size_t l_mask = i_capacity - 1;
    for (std::size_t l_old = 0; l_old < m_capacity; ++l_old)
    {
        const Slot& l_moved = mp_slots[l_old];
        if (!l_moved.mp_item)
            continue;
        std::size_t l_slot = l_moved.m_hash & l_mask;
        while (lp_slots[l_slot].mp_item)
            l_slot = (l_slot + 1) & l_mask;
        lp_slots[l_slot] = l_moved;
    }
    std::free(mp_slots);
    mp_slots = lp_slots;
    m_capacity = i_capacity;
}

void ValueIndex::Clear()
{
    std::free(mp_slots);
    mp_slots = nullptr;
    m_capacity = 0;
    m_size = 0;
}

std::vector<Item*> ValueIndex::Items() const
{
    std::vector<Item*> l_items;
    l_items.reserve(m_size);
    ForEach([&l_items](Item* ip_item) { l_items.push_back(ip_item); });
    return l_items;
}
