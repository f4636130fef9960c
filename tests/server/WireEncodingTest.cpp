#include <QStringList>
#include <gtest/gtest.h>

#include <list>
#include <map>
#include <set>
#include <string>
#include <utility>

#include "server/MemStream.h"
#include "support/StreamBytes.h"

TEST(WireEncoding, IntegersAreLittleEndianStringsCountedAndBoundedTextUtf8ElseTheCodePage)
{
    MemStream stream;
    const QString withNul = QString("ab") + QChar(0) + "cd";
    ASSERT_TRUE(stream.Write(quint8(0xAB)) && stream.Write(qint16(0x0102)) && stream.Write(quint32(0x01020304)) &&
                stream.Write(qint32(-2)) && stream.Write(qint64(0x0102030405060708LL)) && stream.Write(true) &&
                stream.Write(false) && stream.Write(std::string("a\0b", 3)) &&
                stream.Write(QString::fromUtf8("\xC3\xA9")) && stream.Write(withNul));
    EXPECT_EQ(Written(stream), std::string("\xAB" "\x02\x01" "\x04\x03\x02\x01" "\xFE\xFF\xFF\xFF"
                                           "\x08\x07\x06\x05\x04\x03\x02\x01" "\x01\x00" "\x03\x00\x00\x00" "a\0b"
                                           "\x02\x00\x00\x00\xC3\xA9" "\x02\x00\x00\x00" "ab", 40));
    bool flag = false;
    EXPECT_TRUE(StreamOf("\x02").Read(flag) && flag) << "any non-zero byte is true";

    MemStream accepted = StreamOf(U32(131072) + std::string(131072, 'x'));
    std::string value;
    ASSERT_TRUE(accepted.Read(value));
    EXPECT_EQ(value.size() + accepted.GetPendingReadLength(), 131072u);

    const std::pair<std::string, int> l_cases[] = {
        {U32(131073) + std::string(131073, 'x'), 131073}, {U32(0xFFFFFFFFu) + "abc", 3}, {U32(10) + "abc", 3}, {"ab", 2}};
    for (const auto& [l_bytes, l_left] : l_cases)
    {
        SCOPED_TRACE(l_bytes.size());
        MemStream bytes = StreamOf(l_bytes), text = StreamOf(l_bytes);
        value = "kept";
        QString kept("kept");
        EXPECT_FALSE(bytes.Read(value) || text.Read(kept));
        EXPECT_EQ(value + " " + kept.toStdString(), "kept kept");
        EXPECT_EQ(bytes.GetPendingReadLength(), l_left);
        EXPECT_EQ(text.GetPendingReadLength(), l_left);
    }

    // With no code page chosen the fallback reads one character per byte, as Latin-1.
    const std::string nul("abc\0def", 7);
    MemStream texts = StreamOf(U32(7) + nul + U32(7) + nul + U32(6) + "caf\xC3\xA9!" + U32(4) + "caf\xE9");
    std::string bytes;
    QString cut, utf8, fallback;
    ASSERT_TRUE(texts.Read(bytes) && texts.Read(cut) && texts.Read(utf8) && texts.Read(fallback));
    EXPECT_EQ(bytes, "abc");
    EXPECT_EQ((QStringList{cut, utf8, fallback}),
              (QStringList{"abc", QString::fromUtf8("caf\xC3\xA9!"), QString::fromLatin1("caf\xE9")}));
}

