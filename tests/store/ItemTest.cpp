#include <QMetaType>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <random>
#include <set>

#include "StoreTesting.h"

using StoreValues = SchemaTest;
using StoreFlags = SchemaTest;
using StoreConnections = SchemaTest;

TEST_F(StoreValues, BytesTextAndNumbers)
{
    char mutableText[] = "abc"; // not taken for an address
    EXPECT_EQ((Log{Value(QString::fromUtf8("a\0b", 3)).Bytes(), Value(std::string("a\0b", 3)).Bytes(), Value("a\0b").Bytes(),
                   Value(mutableText).Bytes(), Value(QString::fromUtf8("\xC3\xA9")).Bytes(), Value(-12).Bytes(),
                   Value(0u).Bytes(), Value(LLONG_MIN).Bytes(), Value(ULLONG_MAX).Bytes()}),
              (Log{"a", std::string("a\0b", 3), "a", "abc", "\xC3\xA9", "-12", "0", "-9223372036854775808",
                   "18446744073709551615"}));

    // Indexed by unsigned bytes, a prefix first.
    Type* word = d.NewType("word", Leaf, false, true);
    for (const std::string& bytes : {std::string("\xFF"), std::string("ab"), std::string("a\0", 2),
                                     std::string("a"), std::string(""), std::string("B")})
        word->GetItem(bytes);
    Log order;
    for (const auto& entry : word->ItemsByValue())
        order.push_back(entry.first.Bytes());
    EXPECT_EQ(order, (Log{"", "B", "a", std::string("a\0", 2), "ab", "\xFF"}));

    // Numbers are read from the decimal text up to the first NUL.
    auto read = [&](const std::string& bytes) { return word->GetItem(bytes); };
    const std::pair<std::string, int> ints[] = {
        {"-7", -7}, {std::string("42\0junk", 7), 42}, {"12abc", 0}, {"2147483648", 0}};
    for (const auto& [bytes, number] : ints)
        EXPECT_EQ(read(bytes).AsInt(), number) << bytes;
    EXPECT_EQ(read(std::string("42\0junk", 7)).AsStdString(), std::string("42\0junk", 7));
    EXPECT_EQ(read("4294967295").AsUInt(), 4294967295u);
    EXPECT_EQ(read("-1").AsUInt(), 0u);
    EXPECT_EQ(read("-9223372036854775808").AsInt64(), LLONG_MIN);
    EXPECT_EQ(read("18446744073709551615").AsUInt64(), ULLONG_MAX);
    EXPECT_EQ(read("\xC3\xA9").AsString(), QString(QChar(0xE9)));
}

TEST_F(StoreValues, NullHandlesAnswerEmpty)
{
    ItemPtr none;
    ItemSet out(value->GetItem("x"));
    none.GetItems("global_value", out);
    EXPECT_TRUE(!none && !none["global_value"] && !none.HasItem("global_value") && !none.GetItem("global_value"));
    EXPECT_TRUE(out.Empty() && none.GetItems("global_value").Empty() && none.AsString().isEmpty());
    EXPECT_EQ(none.AsStdString() + std::to_string(none.AsInt()) + std::to_string(none.AsUInt()) +
                  std::to_string(none.AsInt64()) + std::to_string(none.AsUInt64()), "0000");
    EXPECT_EQ(none.AsPointer<QObject>(), nullptr);
}

TEST_F(StoreValues, LiveObjectAddressesRoundTripAtFullWidth)
{
    Type* socket = d.NewType("peer_socket", Primary, false, true);
    auto object = std::make_unique<std::string>("live");
    ItemPtr held = socket->GetItem(object.get());
    ASSERT_EQ(held.AsPointer<std::string>(), object.get());
    EXPECT_EQ(socket->HasItem(object.get()), held);

    // Above 4 GiB, at full width.
    auto* high = reinterpret_cast<std::string*>(std::uintptr_t{0x7F12345678ABCDE0});
    ItemPtr far = socket->GetItem(high);
    EXPECT_EQ(far.AsStdString(), "9156438538393996768");
    EXPECT_EQ(far.AsPointer<std::string>(), high);
    EXPECT_NE(QMetaType::type("ItemPtr"), 0) << "usable in queued signals";
}

