#include <gtest/gtest.h>

#include <iterator>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "peer/AttributeTranslationTable.h"
#include "peer/FileInfo.h"
#include "peer/FileInfoMap.h"
#include "support/StreamBytes.h"

namespace
{
using Pairs = std::vector<std::pair<int, int>>;

std::string I64(qint64 value) { return U32(quint32(value)) + U32(quint32(quint64(value) >> 32)); }

FileInfo Record(const std::string& name, qint64 size, Pairs attributes = {})
{
    FileInfo file;
    file.name = name;
    file.size = size;
    file.attributeMap.extension = "mp3";
    file.attributeMap.attributes = std::move(attributes);
    return file;
}

FileInfoMap SampleShare()
{
    FileInfoMap share;
    share["music\\a"].insert(Record("one.ogg", 100, {{0, 128}, {1, 200}}));
    share["music\\a"].insert(Record("two.ogg", 200, {{0, 192}}));
    share["music\\b"].insert(Record("three.ogg", 300));
    share["empty"];
    return share;
}
} // namespace

TEST(FileInfoWire, LayoutAndRoundTripKeepPairsInOrder)
{
    MemStream layout;
    ASSERT_TRUE(layout.Write(Record("a.mp3", 258, {{0, 192}, {2, 1}})));
    EXPECT_EQ(Written(layout), std::string("\x01") + U32(5) + "a.mp3" + I64(258) + U32(3) + "mp3" +
                                   U32(2) + U32(0) + U32(192) + U32(2) + U32(1));

    const FileInfo original = Record("Music\\song \xC3\xA9.mp3", 0x123456789LL,
                                     {{2, 1}, {0, 320}, {1, 245}, {0, 128}, {99, -5}});
    MemStream stream;
    ASSERT_TRUE(original.Write(stream));
    FileInfo back;
    ASSERT_TRUE(back.Read(stream));
    EXPECT_EQ(std::tie(back.name, back.size, back.attributeMap.extension, back.attributeMap.attributes),
              std::tie(original.name, original.size, original.attributeMap.extension, original.attributeMap.attributes));
    EXPECT_EQ(stream.GetPendingReadLength(), 0);
}

TEST(FileInfoWire, AbsentRecordsAndNames)
{
    // An absent record is one byte and leaves the record as it was.
    MemStream absent = StreamOf(std::string("\x00\x07", 2));
    FileInfo kept = Record("kept", 3);
    ASSERT_TRUE(kept.Read(absent));
    EXPECT_EQ(kept.name + std::to_string(absent.GetPendingReadLength()), "kept1");

    const std::string tail = I64(1) + U32(0) + U32(0);
    MemStream longest = StreamOf("\x01" + U32(131072) + std::string(131072, 'n') + tail);
    FileInfo file;
    ASSERT_TRUE(file.Read(longest));
    EXPECT_EQ(file.name.size(), 131072u);
    MemStream tooLong = StreamOf("\x01" + U32(131073) + std::string(131073, 'n') + tail);
    EXPECT_FALSE(file.Read(tooLong));
    EXPECT_EQ(tooLong.GetPendingReadLength(), 131073 + static_cast<int>(tail.size()));

    // A name is cut at its first NUL, but all of it is consumed.
    MemStream nul = StreamOf("\x01" + U32(7) + std::string("abc\0def", 7) + I64(42) + U32(1) + "x" + U32(0));
    ASSERT_TRUE(file.Read(nul));
    EXPECT_EQ(file.name + " " + std::to_string(file.size) + " " + std::to_string(nul.GetPendingReadLength()), "abc 42 0");
}

TEST(AttributeMapWire, CountsAreChecked)
{
    AttributeMap map;
    map.attributes = {{5, 5}};
    MemStream zero = StreamOf(U32(0) + U32(0));
    ASSERT_TRUE(map.Read(zero) && map.attributes.empty());

    // Too many and negative counts are refused before anything is read.
    for (quint32 count : {131073u, 0xFFFFFFFFu})
    {
        MemStream refused = StreamOf(U32(0) + U32(count) + std::string(64, '\0'));
        EXPECT_FALSE(map.Read(refused)) << count;
        EXPECT_EQ(refused.GetPendingReadLength(), 64) << count;
    }

    MemStream halfPair = StreamOf(U32(0) + U32(2) + U32(0) + U32(1) + U32(0));
    EXPECT_FALSE(map.Read(halfPair));
    EXPECT_EQ(map.attributes, (Pairs{{0, 1}}));
}

