// The pool items are cut from: slots never overlap, come back for reuse, and a slab whose
// slots are all free again is cut afresh from its start, in order; past a few such slabs
// the memory goes back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <vector>

#include "store/ItemPool.h"

namespace
{
std::uintptr_t Address(const void* ip_slot)
{
    return reinterpret_cast<std::uintptr_t>(ip_slot);
}
} // namespace

TEST(ItemPool, SlotsAreDistinctReusedAndCutInOrderOnceTheirSlabIsEmpty)
{
    ItemPool l_pool(72);
    EXPECT_EQ(l_pool.SlotSize(), 80u) << "rounded up to 16 bytes";
    const std::size_t l_perSlab = ItemPool::SlabSize / l_pool.SlotSize() - 1;

    // Three slabs' worth: every slot aligned, none overlapping another, each holding what was
    // written to it.
    std::vector<void*> l_slots;
    for (std::size_t l_k = 0; l_k < 3 * l_perSlab; ++l_k)
    {
        l_slots.push_back(l_pool.Allocate());
        std::memset(l_slots.back(), static_cast<int>(l_k & 0xff), l_pool.SlotSize());
    }
    std::vector<std::uintptr_t> l_sorted;
    for (void* lp_slot : l_slots)
        l_sorted.push_back(Address(lp_slot));
    std::sort(l_sorted.begin(), l_sorted.end());
    for (std::size_t l_k = 0; l_k < l_sorted.size(); ++l_k)
    {
        EXPECT_EQ(l_sorted[l_k] % 16, 0u);
        if (l_k > 0)
        {
            EXPECT_GE(l_sorted[l_k] - l_sorted[l_k - 1], l_pool.SlotSize());
        }
    }
    for (std::size_t l_k = 0; l_k < l_slots.size(); ++l_k)
        EXPECT_EQ(static_cast<unsigned char*>(l_slots[l_k])[l_pool.SlotSize() - 1], l_k & 0xff);
    EXPECT_EQ(l_pool.SlotsInUse(), l_slots.size());
    EXPECT_GE(l_pool.SlabCount(), 3u);

    // Slots of one slab come out in ascending order.
    EXPECT_TRUE(std::is_sorted(l_slots.begin(), l_slots.begin() + static_cast<long>(l_perSlab / 2),
                               [](void* ip_a, void* ip_b) { return Address(ip_a) < Address(ip_b); }));

    // A slot freed in the slab slots come from is handed out again before new memory is
    // touched.
    void* lp_freed = l_slots.back();
    l_pool.Free(lp_freed);
    void* lp_again = l_pool.Allocate();
    EXPECT_EQ(lp_again, lp_freed);

    // Everything given back in a scrambled order: only a few empty slabs stay, and the next
    // slots come from one slab's start, in order, as the first ones did.
    std::shuffle(l_slots.begin(), l_slots.end(), std::mt19937(3));
    for (void* lp_slot : l_slots)
        ItemPool::FreeSlot(lp_slot);
    EXPECT_EQ(l_pool.SlotsInUse(), 0u);
    EXPECT_LE(l_pool.SlabCount(), ItemPool::KeptEmptySlabs + 1);
    std::vector<void*> l_next;
    for (int l_k = 0; l_k < 100; ++l_k)
        l_next.push_back(l_pool.Allocate());
    for (std::size_t l_k = 1; l_k < l_next.size(); ++l_k)
        EXPECT_EQ(Address(l_next[l_k]) - Address(l_next[l_k - 1]), l_pool.SlotSize());
    for (void* lp_slot : l_next)
        l_pool.Free(lp_slot);
}

// Pools of many sizes used at once, in a long mix of making and freeing: each slot keeps its
// bytes while in use and goes back to the pool that gave it.
TEST(ItemPool, ManyPoolsAndARandomMixKeepEverySlotApart)
{
    std::vector<std::unique_ptr<ItemPool>> l_pools;
    for (std::size_t l_size : {48, 64, 96, 256})
        l_pools.push_back(std::make_unique<ItemPool>(l_size));
    std::mt19937 l_random(11);
    std::map<void*, std::pair<ItemPool*, unsigned char>> l_live;
    for (int l_step = 0; l_step < 60000; ++l_step)
    {
        if (l_live.empty() || l_random() % 5 < 3)
        {
            ItemPool* lp_pool = l_pools[l_random() % l_pools.size()].get();
            void* lp_slot = lp_pool->Allocate();
            ASSERT_EQ(l_live.count(lp_slot), 0u);
            const unsigned char l_mark = static_cast<unsigned char>(l_random());
            std::memset(lp_slot, l_mark, lp_pool->SlotSize());
            l_live[lp_slot] = {lp_pool, l_mark};
            continue;
        }
        auto l_gone = l_live.begin();
        std::advance(l_gone, static_cast<long>(l_random() % l_live.size()));
        const auto [lp_pool, l_mark] = l_gone->second;
        const unsigned char* lp_bytes = static_cast<unsigned char*>(l_gone->first);
        ASSERT_TRUE(std::all_of(lp_bytes, lp_bytes + lp_pool->SlotSize(), [&](unsigned char i_byte) { return i_byte == l_mark; }));
        ItemPool::FreeSlot(l_gone->first);
        l_live.erase(l_gone);
    }
    std::size_t l_inUse = 0;
    for (const auto& lp_pool : l_pools)
        l_inUse += lp_pool->SlotsInUse();
    EXPECT_EQ(l_inUse, l_live.size());
    for (const auto& l_entry : l_live)
        ItemPool::FreeSlot(l_entry.first);
}
