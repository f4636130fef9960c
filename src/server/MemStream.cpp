#include "server/MemStream.h"

#include <cstring>
#include <limits>

namespace
{
const int InitialSize = 256;

// Most wire fields are 1, 2, 4 or 8 bytes: copying those with a fixed size keeps them inline
// instead of a library call per field.
inline void CopyBytes(void* destination, const void* source, unsigned long count)
{
    switch (count)
    {
    case 1:
        std::memcpy(destination, source, 1);
        break;
    case 2:
        std::memcpy(destination, source, 2);
        break;
    case 4:
        std::memcpy(destination, source, 4);
        break;
    case 8:
        std::memcpy(destination, source, 8);
        break;
    default:
        std::memcpy(destination, source, count);
    }
}
} // namespace

MemStream::MemStream() : mp_buffer(new Buffer(InitialSize)) {}

MemStream::~MemStream() = default;

bool MemStream::ReadBuffer(void* destination, unsigned long count)
{
    Buffer& buffer = *mp_buffer;
    if (count > static_cast<unsigned long>(buffer.m_writeIndex - buffer.m_readIndex))
        return false;
    if (count == 0)
        return true;
    CopyBytes(destination, buffer.mp_bytes.get() + buffer.m_readIndex, count);
    buffer.m_readIndex += static_cast<int>(count);
    return true;
}

bool MemStream::WriteBuffer(void const* source, unsigned long count)
{
    Buffer& buffer = *mp_buffer;
    if (count == 0)
        return true;
    // The indices are int32: a stream cannot hold more, and must never wrap.
    const unsigned long room =
        static_cast<unsigned long>(std::numeric_limits<int>::max() - buffer.m_writeIndex);
    if (count >= room)
        return false;
    const qint64 needed = static_cast<qint64>(buffer.m_writeIndex) + static_cast<qint64>(count);
    if (buffer.m_bufferSize <= needed)
    {
        // Doubled until strictly larger, so a buffer is never left exactly full.
        qint64 size = buffer.m_bufferSize > 0 ? buffer.m_bufferSize : 1;
        while (size <= needed)
            size *= 2;
        if (size > std::numeric_limits<int>::max())
            size = std::numeric_limits<int>::max();
        std::unique_ptr<char[]> bytes(new char[static_cast<std::size_t>(size)]);
        if (buffer.m_writeIndex > 0)
            std::memcpy(bytes.get(), buffer.mp_bytes.get(), static_cast<std::size_t>(buffer.m_writeIndex));
        buffer.mp_bytes = std::move(bytes);
        buffer.m_bufferSize = static_cast<int>(size);
    }
    CopyBytes(buffer.mp_bytes.get() + buffer.m_writeIndex, source, count);
    buffer.m_writeIndex += static_cast<int>(count);
    return true;
}

int MemStream::GetPendingReadLength() const
{
    return mp_buffer->m_writeIndex - mp_buffer->m_readIndex;
}

const char* MemStream::GetReadBuffer() const
{
    return mp_buffer->mp_bytes.get() + mp_buffer->m_readIndex;
}

char* MemStream::GetWriteBuffer()
{
    return mp_buffer->mp_bytes.get() + mp_buffer->m_writeIndex;
}

const char* MemStream::GetBuffer() const
{
    return mp_buffer->mp_bytes.get();
}

int MemStream::GetWriteIndex() const
{
    return mp_buffer->m_writeIndex;
}

int MemStream::GetBufferSize() const
{
    return mp_buffer->m_bufferSize;
}

void MemStream::EnsureBufferCapacity(int count)
{
    TARNWICK_CHECK(mp_buffer->m_writeIndex == 0);
    if (count > mp_buffer->m_bufferSize)
    {
        // Nothing to keep: the stream is empty.
        mp_buffer->mp_bytes.reset(new char[static_cast<std::size_t>(count)]);
        mp_buffer->m_bufferSize = count;
    }
}

void MemStream::AdvanceWriteIndex(int count)
{
    TARNWICK_CHECK(count >= 0);
    TARNWICK_CHECK(mp_buffer->m_writeIndex <= mp_buffer->m_bufferSize - count);
    mp_buffer->m_writeIndex += count;
}

void MemStream::Reset()
{
    mp_buffer->m_readIndex = 0;
    mp_buffer->m_writeIndex = 0;
}
