#include <gtest/gtest.h>

#include <QVariant>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "StoreTestLog.h"
#include "store/Data.h"
#include "support/TestSupport.h"

using namespace store_testing;

namespace
{
// A setting holds one value; a value may be held by many settings and many users.
struct SettingsSchema
{
    SettingsSchema()
    {
        global = d.NewType("global", Primary, false, true);
        value = d.NewType("global_value", Leaf, false, true);
        user = d.NewType("user", Primary, false, true);
        global->RelateToType(value, Many, One, false);
        user->RelateToType(value, Many, Many, false);
    }
    Type* global;
    Type* value;
    Type* user;
};
} // namespace

// ---- Values and accessors ----

TEST(StoreValues, TextKeepsNulOnlyWhenItComesAsBytes)
{
    EXPECT_EQ(Value(QString::fromUtf8("a\0b", 3)).Bytes(), "a");
    EXPECT_EQ(Value(std::string("a\0b", 3)).Bytes(), std::string("a\0b", 3));
    EXPECT_EQ(Value("a\0b").Bytes(), "a");
    char mutableText[] = "abc";
    EXPECT_EQ(Value(mutableText).Bytes(), "abc") << "not taken for an address";
    EXPECT_EQ(Value(QString::fromUtf8("\xC3\xA9")).Bytes(), "\xC3\xA9");
    EXPECT_EQ(Value(-12).Bytes(), "-12");
    EXPECT_EQ(Value(0u).Bytes(), "0");
    EXPECT_EQ(Value(LLONG_MIN).Bytes(), "-9223372036854775808");
    EXPECT_EQ(Value(ULLONG_MAX).Bytes(), "18446744073709551615");
}

TEST(StoreValues, ATypeIndexesValuesByUnsignedBytesWithPrefixesFirst)
{
    Type* word = d.NewType("word", Leaf, false, true);
    for (const std::string& bytes : {std::string("\xFF"), std::string("ab"), std::string("a\0", 2),
                                     std::string("a"), std::string(""), std::string("B")})
        word->GetItem(bytes);
    std::vector<std::string> order;
    for (const auto& entry : word->ItemsByValue())
        order.push_back(entry.first.Bytes());
    EXPECT_EQ(order, (std::vector<std::string>{"", "B", "a", std::string("a\0", 2), "ab", "\xFF"}));
    EXPECT_EQ(word->HasItem(std::string("a\0", 2))->GetValue().Size(), 2u);
}

TEST(StoreValues, NumericAccessorsReadDecimalTextUpToTheFirstNul)
{
    Type* number = d.NewType("number", Leaf, false, true);
    auto read = [&](const std::string& bytes) { return number->GetItem(bytes); };

    EXPECT_EQ(read("42").AsInt(), 42);
    EXPECT_EQ(read("-7").AsInt(), -7);
    EXPECT_EQ(read(std::string("42\0junk", 7)).AsInt(), 42);
    EXPECT_EQ(read(std::string("42\0junk", 7)).AsStdString(), std::string("42\0junk", 7));
    EXPECT_EQ(read("12abc").AsInt(), 0);
    EXPECT_EQ(read("").AsInt(), 0);
    EXPECT_EQ(read("2147483648").AsInt(), 0) << "overflow";
    EXPECT_EQ(read("2147483648").AsInt64(), 2147483648LL);
    EXPECT_EQ(read("4294967295").AsUInt(), 4294967295u);
    EXPECT_EQ(read("-1").AsUInt(), 0u);
    EXPECT_EQ(read("-9223372036854775808").AsInt64(), LLONG_MIN);
    EXPECT_EQ(read("18446744073709551615").AsUInt64(), ULLONG_MAX);
    EXPECT_EQ(read("\xC3\xA9").AsString(), QString(QChar(0xE9)));
}

