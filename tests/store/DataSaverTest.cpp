#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <string>
#include <vector>

#include "store/Data.h"
#include "store/DataSaver.h"
#include "support/TestSupport.h"

namespace
{
// Builds store file bytes field by field, the way the expected files are written out below.
class FileBytes
{
public:
    FileBytes& Int(std::int32_t i_value)
    {
        const auto l_value = static_cast<std::uint32_t>(i_value);
        for (int l_shift = 0; l_shift < 32; l_shift += 8)
            m_bytes.push_back(static_cast<char>((l_value >> l_shift) & 0xff));
        return *this;
    }
    FileBytes& Flag(bool i_value)
    {
        m_bytes.push_back(i_value ? 1 : 0);
        return *this;
    }
    FileBytes& Text(const std::string& i_text)
    {
        Int(static_cast<std::int32_t>(i_text.size()));
        m_bytes += i_text;
        return *this;
    }
    const std::string& Bytes() const { return m_bytes; }

private:
    std::string m_bytes;
};

std::string ReadBytes(const std::string& i_path)
{
    QFile l_file(QString::fromStdString(i_path));
    if (!l_file.open(QIODevice::ReadOnly))
        return "<missing>";
    const QByteArray l_bytes = l_file.readAll();
    return std::string(l_bytes.constData(), static_cast<std::size_t>(l_bytes.size()));
}

void WriteBytes(const std::string& i_path, const std::string& i_bytes)
{
    QFile l_file(QString::fromStdString(i_path));
    ASSERT_TRUE(l_file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(l_file.write(i_bytes.data(), static_cast<qint64>(i_bytes.size())),
              static_cast<qint64>(i_bytes.size()));
}

QStringList Entries(const TemporaryFolder& i_folder)
{
    return QDir(QString::fromStdString(i_folder.Path()))
        .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System, QDir::Name);
}

std::size_t ItemTotal()
{
    std::size_t l_total = 0;
    for (const auto& l_type : d.Types())
        l_total += l_type.second->ItemCount();
    return l_total;
}

// The part of the real schema these tests need: settings, users with notes and flags, and
// shared folders holding file folders holding files.
struct SaverSchema
{
    SaverSchema()
    {
        global = d.NewType("global", Primary, false, true);
        value = d.NewType("global_value", Leaf, false, false);
        global->RelateToType(value, Many, One, false);
        user = d.NewType("user", Primary, false, true);
        note = d.NewType("user_note", Leaf, false, false);
        ignored = d.NewType("is_ignored", Leaf, true, false);
        room = d.NewType("room", Primary, false, true);
        user->RelateToType(note, One, One, false);
        user->RelateToType(ignored, Many, One, false);
        user->RelateToType(room, Many, Many, false);
        folder = d.NewType("shared_folder", Primary, false, true);
        fileFolder = d.NewType("shared_file_folder", Intermediate, false, true);
        file = d.NewType("shared_file", Intermediate, false, true);
        folder->RelateToType(fileFolder, Many, Many, false);
        fileFolder->RelateToType(file, One, Many, false);
    }

    void Register(DataSaver& io_saver) const
    {
        io_saver.AddSavedType("global");
        io_saver.AddSavedByConnectionType("global_value", "global");
        io_saver.AddSavedType("user_note");
        io_saver.AddSavedType("is_ignored");
        io_saver.AddSavedByConnectionType("user", "user_note");
        io_saver.AddSavedByConnectionType("user", "is_ignored");
        io_saver.AddSavedType("shared_folder");
        io_saver.AddSavedByConnectionType("shared_file_folder", "shared_folder");
        io_saver.AddSavedByConnectionType("shared_file", "shared_file_folder");
    }

    Type* global;
    Type* value;
    Type* user;
    Type* note;
    Type* ignored;
    Type* room;
    Type* folder;
    Type* fileFolder;
    Type* file;
};

class Listener : public DataLoadedEventHandler
{
public:
    void DataLoaded() override { m_calls.push_back("loaded"); }
    void NoData() override { m_calls.push_back("no data"); }
    std::vector<std::string> m_calls;
};

class NewItemCounter : public DataHandler
{
public:
    explicit NewItemCounter(Type* ip_type)
    {
        ip_type->m_newItemEvent.AddHandler(NewEventHandler(this, &NewItemCounter::OnNewItem));
    }
    void OnNewItem(ItemPtr) { ++m_count; }
    int m_count = 0;
};

bool LoadFails(DataSaver& io_saver, const std::string& i_path)
{
    try
    {
        io_saver.Load(QString::fromStdString(i_path));
    }
    catch (const DataLoadFailure&)
    {
        return true;
    }
    return false;
}
} // namespace

