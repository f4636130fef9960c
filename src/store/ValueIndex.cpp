#include "store/ValueIndex.h"

#include <QRandomGenerator>
#include <QtEndian>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

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

#if defined(__x86_64__) && defined(__GNUC__)
#define TARNWICK_SIPHASH_LANES
// The same SipHash-1-3 for eight values at once, one in each 64-bit lane of a 512-bit register:
// a lane whose value has no more whole words keeps its state while the others go on, and every
// lane ends with its last word and the finishing rounds together.
constexpr std::size_t g_lanes = 8;

bool WideHashing()
{
    static const bool s_wide = __builtin_cpu_supports("avx512f");
    return s_wide;
}

// A rotation of every lane; the unmasked intrinsic trips the compiler's uninitialised-value
// warning with its undefined pass-through.
template <int Bits>
__attribute__((target("avx512f"))) inline __m512i RotateLanes(__m512i i_x)
{
    return _mm512_maskz_rol_epi64(static_cast<__mmask8>(0xff), i_x, Bits);
}

struct SipLanes
{
    __m512i v0, v1, v2, v3;

    __attribute__((target("avx512f"))) void Round()
    {
        v0 = _mm512_add_epi64(v0, v1);
        v1 = RotateLanes<13>(v1);
        v1 = _mm512_xor_si512(v1, v0);
        v0 = RotateLanes<32>(v0);
        v2 = _mm512_add_epi64(v2, v3);
        v3 = RotateLanes<16>(v3);
        v3 = _mm512_xor_si512(v3, v2);
        v0 = _mm512_add_epi64(v0, v3);
        v3 = RotateLanes<21>(v3);
        v3 = _mm512_xor_si512(v3, v0);
        v2 = _mm512_add_epi64(v2, v1);
        v1 = RotateLanes<17>(v1);
        v1 = _mm512_xor_si512(v1, v2);
        v2 = RotateLanes<32>(v2);
    }
};

__attribute__((target("avx512f"))) void SipHash13Lanes(const std::string_view* ip_values,
                                                         std::uint64_t* op_hashes,
                                                         const HashKey& i_key)
{
    alignas(64) std::uint64_t l_words[g_lanes];
    alignas(64) std::uint64_t l_addresses[g_lanes];
    alignas(64) std::uint64_t l_last[g_lanes];
    std::uint64_t l_most = 0;
    for (std::size_t l_lane = 0; l_lane < g_lanes; ++l_lane)
    {
        const std::string_view l_value = ip_values[l_lane];
        const std::size_t l_whole = l_value.size() / 8;
        l_words[l_lane] = l_whole;
        l_addresses[l_lane] = reinterpret_cast<std::uintptr_t>(l_value.data());
        l_most = l_whole > l_most ? l_whole : l_most;
        std::uint64_t l_tail = static_cast<std::uint64_t>(l_value.size()) << 56;
        const unsigned char* lp_tail = reinterpret_cast<const unsigned char*>(l_value.data()) + 8 * l_whole;
        for (std::size_t l_k = 0; l_k < (l_value.size() & 7); ++l_k)
            l_tail |= static_cast<std::uint64_t>(lp_tail[l_k]) << (8 * l_k);
        l_last[l_lane] = l_tail;
    }
    SipLanes l_s{_mm512_set1_epi64(static_cast<long long>(0x736f6d6570736575ULL ^ i_key.m_k0)),
                 _mm512_set1_epi64(static_cast<long long>(0x646f72616e646f6dULL ^ i_key.m_k1)),
                 _mm512_set1_epi64(static_cast<long long>(0x6c7967656e657261ULL ^ i_key.m_k0)),
                 _mm512_set1_epi64(static_cast<long long>(0x7465646279746573ULL ^ i_key.m_k1))};
    const __m512i l_wordCounts = _mm512_load_si512(l_words);
    __m512i l_at = _mm512_load_si512(l_addresses);
    const __m512i l_step = _mm512_set1_epi64(8);
    for (std::uint64_t l_word = 0; l_word < l_most; ++l_word)
    {
        const __mmask8 l_going =
            _mm512_cmpgt_epu64_mask(l_wordCounts, _mm512_set1_epi64(static_cast<long long>(l_word)));
        // Each lane reads its next word where its value lies; a lane that is done reads nothing.
        const __m512i l_m =
            _mm512_mask_i64gather_epi64(_mm512_setzero_si512(), l_going, l_at, nullptr, 1);
        l_at = _mm512_add_epi64(l_at, l_step);
        SipLanes l_next = l_s;
        l_next.v3 = _mm512_xor_si512(l_next.v3, l_m);
        l_next.Round();
        l_next.v0 = _mm512_xor_si512(l_next.v0, l_m);
        l_s.v0 = _mm512_mask_mov_epi64(l_s.v0, l_going, l_next.v0);
        l_s.v1 = _mm512_mask_mov_epi64(l_s.v1, l_going, l_next.v1);
        l_s.v2 = _mm512_mask_mov_epi64(l_s.v2, l_going, l_next.v2);
        l_s.v3 = _mm512_mask_mov_epi64(l_s.v3, l_going, l_next.v3);
    }
    const __m512i l_b = _mm512_load_si512(l_last);
    l_s.v3 = _mm512_xor_si512(l_s.v3, l_b);
    l_s.Round();
    l_s.v0 = _mm512_xor_si512(l_s.v0, l_b);
    l_s.v2 = _mm512_xor_si512(l_s.v2, _mm512_set1_epi64(0xff));
    l_s.Round();
    l_s.Round();
    l_s.Round();
    const __m512i l_hash =
        _mm512_xor_si512(_mm512_xor_si512(l_s.v0, l_s.v1), _mm512_xor_si512(l_s.v2, l_s.v3));
    _mm512_storeu_si512(op_hashes, l_hash);
}
#endif
} // namespace