TEST(StoreValues, NullHandlesAnswerEmpty)
{
    SettingsSchema schema;
    ItemPtr none;
    EXPECT_FALSE(none);
    EXPECT_FALSE(none["global_value"]);
    EXPECT_FALSE(none.HasItem("global_value"));
    EXPECT_FALSE(none.GetItem("global_value"));
    EXPECT_TRUE(none.GetItems("global_value").Empty());
    ItemSet out(schema.value->GetItem("x"));
    none.GetItems("global_value", out);
    EXPECT_TRUE(out.Empty());
    EXPECT_EQ(none.AsStdString(), "");
    EXPECT_TRUE(none.AsString().isEmpty());
    EXPECT_EQ(none.AsInt(), 0);
    EXPECT_EQ(none.AsUInt(), 0u);
    EXPECT_EQ(none.AsInt64(), 0);
    EXPECT_EQ(none.AsUInt64(), 0u);
    EXPECT_EQ(none.AsPointer<QObject>(), nullptr);
}

TEST(StoreValues, LiveObjectAddressesRoundTripAtFullWidth)
{
    Type* socket = d.NewType("peer_socket", Primary, false, true);

    auto object = std::make_unique<std::string>("live");
    ItemPtr held = socket->GetItem(object.get());
    EXPECT_EQ(held.AsStdString(), std::to_string(reinterpret_cast<std::uintptr_t>(object.get())));
    ASSERT_EQ(held.AsPointer<std::string>(), object.get());
    EXPECT_EQ(*held.AsPointer<std::string>(), "live");
    EXPECT_EQ(socket->HasItem(object.get()), held);

    // An address above 4 GiB, as every heap address of a 64-bit process may be: the 32-bit
    // reader cannot give it back, the pointer-wide one does.
    auto* high = reinterpret_cast<std::string*>(std::uintptr_t{0x7F12345678ABCDE0});
    ItemPtr far = socket->GetItem(high);
    EXPECT_EQ(far.AsStdString(), "9156438538393996768");
    EXPECT_EQ(far.AsPointer<std::string>(), high);
    EXPECT_NE(static_cast<std::uintptr_t>(far.AsUInt()), reinterpret_cast<std::uintptr_t>(high));
}

TEST(StoreValues, ItemPtrTravelsInAVariant)
{
    Type* user = d.NewType("user", Primary, false, true);
    ItemPtr alice = user->GetItem("alice");
    EXPECT_NE(QMetaType::type("ItemPtr"), 0);
    const QVariant variant = QVariant::fromValue(alice);
    EXPECT_EQ(variant.value<ItemPtr>(), alice);
}

// ---- Items through their type ----

TEST(StoreItems, LookupsCreateOnlyWhereTheyMay)
{
    Log log;
    Type* automatic = d.NewType("user", Primary, false, true);
    Type* manual = d.NewType("room", Primary, false, false);
    EventTap typeTap(log, "type");
    EventTap storeTap(log, "store");
    typeTap.WatchType(automatic);
    typeTap.WatchType(manual);
    storeTap.WatchStore();

    EXPECT_FALSE(manual->GetItem("lobby"));
    EXPECT_FALSE((*manual)["lobby"]);
    EXPECT_FALSE(automatic->HasItem("alice"));
    EXPECT_TRUE(log.empty());

    ItemPtr alice = automatic->GetItem("alice");
    EXPECT_EQ(log, (Log{"type new alice", "store new alice"}));
    EXPECT_EQ((*automatic)["alice"], alice);
    EXPECT_EQ(automatic->NewItem(Value("alice")), alice);
    EXPECT_EQ(automatic->HasItem("alice"), alice);

    ItemPtr lobby = manual->NewItem(Value("lobby"));
    EXPECT_EQ(manual->GetItem("lobby"), lobby);
    EXPECT_EQ(lobby.GetType(), manual);
    EXPECT_EQ(lobby.GetValue(), Value("lobby"));
    EXPECT_EQ(log.size(), 4u) << "nothing fires for an item that exists";
}

