#pragma once

#include <QtGlobal>

#include <cstddef>

// The XOR run of an obfuscated peer frame. Every 4-byte word of the run is XOR-ed, byte 0 with
// the least significant byte, with a running key that is rotated left by one bit before each
// word, so the first word already uses the starting key rotated once.
namespace Obfuscation
{
inline quint32 RotateLeft(quint32 i_key, unsigned i_bits = 1)
{
    i_bits &= 31u;
    return i_bits == 0 ? i_key : (i_key << i_bits) | (i_key >> (32u - i_bits));
}

// A fresh frame key from four draws of the C library generator.
quint32 DrawKey();

// XORs count bytes in place, starting from key (not yet rotated). Returns the running key
// after the last whole or partial word, ready to continue the run.
quint32 Apply(char* io_bytes, std::size_t i_count, quint32 i_key);
} // namespace Obfuscation
