#pragma once

#include <QByteArray>

// Inflates one zlib stream (RFC 1950) with a ceiling on its output, so that a small frame
// cannot grow without bound. Output grows with what actually comes out, never to the ceiling
// in one step.
class Inflater
{
public:
    enum Result
    {
        Inflated,
        // Not a complete zlib stream: nothing comes out.
        Broken,
        // More than the ceiling would come out, or memory ran out on the way.
        TooLarge
    };

    // Enough for a share list of several hundred thousand files.
    static constexpr int DefaultCeiling = 64 * 1024 * 1024;

    // Bytes after the end of the stream are ignored. On anything but Inflated, o_output is
    // empty.
    static Result Inflate(const char* ip_input, int i_length, QByteArray& o_output,
                          int i_ceiling = DefaultCeiling);
};
