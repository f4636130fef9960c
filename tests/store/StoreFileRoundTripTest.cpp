// The store file is written and read in bulk: a save must give exactly the bytes of the plain
// reading of the format, and a load must bring back exactly the store that was saved, for
// stores of every shape.
#include <QFile>

#include <cstdint>
#include <functional>
#include <map>
#include <set>

#include "StoreTesting.h"

namespace
{
using Registrations = std::map<std::string, std::set<std::string>>;

// The chosen types by name, each with its kept items in the order of its item set. An empty
// condition set keeps a type with all its items, otherwise an item is kept when it is connected
// to an item of a condition type.
std::vector<std::pair<const Type*, std::vector<Item*>>> Selection(const Registrations& i_chosen)
{
    std::vector<std::pair<const Type*, std::vector<Item*>>> l_blocks;
    for (const auto& [l_name, lp_type] : d.Types())
    {
        const auto l_chosen = i_chosen.find(l_name);
        if (l_chosen == i_chosen.end())
            continue;
        std::vector<Item*> l_items;
        for (ItemPtr l_item : lp_type->GetItems())
        {
            bool l_kept = l_chosen->second.empty();
            for (const std::string& l_condition : l_chosen->second)
                l_kept = l_kept || l_item.IsConnected(l_condition.c_str());
            if (l_kept)
                l_items.push_back(l_item.Get());
        }
        l_blocks.emplace_back(lp_type, l_items);
    }
    return l_blocks;
}

// The format written the plain way: the selection's items numbered on across the file, then
// every connection between two of them once, as an ordered pair, in order.
std::string PlainFile(const Registrations& i_chosen)
{
    FileBytes l_bytes;
    const auto l_blocks = Selection(i_chosen);
    std::map<const Item*, int> l_index;
    l_bytes.Int(static_cast<std::int32_t>(l_blocks.size()));
    for (const auto& [lp_type, l_items] : l_blocks)
    {
        l_bytes.Type(lp_type->GetName(), lp_type->IsNull(), static_cast<std::int32_t>(l_items.size()));
        for (const Item* lp_item : l_items)
        {
            const int l_next = static_cast<int>(l_index.size()) + 1;
            l_index[lp_item] = l_next;
            l_bytes.Int(l_next);
            if (!lp_type->IsNull())
                l_bytes.Text(std::string(lp_item->GetValue().Bytes()));
        }
    }
    std::set<std::pair<int, int>> l_pairs;
    for (const auto& [lp_item, l_number] : l_index)
    {
        const TypeItemsMap& l_connections = lp_item->Connections();
        for (auto l_type = l_connections.Begin(); l_type != l_connections.End(); ++l_type)
            for (ItemPtr l_other : *l_type.Set())
                if (const auto l_found = l_index.find(l_other.Get()); l_found != l_index.end())
                    l_pairs.insert(std::minmax(l_number, l_found->second));
    }
    l_bytes.Int(static_cast<std::int32_t>(l_pairs.size()));
    for (const auto& [l_low, l_high] : l_pairs)
        l_bytes.Int(l_low).Int(l_high);
    return l_bytes.bytes;
}

// The selection as text that does not depend on addresses: each item with the selected items
// it is connected to.
std::string Picture(const Registrations& i_chosen)
{
    std::set<const Item*> l_kept;
    for (const auto& l_block : Selection(i_chosen))
        l_kept.insert(l_block.second.begin(), l_block.second.end());
    const auto l_name = [](const Item* ip_item) { return ip_item->GetType()->GetName() + "/" + Name(ip_item); };
    Log l_lines;
    for (const Item* lp_item : l_kept)
    {
        Log l_connected;
        const TypeItemsMap& l_connections = lp_item->Connections();
        for (auto l_type = l_connections.Begin(); l_type != l_connections.End(); ++l_type)
            for (ItemPtr l_other : *l_type.Set())
                if (l_kept.count(l_other.Get()))
                    l_connected.push_back(" " + l_name(l_other.Get()));
        std::sort(l_connected.begin(), l_connected.end());
        l_lines.push_back(l_name(lp_item) + ":");
        for (const std::string& l_line : l_connected)
            l_lines.back() += l_line;
    }
    std::sort(l_lines.begin(), l_lines.end());
    std::string l_picture;
    for (const std::string& l_line : l_lines)
        l_picture += l_line + "\n";
    return l_picture;
}

// Settings, users with notes, flags and rooms, shared folders holding file folders holding
// files, and a valueless type kept whole.
class StoreFileRoundTrip : public ::testing::Test
{
protected:
    StoreFileRoundTrip()
    {
        global->RelateToType(value, Many, One, false);
        user->RelateToType(note, One, One, false);
        user->RelateToType(ignored, Many, One, false);
        user->RelateToType(room, Many, Many, false);
        user->RelateToType(marker, Many, Many, false);
        folder->RelateToType(fileFolder, Many, Many, false);
        fileFolder->RelateToType(file, One, Many, false);
        for (const auto& [l_type, l_conditions] : chosen)
        {
            if (l_conditions.empty())
                saver.AddSavedType(l_type);
            for (const std::string& l_condition : l_conditions)
                saver.AddSavedByConnectionType(l_type, l_condition);
        }
    }

