#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class Item;

// Finds the items of a valued type by their value. An open-addressing table of item pointers,
// each slot keeping the hash of its item's value, so that a look-up reads one value at most and
// growing never reads any. The hash is keyed afresh in every process: values come from other
// users, and nobody must be able to pick values that all land in one place.
//
// Its order is no order at all: whoever needs the items in some order sorts them.
class ValueIndex
{
public:
    // Where a value is, or where it would go.
    struct Probe
    {
        Item* mp_found = nullptr;
        std::size_t m_slot = 0;
        std::uint64_t m_hash = 0;
    };

    ValueIndex() = default;
    ~ValueIndex();
    ValueIndex(const ValueIndex&) = delete;
    ValueIndex& operator=(const ValueIndex&) = delete;

    std::size_t Size() const { return m_size; }
    bool Empty() const { return m_size == 0; }

    static std::uint64_t Hash(std::string_view i_bytes);
    // Hash for each of that many values, in one go: the same numbers, sooner.
    static void HashAll(const std::string_view* ip_values, std::size_t i_count,
                        std::uint64_t* op_hashes);

    Item* Find(std::string_view i_bytes) const;
    // Makes room for one more item first, so that the probe's slot takes it. The hash is the
    // bytes' own, when it is known already.
    Probe Look(std::string_view i_bytes);
    Probe Look(std::string_view i_bytes, std::uint64_t i_hash);
    // Asks the processor to fetch where a value of that hash would be, ahead of its look-up.
    void Prefetch(std::uint64_t i_hash) const;
    // Only right after Look found nothing, with nothing changed in between.
    void InsertAt(const Probe& i_probe, Item* ip_item);
    // Takes in each item of the list as Look and InsertAt would one after the other, but
    // in the order of their places in the table, so that it is walked once, in order. An item
    // whose value is indexed already, by an item taken in before or by one earlier in the list,
    // is left out: its place in the list gets the indexed one. Each item comes with its value's
    // hash. Should it run out of memory, it does so before it takes in any.
    void InsertAll(Item** io_items, const std::uint64_t* ip_hashes, std::size_t i_count);
    // Takes out that very item; false when it is not the one indexed under its value.
    bool Erase(const Item* ip_item);
    // Room for that many items without growing.
    void Reserve(std::size_t i_items);
    void Clear();

    template <class Visit>
    void ForEach(Visit i_visit) const
    {
        for (std::size_t l_slot = 0; l_slot < m_capacity; ++l_slot)
            if (mp_slots[l_slot].mp_item)
                i_visit(mp_slots[l_slot].mp_item);
    }

private:
    struct Slot
    {
        std::uint64_t m_hash;
        Item* mp_item;
    };

    Probe LookFor(std::string_view i_bytes, std::uint64_t i_hash) const;
    void Rehash(std::size_t i_capacity);

    Slot* mp_slots = nullptr;
    std::size_t m_capacity = 0;
    std::size_t m_size = 0;
};
