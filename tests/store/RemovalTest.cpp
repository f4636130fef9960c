#include <gtest/gtest.h>

#include "StoreTesting.h"

using namespace store_testing;

TEST(StoreRemoval, ItemIsNotifiedWholeThenCutLooseAndItsValueCanComeBack)
{
    Schema schema;
    ItemPtr bob = schema.user->GetItem("bob");
    ItemPtr alice = schema.user->GetItem("alice");
    ItemPtr lobby = schema.room->GetItem("lobby");
    ItemPtr attic = schema.room->GetItem("attic");
    alice.Connect(lobby);
    alice.Connect(attic);
    ItemPtr flag = alice.NewItem("is_online");
    Log log;
    EventTap type(log, "type"), store(log, "store");
    type.WatchRemovals(schema.user->m_removedEvent);
    type.WatchDisconnections(schema.user->m_disconnectedEvent);
    store.WatchRemovals(d.m_removedEvent);
    store.WatchDisconnections(d.m_disconnectedEvent);

    bob.Remove();
    EXPECT_EQ(log, (Log{"type removed bob", "store removed bob"})) << "unconnected";
    EXPECT_FALSE(schema.user->HasItem("bob"));
    log.clear();

    std::string seen;
    store.onItem = [&](ItemPtr item) {
        // Out of the index, but still whole.
        seen = std::to_string(item->Connections().Size()) + " " +
               std::to_string(schema.user->HasItem("alice") ? 1 : 0) + " " +
               item->GetValue().Bytes();
    };
    alice.Remove();
    EXPECT_EQ(seen, "2 0 alice");
    ASSERT_EQ(log.size(), 8u);
    EXPECT_EQ(log[0], "type removed alice");
    EXPECT_EQ(log[1], "store removed alice");
    for (const char* other : {"lobby", "attic", "(is_online)"})
    {
        EXPECT_EQ(Count(log, std::string("store - alice ") + other), 1u) << other;
        EXPECT_EQ(Count(log, std::string("type - alice ") + other), 1u) << other;
    }
    EXPECT_EQ(schema.user->ItemCount(), 0u);
    EXPECT_EQ(schema.room->ItemCount(), 2u) << "removal does not cascade";
    EXPECT_TRUE(lobby.IsDisconnectedFromAll());
    EXPECT_TRUE(attic.IsDisconnectedFromAll());
    EXPECT_TRUE(flag.IsDisconnectedFromAll());

    log.clear();
    EventTap made(log, "t");
    made.WatchType(schema.user);
    made.WatchStore();
    ItemPtr again = schema.user->GetItem("alice");
    ASSERT_TRUE(again);
    EXPECT_EQ(again.AsStdString(), "alice");
    EXPECT_EQ(log, (Log{"t new alice", "t new alice"}));
}

TEST(StoreRemoval, HandlerRemovingTheSameItemAgainAndRemakingItsValue)
{
    Schema schema;
    ItemPtr alice = schema.user->GetItem("alice");
    alice.Connect(schema.room->GetItem("lobby"));
    Log log;
    EventTap tap(log, "t");
    tap.WatchRemovals(schema.user->m_removedEvent);
    ItemPtr remade;
    tap.onItem = [&](ItemPtr item) {
        if (item.AsStdString() != "alice" || remade)
            return;
        remade = schema.user->GetItem("alice");
        item.Remove();
    };
    alice.Remove();
    EXPECT_EQ(Count(log, "t removed alice"), 1u);
    ASSERT_TRUE(remade);
    EXPECT_EQ(schema.user->HasItem("alice"), remade) << "the new item stays indexed";
    EXPECT_TRUE(schema.room->GetItem("lobby").IsDisconnectedFromAll());
}

TEST(StoreRemoval, ConnectionMadeWhileGoingIsCutToo)
{
    Schema schema;
    ItemPtr alice = schema.user->GetItem("alice");
    ItemPtr lobby = schema.room->GetItem("lobby");
    ItemPtr attic = schema.room->GetItem("attic");
    ItemPtr hall = schema.room->GetItem("hall");
    alice.Connect(attic);
    Log log;
    EventTap tap(log, "t");
    tap.WatchRemovals(schema.user->m_removedEvent);
    tap.WatchDisconnections(d.m_disconnectedEvent);
    // One connection made before the cut begins, one while it runs.
    tap.onItem = [&](ItemPtr item) { item.Connect(lobby); };
    tap.onPair = [&](ConnectionInfo info) {
        if (info.to == attic.Get())
            ItemPtr(info.from).Connect(hall);
    };
    alice.Remove();
    EXPECT_TRUE(lobby.IsDisconnectedFromAll()) << "no dangling connection to the freed item";
    EXPECT_TRUE(hall.IsDisconnectedFromAll());
    EXPECT_EQ(Count(log, "t - alice lobby"), 1u);
    EXPECT_EQ(Count(log, "t - alice hall"), 1u);
}

