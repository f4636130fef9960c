#pragma once

#include <string>

#include "server/MemStream.h"

// Wire bytes in and out of streams, for tests that compare encodings byte for byte.
inline std::string Written(const MemStream& stream)
{
    return std::string(stream.GetBuffer(), static_cast<std::size_t>(stream.GetWriteIndex()));
}

inline MemStream StreamOf(const std::string& bytes)
{
    MemStream stream;
    stream.WriteBuffer(bytes.data(), bytes.size());
    return stream;
}

inline std::string U32(quint32 value)
{
    MemStream stream;
    stream.Write(value);
    return Written(stream);
}
