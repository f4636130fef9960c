#pragma once

#include <zlib.h>

// Compresses message bodies exactly as compress2 at level 9 does, byte for byte, but keeps its
// compressors from one body to the next: setting up level 9 (a quarter of a megabyte of tables)
// costs more than compressing the few hundred bytes of a search reply. Used on one thread.
//
// A short body goes through a compressor with a smaller hash table and symbol buffer than
// compress2's (a lower memory level), whose reset clears a table of a few hundred bytes instead
// of 64 KiB. That makes the same bytes as long as the body fits in the symbol buffer in one
// block and is too short for the level's limit on a hash chain's length to cut a search short:
// positions that begin with the same three bytes still share a chain, whatever the table's size,
// and the others only lengthen the walk, never change what it finds.
class BodyCompressor
{
public:
    // The lowest memory level a body may go through, and the highest used besides compress2's.
    static constexpr int LowestLevel = 1;
    static constexpr int HighestSmallLevel = 4;

    BodyCompressor() = default;
    ~BodyCompressor();
    BodyCompressor(const BodyCompressor&) = delete;
    BodyCompressor& operator=(const BodyCompressor&) = delete;

    // As compress2(op_out, io_length, ip_in, i_length, 9): io_length holds the room at op_out
    // and gets the bytes written; the result is zlib's.
    int Compress(Bytef* op_out, uLongf* io_length, const Bytef* ip_in, uLong i_length);

    // The memory level a body of that length goes through: compress2's own unless it is short.
    static int MemoryLevelFor(uLong i_length);
    // As Compress, at a memory level of the caller's choice; for tests.
    int CompressAt(int i_memoryLevel, Bytef* op_out, uLongf* io_length, const Bytef* ip_in,
                   uLong i_length);

private:
    struct Stream
    {
        z_stream m_stream{};
        bool m_ready = false;
    };

    // By memory level, 1 to 9; each set up the first time a body needs it.
    Stream m_streams[MAX_MEM_LEVEL + 1];
};
