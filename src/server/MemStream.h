#pragma once

#include <memory>

#include "server/InputStream.h"
#include "server/OutputStream.h"
#include "store/rcptr.h"

// An in-memory stream that every wire message is built in and read from. Copies share one
// buffer, read and write positions included: reading through a copy advances them all, which
// lets a received message be handed on by value without copying its bytes.
class MemStream : public virtual InputStream, public virtual OutputStream
{
public:
    MemStream();
    ~MemStream() override;
    MemStream(const MemStream&) = default;
    MemStream& operator=(const MemStream&) = default;

    bool ReadBuffer(void* destination, unsigned long count) override;
    bool WriteBuffer(void const* source, unsigned long count) override;

    int GetPendingReadLength() const;
    // The first unread byte.
    const char* GetReadBuffer() const;
    // Where the next write goes, for readers that fill the buffer themselves.
    char* GetWriteBuffer();
    // Every byte written so far, from position 0, read or not.
    const char* GetBuffer() const;
    int GetWriteIndex() const;
    int GetBufferSize() const;

    // Only on an empty stream: makes room for exactly count bytes, discarding the old array.
    void EnsureBufferCapacity(int count);
    // Records count bytes placed at GetWriteBuffer.
    void AdvanceWriteIndex(int count);
    // Empties the stream, keeping its capacity.
    void Reset();

    struct Buffer
    {
        explicit Buffer(int size) : m_bufferSize(size), mp_bytes(new char[size]) {}

        int m_readIndex = 0;
        int m_writeIndex = 0;
        int m_bufferSize;
        std::unique_ptr<char[]> mp_bytes;
    };

private:
    rcptr<Buffer> mp_buffer;
};
