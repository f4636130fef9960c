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

// A little-endian 32-bit word at a byte position of a frame.
inline void PutWord(char* ip_bytes, quint32 i_word)
{
    ToWireOrder(i_word, reinterpret_cast<unsigned char*>(ip_bytes));
}

inline quint32 WordAt(const char* ip_bytes)
{
    return FromWireOrder<quint32>(reinterpret_cast<const unsigned char*>(ip_bytes));
}
