#include <gtest/gtest.h>

#include <QString>

#include <list>
#include <map>
#include <set>
#include <string>
#include <utility>

#include "server/MemStream.h"
#include "support/StreamBytes.h"
#include "store/ToQString.h"

TEST(WireWriters, IntegersAreLittleEndianBooleansOneByteByteStringsWhole)
{
    MemStream stream;
    ASSERT_TRUE(stream.Write(quint8(0xAB)));
    ASSERT_TRUE(stream.Write(qint16(0x0102)));
    ASSERT_TRUE(stream.Write(quint32(0x01020304)));
    ASSERT_TRUE(stream.Write(qint32(-2)));
    ASSERT_TRUE(stream.Write(qint64(0x0102030405060708LL)));
    ASSERT_TRUE(stream.Write(true));
    ASSERT_TRUE(stream.Write(false));
    ASSERT_TRUE(stream.Write(std::string("a\0b", 3)));
    EXPECT_EQ(Written(stream), std::string("\xAB"
                                           "\x02\x01"
                                           "\x04\x03\x02\x01"
                                           "\xFE\xFF\xFF\xFF"
                                           "\x08\x07\x06\x05\x04\x03\x02\x01"
                                           "\x01\x00"
                                           "\x03\x00\x00\x00" "a\0b",
                                           28));
}

TEST(WireWriters, TextIsCountedUtf8CutAtNul)
{
    MemStream stream;
    QString withNul("ab");
    withNul += QChar(0);
    withNul += "cd";
    ASSERT_TRUE(stream.Write(QString::fromUtf8("\xC3\xA9")));
    ASSERT_TRUE(stream.Write(withNul));
    EXPECT_EQ(Written(stream), std::string("\x02\x00\x00\x00\xC3\xA9" "\x02\x00\x00\x00" "ab", 12));
}

TEST(WireWriters, ContainersCarryAnInt32Count)
{
    MemStream stream;
    ASSERT_TRUE(stream.Write(std::list<int>{7, 8}));
    ASSERT_TRUE(stream.Write(std::map<int, std::string>{{1, "x"}}));
    ASSERT_TRUE(stream.Write(std::make_pair(0x7F000001u, 2235)));
    EXPECT_EQ(Written(stream), std::string("\x02\x00\x00\x00\x07\x00\x00\x00\x08\x00\x00\x00"
                                           "\x01\x00\x00\x00\x01\x00\x00\x00\x01\x00\x00\x00x"
                                           "\x01\x00\x00\x7F\xBB\x08\x00\x00",
                                           33));
}

TEST(WireReaders, IntegersBooleansAndPairs)
{
    MemStream stream = StreamOf(std::string("\xFE\xFF\xFF\xFF\x02\x08\x07\x06\x05\x04\x03\x02\x01"
                                            "\x01\x00\x00\x7F\xBB\x08\x00\x00", 21));
    qint32 negative;
    bool flag = false;
    quint64 wide;
    std::pair<unsigned int, int> address;
    ASSERT_TRUE(stream.Read(negative) && stream.Read(flag) && stream.Read(wide) && stream.Read(address));
    EXPECT_EQ(negative, -2);
    EXPECT_TRUE(flag) << "any non-zero byte is true";
    EXPECT_EQ(wide, 0x0102030405060708ULL);
    EXPECT_EQ(address, std::make_pair(0x7F000001u, 2235));
}

TEST(WireStrings, TheLimitIsInclusiveAndBadCountsConsumeOnlyTheCount)
{
    MemStream accepted = StreamOf(U32(131072) + std::string(131072, 'x'));
    std::string value;
    ASSERT_TRUE(accepted.Read(value));
    EXPECT_EQ(value.size(), 131072u);
    EXPECT_EQ(accepted.GetPendingReadLength(), 0);

    const struct
    {
        std::string bytes;
        int left;
    } l_cases[] = {
        {U32(131073) + std::string(131073, 'x'), 131073},
        {U32(0xFFFFFFFFu) + "abc", 3},
        {U32(10) + "abc", 3},
        {"ab", 2},
    };
    for (const auto& l_case : l_cases)
    {
        SCOPED_TRACE(l_case.bytes.size());
        MemStream bytes = StreamOf(l_case.bytes);
        value = "kept";
        EXPECT_FALSE(bytes.Read(value));
        EXPECT_EQ(value, "kept");
        EXPECT_EQ(bytes.GetPendingReadLength(), l_case.left);
        MemStream text = StreamOf(l_case.bytes);
        QString kept("kept");
        EXPECT_FALSE(text.Read(kept));
        EXPECT_EQ(kept, QString("kept"));
        EXPECT_EQ(text.GetPendingReadLength(), l_case.left);
    }
}

