#include "peer/Obfuscation.h"

#include <cstdlib>
#include <cstring>

namespace
{
// The key comes back to itself after 32 rotations: one block of 32 words holds every key the
// run can use, so a block can be XOR-ed with a fixed mask, 8 bytes at a time.
const std::size_t BlockWords = 32;
const std::size_t BlockBytes = BlockWords * 4;

inline quint32 LoadWord(const char* ip_bytes)
{
    const unsigned char* lp_bytes = reinterpret_cast<const unsigned char*>(ip_bytes);
    return quint32(lp_bytes[0]) | (quint32(lp_bytes[1]) << 8) | (quint32(lp_bytes[2]) << 16) |
           (quint32(lp_bytes[3]) << 24);
}

inline void StoreWord(char* ip_bytes, quint32 i_word)
{
    unsigned char* lp_bytes = reinterpret_cast<unsigned char*>(ip_bytes);
    lp_bytes[0] = static_cast<unsigned char>(i_word);
    lp_bytes[1] = static_cast<unsigned char>(i_word >> 8);
    lp_bytes[2] = static_cast<unsigned char>(i_word >> 16);
    lp_bytes[3] = static_cast<unsigned char>(i_word >> 24);
}
} // namespace

quint32 Obfuscation::DrawKey()
{
    const quint32 l_first = static_cast<quint32>(rand());
    const quint32 l_second = static_cast<quint32>(rand()) % 256u;
    const quint32 l_third = static_cast<quint32>(rand()) % 256u;
    const quint32 l_fourth = static_cast<quint32>(rand()) % 256u;
    return (l_first << 24) | (l_second << 16) | (l_third << 8) | l_fourth;
}

quint32 Obfuscation::Apply(char* io_bytes, std::size_t i_count, quint32 i_key)
{
    std::size_t l_done = 0;
    if (i_count >= BlockBytes)
    {
        // The block's keys as the bytes they XOR with, in wire order.
        unsigned char l_mask[BlockBytes];
        quint32 l_key = i_key;
        for (std::size_t l_word = 0; l_word < BlockWords; ++l_word)
        {
            l_key = RotateLeft(l_key);
            StoreWord(reinterpret_cast<char*>(l_mask) + l_word * 4, l_key);
        }
        quint64 l_mask64[BlockBytes / 8];
        std::memcpy(l_mask64, l_mask, BlockBytes);
        for (; l_done + BlockBytes <= i_count; l_done += BlockBytes)
        {
            quint64 l_block[BlockBytes / 8];
            std::memcpy(l_block, io_bytes + l_done, BlockBytes);
            for (std::size_t l_lane = 0; l_lane < BlockBytes / 8; ++l_lane)
                l_block[l_lane] ^= l_mask64[l_lane];
            std::memcpy(io_bytes + l_done, l_block, BlockBytes);
        }
        // Whole blocks leave the key where it started.
    }
    quint32 l_key = i_key;
    for (; l_done + 4 <= i_count; l_done += 4)
    {
        l_key = RotateLeft(l_key);
        StoreWord(io_bytes + l_done, LoadWord(io_bytes + l_done) ^ l_key);
    }
    if (l_done < i_count)
    {
        l_key = RotateLeft(l_key);
        for (std::size_t l_byte = 0; l_done < i_count; ++l_done, ++l_byte)
            io_bytes[l_done] = static_cast<char>(static_cast<unsigned char>(io_bytes[l_done]) ^
                                                 static_cast<unsigned char>(l_key >> (8 * l_byte)));
    }
    return l_key;
}