TEST(FileInfoOrder, ByNameBytesThenSizeAndTheFirstOfEqualsIsKept)
{
    std::set<FileInfo> files;
    for (const auto& [name, size] : std::vector<std::pair<std::string, qint64>>{
             {"song", 7}, {"song", 5}, {"song", -1}, {"songs", 1}, {"son", 1000},
             {"\xC3\xA9t\xC3\xA9", 1}, {"zebra", 1}})
        files.insert(Record(name, size, {{0, 128}}));
    EXPECT_FALSE(files.insert(Record("song", 5, {{0, 320}})).second);

    std::vector<std::pair<std::string, qint64>> order;
    for (const FileInfo& file : files)
        order.emplace_back(file.name, file.size);
    EXPECT_EQ(order, (std::vector<std::pair<std::string, qint64>>{
                         {"son", 1000}, {"song", -1}, {"song", 5}, {"song", 7}, {"songs", 1},
                         {"zebra", 1}, {"\xC3\xA9t\xC3\xA9", 1}}));
    EXPECT_EQ(std::next(files.begin(), 2)->attributeMap.attributes, (Pairs{{0, 128}}));
}

TEST(FileInfoMapWire, RoundTripAndLayout)
{
    const AttributeTranslationTable table{{0, "bitrate"}, {1, "length"}};
    MemStream stream, again;
    ASSERT_TRUE(stream.Write(SampleShare()) && stream.Write(table));
    FileInfoMap back;
    AttributeTranslationTable tableBack;
    ASSERT_TRUE(stream.Read(back) && stream.Read(tableBack));
    // Written again, what was read gives the same bytes.
    ASSERT_TRUE(again.Write(back) && again.Write(tableBack));
    EXPECT_EQ(Written(again), Written(stream));
    EXPECT_EQ(tableBack, table);
    EXPECT_EQ(stream.GetPendingReadLength(), 0);

    FileInfoMap share;
    share["f"].insert(Record("n", 1));
    MemStream layout, record;
    ASSERT_TRUE(layout.Write(share) && record.Write(Record("n", 1)));
    EXPECT_EQ(Written(layout), U32(1) + U32(1) + "f" + U32(1) + Written(record));
}

TEST(FileInfoMapWire, BadInputFailsCleanly)
{
    MemStream full;
    ASSERT_TRUE(full.Write(SampleShare()));
    const std::string bytes = Written(full);
    for (std::size_t length = 0; length < bytes.size(); ++length)
    {
        MemStream stream = StreamOf(bytes.substr(0, length));
        FileInfoMap share{{"stale", {}}};
        EXPECT_FALSE(stream.Read(share)) << "length " << length;
        EXPECT_EQ(share.count("stale"), 0u);
        // Only folders whose record set was read whole are kept.
        for (const auto& folder : share)
            EXPECT_TRUE(SampleShare().count(folder.first));
    }

    MemStream records = StreamOf(U32(1) + U32(1) + "d" + U32(131073) + std::string(32, '\0'));
    FileInfoMap share;
    EXPECT_FALSE(records.Read(share));
    EXPECT_TRUE(share.empty());
    EXPECT_EQ(records.GetPendingReadLength(), 32);

    // The later of two equal keys wins; an over-long name fails the table.
    MemStream twice = StreamOf(U32(2) + U32(4) + U32(1) + "a" + U32(4) + U32(1) + "b");
    AttributeTranslationTable table;
    ASSERT_TRUE(twice.Read(table));
    EXPECT_EQ(table, (AttributeTranslationTable{{4, "b"}}));
    MemStream tooLong = StreamOf(U32(1) + U32(4) + U32(131073));
    EXPECT_FALSE(tooLong.Read(table));
    EXPECT_TRUE(table.empty());
}