    std::string Save(const std::string& i_name)
    {
        const QString l_path = QString::fromStdString(tmp.File(i_name));
        EXPECT_TRUE(saver.Save(l_path));
        QFile l_file(l_path);
        return l_file.open(QIODevice::ReadOnly) ? l_file.readAll().toStdString() : "<missing>";
    }

    Type* global = d.NewType("global", Primary, false, true);
    Type* value = d.NewType("global_value", Leaf, false, true);
    Type* user = d.NewType("user", Primary, false, true);
    Type* note = d.NewType("user_note", Leaf, false, true);
    Type* ignored = d.NewType("is_ignored", Leaf, true, false);
    Type* room = d.NewType("room", Primary, false, true);
    Type* marker = d.NewType("marker", Leaf, true, false);
    Type* folder = d.NewType("shared_folder", Primary, false, true);
    Type* fileFolder = d.NewType("shared_file_folder", Intermediate, false, true);
    Type* file = d.NewType("shared_file", Intermediate, false, true);
    const Registrations chosen{{"global", {}},
                               {"global_value", {"global"}},
                               {"user_note", {}},
                               {"is_ignored", {}},
                               {"marker", {}},
                               {"user", {"user_note", "is_ignored"}},
                               {"shared_folder", {}},
                               {"shared_file_folder", {"shared_folder"}},
                               {"shared_file", {"shared_file_folder"}}};
    TemporaryFolder tmp;
    DataSaver saver;
};
} // namespace

