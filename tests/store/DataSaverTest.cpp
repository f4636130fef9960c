#include <QDir>
#include <QFile>

#include <cstdint>

#include "StoreTesting.h"
#include "support/support/FileModes.h"

namespace
{
std::size_t ItemTotal()
{
    std::size_t l_total = 0;
    for (const auto& l_type : d.Types())
        l_total += l_type.second->ItemCount();
    return l_total;
}

struct Listener : DataLoadedEventHandler
{
    void DataLoaded() override { calls.push_back("loaded"); }
    void NoData() override { calls.push_back("no data"); }
    Log calls;
};

// Settings, users with a note, a flag or rooms, and shared folders holding file folders holding
// files; a saver and a folder for its files.
class StoreFile : public ::testing::Test
{
protected:
    StoreFile()
    {
        global->RelateToType(value, Many, One, false);
        user->RelateToType(note, One, One, false);
        user->RelateToType(ignored, Many, One, false);
        user->RelateToType(room, Many, Many, false);
        folder->RelateToType(fileFolder, Many, Many, false);
        fileFolder->RelateToType(file, One, Many, false);
        saver.AddDataLoadedEventHandler(&listener);
    }
    // What the client keeps.
    void RegisterAll()
    {
        for (const char* lp_type : {"global", "user_note", "is_ignored", "shared_folder"})
            saver.AddSavedType(lp_type);
        for (const auto& [lp_type, lp_partner] :
             {std::pair{"global_value", "global"}, {"user", "user_note"}, {"user", "is_ignored"},
              {"shared_file_folder", "shared_folder"}, {"shared_file", "shared_file_folder"}})
            saver.AddSavedByConnectionType(lp_type, lp_partner);
    }
    QString Path(const std::string& i_name = "store") const { return QString::fromStdString(tmp.File(i_name)); }
    std::string Read(const std::string& i_name = "store") const
    {
        QFile l_file(Path(i_name));
        return l_file.open(QIODevice::ReadOnly) ? l_file.readAll().toStdString() : "<missing>";
    }
    void Write(const std::string& i_bytes, const std::string& i_name = "store") const
    {
        QFile l_file(Path(i_name));
        ASSERT_TRUE(l_file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                    l_file.write(i_bytes.data(), static_cast<qint64>(i_bytes.size())) == static_cast<qint64>(i_bytes.size()));
    }
    QStringList Entries() const
    {
        return QDir(Path("")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System, QDir::Name);
    }
    void SetUsername(const char* ip_name) { global->GetItem("username") += value->NewItem(ip_name); }
    std::string Username() const { return global->HasItem("username")["global_value"].AsStdString(); }

    Type* global = d.NewType("global", Primary, false, true);
    Type* value = d.NewType("global_value", Leaf, false, false);
    Type* user = d.NewType("user", Primary, false, true);
    Type* note = d.NewType("user_note", Leaf, false, false);
    Type* ignored = d.NewType("is_ignored", Leaf, true, false);
    Type* room = d.NewType("room", Primary, false, true);
    Type* folder = d.NewType("shared_folder", Primary, false, true);
    Type* fileFolder = d.NewType("shared_file_folder", Intermediate, false, true);
    Type* file = d.NewType("shared_file", Intermediate, false, true);
    TemporaryFolder tmp;
    Listener listener;
    DataSaver saver;
};
} // namespace

