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

namespace
{
std::string Count(quint32 count)
{
    MemStream stream;
    stream.Write(count);
    return Written(stream);
}
} // namespace

TEST(WireWriters, IntegersAreLittleEndian)
{
    MemStream stream;
    ASSERT_TRUE(stream.Write(quint8(0xAB)));
    ASSERT_TRUE(stream.Write(qint16(0x0102)));
    ASSERT_TRUE(stream.Write(quint32(0x01020304)));
    ASSERT_TRUE(stream.Write(qint32(-2)));
    ASSERT_TRUE(stream.Write(qint64(0x0102030405060708LL)));
    EXPECT_EQ(Written(stream), std::string("\xAB"
                                           "\x02\x01"
                                           "\x04\x03\x02\x01"
                                           "\xFE\xFF\xFF\xFF"
                                           "\x08\x07\x06\x05\x04\x03\x02\x01",
                                           19));
}

TEST(WireWriters, BooleansAreOneByteZeroOrOne)
{
    MemStream stream;
    ASSERT_TRUE(stream.Write(true));
    ASSERT_TRUE(stream.Write(false));
    EXPECT_EQ(Written(stream), std::string("\x01\x00", 2));
}

TEST(WireWriters, TextIsCountedUtf8CutAtNul)
{
    MemStream ab;
    ASSERT_TRUE(ab.Write(QString("ab")));
    EXPECT_EQ(Written(ab), std::string("\x02\x00\x00\x00" "ab", 6));

    MemStream accented;
    ASSERT_TRUE(accented.Write(QString::fromUtf8("\xC3\xA9")));
    EXPECT_EQ(Written(accented), std::string("\x02\x00\x00\x00\xC3\xA9", 6));

    MemStream withNul;
    QString text("ab");
    text += QChar(0);
    text += "cd";
    ASSERT_TRUE(withNul.Write(text));
    EXPECT_EQ(Written(withNul), std::string("\x02\x00\x00\x00" "ab", 6));
}

