#include "shares/BodyCompressor.h"

namespace
{
// compress2's memory level (deflateInit's).
constexpr int g_defaultLevel = 8;
// With a good enough match in hand, level 9 walks a quarter of its longest chain, 4096.
constexpr uLong g_shortestChainLimit = 4096 / 4;
} // namespace

BodyCompressor::~BodyCompressor()
{
    for (Stream& l_stream : m_streams)
        if (l_stream.m_ready)
            deflateEnd(&l_stream.m_stream);
}

int BodyCompressor::MemoryLevelFor(uLong i_length)
{
    // Every symbol of the body fits in the buffer, which would end a block at its size less
    // one; and a chain holds at most the positions before the last, fewer than any limit.
    for (int l_level = LowestLevel; l_level <= HighestSmallLevel; ++l_level)
    {
        const uLong l_symbols = uLong(1) << (l_level + 6);
        if (i_length < l_symbols - 1 && i_length <= g_shortestChainLimit)
            return l_level;
    }
    return g_defaultLevel;
}

int BodyCompressor::Compress(Bytef* op_out, uLongf* io_length, const Bytef* ip_in, uLong i_length)
{
    return CompressAt(MemoryLevelFor(i_length), op_out, io_length, ip_in, i_length);
}

int BodyCompressor::CompressAt(int i_memoryLevel, Bytef* op_out, uLongf* io_length,
                               const Bytef* ip_in, uLong i_length)
{
    if (i_memoryLevel < 1 || i_memoryLevel > MAX_MEM_LEVEL)
        return Z_STREAM_ERROR;
    Stream& l_chosen = m_streams[i_memoryLevel];
    z_stream& l_stream = l_chosen.m_stream;
    // A reset stream compresses as a fresh one: compress2's parameters but the memory level.
    const int l_setUp =
        l_chosen.m_ready
            ? deflateReset(&l_stream)
            : deflateInit2(&l_stream, 9, Z_DEFLATED, MAX_WBITS, i_memoryLevel, Z_DEFAULT_STRATEGY);
    if (l_setUp != Z_OK)
    {
        if (l_chosen.m_ready)
            deflateEnd(&l_stream);
        l_stream = z_stream{};
        l_chosen.m_ready = false;
        return l_setUp;
    }
    l_chosen.m_ready = true;

    // compress2's own loop, for bodies longer than zlib takes in one call.
    const uInt l_most = static_cast<uInt>(-1);
    uLong l_room = *io_length;
    *io_length = 0;
    l_stream.next_out = op_out;
    l_stream.avail_out = 0;
    l_stream.next_in = const_cast<Bytef*>(ip_in);
    l_stream.avail_in = 0;
    int l_result = Z_OK;
    do
    {
        if (l_stream.avail_out == 0)
        {
            l_stream.avail_out = l_room > l_most ? l_most : static_cast<uInt>(l_room);
            l_room -= l_stream.avail_out;
        }
        if (l_stream.avail_in == 0)
        {
            l_stream.avail_in = i_length > l_most ? l_most : static_cast<uInt>(i_length);
            i_length -= l_stream.avail_in;
        }
        l_result = deflate(&l_stream, i_length ? Z_NO_FLUSH : Z_FINISH);
    } while (l_result == Z_OK);
    *io_length = l_stream.total_out;
    return l_result == Z_STREAM_END ? Z_OK : l_result;
}