// ---- The file as written ----

TEST(StoreFileWriting, EmptyStoreIsTwoZeroCounts)
{
    TemporaryFolder l_folder;
    DataSaver l_saver;
    l_saver.Save(QString::fromStdString(l_folder.File("store")));
    EXPECT_EQ(ReadBytes(l_folder.File("store")), FileBytes().Int(0).Int(0).Bytes());
    EXPECT_EQ(Entries(l_folder), QStringList{"store"});
}

TEST(StoreFileWriting, ValuelessTypeWritesIndicesOnly)
{
    TemporaryFolder l_folder;
    Type* lp_marker = d.NewType("marker", Leaf, true, false);
    lp_marker->NewItem();
    lp_marker->NewItem();
    DataSaver l_saver;
    l_saver.AddSavedType("marker");
    l_saver.Save(QString::fromStdString(l_folder.File("store")));
    const std::string l_expected =
        FileBytes().Int(1).Text("marker").Flag(true).Int(2).Int(1).Int(2).Int(0).Bytes();
    EXPECT_EQ(ReadBytes(l_folder.File("store")), l_expected);
}

TEST(StoreFileWriting, SettingWithItsValue)
{
    TemporaryFolder l_folder;
    SaverSchema l_schema;
    DataSaver l_saver;
    l_saver.AddSavedType("global");
    l_saver.AddSavedByConnectionType("global_value", "global");
    d.GetType("global")->GetItem("username") += l_schema.value->NewItem("anna");
    // A value that no setting holds is not written.
    l_schema.value->NewItem("orphan");
    l_saver.Save(QString::fromStdString(l_folder.File("store")));
    const std::string l_expected = FileBytes()
                                       .Int(2)
                                       .Text("global").Flag(false).Int(1).Int(1).Text("username")
                                       .Text("global_value").Flag(false).Int(1).Int(2).Text("anna")
                                       .Int(1).Int(1).Int(2)
                                       .Bytes();
    EXPECT_EQ(ReadBytes(l_folder.File("store")), l_expected);
}

TEST(StoreFileWriting, EachConnectionOnceInIndexOrder)
{
    TemporaryFolder l_folder;
    SaverSchema l_schema;
    DataSaver l_saver;
    l_saver.AddSavedType("is_ignored");
    l_saver.AddSavedType("user_note");
    l_saver.AddSavedByConnectionType("user", "user_note");
    l_saver.AddSavedByConnectionType("user", "is_ignored");
    ItemPtr l_bob = l_schema.user->GetItem("bob");
    ItemPtr l_carl = l_schema.user->GetItem("carl");
    l_bob.NewItem("is_ignored");
    l_carl.NewItem("is_ignored");
    l_bob += l_schema.note->NewItem("lends records");
    // A user only in a room is not kept; neither is the room.
    l_schema.user->GetItem("dora") += l_schema.room->GetItem("jazz");
    l_saver.Save(QString::fromStdString(l_folder.File("store")));

    // Within a type the order is the item set's; the indices follow it.
    ItemSet l_userSet;
    l_userSet.Insert(l_bob);
    l_userSet.Insert(l_carl);
    std::vector<ItemPtr> l_users;
    for (ItemPtr l_user : l_userSet)
        l_users.push_back(l_user);
    const int l_bobIndex = l_users[0] == l_bob ? 2 : 3;
    const int l_carlIndex = 5 - l_bobIndex;
    FileBytes l_expected;
    l_expected.Int(3).Text("is_ignored").Flag(true).Int(1).Int(1);
    l_expected.Text("user").Flag(false).Int(2);
    for (ItemPtr l_user : l_users)
        l_expected.Int(l_user == l_bob ? l_bobIndex : l_carlIndex).Text(l_user.AsStdString());
    l_expected.Text("user_note").Flag(false).Int(1).Int(4).Text("lends records");
    l_expected.Int(3).Int(1).Int(2).Int(1).Int(3);
    l_expected.Int(l_bobIndex).Int(4);
    EXPECT_EQ(ReadBytes(l_folder.File("store")), l_expected.Bytes());
}

