#pragma once

class OutputStream;

// A record that writes itself to a stream, with no count or length around it.
class StreamWritable
{
public:
    virtual bool Write(OutputStream& stream) const = 0;

protected:
    // Records are never deleted through this interface.
    StreamWritable() = default;
    StreamWritable(const StreamWritable&) = default;
    StreamWritable& operator=(const StreamWritable&) = default;
    ~StreamWritable() = default;
};