TEST(StoreItems, LookupsCreateOnlyWhereTheyMay)
{
    Type* automatic = d.NewType("user", Primary, false, true);
    Type* manual = d.NewType("room", Primary, false, false);
    Log log;
    EventTap typeTap(log, "type"), storeTap(log, "store");
    typeTap.WatchType(automatic);
    typeTap.WatchType(manual);
    storeTap.WatchStore();

    EXPECT_FALSE(manual->GetItem("lobby") || (*manual)["lobby"] || automatic->HasItem("alice"));
    ItemPtr alice = automatic->GetItem("alice");
    EXPECT_EQ(log, (Log{"type new alice", "store new alice"}));
    EXPECT_TRUE((*automatic)["alice"] == alice && automatic->NewItem(Value("alice")) == alice &&
                automatic->HasItem("alice") == alice);
    ItemPtr lobby = manual->NewItem(Value("lobby"));
    EXPECT_TRUE(manual->GetItem("lobby") == lobby && lobby.GetType() == manual && lobby.GetValue() == Value("lobby"));
    EXPECT_EQ(log.size(), 4u) << "nothing fires for an item that exists";
}

// Values are found through a hash table: after thousands made and half of them removed in no
// order, every value left is found and every one gone is not, whatever their bytes; in bulk
// too, where a value already there is merged into; and whatever wants value order gets it,
// the removal of all items included.
TEST(StoreItems, ValuesAreFoundAfterAnyMixOfCreationAndRemoval)
{
    Type* word = d.NewType("word", Leaf, false, true);
    std::vector<std::string> values{"", std::string("a\0b", 3), std::string("a\0c", 3), "a", "\xff\xfe", "ab"};
    for (int n = 0; n < 5000; ++n)
        values.push_back("/share/" + std::to_string(n * 7919 % 5000) + (n % 3 ? ".ogg" : ""));
    for (const std::string& bytes : values)
        word->GetItem(bytes);
    std::vector<std::string> gone(values);
    std::shuffle(gone.begin(), gone.end(), std::mt19937(5));
    gone.resize(gone.size() / 2 + 3);
    for (const std::string& bytes : gone)
        word->HasItem(bytes).Remove();
    std::set<std::string> left(values.begin(), values.end());
    for (const std::string& bytes : gone)
        left.erase(bytes);
    std::size_t found = 0;
    for (const std::string& bytes : values)
        found += word->HasItem(bytes) ? (left.count(bytes) ? 1 : 1000000) : 0;
    EXPECT_EQ(found, left.size());
    EXPECT_EQ(word->ItemCount(), left.size());

    // In bulk: a value made twice, or already there, is one item, announced once.
    EventTap tap;
    tap.WatchType(word);
    std::vector<std::string_view> bulk{"new", *left.begin(), "new", "newer"};
    std::vector<std::uint64_t> hashes;
    for (std::string_view one : bulk)
        hashes.push_back(ValueIndex::Hash(one));
    std::vector<Item*> made(bulk.size());
    word->NewItems(bulk.data(), hashes.data(), bulk.size(), made.data());
    EXPECT_EQ(tap.calls, (Log{"new new", "new newer"}));
    EXPECT_TRUE(made[0] == made[2] && made[1] == word->HasItem(*left.begin()).Get() && made[3]->GetValue() == Value("newer"));
    left.insert({"new", "newer"});

    Log inOrder;
    for (const auto& entry : word->ItemsByValue())
        inOrder.push_back(entry.first.Bytes());
    EXPECT_EQ(inOrder, Log(left.begin(), left.end()));
    EventTap removals;
    removals.WatchRemovals(word->m_removedEvent);
    word->RemoveAllItems();
    Log removed;
    for (const std::string& bytes : left)
        removed.push_back("removed " + bytes);
    EXPECT_EQ(removals.calls, removed);
    EXPECT_FALSE(word->HasItem("new") || word->ItemCount());
}

TEST_F(StoreFlags, SharedFlagsOneToOneFlagsAndManySidedOnes)
{
    Type* listed = d.NewType("in_user_list", Leaf, true, false);
    Type* note = d.NewType("note", Leaf, true, false);
    user->RelateToType(listed, One, One, false);
    user->RelateToType(note, One, Many, false);
    ItemPtr alice = user->GetItem("alice"), bob = user->GetItem("bob");
    EventTap tap;
    tap.WatchStore();

    ItemPtr flag = alice.NewItem("is_online");
    EXPECT_EQ(alice.NewItem("is_online"), flag);
    EXPECT_EQ(tap.calls, (Log{"new (is_online)", "+ alice (is_online)"})) << "setting a set flag fires nothing";
    EXPECT_TRUE(bob.NewItem("is_online") == flag && flag == online->GetGlobalNullItem());
    EXPECT_EQ(online->ItemCount(), 1u);
    alice.Disconnect("is_online");
    EXPECT_TRUE(!alice.IsConnected("is_online") && bob.IsConnected(online));

    // One to one: one flag per holder. Many-sided: one per call.
    ItemPtr aliceListed = alice.NewItem("in_user_list");
    EXPECT_EQ(alice.NewItem("in_user_list"), aliceListed);
    EXPECT_NE(bob.NewItem("in_user_list"), aliceListed);
    EXPECT_EQ(listed->ItemCount(), 2u);
    EXPECT_NE(alice.NewItem("note"), alice.NewItem("note"));
    EXPECT_EQ(alice.GetItems("note").Size(), 2u);
}