TEST(StoreFileWriting, ConditionPartnerNeedNotBeWrittenItself)
{
    TemporaryFolder l_folder;
    SaverSchema l_schema;
    DataSaver l_saver;
    l_saver.AddSavedType("shared_folder");
    l_saver.AddSavedByConnectionType("shared_file_folder", "shared_folder");
    l_saver.AddSavedByConnectionType("shared_file", "shared_file_folder");
    // A file folder without its shared folder is not written; its file is, alone.
    l_schema.fileFolder->GetItem("/music") += l_schema.file->GetItem("a.ogg");
    l_saver.Save(QString::fromStdString(l_folder.File("store")));
    const std::string l_expected = FileBytes()
                                       .Int(3)
                                       .Text("shared_file").Flag(false).Int(1).Int(1).Text("a.ogg")
                                       .Text("shared_file_folder").Flag(false).Int(0)
                                       .Text("shared_folder").Flag(false).Int(0)
                                       .Int(0)
                                       .Bytes();
    EXPECT_EQ(ReadBytes(l_folder.File("store")), l_expected);
}

TEST(StoreFileWriting, RegisteringTwiceChangesNothing)
{
    TemporaryFolder l_folder;
    SaverSchema l_schema;
    l_schema.global->GetItem("a");
    DataSaver l_once;
    l_once.AddSavedType("global");
    l_once.Save(QString::fromStdString(l_folder.File("once")));
    DataSaver l_twice;
    l_twice.AddSavedType("global");
    l_twice.AddSavedType("global");
    l_twice.AddSavedByConnectionType("global", "global_value");
    l_twice.Save(QString::fromStdString(l_folder.File("twice")));
    EXPECT_EQ(ReadBytes(l_folder.File("once")), ReadBytes(l_folder.File("twice")));
    EXPECT_THROWS_PTR(l_once.AddSavedType("no_such_type"), TypeNotFoundException);
    EXPECT_THROWS_PTR(l_once.AddSavedByConnectionType("global", "no_such_type"),
                      TypeNotFoundException);
}

TEST(StoreFileWriting, DumpWritesEveryTypeAndConnection)
{
    TemporaryFolder l_folder;
    SaverSchema l_schema;
    l_schema.user->GetItem("dora") += l_schema.room->GetItem("jazz");
    DataSaver l_saver;
    ASSERT_TRUE(l_saver.SaveAll(QString::fromStdString(l_folder.File("dump"))));
    FileBytes l_expected;
    l_expected.Int(9);
    for (const char* lp_name : {"global", "global_value", "is_ignored"})
        l_expected.Text(lp_name).Flag(std::string(lp_name) == "is_ignored").Int(0);
    l_expected.Text("room").Flag(false).Int(1).Int(1).Text("jazz");
    for (const char* lp_name : {"shared_file", "shared_file_folder", "shared_folder"})
        l_expected.Text(lp_name).Flag(false).Int(0);
    l_expected.Text("user").Flag(false).Int(1).Int(2).Text("dora");
    l_expected.Text("user_note").Flag(false).Int(0);
    l_expected.Int(1).Int(1).Int(2);
    EXPECT_EQ(ReadBytes(l_folder.File("dump")), l_expected.Bytes());

    EXPECT_FALSE(l_saver.SaveAll(QString::fromStdString(l_folder.File("missing/dump"))));
    l_saver.SetWriteLimit(20);
    EXPECT_FALSE(l_saver.SaveAll(QString::fromStdString(l_folder.File("short"))));
}

// ---- Replacing the store file safely ----

TEST(StoreFileReplacing, TakenTemporaryNamesAreSkippedAndKept)
{
    TemporaryFolder l_folder;
    SaverSchema l_schema;
    DataSaver l_saver;
    l_saver.AddSavedType("global");
    l_schema.global->GetItem("username");
    WriteBytes(l_folder.File("store"), "old");
    WriteBytes(l_folder.File("store.1"), "left by an earlier run");
    WriteBytes(l_folder.File("store.3"), "another");
    l_saver.Save(QString::fromStdString(l_folder.File("store")));
    // Writing through ".1" or ".3" would have failed: the new file is there, so ".2" was used.
    EXPECT_EQ(ReadBytes(l_folder.File("store")),
              FileBytes().Int(1).Text("global").Flag(false).Int(1).Int(1).Text("username").Int(0)
                  .Bytes());
    EXPECT_EQ(ReadBytes(l_folder.File("store.1")), "left by an earlier run");
    EXPECT_EQ(ReadBytes(l_folder.File("store.3")), "another");
    EXPECT_EQ(Entries(l_folder), (QStringList{"store", "store.1", "store.3"}));
}