TEST_F(StoreFile, WhatIsKeptAndHowItIsLaidOut)
{
    d.NewType("marker", Leaf, true, false)->NewItem();
    d.GetType("marker")->NewItem();
    RegisterAll();
    saver.AddSavedType("marker");
    SetUsername("anna");
    value->NewItem("orphan");
    ItemPtr bob = user->GetItem("bob"), carl = user->GetItem("carl");
    bob.NewItem("is_ignored");
    carl.NewItem("is_ignored");
    const std::string lends("lends\0records", 13);
    bob += note->NewItem(lends);
    // A user only in a room is not kept, nor is the room; a file folder without its shared
    // folder is not kept, but its file is.
    user->GetItem("dora") += room->GetItem("jazz");
    fileFolder->GetItem("/music") += file->GetItem("a.ogg");
    saver.Save(Path());
    // Within a type the order is the item set's; the indices follow it. Each connection is
    // written once, from the end with the smaller index, in index order.
    const bool bobFirst = static_cast<ItemPtr>(SetOf({bob, carl})) == bob;
    FileBytes expected;
    expected.Int(9).Type("global", false, 1).Int(1).Text("username").Type("global_value", false, 1).Int(2).Text("anna");
    expected.Type("is_ignored", true, 1).Int(3).Type("marker", true, 2).Int(4).Int(5);
    expected.Type("shared_file", false, 1).Int(6).Text("a.ogg");
    expected.Type("shared_file_folder", false, 0).Type("shared_folder", false, 0);
    expected.Type("user", false, 2).Int(7).Text(bobFirst ? "bob" : "carl").Int(8).Text(bobFirst ? "carl" : "bob");
    expected.Type("user_note", false, 1).Int(9).Text(lends);
    expected.Int(4).Int(1).Int(2).Int(3).Int(7).Int(3).Int(8).Int(bobFirst ? 7 : 8).Int(9);
    EXPECT_EQ(Read(), expected.bytes);

    // Registering twice, or by connection as well, changes nothing; unknown names throw.
    saver.AddSavedType("global");
    saver.AddSavedByConnectionType("global", "global_value");
    saver.AddSavedByConnectionType("user", "is_ignored");
    saver.Save(Path("twice"));
    EXPECT_EQ(Read("twice"), Read());
    EXPECT_THROWS_PTR(saver.AddSavedType("no_such_type"), TypeNotFoundException);
    EXPECT_THROWS_PTR(saver.AddSavedByConnectionType("global", "no_such_type"), TypeNotFoundException);
}

TEST_F(StoreFile, DumpWritesEveryTypeAndConnection)
{
    user->GetItem("dora") += room->GetItem("jazz");
    ASSERT_TRUE(saver.SaveAll(Path("dump")));
    FileBytes l_expected;
    l_expected.Int(9).Type("global", false, 0).Type("global_value", false, 0).Type("is_ignored", true, 0);
    l_expected.Type("room", false, 1).Int(1).Text("jazz");
    for (const char* lp_name : {"shared_file", "shared_file_folder", "shared_folder"})
        l_expected.Type(lp_name, false, 0);
    l_expected.Type("user", false, 1).Int(2).Text("dora").Type("user_note", false, 0).Int(1).Int(1).Int(2);
    EXPECT_EQ(Read("dump"), l_expected.bytes);
    EXPECT_FALSE(saver.SaveAll(Path("missing/dump")));
}

TEST_F(StoreFile, TakenTemporaryNamesAreSkippedAndOnlyTheSaversLeftoversGoAfterASuccessfulSave)
{
    saver.AddSavedType("global");
    global->GetItem("username");
    Write("old");
    // Left by saves killed before their rename, and files that only look like them.
    const QStringList l_leftovers{"store.1", "store.3", "store.17", "store.98765432109876543210"};
    const QStringList l_others{"store.0", "store.03", "store.3x", "store.-3", "store.+3", "store.1.1",
                               "store.", "store.bak", "store.damaged-20240101-101010", "other.3"};
    for (const QString& l_name : l_leftovers + l_others)
        Write("not the store", l_name.toStdString());
    ASSERT_TRUE(QDir(Path("")).mkdir("store.4"));
    ASSERT_TRUE(QFile::link(Path("other.3"), Path("store.5")));
    // A failed save takes nothing away.
    StoreTesting::SetWriteLimit(saver, 0);
    EXPECT_FALSE(saver.Save(Path()));
    EXPECT_EQ(Entries().size(), l_leftovers.size() + l_others.size() + 3);
    StoreTesting::SetWriteLimit(saver, -1);
    // Writing through ".1" or ".3" would have failed: the new file is there, so ".2" was used.
    EXPECT_TRUE(saver.Save(Path()));
    EXPECT_EQ(Read(), FileBytes().Int(1).Type("global", false, 1).Int(1).Text("username").Int(0).bytes);
    QStringList l_kept = l_others + QStringList{"store", "store.4", "store.5"};
    l_kept.sort();
    EXPECT_EQ(Entries(), l_kept);
    EXPECT_EQ(Read("store.03"), "not the store");
}