TEST(WireStrings, CutAtNulThenUtf8ElseTheCodePage)
{
    // With no code page chosen the fallback reads one character per byte, as Latin-1.
    const std::string nul("abc\0def", 7), latin1("caf\xE9", 4);
    MemStream stream = StreamOf(U32(7) + nul + U32(7) + nul + U32(6) + "caf\xC3\xA9!" + U32(4) + latin1 +
                                U32(1) + "\xFF");
    std::string bytes;
    QString cut, utf8, fallback, high;
    ASSERT_TRUE(stream.Read(bytes) && stream.Read(cut) && stream.Read(utf8) && stream.Read(fallback) &&
                stream.Read(high));
    EXPECT_EQ(bytes, "abc");
    EXPECT_EQ(cut, QString("abc"));
    EXPECT_EQ(utf8, QString::fromUtf8("caf\xC3\xA9!"));
    EXPECT_EQ(fallback, QString::fromLatin1("caf\xE9"));
    EXPECT_EQ(fallback, ToQString(latin1));
    EXPECT_EQ(high, QString(QChar(0xFF)));
}

TEST(WireContainers, SetsCollapseMapsKeepTheLaterValueZeroEmpties)
{
    MemStream stream;
    ASSERT_TRUE(stream.Write(qint32(3)));
    for (const char* name : {"bob", "al", "bob"})
        ASSERT_TRUE(stream.Write(QString(name)));
    ASSERT_TRUE(stream.Write(qint32(3)));
    ASSERT_TRUE(stream.Write(qint32(1)) && stream.Write(std::string("first")));
    ASSERT_TRUE(stream.Write(qint32(2)) && stream.Write(std::string("two")));
    ASSERT_TRUE(stream.Write(qint32(1)) && stream.Write(std::string("later")));
    ASSERT_TRUE(stream.Write(qint32(0)));
    std::set<QString> names;
    std::map<int, std::string> table;
    std::list<QString> emptied{"old"};
    ASSERT_TRUE(stream.Read(names) && stream.Read(table) && stream.Read(emptied));
    EXPECT_EQ(names, (std::set<QString>{"al", "bob"}));
    EXPECT_EQ(table, (std::map<int, std::string>{{1, "later"}, {2, "two"}}));
    EXPECT_TRUE(emptied.empty());
}

TEST(WireContainers, HostileCountsFailAtOnce)
{
    // Refused at once rather than read until the data runs out.
    for (quint32 count : {131073u, 0x80000000u, 0xFFFFFFFFu})
    {
        SCOPED_TRACE(count);
        MemStream stream = StreamOf(U32(count) + std::string(64, '\0'));
        std::list<int> values{1};
        EXPECT_FALSE(stream.Read(values));
        EXPECT_TRUE(values.empty());
        EXPECT_EQ(stream.GetPendingReadLength(), 64);
        MemStream mapStream = StreamOf(U32(count) + std::string(64, '\0'));
        std::map<int, std::string> table{{1, "x"}};
        EXPECT_FALSE(mapStream.Read(table));
        EXPECT_TRUE(table.empty());
    }
}

TEST(WireContainers, EveryTruncationFailsCleanly)
{
    MemStream full;
    ASSERT_TRUE(full.Write(std::list<QString>{"one", QString::fromUtf8("tw\xC3\xB6"), ""}));
    ASSERT_TRUE(full.Write(std::map<int, std::string>{{3, "three"}, {-1, "minus"}}));
    ASSERT_TRUE(full.Write(std::set<QString>{"x", "y"}));
    ASSERT_TRUE(full.Write(std::list<int>{1, 2, 3}));
    const std::string bytes = Written(full);

    for (std::size_t length = 0; length <= bytes.size(); ++length)
    {
        MemStream stream = StreamOf(bytes.substr(0, length));
        std::list<QString> names;
        std::map<int, std::string> table;
        std::set<QString> set;
        std::list<int> numbers;
        const bool ok = stream.Read(names) && stream.Read(table) && stream.Read(set) &&
                        stream.Read(numbers);
        EXPECT_EQ(ok, length == bytes.size()) << "length " << length;
        EXPECT_GE(stream.GetPendingReadLength(), 0);
        if (ok)
        {
            EXPECT_EQ(names, (std::list<QString>{"one", QString::fromUtf8("tw\xC3\xB6"), ""}));
            EXPECT_EQ(table, (std::map<int, std::string>{{3, "three"}, {-1, "minus"}}));
            EXPECT_EQ(set, (std::set<QString>{"x", "y"}));
            EXPECT_EQ(numbers, (std::list<int>{1, 2, 3}));
        }
    }
}
