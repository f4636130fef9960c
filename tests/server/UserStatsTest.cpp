#include <gtest/gtest.h>

#include <string>

#include "server/MemStream.h"
#include "server/UserStats.h"

TEST(UserStats, WritesFourFieldsInOrder)
{
    UserStats stats;
    stats.m_averageSpeed = 0x01020304;
    stats.m_carriedCount = -1;
    stats.m_sharedFileCount = 5;
    stats.m_otherCount = 6;
    MemStream stream;
    ASSERT_TRUE(stream.Write(stats));
    EXPECT_EQ(std::string(stream.GetBuffer(), static_cast<std::size_t>(stream.GetWriteIndex())),
              std::string("\x04\x03\x02\x01"
                          "\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF"
                          "\x05\x00\x00\x00"
                          "\x06\x00\x00\x00",
                          20));

    UserStats back;
    ASSERT_TRUE(stream.Read(back));
    EXPECT_EQ(back.m_averageSpeed, 0x01020304);
    EXPECT_EQ(back.m_carriedCount, -1);
    EXPECT_EQ(back.m_sharedFileCount, 5);
    EXPECT_EQ(back.m_otherCount, 6);
}

TEST(UserStats, ShortRecordKeepsWhatWasRead)
{
    MemStream stream;
    ASSERT_TRUE(stream.Write(qint32(300)));
    ASSERT_TRUE(stream.Write(qint64(12)));
    ASSERT_TRUE(stream.Write(quint16(1)));
    UserStats stats;
    EXPECT_FALSE(stats.Read(stream));
    EXPECT_EQ(stats.m_averageSpeed, 300);
    EXPECT_EQ(stats.m_carriedCount, 12);
    EXPECT_EQ(stats.m_sharedFileCount, 0);
    EXPECT_EQ(stats.m_otherCount, 0);
    EXPECT_EQ(stream.GetPendingReadLength(), 2);
}
