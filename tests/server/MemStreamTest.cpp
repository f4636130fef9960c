#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "server/MemStream.h"
#include "support/StreamBytes.h"

// A receive buffer is filled in place at its write index, which must lie inside the buffer.
TEST(MemStreamGrowth, NeverLeftExactlyFull)
{
    for (std::size_t l_bytes : {0, 255, 256, 600, 1023, 1024})
    {
        SCOPED_TRACE(l_bytes);
        MemStream l_bytewise;
        for (std::size_t n = 0; n < l_bytes; ++n)
            ASSERT_TRUE(l_bytewise.Write(quint8(n)));
        EXPECT_GT(l_bytewise.GetBufferSize(), static_cast<int>(l_bytes));
        MemStream l_block;
        const std::string l_text(l_bytes, 'x');
        ASSERT_TRUE(l_block.WriteBuffer(l_text.data(), l_text.size()));
        EXPECT_GT(l_block.GetBufferSize(), static_cast<int>(l_bytes));
    }
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
    EXPECT_EQ(Written(stream), written);
    EXPECT_EQ(std::string(stream.GetReadBuffer(), 350), written.substr(150));

    // A short read fails and consumes nothing.
    MemStream shortStream = StreamOf(std::string("\x01\x02\x03", 3));
    qint32 value = 7;
    EXPECT_FALSE(shortStream.Read(value));
    EXPECT_EQ(value, 7);
    EXPECT_EQ(shortStream.GetPendingReadLength(), 3);
}

TEST(MemStreamSharing, CopiesShareBufferAndReadPosition)
{
    MemStream* original = new MemStream;
    for (qint32 n = 1; n <= 3; ++n)
        ASSERT_TRUE(original->Write(n));
    MemStream copy = *original;
    qint32 value;
    ASSERT_TRUE(copy.Read(value));
    EXPECT_EQ(value, 1);
    EXPECT_EQ(original->GetPendingReadLength(), 8);

    const std::string block(1000, 'z');
    ASSERT_TRUE(copy.WriteBuffer(block.data(), block.size()));
    EXPECT_EQ(original->GetWriteIndex(), 1012);
    EXPECT_EQ(std::string(original->GetBuffer() + 12, 1000), block) << "grown for both";

    // The buffer lives as long as the last copy.
    delete original;
    ASSERT_TRUE(copy.Read(value));
    EXPECT_EQ(value, 2);
}

TEST(MemStreamReceiveBuffer, FilledInPlaceAndReset)
{
    MemStream stream;
    stream.EnsureBufferCapacity(100);
    EXPECT_GE(stream.GetBufferSize(), 100);
    stream.EnsureBufferCapacity(1000);
    EXPECT_GE(stream.GetBufferSize(), 1000);

    std::memcpy(stream.GetWriteBuffer(), "\x05\x00\x00\x00", 4);
    stream.AdvanceWriteIndex(4);
    qint32 value;
    ASSERT_TRUE(stream.Read(value));
    EXPECT_EQ(value, 5);

    stream.Reset();
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
