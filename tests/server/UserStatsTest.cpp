#include <gtest/gtest.h>

#include <string>

#include "server/MemStream.h"
#include "server/UserStats.h"
#include "support/StreamBytes.h"

TEST(UserStats, FourFieldsInOrderAndAShortRecordKeepsWhatWasRead)
{
    UserStats stats;
    stats.m_averageSpeed = 0x01020304;
    stats.m_carriedCount = -1;
    stats.m_sharedFileCount = 5;
    stats.m_otherCount = 6;
    MemStream stream;
    ASSERT_TRUE(stream.Write(stats));
    EXPECT_EQ(Written(stream), std::string("\x04\x03\x02\x01"
                                           "\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF"
                                           "\x05\x00\x00\x00"
                                           "\x06\x00\x00\x00",
                                           20));

    MemStream cut = StreamOf(Written(stream).substr(0, 14));
    UserStats back;
    EXPECT_FALSE(back.Read(cut));
    EXPECT_EQ(back.m_averageSpeed, 0x01020304);
    EXPECT_EQ(back.m_carriedCount, -1);
    EXPECT_EQ(back.m_sharedFileCount, 0);
    EXPECT_EQ(cut.GetPendingReadLength(), 2);
}
