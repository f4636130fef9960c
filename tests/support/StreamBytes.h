#pragma once

#include <string>

#include "server/MemStream.h"

// Wire bytes in and out of streams, for tests that compare encodings byte for byte.
inline std::string Written(const MemStream& i_stream)
{
    return std::string(i_stream.GetBuffer(), static_cast<std::size_t>(i_stream.GetWriteIndex()));
}

inline MemStream StreamOf(const std::string& i_bytes)
{
    MemStream l_stream;
    l_stream.WriteBuffer(i_bytes.data(), i_bytes.size());
    return l_stream;
}

inline std::string U32(quint32 i_value)
{
    MemStream l_stream;
    l_stream.Write(i_value);
    return Written(l_stream);
}
