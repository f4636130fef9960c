#pragma once

#include <zlib.h>

// Compresses message bodies exactly as compress2 at level 9 does, byte for byte, but keeps the
// compressor from one body to the next: setting up level 9 (a quarter of a megabyte of tables)
// costs more than compressing the few hundred bytes of a search reply. Used on one thread.
class BodyCompressor
{
public:
    BodyCompressor() = default;
    ~BodyCompressor();
    BodyCompressor(const BodyCompressor&) = delete;
    BodyCompressor& operator=(const BodyCompressor&) = delete;

    // As compress2(op_out, io_length, ip_in, i_length, 9): io_length holds the room at op_out
    // and gets the bytes written; the result is zlib's.
    int Compress(Bytef* op_out, uLongf* io_length, const Bytef* ip_in, uLong i_length);

private:
    z_stream m_stream{};
    bool m_ready = false;
};
