#include <gtest/gtest.h>

#include <string>

#include "peer/AttributeTranslationTable.h"
#include "peer/FileInfoMap.h"
#include "server/MemStream.h"
#include "support/StreamBytes.h"

namespace
{
FileInfo Record(const std::string& name, qint64 size, int bitrate)
{
    FileInfo file;
    file.name = name;
    file.size = size;
    file.attributeMap.extension = "ogg";
    file.attributeMap.attributes = {{0, bitrate}, {1, 200}};
    return file;
}

FileInfoMap SampleShare()
{
    FileInfoMap share;
    share["music\\a"].insert(Record("one.ogg", 100, 128));
    share["music\\a"].insert(Record("two.ogg", 200, 192));
    share["music\\b"].insert(Record("three.ogg", 300, 320));
    share["empty"];
    return share;
}

bool SameShare(const FileInfoMap& a, const FileInfoMap& b)
{
    if (a.size() != b.size())
        return false;
    for (auto left = a.begin(), right = b.begin(); left != a.end(); ++left, ++right)
    {
        if (left->first != right->first || left->second.size() != right->second.size())
            return false;
        for (auto x = left->second.begin(), y = right->second.begin(); x != left->second.end(); ++x, ++y)
            if (x->name != y->name || x->size != y->size ||
                x->attributeMap.extension != y->attributeMap.extension ||
                x->attributeMap.attributes != y->attributeMap.attributes)
                return false;
    }
    return true;
}
} // namespace

TEST(FileInfoMapWire, RoundTrip)
{
    const FileInfoMap share = SampleShare();
    const AttributeTranslationTable table{{0, "bitrate"}, {1, "length"}};
    MemStream stream;
    ASSERT_TRUE(stream.Write(share));
    ASSERT_TRUE(stream.Write(table));

    FileInfoMap back;
    AttributeTranslationTable tableBack;
    ASSERT_TRUE(stream.Read(back));
    ASSERT_TRUE(stream.Read(tableBack));
    EXPECT_TRUE(SameShare(back, share));
    EXPECT_EQ(tableBack, table);
    EXPECT_EQ(stream.GetPendingReadLength(), 0);
}

TEST(FileInfoMapWire, LayoutIsCountedFoldersOfCountedRecords)
{
    FileInfoMap share;
    share["f"].insert(Record("n", 1, 2));
    MemStream stream;
    ASSERT_TRUE(stream.Write(share));
    MemStream record;
    ASSERT_TRUE(record.Write(Record("n", 1, 2)));
    EXPECT_EQ(Written(stream), U32(1) + U32(1) + "f" + U32(1) + Written(record));
}

TEST(FileInfoMapWire, DuplicateRecordsCollapseToTheFirst)
{
    MemStream stream;
    ASSERT_TRUE(stream.Write(qint32(1)));
    ASSERT_TRUE(stream.Write(std::string("dir")));
    ASSERT_TRUE(stream.Write(qint32(3)));
    ASSERT_TRUE(stream.Write(Record("x", 5, 128)));
    ASSERT_TRUE(stream.Write(Record("x", 5, 320)));
    ASSERT_TRUE(stream.Write(Record("x", 7, 64)));
    FileInfoMap share;
    ASSERT_TRUE(stream.Read(share));
    ASSERT_EQ(share["dir"].size(), 2u);
    EXPECT_EQ(share["dir"].begin()->attributeMap.attributes.front().second, 128);
}

TEST(FileInfoMapWire, EveryTruncationFailsCleanly)
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
}

TEST(FileInfoMapWire, CountsAboveTheLimitFail)
{
    MemStream folders = StreamOf(U32(131073) + std::string(32, '\0'));
    FileInfoMap share;
    EXPECT_FALSE(folders.Read(share));
    EXPECT_EQ(folders.GetPendingReadLength(), 32);

    MemStream records = StreamOf(U32(1) + U32(1) + "d" + U32(131073) + std::string(32, '\0'));
    EXPECT_FALSE(records.Read(share));
    EXPECT_TRUE(share.empty());
    EXPECT_EQ(records.GetPendingReadLength(), 32);
}

TEST(AttributeTranslationTableWire, LaterKeyWinsAndNamesAreLimited)
{
    MemStream stream = StreamOf(U32(2) + U32(4) + U32(1) + "a" + U32(4) + U32(1) + "b");
    AttributeTranslationTable table;
    ASSERT_TRUE(stream.Read(table));
    EXPECT_EQ(table, (AttributeTranslationTable{{4, "b"}}));

    MemStream tooLong = StreamOf(U32(1) + U32(4) + U32(131073));
    EXPECT_FALSE(tooLong.Read(table));
    EXPECT_TRUE(table.empty());
}