TEST_F(StoreFile, FailedWriteKeepsOldFileByteForByte)
{
    RegisterAll();
    SetUsername("anna");
    saver.Save(Path());
    const std::string l_old = Read();
    SetUsername("a much longer name");
    user->GetItem("bob").NewItem("is_ignored");
    saver.Save(Path("probe"));
    const std::string l_new = Read("probe");
    ASSERT_TRUE(QFile::remove(Path("probe")));
    // The disk fills up at every possible point of the new file, the last byte included.
    const auto l_newSize = static_cast<qint64>(l_new.size());
    for (qint64 l_limit = 0; l_limit < l_newSize; ++l_limit)
    {
        StoreTesting::SetWriteLimit(saver, l_limit);
        ASSERT_FALSE(saver.Save(Path()));
        ASSERT_TRUE(Read() == l_old && Entries() == QStringList{"store"}) << "limit " << l_limit;
    }
    StoreTesting::SetWriteLimit(saver, l_newSize);
    EXPECT_TRUE(saver.Save(Path()));
    EXPECT_TRUE(Read() == l_new && Entries() == QStringList{"store"});
}

TEST_F(StoreFile, UnwritableFolderOrFailedRenameChangesNothing)
{
    RegisterAll();
    global->GetItem("username");
    // A file used as a folder: the temporary file cannot be created.
    Write("x", "plain");
    EXPECT_FALSE(saver.Save(Path("plain/store")));
    EXPECT_EQ(Read("plain"), "x");
    // A non-empty folder where the store should go: the rename fails, our file goes away.
    ASSERT_TRUE(QDir(Path("")).mkpath("store/inside"));
    EXPECT_FALSE(saver.Save(Path()));
    EXPECT_TRUE(QDir(Path("store/inside")).exists());
    EXPECT_EQ(Entries(), (QStringList{"plain", "store"}));
}

TEST_F(StoreFile, MissingFileOrAFolderInItsPlaceIsAFirstStart)
{
    saver.AddDataLoadedEventHandler(&listener);
    saver.Load(Path());
    saver.Load(Path(""));
    EXPECT_EQ(listener.calls, (Log{"loaded", "no data", "loaded", "no data"})) << "each listener told once";
}

TEST_F(StoreFile, SavedStoreComesBack)
{
    RegisterAll();
    SetUsername("anna");
    ItemPtr l_bob = user->GetItem("bob");
    l_bob.NewItem("is_ignored");
    l_bob += note->NewItem("lends records");
    ItemPtr l_fileFolder = fileFolder->GetItem("/home/anna/music/live");
    folder->GetItem("/home/anna/music") += l_fileFolder;
    l_fileFolder += file->GetItem("a.ogg");
    l_fileFolder += file->GetItem("b.ogg");
    saver.Save(Path());
    const std::string l_saved = Snapshot();

    d.RemoveAllItems();
    saver.Load(Path());
    EXPECT_EQ(listener.calls, Log{"loaded"});
    EXPECT_EQ(Snapshot(), l_saved);
}

