#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "peer/FileInfo.h"
#include "server/MemStream.h"
#include "support/StreamBytes.h"

namespace
{
std::string I64(qint64 value)
{
    MemStream stream;
    stream.Write(value);
    return Written(stream);
}

FileInfo Record(const std::string& name, qint64 size, std::vector<std::pair<int, int>> attributes = {})
{
    FileInfo file;
    file.name = name;
    file.size = size;
    file.attributeMap.extension = "mp3";
    file.attributeMap.attributes = std::move(attributes);
    return file;
}
} // namespace

TEST(FileInfoWire, LayoutOfOneRecord)
{
    MemStream stream;
    ASSERT_TRUE(stream.Write(Record("a.mp3", 258, {{0, 192}, {2, 1}})));
    EXPECT_EQ(Written(stream), std::string("\x01") + U32(5) + "a.mp3" + I64(258) + U32(3) + "mp3" +
                                   U32(2) + U32(0) + U32(192) + U32(2) + U32(1));
}

TEST(FileInfoWire, RoundTripKeepsPairsInOrder)
{
    const FileInfo original = Record("Music\\song \xC3\xA9.mp3", 0x123456789LL, {{2, 1}, {0, 320}, {1, 245}, {0, 128}, {99, -5}});
    MemStream stream;
    ASSERT_TRUE(original.Write(stream));
    FileInfo back;
    ASSERT_TRUE(back.Read(stream));
    EXPECT_EQ(back.name, original.name);
    EXPECT_EQ(back.size, original.size);
    EXPECT_EQ(back.attributeMap.extension, "mp3");
    EXPECT_EQ(back.attributeMap.attributes, original.attributeMap.attributes);
    EXPECT_FALSE(back < original);
    EXPECT_FALSE(original < back);
    EXPECT_EQ(stream.GetPendingReadLength(), 0);
}

TEST(FileInfoWire, AbsentRecordIsOneByte)
{
    MemStream stream = StreamOf(std::string("\x00\x07", 2));
    FileInfo file = Record("kept", 3);
    ASSERT_TRUE(file.Read(stream));
    EXPECT_EQ(file.name, "kept");
    EXPECT_EQ(file.size, 3);
    EXPECT_EQ(stream.GetPendingReadLength(), 1);
}

TEST(FileInfoWire, NameLimitIsInclusive)
{
    const std::string tail = I64(1) + U32(0) + U32(0);
    MemStream accepted = StreamOf("\x01" + U32(131072) + std::string(131072, 'n') + tail);
    FileInfo file;
    ASSERT_TRUE(file.Read(accepted));
    EXPECT_EQ(file.name.size(), 131072u);

    MemStream refused = StreamOf("\x01" + U32(131073) + std::string(131073, 'n') + tail);
    EXPECT_FALSE(file.Read(refused));
    EXPECT_EQ(refused.GetPendingReadLength(), 131073 + static_cast<int>(tail.size()));
}

TEST(FileInfoWire, NameIsCutAtNulButFullyConsumed)
{
    MemStream stream = StreamOf("\x01" + U32(7) + std::string("abc\0def", 7) + I64(42) + U32(1) + "x" + U32(0));
    FileInfo file;
    ASSERT_TRUE(file.Read(stream));
    EXPECT_EQ(file.name, "abc");
    EXPECT_EQ(file.size, 42);
    EXPECT_EQ(file.attributeMap.extension, "x");
    EXPECT_EQ(stream.GetPendingReadLength(), 0);
}

TEST(FileInfoWire, EveryTruncationFails)
{
    MemStream full;
    ASSERT_TRUE(full.Write(Record("name", 7, {{0, 1}, {1, 2}})));
    const std::string bytes = Written(full);
    for (std::size_t length = 0; length < bytes.size(); ++length)
    {
        MemStream stream = StreamOf(bytes.substr(0, length));
        FileInfo file;
        EXPECT_FALSE(file.Read(stream)) << "length " << length;
    }
}

TEST(AttributeMapWire, CountsAreChecked)
{
    AttributeMap map;
    map.attributes = {{5, 5}};
    MemStream zero = StreamOf(U32(0) + U32(0));
    ASSERT_TRUE(map.Read(zero));
    EXPECT_TRUE(map.attributes.empty());

    MemStream tooMany = StreamOf(U32(0) + U32(131073) + std::string(64, '\0'));
    EXPECT_FALSE(map.Read(tooMany));
    EXPECT_EQ(tooMany.GetPendingReadLength(), 64);

    // A negative count is refused at once instead of being read until the data runs out.
    MemStream negative = StreamOf(U32(0) + U32(0xFFFFFFFFu) + std::string(64, '\0'));
    EXPECT_FALSE(map.Read(negative));
    EXPECT_EQ(negative.GetPendingReadLength(), 64);

    MemStream halfPair = StreamOf(U32(0) + U32(2) + U32(0) + U32(1) + U32(0));
    EXPECT_FALSE(map.Read(halfPair));
    EXPECT_EQ(map.attributes, (std::vector<std::pair<int, int>>{{0, 1}}));
}

TEST(FileInfoOrder, ByNameBytesThenSize)
{
    std::set<FileInfo> files;
    files.insert(Record("song", 7));
    files.insert(Record("song", 5));
    files.insert(Record("song", -1));
    files.insert(Record("songs", 1));
    files.insert(Record("son", 1000));
    files.insert(Record("\xC3\xA9t\xC3\xA9", 1));
    files.insert(Record("zebra", 1));

    std::vector<std::pair<std::string, qint64>> order;
    for (const FileInfo& file : files)
        order.emplace_back(file.name, file.size);
    const std::vector<std::pair<std::string, qint64>> expected{
        {"son", 1000}, {"song", -1}, {"song", 5}, {"song", 7}, {"songs", 1}, {"zebra", 1},
        {"\xC3\xA9t\xC3\xA9", 1}};
    EXPECT_EQ(order, expected);
}

TEST(FileInfoOrder, EqualNameAndSizeKeepsTheFirst)
{
    std::set<FileInfo> files;
    files.insert(Record("a", 1, {{0, 128}}));
    const bool inserted = files.insert(Record("a", 1, {{0, 320}})).second;
    EXPECT_FALSE(inserted);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files.begin()->attributeMap.attributes, (std::vector<std::pair<int, int>>{{0, 128}}));
}