TEST(StoreFileReplacing, FailedWriteKeepsOldFileByteForByte)
{
    TemporaryFolder l_folder;
    SaverSchema l_schema;
    DataSaver l_saver;
    l_schema.Register(l_saver);
    const QString l_path = QString::fromStdString(l_folder.File("store"));
    l_schema.global->GetItem("username") += l_schema.value->NewItem("anna");
    l_saver.Save(l_path);
    const std::string l_old = ReadBytes(l_folder.File("store"));
    ASSERT_GT(l_old.size(), 8u);

    l_schema.global->GetItem("username") += l_schema.value->NewItem("a much longer name");
    l_schema.user->GetItem("bob").NewItem("is_ignored");
    TemporaryFolder l_probe;
    l_saver.Save(QString::fromStdString(l_probe.File("store")));
    const qint64 l_newSize = static_cast<qint64>(ReadBytes(l_probe.File("store")).size());
    // The disk fills up at every possible point of the new file, the last byte included.
    for (qint64 l_limit = 0; l_limit < l_newSize; ++l_limit)
    {
        l_saver.SetWriteLimit(l_limit);
        l_saver.Save(l_path);
        ASSERT_EQ(ReadBytes(l_folder.File("store")), l_old) << "limit " << l_limit;
        ASSERT_EQ(Entries(l_folder), QStringList{"store"}) << "limit " << l_limit;
    }
    l_saver.SetWriteLimit(l_newSize);
    l_saver.Save(l_path);
    EXPECT_EQ(ReadBytes(l_folder.File("store")), ReadBytes(l_probe.File("store")));
    EXPECT_EQ(Entries(l_folder), QStringList{"store"});
}

TEST(StoreFileReplacing, UnwritableFolderOrFailedRenameChangesNothing)
{
    TemporaryFolder l_folder;
    SaverSchema l_schema;
    DataSaver l_saver;
    l_schema.Register(l_saver);
    l_schema.global->GetItem("username");
    // A file used as a folder: the temporary file cannot be created.
    WriteBytes(l_folder.File("plain"), "x");
    l_saver.Save(QString::fromStdString(l_folder.File("plain/store")));
    EXPECT_EQ(ReadBytes(l_folder.File("plain")), "x");
    // A non-empty folder where the store should go: the rename fails, our file goes away.
    ASSERT_TRUE(QDir(QString::fromStdString(l_folder.Path())).mkpath("store/inside"));
    l_saver.Save(QString::fromStdString(l_folder.File("store")));
    EXPECT_TRUE(QDir(QString::fromStdString(l_folder.File("store/inside"))).exists());
    EXPECT_EQ(Entries(l_folder), (QStringList{"plain", "store"}));
}

// ---- Loading ----

TEST(StoreFileLoading, MissingFileMeansNoData)
{
    TemporaryFolder l_folder;
    DataSaver l_saver;
    Listener l_listener;
    l_saver.AddDataLoadedEventHandler(&l_listener);
    l_saver.AddDataLoadedEventHandler(&l_listener);
    l_saver.Load(QString::fromStdString(l_folder.File("store")));
    EXPECT_EQ(l_listener.m_calls, (std::vector<std::string>{"loaded", "no data"}));
}