TEST_F(StoreConnections, ConnectDisconnectAndTheirEvents)
{
    ItemPtr port = global->GetItem("port"), v = value->GetItem("2234"), alice = user->GetItem("alice");
    EventTap tap;
    tap.WatchStore();

    EXPECT_EQ(port += v, v);
    EXPECT_EQ(alice.Connect(v), v);
    EXPECT_TRUE(port.IsConnected(v) && v.IsConnected(port));
    EXPECT_EQ(Names(v.GetItems("global")) + " " + Names(v.GetItems("user")), "port alice");
    EXPECT_EQ(v.Connect(port), port);
    EXPECT_EQ(port += v, v);
    EXPECT_EQ(tap.calls, (Log{"+ port 2234", "+ alice 2234"})) << "connecting again fires nothing";

    tap.calls.clear();
    EXPECT_EQ(port -= v, v);
    EXPECT_TRUE(port.IsDisconnectedFromAll() && !v.IsDisconnectedFromAll());
    // Disconnecting what is not connected changes nothing, but is announced all the same.
    const std::string before = Snapshot();
    port -= v;
    EXPECT_EQ(Snapshot(), before);
    EXPECT_EQ(tap.calls, (Log{"- port 2234", "- port 2234"}));

    // By type name every held item goes.
    alice += value->GetItem("a");
    alice.Disconnect("global_value");
    EXPECT_TRUE(alice.IsDisconnectedFromAll() && g("global_value").Connected(alice).Empty());
}

// The held item of a `One` side is let go, with all its events, before the new one is taken.
TEST_F(StoreConnections, ReplacingTheHeldValueDisconnectsItFirst)
{
    ItemPtr port = global->GetItem("port"), alice = user->GetItem("alice");
    ItemPtr old = value->GetItem("2234"), fresh = value->GetItem("2240");
    port += old;
    alice += old;
    Log log;
    EventTap globalTap(log, "global"), valueTap(log, "global_value"), store(log, "store");
    EventTap forward(log, "(global,value)"), backward(log, "(value,global)");
    globalTap.WatchType(global);
    valueTap.WatchType(value);
    store.WatchStore();
    forward.WatchPair(global, value);
    backward.WatchPair(value, global);

    EXPECT_EQ(port += fresh, fresh);
    EXPECT_EQ(log, (Log{"global - port 2234", "store - port 2234", "global_value - 2234 port", "(global,value) - port 2234",
                        "(value,global) - 2234 port", "global + port 2240", "store + port 2240",
                        "global_value + 2240 port", "(global,value) + port 2240", "(value,global) + 2240 port"}));
    EXPECT_EQ(port.GetItems("global_value"), ItemSet(fresh));
    EXPECT_TRUE(old.IsConnected(alice) && !old.IsConnected(port)) << "the old value keeps its other holders";

    // From the value's side the replacement happens at the far end, while the new value
    // already holds the setting but the setting does not yet hold it.
    log.clear();
    std::vector<bool> seen;
    globalTap.onPair = [&](ConnectionInfo) {
        if (seen.empty())
            seen = {old.IsConnected(port), port.IsConnected(old)};
    };
    old += port;
    EXPECT_EQ(seen, (std::vector<bool>{true, false}));
    EXPECT_EQ(log.front() + " / " + log.back(), "global - port 2240 / (global,value) + port 2234");
    EXPECT_EQ(port["global_value"], old);
    EXPECT_TRUE(fresh.IsDisconnectedFromAll());
}

TEST_F(StoreConnections, OneToOneReplacementFreesTheNearEndBeforeTheFarEnd)
{
    Type* a = d.NewType("a", Primary, false, true);
    Type* b = d.NewType("b", Primary, false, true);
    a->RelateToType(b, One, One, false);
    ItemPtr a1 = a->GetItem("a1"), a2 = a->GetItem("a2"), b1 = b->GetItem("b1"), b2 = b->GetItem("b2");
    a1 += b1;
    a2 += b2;
    EventTap store;
    store.WatchStore();
    a1 += b2;
    EXPECT_EQ(store.calls, (Log{"- a1 b1", "- b2 a2", "+ a1 b2"}));
    EXPECT_TRUE(b1.IsDisconnectedFromAll() && a2.IsDisconnectedFromAll());
    EXPECT_EQ(a1["b"].AsStdString() + b2["a"].AsStdString(), "b2a1");
}