TEST(WireWriters, ByteStringsKeepEveryByte)
{
    MemStream stream;
    ASSERT_TRUE(stream.Write(std::string("a\0b", 3)));
    ASSERT_TRUE(stream.Write(std::string()));
    EXPECT_EQ(Written(stream), std::string("\x03\x00\x00\x00" "a\0b" "\x00\x00\x00\x00", 11));
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

TEST(WireReaders, IntegersAndBooleansRoundTrip)
{
    MemStream stream = StreamOf(std::string("\xFE\xFF\xFF\xFF\x02\x00\x08\x07\x06\x05\x04\x03\x02\x01", 14));
    qint32 negative;
    bool flag = false;
    quint8 zero;
    quint64 wide;
    ASSERT_TRUE(stream.Read(negative));
    ASSERT_TRUE(stream.Read(flag));
    ASSERT_TRUE(stream.Read(zero));
    ASSERT_TRUE(stream.Read(wide));
    EXPECT_EQ(negative, -2);
    EXPECT_TRUE(flag) << "any non-zero byte is true";
    EXPECT_EQ(zero, 0);
    EXPECT_EQ(wide, 0x0102030405060708ULL);
}

TEST(WireReaders, PairIsFirstThenSecond)
{
    MemStream stream = StreamOf(std::string("\x01\x00\x00\x7F\xBB\x08\x00\x00", 8));
    std::pair<unsigned int, int> address;
    ASSERT_TRUE(stream.Read(address));
    EXPECT_EQ(address.first, 0x7F000001u);
    EXPECT_EQ(address.second, 2235);
}

TEST(WireStrings, LimitIsInclusive)
{
    MemStream accepted = StreamOf(Count(131072) + std::string(131072, 'x'));
    std::string value;
    ASSERT_TRUE(accepted.Read(value));
    EXPECT_EQ(value.size(), 131072u);
    EXPECT_EQ(accepted.GetPendingReadLength(), 0);

    MemStream refused = StreamOf(Count(131073) + std::string(131073, 'x'));
    value = "kept";
    EXPECT_FALSE(refused.Read(value));
    EXPECT_EQ(value, "kept");
    EXPECT_EQ(refused.GetPendingReadLength(), 131073) << "only the count is consumed";

    MemStream refusedText = StreamOf(Count(131073) + std::string(131073, 'x'));
    QString text("kept");
    EXPECT_FALSE(refusedText.Read(text));
    EXPECT_EQ(text, QString("kept"));
    EXPECT_EQ(refusedText.GetPendingReadLength(), 131073);
}

TEST(WireStrings, HugeCountIsRefusedUnsigned)
{
    MemStream stream = StreamOf(Count(0xFFFFFFFFu) + "abc");
    std::string value;
    EXPECT_FALSE(stream.Read(value));
    EXPECT_EQ(stream.GetPendingReadLength(), 3);
}

TEST(WireStrings, MissingBytesFailAfterTheCount)
{
    MemStream stream = StreamOf(Count(10) + "abc");
    std::string value = "kept";
    EXPECT_FALSE(stream.Read(value));
    EXPECT_EQ(value, "kept");
    EXPECT_EQ(stream.GetPendingReadLength(), 3);

    MemStream noCount = StreamOf("ab");
    EXPECT_FALSE(noCount.Read(value));
    EXPECT_EQ(noCount.GetPendingReadLength(), 2);
}

TEST(WireStrings, CutAtNulButEveryByteConsumed)
{
    MemStream stream = StreamOf(Count(7) + std::string("abc\0def", 7) + Count(9));
    std::string bytes;
    ASSERT_TRUE(stream.Read(bytes));
    EXPECT_EQ(bytes, "abc");
    quint32 next;
    ASSERT_TRUE(stream.Read(next));
    EXPECT_EQ(next, 9u);

    MemStream textStream = StreamOf(Count(7) + std::string("abc\0def", 7));
    QString text;
    ASSERT_TRUE(textStream.Read(text));
    EXPECT_EQ(text, QString("abc"));
    EXPECT_EQ(textStream.GetPendingReadLength(), 0);
}

TEST(WireStrings, ValidUtf8IsReadAsUtf8)
{
    MemStream stream = StreamOf(Count(6) + "caf\xC3\xA9!");
    QString text;
    ASSERT_TRUE(stream.Read(text));
    EXPECT_EQ(text, QString::fromUtf8("caf\xC3\xA9!"));
    EXPECT_EQ(text.size(), 5);
}

TEST(WireStrings, OtherBytesFallBackToTheCodePage)
{
    // With no code page chosen the fallback reads one character per byte, as Latin-1.
    const std::string latin1("caf\xE9", 4);
    MemStream stream = StreamOf(Count(4) + latin1 + Count(1) + "\xFF");
    QString text;
    ASSERT_TRUE(stream.Read(text));
    EXPECT_EQ(text, QString::fromLatin1("caf\xE9"));
    EXPECT_EQ(text, ToQString(latin1));
    ASSERT_TRUE(stream.Read(text));
    EXPECT_EQ(text, QString(QChar(0xFF)));
}

TEST(WireContainers, ListStopsAtTheFirstMissingElement)
{
    MemStream stream = StreamOf(Count(2) + Count(5));
    std::list<int> values{9, 9, 9};
    EXPECT_FALSE(stream.Read(values));
    EXPECT_EQ(values, (std::list<int>{5}));
}

TEST(WireContainers, SetCollapsesDuplicates)
{
    MemStream written;
    ASSERT_TRUE(written.Write(qint32(3)));
    for (const char* name : {"bob", "al", "bob"})
        ASSERT_TRUE(written.Write(QString(name)));
    std::set<QString> names;
    ASSERT_TRUE(written.Read(names));
    EXPECT_EQ(names, (std::set<QString>{"al", "bob"}));
}

TEST(WireContainers, MapKeepsTheLaterValueOfARepeatedKey)
{
    MemStream stream;
    ASSERT_TRUE(stream.Write(qint32(3)));
    ASSERT_TRUE(stream.Write(qint32(1)) && stream.Write(std::string("first")));
    ASSERT_TRUE(stream.Write(qint32(2)) && stream.Write(std::string("two")));
    ASSERT_TRUE(stream.Write(qint32(1)) && stream.Write(std::string("later")));
    std::map<int, std::string> table;
    ASSERT_TRUE(stream.Read(table));
    EXPECT_EQ(table, (std::map<int, std::string>{{1, "later"}, {2, "two"}}));
}

TEST(WireContainers, ZeroCountGivesAnEmptyContainer)
{
    MemStream stream = StreamOf(Count(0));
    std::list<QString> names{"old"};
    ASSERT_TRUE(stream.Read(names));
    EXPECT_TRUE(names.empty());
}

TEST(WireContainers, CountAboveTheLimitFailsAtOnce)
{
    MemStream stream = StreamOf(Count(131073) + std::string(64, '\0'));
    std::list<int> values{1};
    EXPECT_FALSE(stream.Read(values));
    EXPECT_TRUE(values.empty());
    EXPECT_EQ(stream.GetPendingReadLength(), 64);
}

TEST(WireContainers, NegativeCountFailsWithoutReadingOn)
{
    // Refused at once rather than read until the data runs out.
    MemStream stream = StreamOf(Count(0xFFFFFFFFu) + std::string(64, '\0'));
    std::list<int> values{1};
    EXPECT_FALSE(stream.Read(values));
    EXPECT_TRUE(values.empty());
    EXPECT_EQ(stream.GetPendingReadLength(), 64);

    MemStream mapStream = StreamOf(Count(0x80000000u) + std::string(64, '\0'));
    std::map<int, std::string> table{{1, "x"}};
    EXPECT_FALSE(mapStream.Read(table));
    EXPECT_TRUE(table.empty());
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