TEST(WireEncoding, ContainersCarryACountAndFailOnBadCountsOrTruncation)
{
    MemStream full;
    ASSERT_TRUE(full.Write(std::list<int>{7, 8}) && full.Write(std::map<int, std::string>{{1, "x"}}) &&
                full.Write(std::make_pair(0x7F000001u, 2235)) &&
                full.Write(std::list<QString>{QString::fromUtf8("\xC3\xB6"), ""}));
    const std::string bytes = Written(full);
    EXPECT_EQ(bytes, std::string("\x02\x00\x00\x00\x07\x00\x00\x00\x08\x00\x00\x00"
                                 "\x01\x00\x00\x00\x01\x00\x00\x00\x01\x00\x00\x00x"
                                 "\x01\x00\x00\x7F\xBB\x08\x00\x00"
                                 "\x02\x00\x00\x00\x02\x00\x00\x00\xC3\xB6\x00\x00\x00\x00",
                                 47));

    for (std::size_t length = 0; length <= bytes.size(); ++length)
    {
        MemStream stream = StreamOf(bytes.substr(0, length));
        std::list<int> numbers;
        std::map<int, std::string> table;
        std::pair<unsigned int, int> address;
        std::list<QString> names;
        const bool ok = stream.Read(numbers) && stream.Read(table) && stream.Read(address) && stream.Read(names);
        EXPECT_EQ(ok, length == bytes.size()) << "length " << length;
        EXPECT_GE(stream.GetPendingReadLength(), 0);
        EXPECT_TRUE(!ok || (numbers == std::list<int>{7, 8} && table == std::map<int, std::string>{{1, "x"}} &&
                            address == std::make_pair(0x7F000001u, 2235) &&
                            names == std::list<QString>{QString::fromUtf8("\xC3\xB6"), ""}));
    }

    // Repeats: one set element per value, the later map entry wins.
    MemStream repeats;
    ASSERT_TRUE(repeats.Write(std::list<QString>{"bob", "al", "bob"}) &&
                repeats.Write(std::list<std::pair<int, std::string>>{{1, "first"}, {2, "two"}, {1, "later"}}));
    std::set<QString> names;
    std::map<int, std::string> table;
    ASSERT_TRUE(repeats.Read(names) && repeats.Read(table));
    EXPECT_EQ(names, (std::set<QString>{"al", "bob"}));
    EXPECT_EQ(table, (std::map<int, std::string>{{1, "later"}, {2, "two"}}));

    // Refused at once rather than read until the data runs out.
    for (quint32 count : {131073u, 0x80000000u, 0xFFFFFFFFu})
    {
        SCOPED_TRACE(count);
        MemStream listStream = StreamOf(U32(count) + std::string(64, '\0'));
        MemStream mapStream = StreamOf(U32(count) + std::string(64, '\0'));
        std::list<int> values{1};
        table = {{1, "x"}};
        EXPECT_FALSE(listStream.Read(values) || mapStream.Read(table));
        EXPECT_TRUE(values.empty() && table.empty());
        EXPECT_EQ(listStream.GetPendingReadLength(), 64);
    }
}

TEST(MemStream, GrowthKeepsEveryByteCopiesShareBufferAndReadPositionAReceiveBufferFillsInPlace)
{
    MemStream* original = new MemStream;
    std::string written;
    for (int n = 0; n < 200; ++n)
        written.push_back(static_cast<char>(n));
    ASSERT_TRUE(original->WriteBuffer(written.data(), written.size()));
    MemStream copy = *original;
    char first[150];
    ASSERT_TRUE(copy.ReadBuffer(first, sizeof first));
    EXPECT_EQ(original->GetPendingReadLength(), 50);

    // Grown through the copy, for both.
    const std::string more(300, 'y');
    ASSERT_TRUE(copy.WriteBuffer(more.data(), more.size()));
    written += more;
    EXPECT_EQ(Written(*original), written);
    EXPECT_EQ(std::string(original->GetReadBuffer(), 350), written.substr(150));

    // The buffer lives as long as the last copy.
    delete original;
    EXPECT_EQ(Written(copy), written);

    MemStream receive;
    receive.EnsureBufferCapacity(1000);
    ASSERT_GE(receive.GetBufferSize(), 1000);
    receive.GetWriteBuffer()[999] = 'r';
    receive.AdvanceWriteIndex(1000);
    EXPECT_EQ(Written(receive).back(), 'r') << "filled in place";
}

TEST(MemStreamDeathTest, ReceiveBufferPreconditionsHoldInEveryBuild)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH({ MemStream stream; stream.Write(quint8(1)); stream.EnsureBufferCapacity(1000); }, "mp_buffer->m_writeIndex == 0");
    EXPECT_DEATH({ MemStream stream; stream.AdvanceWriteIndex(257); }, "m_writeIndex");
}