// ---- Flags ----

TEST(StoreFlags, ASharedFlagIsOneItemForEveryHolder)
{
    Log log;
    Type* user = d.NewType("user", Primary, false, true);
    Type* online = d.NewType("is_online", Leaf, true, false);
    user->RelateToType(online, Many, One, false);
    ItemPtr alice = user->GetItem("alice");
    ItemPtr bob = user->GetItem("bob");
    EventTap tap(log, "store");
    tap.WatchStore();

    ItemPtr flag = alice.NewItem("is_online");
    EXPECT_EQ(log, (Log{"store new (is_online)", "store + alice (is_online)"}));
    log.clear();
    EXPECT_EQ(alice.NewItem("is_online"), flag);
    EXPECT_TRUE(log.empty()) << "setting a set flag fires nothing";
    EXPECT_EQ(bob.NewItem("is_online"), flag);
    EXPECT_EQ(online->ItemCount(), 1u);
    EXPECT_EQ(flag, online->GetGlobalNullItem());
    EXPECT_EQ(g("user").Connected("is_online").Size(), 2u);

    alice.Disconnect("is_online");
    EXPECT_FALSE(alice.IsConnected("is_online"));
    EXPECT_TRUE(bob.IsConnected(online));
    bob.NewItem("is_online");
    alice.NewItem("is_online");
    g("user").Disconnect("is_online");
    EXPECT_TRUE(g("user").Connected("is_online").Empty());
    EXPECT_TRUE(flag.IsDisconnectedFromAll());
}

TEST(StoreFlags, OneToOneFlagsAreMadePerHolderAndManySidedOnesPerCall)
{
    Type* user = d.NewType("user", Primary, false, true);
    Type* listed = d.NewType("in_user_list", Leaf, true, false);
    Type* note = d.NewType("note", Leaf, true, false);
    user->RelateToType(listed, One, One, false);
    user->RelateToType(note, One, Many, false);
    ItemPtr alice = user->GetItem("alice");
    ItemPtr bob = user->GetItem("bob");

    ItemPtr aliceListed = alice.NewItem("in_user_list");
    EXPECT_EQ(alice.NewItem("in_user_list"), aliceListed);
    EXPECT_NE(bob.NewItem("in_user_list"), aliceListed);
    EXPECT_EQ(listed->ItemCount(), 2u);

    ItemPtr first = alice.NewItem("note");
    ItemPtr second = alice.NewItem("note");
    EXPECT_NE(first, second);
    EXPECT_EQ(alice.GetItems("note"), ItemSet(first) + ItemSet(second));
}

// ---- Connections ----

TEST(StoreConnections, ConnectingIsSymmetricAndReturnsTheOtherItem)
{
    Log log;
    SettingsSchema schema;
    ItemPtr port = schema.global->GetItem("port");
    ItemPtr v = schema.value->GetItem("2234");
    ItemPtr alice = schema.user->GetItem("alice");
    EventTap tap(log, "store");
    tap.WatchStore();

    EXPECT_EQ(port += v, v);
    EXPECT_EQ(alice.Connect(v), v);
    EXPECT_TRUE(port.IsConnected(v));
    EXPECT_TRUE(v.IsConnected(port));
    EXPECT_EQ(port["global_value"], v);
    EXPECT_EQ(v.GetItems("global"), ItemSet(port));
    EXPECT_EQ(v->Connections().Size(), 2u);
    EXPECT_EQ(log.size(), 2u);

    log.clear();
    EXPECT_EQ(v.Connect(port), port);
    EXPECT_EQ(port += v, v);
    EXPECT_TRUE(log.empty()) << "already connected";

    EXPECT_EQ(port -= v, v);
    EXPECT_EQ(log, (Log{"store - port 2234"}));
    EXPECT_FALSE(port.IsConnected("global_value"));
    EXPECT_EQ(port->Connections().FindSet(schema.value), nullptr);
    EXPECT_TRUE(port.IsDisconnectedFromAll());
    EXPECT_FALSE(v.IsDisconnectedFromAll());
}