ValueIndex::~ValueIndex()
{
    std::free(mp_slots);
}

std::uint64_t ValueIndex::Hash(std::string_view i_bytes)
{
    return SipHash13(reinterpret_cast<const unsigned char*>(i_bytes.data()), i_bytes.size(), Key());
}

void ValueIndex::HashAll(const std::string_view* ip_values, std::size_t i_count,
                         std::uint64_t* op_hashes)
{
    std::size_t l_done = 0;
#ifdef TARNWICK_SIPHASH_LANES
    if (WideHashing())
        for (; l_done + g_lanes <= i_count; l_done += g_lanes)
            SipHash13Lanes(ip_values + l_done, op_hashes + l_done, Key());
#endif
    for (; l_done < i_count; ++l_done)
        op_hashes[l_done] = Hash(ip_values[l_done]);
}

ValueIndex::Probe ValueIndex::LookFor(std::string_view i_bytes, std::uint64_t i_hash) const
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

Item* ValueIndex::Find(std::string_view i_bytes) const
{
    if (m_size == 0)
        return nullptr;
    return LookFor(i_bytes, Hash(i_bytes)).mp_found;
}

ValueIndex::Probe ValueIndex::Look(std::string_view i_bytes)
{
    return Look(i_bytes, Hash(i_bytes));
}

ValueIndex::Probe ValueIndex::Look(std::string_view i_bytes, std::uint64_t i_hash)
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

void ValueIndex::InsertAll(Item** io_items, const std::uint64_t* ip_hashes, std::size_t i_count)
{
    Reserve(m_size + i_count);
    const std::size_t l_mask = m_capacity - 1;
    // The items by the part of the table their home slot lies in, in one pass over them that
    // fills a few hundred lists side by side; within a part they keep the list's order, so that
    // of two items of one value, which share their home, the earlier one is taken in first.
    struct Entry
    {
        std::uint64_t m_hash;
        Item* mp_item;
    };
    const int l_homeBits = __builtin_ctzll(m_capacity);
    constexpr int l_partBits = 9;
    const int l_shift = l_homeBits > l_partBits ? l_homeBits - l_partBits : 0;
    const std::size_t l_parts = m_capacity >> l_shift;
    std::vector<std::size_t> l_starts(l_parts + 1);
    // Each filled by the pass that places it, so left uninitialised until then.
    const std::unique_ptr<Entry[]> l_entries(new Entry[i_count]);
    for (std::size_t l_k = 0; l_k < i_count; ++l_k)
        ++l_starts[((ip_hashes[l_k] & l_mask) >> l_shift) + 1];
    for (std::size_t l_part = 1; l_part <= l_parts; ++l_part)
        l_starts[l_part] += l_starts[l_part - 1];
    for (std::size_t l_k = 0; l_k < i_count; ++l_k)
        l_entries[l_starts[(ip_hashes[l_k] & l_mask) >> l_shift]++] = Entry{ip_hashes[l_k], io_items[l_k]};

    // A part of the table is small enough to be walked with every page at hand; its slots are
    // still asked for a few items ahead.
    constexpr std::size_t l_ahead = 8;
    std::size_t l_leftOut = 0;
    for (std::size_t l_k = 0; l_k < i_count; ++l_k)
    {
        if (l_k + l_ahead < i_count)
            __builtin_prefetch(&mp_slots[l_entries[l_k + l_ahead].m_hash & l_mask], 1);
        const Entry& l_entry = l_entries[l_k];
        // The probe of LookFor, written out: it reads the new item's bytes only when the hashes
        // match, which going through LookFor would do for every item (a fifth slower to load).
        for (std::size_t l_slot = l_entry.m_hash & l_mask;; l_slot = (l_slot + 1) & l_mask)
        {
            const Slot& l_at = mp_slots[l_slot];
            if (!l_at.mp_item)
            {
                mp_slots[l_slot] = Slot{l_entry.m_hash, l_entry.mp_item};
                ++m_size;
                break;
            }
            if (l_at.m_hash == l_entry.m_hash &&
                l_at.mp_item->GetValue().Bytes() == l_entry.mp_item->GetValue().Bytes())
            {
                ++l_leftOut;
                break;
            }
        }
    }
    // Rare: the list's places of the items left out get the indexed ones.
    if (l_leftOut > 0)
        for (std::size_t l_k = 0; l_k < i_count; ++l_k)
            io_items[l_k] = LookFor(io_items[l_k]->GetValue().Bytes(), ip_hashes[l_k]).mp_found;
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
