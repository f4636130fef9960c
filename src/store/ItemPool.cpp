#include "store/ItemPool.h"

#include <cstdlib>
#include <initializer_list>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define TARNWICK_POISON(a, n) ASAN_POISON_MEMORY_REGION(a, n)
#define TARNWICK_UNPOISON(a, n) ASAN_UNPOISON_MEMORY_REGION(a, n)
#else
#define TARNWICK_POISON(a, n) ((void)(a), (void)(n))
#define TARNWICK_UNPOISON(a, n) ((void)(a), (void)(n))
#endif

// The head of a slab; its slots follow it.
struct ItemPool::Slab
{
    ItemPool* mp_pool;
    Slab* mp_previous;
    Slab* mp_next;
    // Slots given back, each holding the next one's address.
    void* mp_free;
    // Where the slots never handed out yet begin.
    char* mp_fresh;
    std::size_t m_inUse;
    State m_state;
};

namespace
{
constexpr std::size_t g_slotAlignment = 16;

std::size_t RoundUp(std::size_t i_size, std::size_t i_to)
{
    return (i_size + i_to - 1) / i_to * i_to;
}
} // namespace

ItemPool::ItemPool(std::size_t i_slotSize)
    : m_slotSize(RoundUp(i_slotSize < sizeof(void*) ? sizeof(void*) : i_slotSize, g_slotAlignment))
{
}

ItemPool::~ItemPool()
{
    for (Slab* lp_list : {mp_current, mp_partial, mp_full, mp_empty})
        while (lp_list)
        {
            Slab* lp_next = lp_list->m_state == Current ? nullptr : lp_list->mp_next;
            TARNWICK_UNPOISON(lp_list, SlabSize);
            std::free(lp_list);
            lp_list = lp_next;
        }
}

ItemPool::Slab* ItemPool::SlabOf(void* ip_slot)
{
    return reinterpret_cast<Slab*>(reinterpret_cast<std::uintptr_t>(ip_slot) & ~(SlabSize - 1));
}

void ItemPool::Restart(Slab* ip_slab)
{
    ip_slab->mp_free = nullptr;
    ip_slab->mp_fresh = reinterpret_cast<char*>(ip_slab) + RoundUp(sizeof(Slab), g_slotAlignment);
    TARNWICK_POISON(ip_slab->mp_fresh,
                    static_cast<std::size_t>(reinterpret_cast<char*>(ip_slab) + SlabSize - ip_slab->mp_fresh));
}

void ItemPool::Link(Slab*& io_head, Slab* ip_slab)
{
    ip_slab->mp_previous = nullptr;
    ip_slab->mp_next = io_head;
    if (io_head)
        io_head->mp_previous = ip_slab;
    io_head = ip_slab;
}

void ItemPool::Unlink(Slab*& io_head, Slab* ip_slab)
{
    if (ip_slab->mp_previous)
        ip_slab->mp_previous->mp_next = ip_slab->mp_next;
    else
        io_head = ip_slab->mp_next;
    if (ip_slab->mp_next)
        ip_slab->mp_next->mp_previous = ip_slab->mp_previous;
}

void ItemPool::Release(Slab* ip_slab)
{
    TARNWICK_UNPOISON(ip_slab, SlabSize);
    std::free(ip_slab);
    --m_slabs;
}

// The current slab is used up: slots come next from a slab with free ones, then from an empty
// one, then from a new one.
void ItemPool::TakeNextSlab()
{
    if (mp_current)
    {
        mp_current->m_state = Full;
        Link(mp_full, mp_current);
    }
    Slab* lp_next = mp_partial;
    if (lp_next)
        Unlink(mp_partial, lp_next);
    else if ((lp_next = mp_empty))
    {
        Unlink(mp_empty, lp_next);
        --m_emptyCount;
    }
    else
    {
        lp_next = static_cast<Slab*>(std::aligned_alloc(SlabSize, SlabSize));
        if (!lp_next)
            throw std::bad_alloc();
        ++m_slabs;
        lp_next->mp_pool = this;
        lp_next->m_inUse = 0;
        Restart(lp_next);
    }
    lp_next->mp_previous = lp_next->mp_next = nullptr;
    lp_next->m_state = Current;
    mp_current = lp_next;
}

void* ItemPool::Allocate()
{
    for (;;)
    {
        if (Slab* lp_slab = mp_current)
        {
            void* lp_slot = lp_slab->mp_free;
            if (lp_slot)
            {
                TARNWICK_UNPOISON(lp_slot, m_slotSize);
                lp_slab->mp_free = *static_cast<void**>(lp_slot);
            }
            else if (static_cast<std::size_t>(reinterpret_cast<char*>(lp_slab) + SlabSize - lp_slab->mp_fresh) >= m_slotSize)
            {
                lp_slot = lp_slab->mp_fresh;
                lp_slab->mp_fresh += m_slotSize;
                TARNWICK_UNPOISON(lp_slot, m_slotSize);
            }
            if (lp_slot)
            {
                ++lp_slab->m_inUse;
                ++m_inUse;
                return lp_slot;
            }
        }
        TakeNextSlab();
    }
}

void ItemPool::FreeSlot(void* ip_slot)
{
    SlabOf(ip_slot)->mp_pool->Free(ip_slot);
}

void ItemPool::Free(void* ip_slot)
{
    Slab* lp_slab = SlabOf(ip_slot);
    --m_inUse;
    if (--lp_slab->m_inUse == 0)
    {
        // All of it is free: the next slots come from its start again.
        Restart(lp_slab);
        switch (lp_slab->m_state)
        {
        case Current:
            return;
        case Partial:
            Unlink(mp_partial, lp_slab);
            break;
        case Full:
            Unlink(mp_full, lp_slab);
            break;
        case Empty:
            break;
        }
        if (m_emptyCount >= KeptEmptySlabs)
        {
            Release(lp_slab);
            return;
        }
        lp_slab->m_state = Empty;
        Link(mp_empty, lp_slab);
        ++m_emptyCount;
        return;
    }
    *static_cast<void**>(ip_slot) = lp_slab->mp_free;
    lp_slab->mp_free = ip_slot;
    TARNWICK_POISON(ip_slot, m_slotSize);
    if (lp_slab->m_state == Full)
    {
        Unlink(mp_full, lp_slab);
        lp_slab->m_state = Partial;
        Link(mp_partial, lp_slab);
    }
}
