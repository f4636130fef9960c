#pragma once

class InputStream;

// A record that reads itself from a stream, with no count or length around it.
class StreamReadable
{
public:
    virtual bool Read(InputStream& stream) = 0;

protected:
    // Records are never deleted through this interface.
    StreamReadable() = default;
    StreamReadable(const StreamReadable&) = default;
    StreamReadable& operator=(const StreamReadable&) = default;
    ~StreamReadable() = default;
};
