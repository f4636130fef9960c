#include <gtest/gtest.h>

#include <iterator>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "peer/FileInfo.h"
#include "peer/FileInfoMap.h"
#include "support/StreamBytes.h"

// Counts, strings and the generic containers are the stream's, tested with it; here only what
// the peer records add: their fields, absent records and the order of a folder's files.
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
} // namespace

TEST(FileInfoWire, LayoutAndRoundTripKeepPairsInOrder)
{
    FileInfoMap share;
    share["f"].insert(Record("a.mp3", 258, {{0, 192}, {2, 1}}));
    MemStream layout;
    ASSERT_TRUE(layout.Write(share));
    EXPECT_EQ(Written(layout), U32(1) + U32(1) + "f" + U32(1) + "\x01" + U32(5) + "a.mp3" + I64(258) + U32(3) +
                                   "mp3" + U32(2) + U32(0) + U32(192) + U32(2) + U32(1));

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

TEST(FileInfoWire, AbsentRecordsAndHostileAttributeCounts)
{
    // An absent record is one byte and leaves the record as it was.
    MemStream absent = StreamOf(std::string("\x00\x07", 2));
    FileInfo kept = Record("kept", 3);
    ASSERT_TRUE(kept.Read(absent));
    EXPECT_EQ(kept.name + std::to_string(absent.GetPendingReadLength()), "kept1");

    // Too many and negative counts are refused before anything is read.
    AttributeMap map;
    for (quint32 count : {131073u, 0xFFFFFFFFu})
    {
        MemStream refused = StreamOf(U32(0) + U32(count) + std::string(64, '\0'));
        EXPECT_FALSE(map.Read(refused)) << count;
        EXPECT_EQ(refused.GetPendingReadLength(), 64) << count;
    }
}

TEST(FileInfoOrder, ByNameBytesThenSizeAndTheFirstOfEqualsIsKept)
{
    std::set<FileInfo> files;
    for (const auto& [name, size] : std::vector<std::pair<std::string, qint64>>{
             {"song", 7}, {"song", 5}, {"song", -1}, {"songs", 1}, {"son", 1000},
             {"\xC3\xA9t\xC3\xA9", 1}, {"z", 1}})
        files.insert(Record(name, size, {{0, 128}}));
    EXPECT_FALSE(files.insert(Record("song", 5, {{0, 320}})).second);

    std::vector<std::pair<std::string, qint64>> order;
    for (const FileInfo& file : files)
        order.emplace_back(file.name, file.size);
    EXPECT_EQ(order, (std::vector<std::pair<std::string, qint64>>{
                         {"son", 1000}, {"song", -1}, {"song", 5}, {"song", 7}, {"songs", 1},
                         {"z", 1}, {"\xC3\xA9t\xC3\xA9", 1}}));
    EXPECT_EQ(std::next(files.begin(), 2)->attributeMap.attributes, (Pairs{{0, 128}}));
}

TEST(FileInfoMapWire, EveryCutFailsAndKeepsOnlyWholeFolders)
{
    FileInfoMap sample;
    sample["music\\a"] = {Record("one.ogg", 100, {{0, 128}, {1, 200}}), Record("two.ogg", 200, {{0, 192}})};
    sample["music\\b"].insert(Record("three.ogg", 300));
    sample["empty"];
    MemStream full;
    ASSERT_TRUE(full.Write(sample));
    const std::string bytes = Written(full);
    for (std::size_t length = 0; length < bytes.size(); ++length)
    {
        MemStream stream = StreamOf(bytes.substr(0, length));
        FileInfoMap share{{"stale", {}}};
        EXPECT_FALSE(stream.Read(share)) << "length " << length;
        EXPECT_EQ(share.count("stale"), 0u);
        for (const auto& folder : share)
            EXPECT_EQ(folder.second.size(), sample[folder.first].size()) << "length " << length;
    }
}