// The shell writes the defaults before loading; stored values replace them, the last of two
// winning, and setting items merge while a valueless item is always a new one.
TEST_F(StoreFile, LoadMergesIntoDefaultsWithTheStoredValueReplacing)
{
    ItemPtr l_setting = global->GetItem("upload_slots");
    ItemPtr l_default = value->NewItem("2");
    l_setting += l_default;
    EventTap l_tap;
    l_tap.WatchStore();
    Write(FileBytes().Int(3).Type("global", false, 2).Int(1).Text("upload_slots").Int(4).Text("speed")
              .Type("global_value", false, 3).Int(2).Text("5").Int(5).Text("10").Int(6).Text("20")
              .Type("is_ignored", true, 1).Int(3)
              .Int(3).Int(1).Int(2).Int(4).Int(5).Int(4).Int(6).bytes);
    saver.Load(Path());
    EXPECT_EQ(l_setting["global_value"].AsStdString(), "5");
    EXPECT_TRUE(l_default.IsDisconnectedFromAll());
    EXPECT_EQ(global->HasItem("speed")["global_value"].AsStdString(), "20");
    EXPECT_EQ(value->ItemCount(), 4u);
    EXPECT_EQ(Count(l_tap.calls, "new upload_slots"), 0u);
    EXPECT_EQ(Count(l_tap.calls, "new (is_ignored)"), 1u);
}

TEST_F(StoreFile, WhatCannotBeUsedIsLeftOut)
{
    Write(FileBytes().Int(5)
              .Type("global", true, 2).Int(1).Int(2) // declared valued, stored valueless: read past and dropped
              .Type("old_type", false, 1).Int(3).Text("gone") // no longer declared
              .Type("room", false, 1).Int(4).Text("jazz")
              .Type("user", false, 3).Int(5).Text("bob").Int(6).Text("eve").Int(5).Text("carl") // the last record wins
              .Type("user_note", false, 1).Int(7).Text(std::string("note\0cut off", 12)) // a value ends at a NUL
              // Unrelated types, a dropped type, an index with no record, one item twice.
              .Int(7).Int(4).Int(7).Int(1).Int(4).Int(3).Int(5).Int(5).Int(99).Int(4).Int(5).Int(5).Int(4).Int(5).Int(5)
              .bytes);
    saver.Load(Path());
    EXPECT_EQ(Names(user) + " / " + Names(room) + " / " + Names(note), "carl eve / jazz / note");
    EXPECT_EQ(user->HasItem("carl")["room"].AsStdString(), "jazz");
    EXPECT_TRUE(user->HasItem("eve").IsDisconnectedFromAll() && note->HasItem("note").IsDisconnectedFromAll());
    EXPECT_EQ(ItemTotal(), 4u);
}

TEST_F(StoreFile, FileCutShortEmptiesTheStore)
{
    RegisterAll();
    SetUsername("anna");
    saver.Save(Path());
    const std::string l_whole = Read();
    // Every cut fails, the ones inside the name and the value included.
    for (std::size_t l_length = 0; l_length < l_whole.size(); ++l_length)
    {
        SetUsername("default");
        Write(l_whole.substr(0, l_length), "cut");
        // Checking finds the damage without touching the store; loading empties it.
        ASSERT_FALSE(saver.CanLoad(Path("cut"))) << "length " << l_length;
        ASSERT_EQ(Username(), "default");
        ASSERT_THROW(saver.Load(Path("cut")), DataLoadFailure);
        ASSERT_EQ(ItemTotal(), 0u);
    }
    EXPECT_TRUE(listener.calls.empty());
    // The types and registrations stay: the whole file still loads afterwards.
    EXPECT_TRUE(saver.CanLoad(Path()) && saver.CanLoad(Path("missing")));
    saver.Load(Path());
    EXPECT_EQ(Username(), "anna");
}

TEST_F(StoreFile, HostileLengthsAndCountsFailCleanly)
{
    const std::int32_t l_huge = INT32_MAX;
    // One negative count; then each count too large for what is left, at every place a count is read.
    const std::string l_files[] = {
        FileBytes().Int(1).Type("global", false, -1).Int(0).bytes,
        FileBytes().Int(l_huge).Int(0).bytes,
        FileBytes().Int(1).Int(l_huge).Text("global").bytes,
        FileBytes().Int(1).Type("global", false, l_huge).Int(0).bytes,
        FileBytes().Int(1).Type("is_ignored", true, 3).Int(1).Int(2).Int(3).bytes,
        FileBytes().Int(1).Type("global", false, 1).Int(1).Int(l_huge).Int(0).bytes,
        FileBytes().Int(0).Int(2).Int(1).Int(2).bytes,
        FileBytes().Int(0).bytes,
    };
    for (const std::string& l_bytes : l_files)
    {
        SCOPED_TRACE("case " + std::to_string(&l_bytes - l_files));
        SetUsername("default");
        Write(l_bytes);
        EXPECT_THROW(saver.Load(Path()), DataLoadFailure);
        EXPECT_EQ(ItemTotal(), 0u);
    }
}