TEST(StoreFileLoading, SavedStoreComesBack)
{
    TemporaryFolder l_folder;
    SaverSchema l_schema;
    DataSaver l_saver;
    l_schema.Register(l_saver);
    Listener l_listener;
    l_saver.AddDataLoadedEventHandler(&l_listener);
    l_schema.global->GetItem("username") += l_schema.value->NewItem("anna");
    ItemPtr l_bob = l_schema.user->GetItem("bob");
    l_bob.NewItem("is_ignored");
    l_bob += l_schema.note->NewItem("lends records");
    ItemPtr l_folderItem = l_schema.folder->GetItem("/home/anna/music");
    ItemPtr l_fileFolder = l_schema.fileFolder->GetItem("/home/anna/music/live");
    l_folderItem += l_fileFolder;
    l_fileFolder += l_schema.file->GetItem("a.ogg");
    l_fileFolder += l_schema.file->GetItem("b.ogg");
    const QString l_path = QString::fromStdString(l_folder.File("store"));
    l_saver.Save(l_path);

    d.RemoveAllItems();
    ASSERT_EQ(ItemTotal(), 0u);
    l_saver.Load(l_path);
    EXPECT_EQ(l_listener.m_calls, std::vector<std::string>{"loaded"});
    EXPECT_EQ(l_schema.global->HasItem("username")["global_value"].AsStdString(), "anna");
    ItemPtr l_loadedBob = l_schema.user->HasItem("bob");
    ASSERT_TRUE(l_loadedBob);
    EXPECT_TRUE(l_loadedBob.IsConnected("is_ignored"));
    EXPECT_EQ(l_loadedBob["user_note"].AsStdString(), "lends records");
    ItemPtr l_loadedFolder = l_schema.fileFolder->HasItem("/home/anna/music/live");
    ASSERT_TRUE(l_loadedFolder);
    EXPECT_EQ(l_loadedFolder["shared_folder"].AsStdString(), "/home/anna/music");
    EXPECT_EQ(l_loadedFolder.GetItems("shared_file").Size(), 2u);
    EXPECT_EQ(ItemTotal(), 9u);
    // And it writes the same file again.
    const std::string l_first = ReadBytes(l_folder.File("store"));
    l_saver.Save(l_path);
    EXPECT_EQ(ReadBytes(l_folder.File("store")).size(), l_first.size());
}

TEST(StoreFileLoading, StoredValueReplacesDefault)
{
    TemporaryFolder l_folder;
    SaverSchema l_schema;
    DataSaver l_saver;
    l_schema.Register(l_saver);
    ItemPtr l_setting = l_schema.global->GetItem("upload_slots");
    ItemPtr l_default = l_schema.value->NewItem("2");
    l_setting += l_default;
    NewItemCounter l_newSettings(l_schema.global);
    NewItemCounter l_newFlags(l_schema.ignored);
    WriteBytes(l_folder.File("store"),
               FileBytes()
                   .Int(3)
                   .Text("global").Flag(false).Int(1).Int(1).Text("upload_slots")
                   .Text("global_value").Flag(false).Int(1).Int(2).Text("5")
                   .Text("is_ignored").Flag(true).Int(1).Int(3)
                   .Int(1).Int(1).Int(2)
                   .Bytes());
    l_saver.Load(QString::fromStdString(l_folder.File("store")));
    EXPECT_EQ(l_setting["global_value"].AsStdString(), "5");
    EXPECT_TRUE(l_default.IsDisconnectedFromAll());
    EXPECT_EQ(l_schema.value->ItemCount(), 2u);
    // The setting item merged; the valueless item is always a new one.
    EXPECT_EQ(l_newSettings.m_count, 0);
    EXPECT_EQ(l_newFlags.m_count, 1);
}

TEST(StoreFileLoading, LastOfTwoStoredValuesWins)
{
    TemporaryFolder l_folder;
    SaverSchema l_schema;
    DataSaver l_saver;
    WriteBytes(l_folder.File("store"),
               FileBytes()
                   .Int(2)
                   .Text("global").Flag(false).Int(1).Int(1).Text("speed")
                   .Text("global_value").Flag(false).Int(2).Int(2).Text("10").Int(3).Text("20")
                   .Int(2).Int(1).Int(3).Int(1).Int(2)
                   .Bytes());
    l_saver.Load(QString::fromStdString(l_folder.File("store")));
    EXPECT_EQ(l_schema.global->HasItem("speed")["global_value"].AsStdString(), "20");
}

