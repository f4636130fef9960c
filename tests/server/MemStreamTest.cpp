#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "server/MemStream.h"

namespace
{
std::string Contents(const MemStream& stream)
{
    return std::string(stream.GetBuffer(), static_cast<std::size_t>(stream.GetWriteIndex()));
}
} // namespace

TEST(MemStreamGrowth, NewStreamIsEmptyWith256Bytes)
{
    MemStream stream;
    EXPECT_EQ(stream.GetBufferSize(), 256);
    EXPECT_EQ(stream.GetWriteIndex(), 0);
    EXPECT_EQ(stream.GetPendingReadLength(), 0);
}

TEST(MemStreamGrowth, NeverLeftExactlyFull)
{
    MemStream kept;
    for (int n = 0; n < 255; ++n)
        ASSERT_TRUE(kept.Write(quint8(n)));
    EXPECT_EQ(kept.GetBufferSize(), 256);

    MemStream grown;
    for (int n = 0; n < 256; ++n)
        ASSERT_TRUE(grown.Write(quint8(n)));
    EXPECT_EQ(grown.GetBufferSize(), 512);

    MemStream oneWrite;
    const std::string block(256, 'x');
    ASSERT_TRUE(oneWrite.WriteBuffer(block.data(), block.size()));
    EXPECT_EQ(oneWrite.GetBufferSize(), 512);
}

TEST(MemStreamGrowth, DoublesUntilStrictlyLarger)
{
    MemStream stream;
    const std::string block(600, 'x');
    ASSERT_TRUE(stream.WriteBuffer(block.data(), block.size()));
    EXPECT_EQ(stream.GetBufferSize(), 1024);
    ASSERT_TRUE(stream.WriteBuffer(block.data(), 423));
    EXPECT_EQ(stream.GetBufferSize(), 1024);
    ASSERT_TRUE(stream.WriteBuffer(block.data(), 1));
    EXPECT_EQ(stream.GetBufferSize(), 2048);
}

TEST(MemStreamGrowth, KeepsReadAndUnreadBytesAcrossGrowth)
{
    MemStream stream;
    std::string written;
    for (int n = 0; n < 200; ++n)
        written.push_back(static_cast<char>(n));
    ASSERT_TRUE(stream.WriteBuffer(written.data(), written.size()));
    char first[150];
    ASSERT_TRUE(stream.ReadBuffer(first, sizeof first));

    const std::string more(300, 'y');
    ASSERT_TRUE(stream.WriteBuffer(more.data(), more.size()));
    written += more;

    EXPECT_EQ(stream.GetBufferSize(), 512);
    EXPECT_EQ(Contents(stream), written);
    EXPECT_EQ(stream.GetPendingReadLength(), 350);
    EXPECT_EQ(std::string(stream.GetReadBuffer(), 350), written.substr(150));
}

TEST(MemStreamReading, ShortReadFailsAndConsumesNothing)
{
    MemStream stream;
    ASSERT_TRUE(stream.WriteBuffer("\x01\x02\x03", 3));
    qint32 value = 7;
    EXPECT_FALSE(stream.Read(value));
    EXPECT_EQ(value, 7);
    EXPECT_EQ(stream.GetPendingReadLength(), 3);

    quint8 byte;
    ASSERT_TRUE(stream.Read(byte));
    EXPECT_EQ(byte, 1);
    EXPECT_EQ(stream.GetPendingReadLength(), 2);
}

TEST(MemStreamSharing, CopiesShareTheReadPosition)
{
    MemStream original;
    for (qint32 n = 1; n <= 3; ++n)
        ASSERT_TRUE(original.Write(n));

    MemStream copy = original;
    qint32 value;
    ASSERT_TRUE(copy.Read(value));
    EXPECT_EQ(value, 1);
    EXPECT_EQ(original.GetPendingReadLength(), 8);
    ASSERT_TRUE(original.Read(value));
    EXPECT_EQ(value, 2);
    EXPECT_EQ(copy.GetPendingReadLength(), 4);
}

TEST(MemStreamSharing, WritesThroughACopyAreSeenByAll)
{
    MemStream original;
    MemStream copy(original);
    const std::string block(1000, 'z');
    ASSERT_TRUE(copy.WriteBuffer(block.data(), block.size()));
    EXPECT_EQ(original.GetWriteIndex(), 1000);
    EXPECT_EQ(original.GetBufferSize(), 1024);
    EXPECT_EQ(Contents(original), block);
}

TEST(MemStreamSharing, BufferLivesAsLongAsTheLastCopy)
{
    MemStream* original = new MemStream;
    ASSERT_TRUE(original->Write(qint32(42)));
    MemStream survivor;
    survivor = *original;
    delete original;
    qint32 value;
    ASSERT_TRUE(survivor.Read(value));
    EXPECT_EQ(value, 42);
}

TEST(MemStreamReceiveBuffer, FilledInPlaceAndReset)
{
    MemStream stream;
    stream.EnsureBufferCapacity(100);
    EXPECT_EQ(stream.GetBufferSize(), 256);
    stream.EnsureBufferCapacity(1000);
    EXPECT_EQ(stream.GetBufferSize(), 1000);

    std::memcpy(stream.GetWriteBuffer(), "\x05\x00\x00\x00", 4);
    stream.AdvanceWriteIndex(4);
    std::memcpy(stream.GetWriteBuffer(), "\x06\x00\x00\x00", 4);
    stream.AdvanceWriteIndex(4);
    qint32 value;
    ASSERT_TRUE(stream.Read(value));
    EXPECT_EQ(value, 5);

    stream.Reset();
    EXPECT_EQ(stream.GetPendingReadLength(), 0);
    EXPECT_EQ(stream.GetWriteIndex(), 0);
    EXPECT_EQ(stream.GetBufferSize(), 1000);
    EXPECT_FALSE(stream.Read(value));
}

TEST(MemStreamReceiveBufferDeathTest, PreconditionsHoldInEveryBuild)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            MemStream stream;
            stream.Write(quint8(1));
            stream.EnsureBufferCapacity(1000);
        },
        "mp_buffer->m_writeIndex == 0");
    EXPECT_DEATH(
        {
            MemStream stream;
            stream.AdvanceWriteIndex(257);
        },
        "m_writeIndex");
}