// Handlers that remove, in the middle of a load, items the load still has to connect.
TEST_F(StoreFile, ItemsRemovedDuringTheLoadAreLeftAlone)
{
    EventTap l_remover;
    l_remover.WatchType(note);
    l_remover.onItem = [](ItemPtr i_item) {
        if (i_item.AsStdString() == "doomed")
            i_item.Remove();
    };
    d.AddConnectionEventHandler(user, note, l_remover.NewEventHandler(&l_remover, &EventTap::OnPairConnected));
    l_remover.onPair = [this](ConnectionInfo) {
        if (ItemPtr l_room = room->HasItem("jazz"))
            l_room.Remove();
    };
    Write(FileBytes().Int(3).Type("room", false, 1).Int(5).Text("jazz")
              .Type("user", false, 2).Int(1).Text("bob").Int(2).Text("carl")
              .Type("user_note", false, 2).Int(3).Text("doomed").Int(4).Text("kept")
              .Int(4).Int(1).Int(5).Int(1).Int(3).Int(2).Int(4).Int(2).Int(5).bytes);
    saver.Load(Path());
    EXPECT_EQ(Names(note) + " / " + Names(room), "kept / ");
    EXPECT_TRUE(user->HasItem("bob").IsDisconnectedFromAll());
    EXPECT_EQ(user->HasItem("carl")["user_note"].AsStdString(), "kept");
    EXPECT_FALSE(user->HasItem("carl").IsConnected("room"));
}

// The store holds the password. Whatever the umask and however the file was before, a save
// leaves it, and every file the save made on its way, readable and writable by its owner only;
// a new dump of the store is its owner's alone as well.
TEST_F(StoreFile, SavesAndDumpsAreTheOwnersAlone)
{
    struct Case
    {
        const char* name;
        mode_t umask;
        mode_t before; // the store's mode before the save; 0 when there was none
        bool dump;
    };
    const Case l_cases[] = {
        {"first save under the usual umask", 022, 0, false},
        {"store kept private", 022, 0600, false},
        {"store an earlier save left open to all", 022, 0644, false},
        {"first save without any umask", 0, 0, false},
        {"umask that takes the owner's own bits", 0377, 0600, false},
        {"new dump under the usual umask", 022, 0, true},
    };
    RegisterAll();
    SetUsername("anna");
    global->GetItem("password") += value->NewItem("secret");
    for (const Case& l_case : l_cases)
    {
        SCOPED_TRACE(l_case.name);
        for (const QString& l_name : Entries())
            ASSERT_TRUE(QFile::remove(Path(l_name.toStdString())));
        if (l_case.before)
        {
            Write("old");
            ASSERT_EQ(::chmod(QFile::encodeName(Path()).constData(), l_case.before), 0);
            ASSERT_EQ(FileMode(Path()), QString::number(l_case.before, 8));
        }
        bool l_written = false;
        {
            const ScopedUmask l_umask(l_case.umask);
            l_written = l_case.dump ? saver.SaveAll(Path()) : saver.Save(Path());
        }
        EXPECT_TRUE(l_written);
        EXPECT_NE(Read().find("secret"), std::string::npos);
        EXPECT_EQ(FileModes(Path("")), QStringList{"store 600"});
        // The next save starts from what this one left.
        if (!l_case.dump)
        {
            const ScopedUmask l_umask(l_case.umask);
            EXPECT_TRUE(saver.Save(Path()));
            EXPECT_EQ(FileModes(Path("")), QStringList{"store 600"}) << "saved again";
        }
    }
}