TEST(StoreFileLoading, WhatCannotBeUsedIsLeftOut)
{
    TemporaryFolder l_folder;
    SaverSchema l_schema;
    DataSaver l_saver;
    WriteBytes(l_folder.File("store"),
               FileBytes()
                   .Int(5)
                   // Declared valued, stored valueless: read past and dropped.
                   .Text("global").Flag(true).Int(2).Int(1).Int(2)
                   // No longer declared.
                   .Text("old_type").Flag(false).Int(1).Int(3).Text("gone")
                   .Text("room").Flag(false).Int(1).Int(4).Text("jazz")
                   // A repeated index keeps its last record.
                   .Text("user").Flag(false).Int(3).Int(5).Text("bob").Int(6).Text("eve")
                   .Int(5).Text("carl")
                   .Text("user_note").Flag(false).Int(1).Int(7).Text("note")
                   // Unrelated types, a dropped type, an index with no record, one item twice.
                   .Int(7)
                   .Int(4).Int(7).Int(1).Int(4).Int(3).Int(5).Int(5).Int(99)
                   .Int(4).Int(5).Int(5).Int(4).Int(5).Int(5)
                   .Bytes());
    l_saver.Load(QString::fromStdString(l_folder.File("store")));
    EXPECT_EQ(l_schema.global->ItemCount(), 0u);
    EXPECT_FALSE(l_schema.user->HasItem("bob"));
    ItemPtr l_carl = l_schema.user->HasItem("carl");
    ASSERT_TRUE(l_carl);
    EXPECT_EQ(l_carl["room"].AsStdString(), "jazz");
    EXPECT_TRUE(l_schema.user->HasItem("eve").IsDisconnectedFromAll());
    EXPECT_TRUE(l_schema.note->HasItem("note").IsDisconnectedFromAll());
    EXPECT_EQ(ItemTotal(), 4u);
}

TEST(StoreFileLoading, ValueIsCutAtNul)
{
    TemporaryFolder l_folder;
    SaverSchema l_schema;
    DataSaver l_saver;
    l_saver.AddSavedType("global");
    l_schema.global->GetItem(std::string("a\0b", 3));
    const QString l_path = QString::fromStdString(l_folder.File("store"));
    l_saver.Save(l_path);
    EXPECT_EQ(ReadBytes(l_folder.File("store")),
              FileBytes().Int(1).Text("global").Flag(false).Int(1).Int(1)
                  .Text(std::string("a\0b", 3)).Int(0).Bytes());
    d.RemoveAllItems();
    l_saver.Load(l_path);
    EXPECT_TRUE(l_schema.global->HasItem("a"));
    EXPECT_EQ(l_schema.global->ItemCount(), 1u);
}

TEST(StoreFileLoading, FileCutShortEmptiesTheStore)
{
    TemporaryFolder l_folder;
    SaverSchema l_schema;
    DataSaver l_saver;
    l_schema.Register(l_saver);
    Listener l_listener;
    l_saver.AddDataLoadedEventHandler(&l_listener);
    l_schema.global->GetItem("username") += l_schema.value->NewItem("anna");
    l_saver.Save(QString::fromStdString(l_folder.File("store")));
    const std::string l_whole = ReadBytes(l_folder.File("store"));
    // Every cut fails, the ones inside the name and the value included.
    for (std::size_t l_length = 0; l_length < l_whole.size(); ++l_length)
    {
        l_schema.global->GetItem("username") += l_schema.value->NewItem("default");
        WriteBytes(l_folder.File("cut"), l_whole.substr(0, l_length));
        ASSERT_TRUE(LoadFails(l_saver, l_folder.File("cut"))) << "length " << l_length;
        ASSERT_EQ(ItemTotal(), 0u) << "length " << l_length;
    }
    EXPECT_TRUE(l_listener.m_calls.empty());
    // The types and registrations stay: the whole file still loads afterwards.
    l_saver.Load(QString::fromStdString(l_folder.File("store")));
    EXPECT_EQ(l_schema.global->HasItem("username")["global_value"].AsStdString(), "anna");
}

TEST(StoreFileLoading, HostileLengthsAndCountsFailCleanly)
{
    TemporaryFolder l_folder;
    SaverSchema l_schema;
    DataSaver l_saver;
    const std::int32_t l_huge = INT32_MAX;
    const std::vector<std::string> l_files = {
        FileBytes().Int(-1).Int(0).Bytes(),
        FileBytes().Int(l_huge).Int(0).Bytes(),
        FileBytes().Int(1).Int(-5).Bytes(),
        FileBytes().Int(1).Int(l_huge).Text("global").Bytes(),
        FileBytes().Int(1).Text("global").Flag(false).Int(-1).Int(0).Bytes(),
        FileBytes().Int(1).Text("global").Flag(false).Int(l_huge).Int(0).Bytes(),
        FileBytes().Int(1).Text("is_ignored").Flag(true).Int(3).Int(1).Int(2).Int(3).Bytes(),
        FileBytes().Int(1).Text("global").Flag(false).Int(1).Int(1).Int(-3).Int(0).Bytes(),
        FileBytes().Int(1).Text("global").Flag(false).Int(1).Int(1).Int(l_huge).Int(0).Bytes(),
        FileBytes().Int(0).Int(-1).Bytes(),
        FileBytes().Int(0).Int(l_huge).Bytes(),
        FileBytes().Int(0).Int(2).Int(1).Int(2).Bytes(),
        FileBytes().Int(0).Bytes(),
    };
    for (std::size_t l_case = 0; l_case < l_files.size(); ++l_case)
    {
        l_schema.global->GetItem("username") += l_schema.value->NewItem("default");
        WriteBytes(l_folder.File("store"), l_files[l_case]);
        EXPECT_TRUE(LoadFails(l_saver, l_folder.File("store"))) << "case " << l_case;
        EXPECT_EQ(ItemTotal(), 0u) << "case " << l_case;
    }
}

