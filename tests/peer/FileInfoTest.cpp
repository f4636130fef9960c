#include <gtest/gtest.h>

#include "peer/FileInfo.h"
#include "peer/FileInfoMap.h"
#include "support/StreamBytes.h"

// The records' fields, absent records and a folder's order; the messenger's reading is tested with it.
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

TEST(FileInfoWire, AShareIsWrittenFolderByFolderWithEachRecordsFieldsInOrder)
{
    FileInfoMap share;
    share["f"].insert(Record("a.mp3", 0x100000102LL, {{0, 192}, {2, 1}, {0, -5}}));
    MemStream layout;
    ASSERT_TRUE(layout.Write(share));
    EXPECT_EQ(Written(layout), U32(1) + U32(1) + "f" + U32(1) + "\x01" + U32(5) + "a.mp3" + I64(0x100000102LL) +
                                   U32(3) + "mp3" + U32(3) + U32(0) + U32(192) + U32(2) + U32(1) + U32(0) + U32(-5));
}

TEST(FileInfoWire, AnAbsentRecordIsOneByteAndLeavesTheRecordAsItWas)
{
    MemStream absent = StreamOf(std::string("\x00\x07", 2));
    FileInfo kept = Record("kept", 3);
    ASSERT_TRUE(kept.Read(absent));
    EXPECT_EQ(kept.name + std::to_string(kept.size) + std::to_string(absent.GetPendingReadLength()), "kept31");
}

TEST(FileInfoOrder, ByNameBytesThenSizeWhateverTheAttributes)
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
}