TEST_F(StoreFileRoundTrip, SavesThePlainBytesAndLoadsBackTheSameStore)
{
    // Each store is built from values passed through `cut`: whole for the save, cut at the first
    // NUL for the store a load must give back.
    using Cut = std::function<std::string(const std::string&)>;
    const std::string l_nul("lends\0records", 13);
    const std::string l_high("\xff\x80 caf\xc3\xa9 \x01\x7f");
    const std::string l_long(100000, 'x');
    const struct { const char* name; std::function<void(const Cut&)> build; } l_stores[] = {
        {"empty", [](const Cut&) {}},
        {"settings, one value held by two and one by none",
         [&](const Cut& cut) {
             global->GetItem("username") += value->GetItem(cut("anna"));
             global->GetItem("nickname") += value->GetItem(cut("anna"));
             global->GetItem("upload_slots") += value->GetItem(cut("2"));
             value->GetItem(cut("orphan"));
         }},
        {"kept by connection or not",
         [&](const Cut& cut) {
             user->GetItem(cut("bob")) += note->GetItem(cut("lends records"));
             user->GetItem(cut("carl")).NewItem("is_ignored");
             user->GetItem(cut("dora")) += room->GetItem(cut("jazz"));
             ItemPtr l_kept = fileFolder->GetItem(cut("/music/kept"));
             folder->GetItem(cut("/music")) += l_kept;
             l_kept += file->GetItem(cut("a.ogg"));
             fileFolder->GetItem(cut("/music/lost")) += file->GetItem(cut("b.ogg"));
         }},
        {"values with NULs, high bytes, empty, long and one a prefix of another",
         [&](const Cut& cut) {
             for (const std::string& l_text : {l_nul, l_high, std::string(), l_long, std::string("lend"), std::string("lends ")})
                 user->GetItem(cut("u" + l_text)) += note->GetItem(cut(l_text));
             marker->NewItem(), marker->NewItem();
             user->GetItem(cut("u")) += marker->NewItem();
         }},
        {"large counts, sets of every size",
         [&](const Cut& cut) {
             ItemPtr l_flag = ignored->NewItem();
             for (int l_n = 0; l_n < 3000; ++l_n)
             {
                 ItemPtr l_user = user->GetItem(cut("user " + std::to_string(l_n)));
                 l_user += note->GetItem(cut("note " + std::to_string(l_n % 700)));
                 if (l_n % 3 == 0)
                     l_user += l_flag;
                 for (int l_room = 0; l_room < l_n % 5; ++l_room)
                     l_user += room->GetItem(cut("room " + std::to_string((l_n + l_room) % 90)));
             }
             for (int l_n = 0; l_n < 40; ++l_n)
             {
                 ItemPtr l_fileFolder = fileFolder->GetItem(cut("/f/" + std::to_string(l_n)));
                 folder->GetItem(cut("/f")) += l_fileFolder;
                 for (int l_k = 0; l_k < l_n * 7; ++l_k)
                     l_fileFolder += file->GetItem(cut("/f/" + std::to_string(l_n) + "/" + std::to_string(l_k)));
             }
         }},
    };
    const Cut l_whole = [](const std::string& i_text) { return i_text; };
    const Cut l_atNul = [](const std::string& i_text) { return i_text.substr(0, i_text.find('\0')); };
    Registrations l_everything;
    for (const auto& l_type : d.Types())
        l_everything[l_type.first];
    for (const auto& l_store : l_stores)
    {
        SCOPED_TRACE(l_store.name);
        // What a load must give back: the saved part of the store, values cut at a NUL.
        d.RemoveAllItems();
        l_store.build(l_atNul);
        const std::string l_expected = Picture(chosen);

        d.RemoveAllItems();
        l_store.build(l_whole);
        EXPECT_EQ(Save("store"), PlainFile(chosen));
        const QString l_dump = QString::fromStdString(tmp.File("dump"));
        ASSERT_TRUE(saver.SaveAll(l_dump));
        QFile l_dumped(l_dump);
        ASSERT_TRUE(l_dumped.open(QIODevice::ReadOnly));
        EXPECT_EQ(l_dumped.readAll().toStdString(), PlainFile(l_everything));

        d.RemoveAllItems();
        saver.Load(QString::fromStdString(tmp.File("store")));
        EXPECT_EQ(Picture(l_everything), l_expected);
        EXPECT_EQ(Save("again"), PlainFile(chosen)) << "a loaded store saves the plain way too";
    }
}

