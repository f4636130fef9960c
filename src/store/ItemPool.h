#pragma once

#include <cstddef>
#include <cstdint>

// Memory for objects of one size, cut from large aligned slabs: a slot costs no call to the
// general allocator, objects made one after another lie side by side, and the first touch of
// their memory goes a slab at a time. A slot's slab is found from its address. A slab whose
// slots are all free again is cut afresh from its start, so the next objects lie in order
// again, and beyond a few such slabs it goes back to the general allocator.
//
// Used from one thread only. In builds with the address sanitizer, free slots are poisoned.
class ItemPool
{
public:
    // Slabs are this large and aligned to it.
    static constexpr std::size_t SlabSize = std::size_t(1) << 18;
    // Empty slabs kept for the next slots; the others are given back.
    static constexpr std::size_t KeptEmptySlabs = 2;

    explicit ItemPool(std::size_t i_slotSize);
    // Gives back the slabs; any slot still in use dangles from then on.
    ~ItemPool();
    ItemPool(const ItemPool&) = delete;
    ItemPool& operator=(const ItemPool&) = delete;

    std::size_t SlotSize() const { return m_slotSize; }
    void* Allocate();
    // Only a slot that Allocate gave and that is not free already.
    void Free(void* ip_slot);
    // The same, through whichever pool gave the slot.
    static void FreeSlot(void* ip_slot);

    // Slots in use, and slabs held (in use or kept empty).
    std::size_t SlotsInUse() const { return m_inUse; }
    std::size_t SlabCount() const { return m_slabs; }

private:
    struct Slab;
    enum State : std::uint8_t
    {
        // The one slab slots are taken from.
        Current,
        // Has free slots and waits in the list of slabs to take them from.
        Partial,
        // Every slot in use.
        Full,
        // Every slot free, kept for later.
        Empty
    };

    static Slab* SlabOf(void* ip_slot);
    void Restart(Slab* ip_slab);
    void TakeNextSlab();
    void Link(Slab*& io_head, Slab* ip_slab);
    void Unlink(Slab*& io_head, Slab* ip_slab);
    void Release(Slab* ip_slab);

    std::size_t m_slotSize;
    Slab* mp_current = nullptr;
    Slab* mp_partial = nullptr;
    Slab* mp_full = nullptr;
    Slab* mp_empty = nullptr;
    std::size_t m_emptyCount = 0;
    std::size_t m_slabs = 0;
    std::size_t m_inUse = 0;
};