TEST(StoreFileLoading, FolderInPlaceOfFileIsAFirstStart)
{
    TemporaryFolder l_folder;
    DataSaver l_saver;
    Listener l_listener;
    l_saver.AddDataLoadedEventHandler(&l_listener);
    l_saver.Load(QString::fromStdString(l_folder.Path()));
    EXPECT_EQ(l_listener.m_calls, (std::vector<std::string>{"loaded", "no data"}));
}

// A handler that reacts to the load by removing items the load still has to connect.
class Remover : public DataHandler
{
public:
    explicit Remover(Type* ip_type)
    {
        ip_type->m_newItemEvent.AddHandler(NewEventHandler(this, &Remover::OnNewItem));
    }
    void OnNewItem(ItemPtr i_item)
    {
        if (i_item.AsStdString() == "doomed")
            i_item.Remove();
    }
};

TEST(StoreFileLoading, ItemRemovedDuringLoadIsLeftAlone)
{
    TemporaryFolder l_folder;
    SaverSchema l_schema;
    DataSaver l_saver;
    Remover l_remover(l_schema.note);
    WriteBytes(l_folder.File("store"),
               FileBytes()
                   .Int(2)
                   .Text("user").Flag(false).Int(2).Int(1).Text("bob").Int(2).Text("carl")
                   .Text("user_note").Flag(false).Int(2).Int(3).Text("doomed").Int(4).Text("kept")
                   .Int(2).Int(1).Int(3).Int(2).Int(4)
                   .Bytes());
    l_saver.Load(QString::fromStdString(l_folder.File("store")));
    EXPECT_FALSE(l_schema.note->HasItem("doomed"));
    EXPECT_TRUE(l_schema.user->HasItem("bob").IsDisconnectedFromAll());
    EXPECT_EQ(l_schema.user->HasItem("carl")["user_note"].AsStdString(), "kept");
}

// Removes a room as soon as a user gets a note, in the middle of the load's connections.
class RoomCloser : public DataHandler
{
public:
    explicit RoomCloser(const SaverSchema& i_schema) : m_room(i_schema.room)
    {
        d.AddConnectionEventHandler(i_schema.user, i_schema.note,
                                    NewEventHandler(this, &RoomCloser::OnNote));
    }
    void OnNote(ConnectionInfo&)
    {
        if (ItemPtr l_room = m_room->HasItem("jazz"))
            l_room.Remove();
    }
    Type* m_room;
};

TEST(StoreFileLoading, ItemRemovedWhileConnectingIsLeftAlone)
{
    TemporaryFolder l_folder;
    SaverSchema l_schema;
    DataSaver l_saver;
    RoomCloser l_closer(l_schema);
    WriteBytes(l_folder.File("store"),
               FileBytes()
                   .Int(3)
                   .Text("room").Flag(false).Int(1).Int(3).Text("jazz")
                   .Text("user").Flag(false).Int(1).Int(1).Text("bob")
                   .Text("user_note").Flag(false).Int(1).Int(2).Text("note")
                   .Int(2).Int(1).Int(3).Int(1).Int(2)
                   .Bytes());
    l_saver.Load(QString::fromStdString(l_folder.File("store")));
    EXPECT_EQ(l_schema.room->ItemCount(), 0u);
    ItemPtr l_bob = l_schema.user->HasItem("bob");
    EXPECT_EQ(l_bob["user_note"].AsStdString(), "note");
    EXPECT_FALSE(l_bob.IsConnected("room"));
}
