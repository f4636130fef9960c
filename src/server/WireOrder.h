#pragma once

#include <QtGlobal>

#include <algorithm>
#include <cstring>
#include <type_traits>

// Integers travel little-endian on every link, whatever the host's order.
template <class T>
inline void ToWireOrder(T value, unsigned char* bytes)
{
    static_assert(std::is_integral<T>::value, "integers only");
    std::memcpy(bytes, &value, sizeof(T));
#if Q_BYTE_ORDER == Q_BIG_ENDIAN
    std::reverse(bytes, bytes + sizeof(T));
#endif
}

template <class T>
inline T FromWireOrder(const unsigned char* bytes)
{
    static_assert(std::is_integral<T>::value, "integers only");
    unsigned char copy[sizeof(T)];
    std::memcpy(copy, bytes, sizeof(T));
#if Q_BYTE_ORDER == Q_BIG_ENDIAN
    std::reverse(copy, copy + sizeof(T));
#endif
    T value;
    std::memcpy(&value, copy, sizeof(T));
    return value;
}