// Files in index order take the quick way through the loader; any other file the sorting one.
// Both create the items in ascending index order, the last record of an index winning, and
// make the connections in order of the first index, then the second.
TEST_F(StoreFileRoundTrip, LoadsRecordsInAnyOrderAsInIndexOrder)
{
    FileBytes l_sparse;
    l_sparse.Int(2).Type("user", false, 4);
    l_sparse.Int(40).Text("zed").Int(7).Text("amy").Int(40).Text("yan").Int(12).Text("bob");
    l_sparse.Type("room", false, 2).Int(3).Text("jazz").Int(99).Text("rock");
    l_sparse.Int(4);
    for (int l_index : {40, 3, 12, 99, 3, 7, 99, 12})
        l_sparse.Int(l_index);
    // The same store in index order: a type may have more than one block.
    FileBytes l_ordered;
    l_ordered.Int(3).Type("room", false, 1).Int(3).Text("jazz");
    l_ordered.Type("user", false, 3).Int(7).Text("amy").Int(8).Text("bob").Int(9).Text("yan");
    l_ordered.Type("room", false, 1).Int(10).Text("rock");
    l_ordered.Int(4);
    for (int l_index : {3, 7, 8, 10, 9, 3, 10, 8})
        l_ordered.Int(l_index);
    Log l_events[2];
    int l_file = 0;
    for (const std::string& l_bytes : {l_sparse.bytes, l_ordered.bytes})
    {
        d.RemoveAllItems();
        QFile l_out(QString::fromStdString(tmp.File("store")));
        ASSERT_TRUE(l_out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        l_out.write(l_bytes.data(), static_cast<qint64>(l_bytes.size()));
        l_out.close();
        EventTap l_tap(l_events[l_file++], "");
        l_tap.WatchStore();
        saver.Load(QString::fromStdString(tmp.File("store")));
    }
    EXPECT_EQ(l_events[0], l_events[1]);
    // The pair given twice, from each end, is made once.
    EXPECT_EQ(l_events[1], (Log{"new jazz", "new amy", "new bob", "new yan", "new rock", "+ jazz amy",
                                "+ bob rock", "+ yan jazz"}));
}

// A file of several chunks: values that straddle two chunks, long ones kept apart from their
// items, and a value given by more than one record, in blocks large enough to be made in bulk,
// in index order and out of it. The load gives the store that making each record's item in
// index order and connecting the pairs gives.
TEST_F(StoreFileRoundTrip, LargeFilesLoadAsMadeOneRecordAtATime)
{
    std::vector<std::string> l_users;
    for (int l_n = 0; l_n < 4000; ++l_n)
        l_users.push_back(l_n % 9 == 4 ? "again " + std::to_string(l_n % 5)
                                       : "user " + std::to_string(l_n) + std::string(static_cast<std::size_t>(l_n % 300), '.'));
    for (std::size_t l_long : {std::size_t(1100000), std::size_t(400000), std::size_t(250)})
        l_users.push_back(std::string(l_long, static_cast<char>('a' + l_long % 26)));
    std::vector<std::string> l_rooms;
    for (int l_n = 0; l_n < 1500; ++l_n)
        l_rooms.push_back("room " + std::to_string(l_n % 1400));
    std::vector<std::pair<int, int>> l_pairs;
    const int l_userCount = static_cast<int>(l_users.size());
    for (int l_n = 0; l_n < l_userCount; ++l_n)
        l_pairs.emplace_back(l_n + 1, l_userCount + 1 + l_n % static_cast<int>(l_rooms.size()));

    for (const bool l_reversed : {false, true})
    {
        SCOPED_TRACE(l_reversed ? "records in reverse order" : "records in order");
        FileBytes l_file;
        l_file.Int(2);
        const auto l_block = [&](const char* ip_type, const std::vector<std::string>& i_values, int i_first) {
            l_file.Type(ip_type, false, static_cast<std::int32_t>(i_values.size()));
            for (std::size_t l_k = 0; l_k < i_values.size(); ++l_k)
            {
                const std::size_t l_at = l_reversed ? i_values.size() - 1 - l_k : l_k;
                l_file.Int(i_first + static_cast<int>(l_at)).Text(i_values[l_at]);
            }
        };
        l_block("user", l_users, 1);
        l_block("room", l_rooms, l_userCount + 1);
        l_file.Int(static_cast<std::int32_t>(l_pairs.size()));
        for (const auto& [l_first, l_second] : l_pairs)
            l_file.Int(l_first).Int(l_second);
        const std::string& l_bytes = l_file.bytes;
        ASSERT_GT(l_bytes.size(), std::size_t(2) << 20);

        d.RemoveAllItems();
        std::vector<ItemPtr> l_made;
        for (const std::string& l_value : l_users)
            l_made.push_back(user->GetItem(l_value));
        for (const std::string& l_value : l_rooms)
            l_made.push_back(room->GetItem(l_value));
        for (const auto& [l_first, l_second] : l_pairs)
            l_made[static_cast<std::size_t>(l_first - 1)] += l_made[static_cast<std::size_t>(l_second - 1)];
        l_made.clear();
        Registrations l_everything;
        for (const auto& l_type : d.Types())
            l_everything[l_type.first];
        const std::string l_expected = Picture(l_everything);

        d.RemoveAllItems();
        QFile l_out(QString::fromStdString(tmp.File("large")));
        ASSERT_TRUE(l_out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        l_out.write(l_bytes.data(), static_cast<qint64>(l_bytes.size()));
        l_out.close();
        saver.Load(QString::fromStdString(tmp.File("large")));
        EXPECT_EQ(user->ItemCount() + room->ItemCount(),
                  std::set<std::string>(l_users.begin(), l_users.end()).size() +
                      std::set<std::string>(l_rooms.begin(), l_rooms.end()).size());
        EXPECT_TRUE(Picture(l_everything) == l_expected);
    }
}