TEST(StoreRemoval, HandlerRemovingAnotherConnectedItemDuringTheCut)
{
    Schema schema;
    ItemPtr alice = schema.user->GetItem("alice");
    ItemPtr bob = schema.user->GetItem("bob");
    ItemPtr lobby = schema.room->GetItem("lobby");
    ItemPtr attic = schema.room->GetItem("attic");
    alice.Connect(lobby);
    alice.Connect(attic);
    bob.Connect(attic);
    Log log;
    EventTap tap(log, "t");
    tap.WatchDisconnections(d.m_disconnectedEvent);
    tap.WatchRemovals(d.m_removedEvent);
    // Whichever room goes first, its handler removes the other one.
    bool done = false;
    tap.onPair = [&](ConnectionInfo info) {
        if (done || Name(info.from) != "alice")
            return;
        done = true;
        (info.to == lobby.Get() ? attic : lobby).Remove();
    };
    alice.Remove();
    EXPECT_EQ(Count(log, "t - alice lobby") + Count(log, "t - lobby alice"), 1u);
    EXPECT_EQ(Count(log, "t - alice attic") + Count(log, "t - attic alice"), 1u);
    EXPECT_EQ(schema.room->ItemCount(), 1u);
    EXPECT_EQ(schema.user->ItemCount(), 1u);
    EXPECT_TRUE(bob.IsDisconnectedFromAll() || bob.IsConnected(attic));
}

TEST(StoreRemoval, ItemSetRemoveSkipsMembersAHandlerRemovedFirst)
{
    Schema schema;
    ItemSet users;
    for (const char* name : {"a", "b", "c", "d", "e"})
        users.Insert(schema.user->GetItem(name));
    users.Begin().Item().Connect(schema.room->GetItem("lobby"));
    Log log;
    EventTap tap(log, "t");
    tap.WatchRemovals(schema.user->m_removedEvent);
    // The first removal takes every other member with it.
    tap.onItem = [&](ItemPtr) {
        if (log.size() > 1)
            return;
        ItemSet rest(users);
        rest.Erase(users.Begin().Item());
        rest.Remove();
    };
    users.Remove();
    EXPECT_EQ(schema.user->ItemCount(), 0u);
    EXPECT_EQ(log.size(), 5u) << "each member is removed once";
    EXPECT_TRUE(schema.room->GetItem("lobby").IsDisconnectedFromAll());

    // At the second removal the set's first member is gone (yet still allocated) and the second
    // is on its way out: removing the set again touches neither.
    ItemSet both = SetOf({schema.user->GetItem("alice"), schema.user->GetItem("bob")});
    log.clear();
    tap.onItem = [&](ItemPtr) {
        if (log.size() == 2)
            both.Remove();
    };
    both.Remove();
    EXPECT_EQ(log.size(), 2u);
    EXPECT_EQ(schema.user->ItemCount(), 0u);
}

TEST(StoreRemoval, TypeRemoveAllItemsWorksFromACopyOfTheIndex)
{
    Schema schema;
    for (const char* name : {"a", "b", "c", "d"})
        schema.user->GetItem(name).Connect(schema.room->GetItem("lobby"));
    Log log;
    EventTap tap(log, "t");
    tap.WatchRemovals(schema.user->m_removedEvent);
    tap.onItem = [&](ItemPtr item) {
        if (item.AsStdString() != "a")
            return;
        schema.user->HasItem("c").Remove();
        schema.user->GetItem("late");
    };
    schema.user->RemoveAllItems();
    EXPECT_EQ(log, (Log{"t removed a", "t removed c", "t removed b", "t removed d"}));
    ASSERT_EQ(schema.user->ItemCount(), 1u) << "an item made meanwhile is not in the copy";
    EXPECT_TRUE(schema.user->HasItem("late"));
    EXPECT_TRUE(schema.room->GetItem("lobby").IsDisconnectedFromAll());
}