// A connection nobody hears of is made by its two ends alone; heard or not, by any kind of
// listener, the same calls leave the same store, replacements of held items included.
TEST_F(StoreConnections, HeardOrUnheardConnectionsLeaveTheSameStore)
{
    const auto connectAll = [&] {
        ItemPtr port = global->GetItem("port"), alice = user->GetItem("alice"), bob = user->GetItem("bob");
        port += value->GetItem("2234");
        port += value->GetItem("2240"); // replaces the held value
        value->GetItem("2240") += global->GetItem("nick"); // from the far side
        alice += room->GetItem("jazz"), alice += room->GetItem("rock"), bob += room->GetItem("jazz");
        room->GetItem("rock") += bob;
        alice += online->NewItem();
        alice += online->NewItem(); // replaces the held flag
        alice += value->GetItem("2234"), alice += value->GetItem("2234");
    };
    std::string pictures[4];
    for (int listener = 0; listener < 4; ++listener)
    {
        d.RemoveAllItems();
        EventTap tap;
        if (listener == 1)
            tap.WatchStore();
        else if (listener == 2)
            tap.WatchType(room);
        else if (listener == 3)
            tap.WatchPair(global, value);
        connectAll();
        pictures[listener] = Snapshot();
    }
    EXPECT_EQ(pictures[1], pictures[0]);
    EXPECT_EQ(pictures[2], pictures[0]);
    EXPECT_EQ(pictures[3], pictures[0]);
    EXPECT_NE(pictures[0].find("port: global_value/2240"), std::string::npos) << pictures[0];
}

// Filling both ends at once leaves what connecting one by one leaves, for sets kept in place,
// in an array and past the array's usual size; where one by one could differ (a held item of
// that type, a `One` side, a listener, members out of order or of two types), it declines and
// changes nothing.
TEST_F(StoreConnections, ConnectingUnheardAllAtOnceOrNotAtAll)
{
    const RelationInfo manyMany = user->GetRelation(room);
    const auto rooms = [&](std::size_t count) {
        std::vector<Item*> made;
        for (std::size_t k = 0; k < count; ++k)
            made.push_back(room->GetItem("r" + std::to_string(k)).Get());
        std::sort(made.begin(), made.end());
        return made;
    };
    for (std::size_t count : {1u, 2u, 3u, 70u})
    {
        d.RemoveAllItems();
        std::vector<Item*> members = rooms(count);
        user->GetItem("bob") += ItemPtr(members.back());
        for (Item* member : members)
            user->GetItem("alice") += ItemPtr(member);
        const std::string oneByOne = Snapshot();
        d.RemoveAllItems();
        members = rooms(count);
        user->GetItem("bob") += ItemPtr(members.back());
        EXPECT_TRUE(user->GetItem("alice")->ConnectUnheard(members.data(), members.size(), manyMany)) << count;
        EXPECT_EQ(Snapshot(), oneByOne) << count;
        user->GetItem("carol") += ItemPtr(members.back());
        EXPECT_EQ(Names(ItemPtr(members.back()).GetItems("user")), "alice bob carol") << "grows at its end";
    }

    for (int declined = 0; declined < 6; ++declined)
    {
        d.RemoveAllItems();
        std::vector<Item*> members = rooms(4);
        ItemPtr from = user->GetItem("alice");
        RelationInfo relation = manyMany;
        EventTap tap;
        if (declined == 0)
            from += room->GetItem("held");
        else if (declined == 1)
            from = global->GetItem("port"), members = {value->GetItem("2234").Get()}, relation = global->GetRelation(value);
        else if (declined == 2)
            tap.WatchPair(user, room);
        else if (declined == 3)
            tap.WatchType(room);
        else if (declined == 4)
            std::swap(members[0], members[1]);
        else
            members.push_back(global->GetItem("port").Get());
        const std::string before = Snapshot();
        EXPECT_FALSE(from->ConnectUnheard(members.data(), members.size(), relation)) << declined;
        EXPECT_EQ(Snapshot(), before) << declined;
        EXPECT_TRUE(tap.calls.empty()) << declined;
    }
}
