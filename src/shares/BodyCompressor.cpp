#include "shares/BodyCompressor.h"

BodyCompressor::~BodyCompressor()
{
    if (m_ready)
        deflateEnd(&m_stream);
}

int BodyCompressor::Compress(Bytef* op_out, uLongf* io_length, const Bytef* ip_in, uLong i_length)
{
    // A reset stream compresses as a fresh one: the same parameters as compress2's.
    const int l_setUp = m_ready ? deflateReset(&m_stream) : deflateInit(&m_stream, 9);
    if (l_setUp != Z_OK)
    {
        if (m_ready)
            deflateEnd(&m_stream);
        m_stream = z_stream{};
        m_ready = false;
        return l_setUp;
    }
    m_ready = true;

    // compress2's own loop, for bodies longer than zlib takes in one call.
    const uInt l_most = static_cast<uInt>(-1);
    uLong l_room = *io_length;
    *io_length = 0;
    m_stream.next_out = op_out;
    m_stream.avail_out = 0;
    m_stream.next_in = const_cast<Bytef*>(ip_in);
    m_stream.avail_in = 0;
    int l_result = Z_OK;
    do
    {
        if (m_stream.avail_out == 0)
        {
            m_stream.avail_out = l_room > l_most ? l_most : static_cast<uInt>(l_room);
            l_room -= m_stream.avail_out;
        }
        if (m_stream.avail_in == 0)
        {
            m_stream.avail_in = i_length > l_most ? l_most : static_cast<uInt>(i_length);
            i_length -= m_stream.avail_in;
        }
        l_result = deflate(&m_stream, i_length ? Z_NO_FLUSH : Z_FINISH);
    } while (l_result == Z_OK);
    *io_length = m_stream.total_out;
    return l_result == Z_STREAM_END ? Z_OK : l_result;
}
