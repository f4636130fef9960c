#include "peer/Inflater.h"

#include <zlib.h>

#include <algorithm>
#include <new>

namespace
{
const int MinimumGrowth = 4096;

// Ends the stream whatever way the inflation leaves.
struct StreamGuard
{
    z_stream stream{};
    bool initialised = false;
    ~StreamGuard()
    {
        if (initialised)
            inflateEnd(&stream);
    }
};
} // namespace

Inflater::Result Inflater::Inflate(const char* ip_input, int i_length, QByteArray& o_output,
                                   int i_ceiling)
{
    o_output.clear();
    if (i_length <= 0 || i_ceiling < 0)
        return Broken;
    StreamGuard l_guard;
    z_stream& l_stream = l_guard.stream;
    if (inflateInit(&l_stream) != Z_OK)
        return TooLarge;
    l_guard.initialised = true;
    l_stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(ip_input));
    l_stream.avail_in = static_cast<uInt>(i_length);

    // The input length is the first guess; one byte past the ceiling tells a stream that ends
    // right at it from one that goes on.
    const qint64 l_limit = static_cast<qint64>(i_ceiling) + 1;
    try
    {
        QByteArray l_output;
        l_output.resize(static_cast<int>(
            std::min<qint64>(std::max(i_length, MinimumGrowth), l_limit)));
        int l_produced = 0;
        for (;;)
        {
            if (l_produced == l_output.size())
            {
                if (l_produced >= l_limit)
                    return TooLarge;
                l_output.resize(static_cast<int>(
                    std::min<qint64>(static_cast<qint64>(l_produced) * 2, l_limit)));
            }
            l_stream.next_out = reinterpret_cast<Bytef*>(l_output.data() + l_produced);
            l_stream.avail_out = static_cast<uInt>(l_output.size() - l_produced);
            const int l_status = inflate(&l_stream, Z_NO_FLUSH);
            l_produced = l_output.size() - static_cast<int>(l_stream.avail_out);
            if (l_status == Z_STREAM_END)
            {
                if (l_produced > i_ceiling)
                    return TooLarge;
                l_output.resize(l_produced);
                o_output = l_output;
                return Inflated;
            }
            if (l_status == Z_MEM_ERROR)
                return TooLarge;
            // Z_BUF_ERROR with room left means the input ended before the stream did.
            if (l_status != Z_OK && !(l_status == Z_BUF_ERROR && l_stream.avail_out == 0))
                return Broken;
            if (l_stream.avail_out != 0 && l_stream.avail_in == 0)
                return Broken;
        }
    }
    catch (const std::bad_alloc&)
    {
        return TooLarge;
    }
}
