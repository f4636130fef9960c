#pragma once

#include <cstddef>
#include <string_view>

#include "store/Value.h"

// An item's value where the item keeps it: its bytes, readable as long as the item is. Compares
// as Value does; a Value made from it is a copy that outlives the item.
class ValueView
{
public:
    ValueView(const char* ip_bytes, std::size_t i_size) : m_bytes(ip_bytes, i_size) {}

    std::string_view Bytes() const { return m_bytes; }
    bool Empty() const { return m_bytes.empty(); }
    std::size_t Size() const { return m_bytes.size(); }
    operator Value() const { return Value(m_bytes.data(), m_bytes.size()); }

    // Byte-wise as unsigned bytes, a proper prefix first.
    friend bool operator<(ValueView i_a, ValueView i_b) { return i_a.m_bytes < i_b.m_bytes; }
    friend bool operator==(ValueView i_a, ValueView i_b) { return i_a.m_bytes == i_b.m_bytes; }
    friend bool operator!=(ValueView i_a, ValueView i_b) { return i_a.m_bytes != i_b.m_bytes; }
    friend bool operator==(ValueView i_a, const Value& i_b) { return i_a.m_bytes == i_b.Bytes(); }
    friend bool operator!=(ValueView i_a, const Value& i_b) { return i_a.m_bytes != i_b.Bytes(); }
    friend bool operator==(const Value& i_a, ValueView i_b) { return i_a.Bytes() == i_b.m_bytes; }
    friend bool operator!=(const Value& i_a, ValueView i_b) { return i_a.Bytes() != i_b.m_bytes; }

private:
    std::string_view m_bytes;
};