TEST(StoreRemoval, DataRemoveAllItemsWithHandlersRemovingAcrossTypes)
{
    Schema schema;
    for (const char* name : {"a", "b", "c"})
    {
        ItemPtr user = schema.user->GetItem(name);
        user.NewItem("is_online");
        user.Connect(schema.room->GetItem(std::string("room-") + name));
    }
    Log log;
    EventTap tap(log, "t");
    tap.WatchRemovals(d.m_removedEvent);
    tap.onItem = [&](ItemPtr item) {
        if (item->GetType() == schema.room)
            schema.user->RemoveAllItems();
    };
    d.RemoveAllItems();
    for (const auto& entry : d.Types())
        EXPECT_EQ(entry.second->ItemCount(), 0u) << entry.first;
    EXPECT_EQ(log.size(), 7u);
}

TEST(StoreRemoval, TypeRemoveEndsItsItemsRelationsAndSubscriptions)
{
    Schema schema;
    schema.user->GetItem("alice").Connect(schema.room->GetItem("lobby"));
    Log log;
    EventTap tap(log, "t");
    tap.WatchPair(schema.user, schema.room);
    struct TypeWatch : DataHandler
    {
        Log names;
        void OnType(Type* type) { names.push_back(type->GetName()); }
    } watch;
    d.m_typeRemovedEvent.AddHandler(watch.NewEventHandler(&watch, &TypeWatch::OnType));
    auto* root = new PathNode(&d, "user");
    new PathNode(root, "room", NotifyOnConnect);
    d.AddPathEventHandler(root, tap.Handler());

    schema.room->Remove();
    EXPECT_EQ(watch.names, (Log{"room"}));
    EXPECT_EQ(d.HasType("room"), nullptr);
    EXPECT_FALSE(schema.user->IsRelated(schema.room));
    EXPECT_TRUE(schema.user->GetItem("alice").IsDisconnectedFromAll());
    EXPECT_EQ(d.PairHandlerCount(schema.user, schema.room, true), 0u);
    EXPECT_FALSE(d.HasPathPairHandler(schema.user, schema.room, true));
    EXPECT_EQ(log, (Log{"t - alice lobby"}));
}

TEST(StoreRemoval, TypeRemovedFromInsideAPairHandlerOfItsOwnPair)
{
    Schema schema;
    EventTap remover;
    remover.onPair = [&](ConnectionInfo) { schema.room->Remove(); };
    d.AddConnectionEventHandler(schema.user, schema.room,
                                remover.NewEventHandler(&remover, &EventTap::OnPairConnected));
    d.AddConnectionEventHandler(schema.room, schema.user,
                                remover.NewEventHandler(&remover, &EventTap::OnPairConnected));
    schema.user->GetItem("alice").Connect(schema.room->GetItem("lobby"));
    EXPECT_EQ(remover.calls.size(), 1u) << "the reverse pair is not notified for a removed item";
    EXPECT_EQ(d.HasType("room"), nullptr);
    EXPECT_TRUE(schema.user->GetItem("alice").IsDisconnectedFromAll());
}

// Removed by a handler of the connection's own events, before the later ones: they are not told
// of a pair that no longer exists, and the other item holds nothing freed.
TEST(StoreRemoval, ItemRemovedInsideItsOwnConnectionEvents)
{
    Schema schema;
    ItemPtr alice = schema.user->GetItem("alice");
    Log log;
    {
        EventTap user(log, "user"), room(log, "room"), store(log, "store");
        user.WatchConnections(schema.user->m_connectedEvent);
        room.WatchConnections(schema.room->m_connectedEvent);
        store.WatchConnections(d.m_connectedEvent);
        user.onPair = [&](ConnectionInfo info) { ItemPtr(info.to).Remove(); };
        alice += schema.room->GetItem("lobby");
    }
    EXPECT_EQ(log, (Log{"user + alice lobby"}));
    EXPECT_FALSE(schema.room->HasItem("lobby"));
    EXPECT_TRUE(alice.IsDisconnectedFromAll());

    // The holder removed while its `One` side is replaced.
    Type* status = d.NewType("status", Leaf, false, true);
    schema.user->RelateToType(status, Many, One, false);
    ItemPtr away = status->GetItem("away");
    ItemPtr busy = status->GetItem("busy");
    alice += away;
    EventTap watcher;
    watcher.WatchDisconnections(status->m_disconnectedEvent);
    watcher.onPair = [&](ConnectionInfo) { alice.Remove(); };
    alice += busy;
    EXPECT_FALSE(schema.user->HasItem("alice"));
    EXPECT_TRUE(away.IsDisconnectedFromAll());
    EXPECT_TRUE(busy.IsDisconnectedFromAll());
}