TEST(StoreConnections, DisconnectingUnconnectedItemsChangesNothingButStillNotifies)
{
    Log log;
    SettingsSchema schema;
    ItemPtr alice = schema.user->GetItem("alice");
    ItemPtr v = schema.value->GetItem("x");
    EventTap user(log, "user");
    EventTap value(log, "global_value");
    EventTap store(log, "store");
    EventTap pair(log, "pair");
    user.WatchType(schema.user);
    value.WatchType(schema.value);
    store.WatchStore();
    pair.WatchPair(schema.user, schema.value);
    const std::string before = Snapshot();

    alice.Disconnect(v);
    EXPECT_EQ(Snapshot(), before);
    EXPECT_EQ(log, (Log{"user - alice x", "store - alice x", "global_value - x alice",
                        "pair - alice x"}));
}

TEST(StoreConnections, DisconnectingByTypeNameReleasesEveryHeldItem)
{
    Log log;
    SettingsSchema schema;
    ItemPtr alice = schema.user->GetItem("alice");
    ItemSet values;
    for (const char* text : {"a", "b", "c"})
        values.Insert(alice += schema.value->GetItem(text));
    EventTap tap(log, "store");
    tap.WatchStore();

    alice.Disconnect("global_value");
    Log expected;
    for (ItemPtr v : values)
        expected.push_back("store - alice " + v.AsStdString());
    EXPECT_EQ(log, expected) << "in the set's order";
    EXPECT_TRUE(alice.IsDisconnectedFromAll());
    EXPECT_TRUE(g("global_value").Connected(alice).Empty());
}

// The held item of a `One` side is let go, with all its events, before the new one is taken.
TEST(StoreConnections, ReplacingTheHeldValueDisconnectsItFirst)
{
    Log log;
    SettingsSchema schema;
    ItemPtr port = schema.global->GetItem("port");
    ItemPtr old = schema.value->GetItem("2234");
    ItemPtr fresh = schema.value->GetItem("2240");
    ItemPtr alice = schema.user->GetItem("alice");
    port += old;
    alice += old;
    EventTap global(log, "global");
    EventTap value(log, "global_value");
    EventTap store(log, "store");
    EventTap forward(log, "(global,value)");
    EventTap backward(log, "(value,global)");
    global.WatchType(schema.global);
    value.WatchType(schema.value);
    store.WatchStore();
    forward.WatchPair(schema.global, schema.value);
    backward.WatchPair(schema.value, schema.global);

    EXPECT_EQ(port += fresh, fresh);
    EXPECT_EQ(log, (Log{"global - port 2234", "store - port 2234", "global_value - 2234 port",
                        "(global,value) - port 2234", "(value,global) - 2234 port",
                        "global + port 2240", "store + port 2240", "global_value + 2240 port",
                        "(global,value) + port 2240", "(value,global) + 2240 port"}));
    EXPECT_EQ(port.GetItems("global_value"), ItemSet(fresh));
    EXPECT_TRUE(old.IsConnected(alice)) << "the old value keeps its other holders";
    EXPECT_FALSE(old.IsConnected(port));

    // From the value's side the replacement happens at the far end, while the new value
    // already holds the setting but the setting does not yet hold it.
    log.clear();
    struct Witness : DataHandler
    {
        ItemPtr setting, newcomer;
        std::vector<bool> seen;
        void OnDisconnected(ConnectionInfo)
        {
            seen.push_back(newcomer.IsConnected(setting));
            seen.push_back(setting.IsConnected(newcomer));
        }
    } witness;
    witness.setting = port;
    witness.newcomer = old;
    schema.global->m_disconnectedEvent.AddHandler(
        witness.NewEventHandler(&witness, &Witness::OnDisconnected));

    old += port;
    EXPECT_EQ(witness.seen, (std::vector<bool>{true, false}));
    EXPECT_EQ(log, (Log{"global - port 2240", "store - port 2240", "global_value - 2240 port",
                        "(global,value) - port 2240", "(value,global) - 2240 port",
                        "global_value + 2234 port", "store + 2234 port", "global + port 2234",
                        "(value,global) + 2234 port", "(global,value) + port 2234"}));
    EXPECT_EQ(port["global_value"], old);
    EXPECT_TRUE(fresh.IsDisconnectedFromAll());
}

TEST(StoreConnections, OneToOneReplacementFreesTheNearEndBeforeTheFarEnd)
{
    Log log;
    Type* a = d.NewType("a", Primary, false, true);
    Type* b = d.NewType("b", Primary, false, true);
    a->RelateToType(b, One, One, false);
    ItemPtr a1 = a->GetItem("a1"), a2 = a->GetItem("a2");
    ItemPtr b1 = b->GetItem("b1"), b2 = b->GetItem("b2");
    a1 += b1;
    a2 += b2;
    EventTap store(log, "store");
    store.WatchStore();

    a1 += b2;
    EXPECT_EQ(log, (Log{"store - a1 b1", "store - b2 a2", "store + a1 b2"}));
    EXPECT_TRUE(b1.IsDisconnectedFromAll());
    EXPECT_TRUE(a2.IsDisconnectedFromAll());
    EXPECT_EQ(a1["b"], b2);
    EXPECT_EQ(b2["a"], a1);
}

TEST(StoreConnections, TheConnectionMapTakesItsCompactFormBackAtOneType)
{
    SettingsSchema schema;
    Type* flag = d.NewType("is_online", Leaf, true, false);
    schema.user->RelateToType(flag, Many, One, false);
    ItemPtr alice = schema.user->GetItem("alice");
    ItemPtr v1 = schema.value->GetItem("1");
    ItemPtr v2 = schema.value->GetItem("2");

    const TypeItemsMap& map = alice->Connections();
    EXPECT_TRUE(map.Empty());
    EXPECT_EQ(map.Begin(), map.End());
    alice += v1;
    alice += v2;
    EXPECT_EQ(map.Size(), 1u);
    EXPECT_EQ(map.Begin().GetType(), schema.value);
    EXPECT_EQ(map.Begin().Set()->Size(), 2u);
    ItemPtr online = alice.NewItem("is_online");
    ASSERT_EQ(map.Size(), 2u);

    TypeItemsMap snapshot;
    alice->GetConnectedItems(snapshot);
    std::vector<Type*> types;
    for (auto it = map.Begin(); it != map.End(); it++)
        types.push_back(it.GetType());
    EXPECT_EQ(types, (std::vector<Type*>{std::min(schema.value, flag, std::less<Type*>()),
                                         std::max(schema.value, flag, std::less<Type*>())}));
    EXPECT_EQ(map.Find(flag).GetType(), flag);
    EXPECT_EQ(map.Find(schema.global), map.End());

    alice.Disconnect("global_value");
    ASSERT_EQ(map.Size(), 1u);
    EXPECT_EQ(map.Begin().GetType(), flag);
    EXPECT_EQ(map.FindSet(schema.value), nullptr);
    auto next = map.Begin();
    EXPECT_EQ(++next, map.End());
    alice -= online;
    EXPECT_TRUE(map.Empty());
    EXPECT_TRUE(alice.IsDisconnectedFromAll());

    // The copy taken before is deep and still describes the earlier connections.
    ASSERT_EQ(snapshot.Size(), 2u);
    EXPECT_EQ(*snapshot.FindSet(schema.value), ItemSet(v1) + ItemSet(v2));
    EXPECT_EQ(*snapshot.FindSet(flag), ItemSet(online));
}
