#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "StoreTestLog.h"
#include "store/Data.h"
#include "support/TestSupport.h"

using namespace store_testing;

namespace
{
// Logs removals ("<tag> removed x") and disconnections ("<tag> - x y"); an optional action runs
// inside each removal and each disconnection it logs.
class RemovalTap : public DataHandler
{
public:
    RemovalTap(Log& log, std::string tag) : m_log(log), m_tag(std::move(tag)) {}

    void WatchRemovals(Event<ItemPtr>& event)
    {
        event.AddHandler(NewEventHandler(this, &RemovalTap::OnRemoved));
    }
    void WatchDisconnections(Event<ConnectionInfo>& event)
    {
        event.AddHandler(NewEventHandler(this, &RemovalTap::OnDisconnected));
    }

    void OnRemoved(ItemPtr item)
    {
        m_log.push_back(m_tag + " removed " + Name(item.Get()));
        if (onRemoved)
            onRemoved(item);
    }
    void OnDisconnected(ConnectionInfo info)
    {
        m_log.push_back(m_tag + " - " + Name(info.from) + " " + Name(info.to));
        if (onDisconnected)
            onDisconnected(info);
    }

    std::function<void(ItemPtr)> onRemoved;
    std::function<void(ConnectionInfo)> onDisconnected;

private:
    Log& m_log;
    std::string m_tag;
};

struct RemovalSchema
{
    RemovalSchema()
    {
        user = d.NewType("user", Primary, false, true);
        room = d.NewType("room", Primary, false, true);
        online = d.NewType("is_online", Leaf, true, false);
        user->RelateToType(room, Many, Many, false);
        user->RelateToType(online, Many, One, false);
    }
    Type* user;
    Type* room;
    Type* online;
};

std::size_t Count(const Log& log, const std::string& line)
{
    std::size_t n = 0;
    for (const std::string& entry : log)
        n += entry == line ? 1 : 0;
    return n;
}
} // namespace

// ---- One item ----

TEST(StoreRemoval, UnconnectedItemNotifiesOnlyTheTwoRemovalEvents)
{
    RemovalSchema schema;
    ItemPtr alice = schema.user->GetItem("alice");
    Log log;
    RemovalTap type(log, "type");
    RemovalTap store(log, "store");
    type.WatchRemovals(schema.user->m_removedEvent);
    type.WatchDisconnections(schema.user->m_disconnectedEvent);
    store.WatchRemovals(d.m_removedEvent);
    store.WatchDisconnections(d.m_disconnectedEvent);

    alice.Remove();
    EXPECT_EQ(log, Log({"type removed alice", "store removed alice"}));
    EXPECT_FALSE(schema.user->HasItem("alice"));
    EXPECT_EQ(schema.user->ItemCount(), 0u);
}

TEST(StoreRemoval, ConnectedItemIsNotifiedWholeThenCutLoose)
{
    RemovalSchema schema;
    ItemPtr alice = schema.user->GetItem("alice");
    ItemPtr lobby = schema.room->GetItem("lobby");
    ItemPtr attic = schema.room->GetItem("attic");
    alice.Connect(lobby);
    alice.Connect(attic);
    ItemPtr flag = alice.NewItem("is_online");
    Log log;
    RemovalTap store(log, "store");
    store.WatchRemovals(d.m_removedEvent);
    store.WatchDisconnections(d.m_disconnectedEvent);
    std::string seen;
    store.onRemoved = [&](ItemPtr item) {
        // Out of the index, but still whole.
        seen = std::to_string(item->Connections().Size()) + " " +
               std::to_string(schema.user->HasItem("alice") ? 1 : 0) + " " +
               item->GetValue().Bytes();
    };

    alice.Remove();
    EXPECT_EQ(seen, "2 0 alice");
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0], "store removed alice");
    EXPECT_EQ(Count(log, "store - alice lobby"), 1u);
    EXPECT_EQ(Count(log, "store - alice attic"), 1u);
    EXPECT_EQ(Count(log, "store - alice (is_online)"), 1u);
    // Removal does not cascade.
    EXPECT_EQ(schema.room->ItemCount(), 2u);
    EXPECT_TRUE(lobby.IsDisconnectedFromAll());
    EXPECT_TRUE(attic.IsDisconnectedFromAll());
    EXPECT_TRUE(flag.IsDisconnectedFromAll());
}

TEST(StoreRemoval, ValueOfARemovedItemCanBeCreatedAgain)
{
    RemovalSchema schema;
    ItemPtr first = schema.user->GetItem("alice");
    first.Remove();
    Log log;
    EventTap tap(log, "t");
    tap.WatchType(schema.user);
    tap.WatchStore();
    ItemPtr second = schema.user->GetItem("alice");
    ASSERT_TRUE(second);
    EXPECT_EQ(second.AsStdString(), "alice");
    EXPECT_EQ(log, Log({"t new alice", "t new alice"}));
}

TEST(StoreRemoval, HandlerRemovingTheSameItemAgainAndRemakingItsValue)
{
    RemovalSchema schema;
    ItemPtr alice = schema.user->GetItem("alice");
    alice.Connect(schema.room->GetItem("lobby"));
    Log log;
    RemovalTap tap(log, "t");
    tap.WatchRemovals(schema.user->m_removedEvent);
    ItemPtr remade;
    tap.onRemoved = [&](ItemPtr item) {
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
    RemovalSchema schema;
    ItemPtr alice = schema.user->GetItem("alice");
    ItemPtr lobby = schema.room->GetItem("lobby");
    ItemPtr attic = schema.room->GetItem("attic");
    ItemPtr hall = schema.room->GetItem("hall");
    alice.Connect(attic);
    Log log;
    RemovalTap tap(log, "t");
    tap.WatchRemovals(schema.user->m_removedEvent);
    tap.WatchDisconnections(d.m_disconnectedEvent);
    // One connection made before the cut begins, one while it runs.
    tap.onRemoved = [&](ItemPtr item) { item.Connect(lobby); };
    tap.onDisconnected = [&](ConnectionInfo info) {
        if (info.to == attic.Get())
            ItemPtr(info.from).Connect(hall);
    };
    alice.Remove();
    EXPECT_TRUE(lobby.IsDisconnectedFromAll()) << "no dangling connection to the freed item";
    EXPECT_TRUE(hall.IsDisconnectedFromAll()) << "no dangling connection to the freed item";
    EXPECT_EQ(Count(log, "t - alice lobby"), 1u);
    EXPECT_EQ(Count(log, "t - alice hall"), 1u);
}

TEST(StoreRemoval, HandlerRemovingAnotherConnectedItemDuringTheCut)
{
    RemovalSchema schema;
    ItemPtr alice = schema.user->GetItem("alice");
    ItemPtr lobby = schema.room->GetItem("lobby");
    ItemPtr attic = schema.room->GetItem("attic");
    ItemPtr bob = schema.user->GetItem("bob");
    alice.Connect(lobby);
    alice.Connect(attic);
    bob.Connect(attic);
    Log log;
    RemovalTap tap(log, "t");
    tap.WatchDisconnections(d.m_disconnectedEvent);
    tap.WatchRemovals(d.m_removedEvent);
    // Whichever room goes first, its handler removes the other one.
    bool done = false;
    tap.onDisconnected = [&](ConnectionInfo info) {
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

// ---- Bulk removals ----

TEST(StoreRemoval, ItemSetRemoveSkipsMembersAHandlerRemovedFirst)
{
    RemovalSchema schema;
    ItemSet users;
    for (const char* name : {"a", "b", "c", "d", "e"})
        users.Insert(schema.user->GetItem(name));
    users.Begin().Item().Connect(schema.room->GetItem("lobby"));
    Log log;
    RemovalTap tap(log, "t");
    tap.WatchRemovals(schema.user->m_removedEvent);
    // The first removal takes every other member with it.
    bool done = false;
    tap.onRemoved = [&](ItemPtr) {
        if (done)
            return;
        done = true;
        ItemSet rest(users);
        rest.Erase(users.Begin().Item());
        rest.Remove();
    };
    users.Remove();
    EXPECT_EQ(schema.user->ItemCount(), 0u);
    EXPECT_EQ(log.size(), 5u) << "each member is removed once";
    EXPECT_TRUE(schema.room->GetItem("lobby").IsDisconnectedFromAll());
}

TEST(StoreRemoval, ItemSetRemoveOfGoneMembersInsideARemoval)
{
    RemovalSchema schema;
    ItemSet both(schema.user->GetItem("alice"));
    both.Insert(schema.user->GetItem("bob"));
    Log log;
    RemovalTap tap(log, "t");
    tap.WatchRemovals(schema.user->m_removedEvent);
    // At the second removal the set's first member is gone (yet still allocated) and the second
    // is on its way out: removing the set again touches neither.
    tap.onRemoved = [&](ItemPtr) {
        if (log.size() == 2)
            both.Remove();
    };
    both.Remove();
    EXPECT_EQ(log.size(), 2u);
    EXPECT_EQ(schema.user->ItemCount(), 0u);
}

TEST(StoreRemoval, TypeRemoveAllItemsWorksFromACopyOfTheIndex)
{
    RemovalSchema schema;
    for (const char* name : {"a", "b", "c", "d"})
        schema.user->GetItem(name).Connect(schema.room->GetItem("lobby"));
    Log log;
    RemovalTap tap(log, "t");
    tap.WatchRemovals(schema.user->m_removedEvent);
    tap.onRemoved = [&](ItemPtr item) {
        if (item.AsStdString() == "a")
        {
            schema.user->HasItem("c").Remove();
            schema.user->GetItem("late");
        }
    };
    schema.user->RemoveAllItems();
    EXPECT_EQ(log, Log({"t removed a", "t removed c", "t removed b", "t removed d"}));
    ASSERT_EQ(schema.user->ItemCount(), 1u) << "an item made meanwhile is not in the copy";
    EXPECT_TRUE(schema.user->HasItem("late"));
    EXPECT_TRUE(schema.room->GetItem("lobby").IsDisconnectedFromAll());
}

TEST(StoreRemoval, DataRemoveAllItemsWithHandlersRemovingAcrossTypes)
{
    RemovalSchema schema;
    for (const char* name : {"a", "b", "c"})
    {
        ItemPtr user = schema.user->GetItem(name);
        user.NewItem("is_online");
        user.Connect(schema.room->GetItem(std::string("room-") + name));
    }
    Log log;
    RemovalTap tap(log, "t");
    tap.WatchRemovals(d.m_removedEvent);
    tap.onRemoved = [&](ItemPtr item) {
        if (item->GetType() == schema.room)
            schema.user->RemoveAllItems();
    };
    d.RemoveAllItems();
    for (const auto& entry : d.Types())
        EXPECT_EQ(entry.second->ItemCount(), 0u) << entry.first;
    EXPECT_EQ(log.size(), 7u);
}

// ---- Removing a type ----

TEST(StoreRemoval, TypeRemoveEndsItsItemsRelationsAndSubscriptions)
{
    RemovalSchema schema;
    schema.user->GetItem("alice").Connect(schema.room->GetItem("lobby"));
    Log log;
    EventTap tap(log, "t");
    tap.WatchPair(schema.user, schema.room);
    std::vector<std::string> removedTypes;
    struct TypeWatch : DataHandler
    {
        std::vector<std::string>* names;
        void OnType(Type* type) { names->push_back(type->GetName()); }
    } watch;
    watch.names = &removedTypes;
    d.m_typeRemovedEvent.AddHandler(watch.NewEventHandler(&watch, &TypeWatch::OnType));
    auto* root = new PathNode(&d, "user");
    new PathNode(root, "room", NotifyOnConnect);
    d.AddPathEventHandler(root, tap.NewEventHandler(&tap, &EventTap::OnNewItem));

    schema.room->Remove();
    EXPECT_EQ(removedTypes, std::vector<std::string>({"room"}));
    EXPECT_EQ(d.HasType("room"), nullptr);
    EXPECT_FALSE(schema.user->IsRelated(schema.room));
    EXPECT_TRUE(schema.user->GetItem("alice").IsDisconnectedFromAll());
    EXPECT_EQ(d.PairHandlerCount(schema.user, schema.room, true), 0u);
    EXPECT_FALSE(d.HasPathPairHandler(schema.user, schema.room, true));
    EXPECT_EQ(Count(log, "t - alice lobby"), 1u);
}

TEST(StoreRemoval, TypeRemovedFromInsideAPairHandlerOfItsOwnPair)
{
    RemovalSchema schema;
    struct Remover : DataHandler
    {
        Type* room = nullptr;
        int calls = 0;
        void OnPair(ConnectionInfo&)
        {
            ++calls;
            room->Remove();
        }
    } remover;
    remover.room = schema.room;
    d.AddConnectionEventHandler(schema.user, schema.room,
                                remover.NewEventHandler(&remover, &Remover::OnPair));
    d.AddConnectionEventHandler(schema.room, schema.user,
                                remover.NewEventHandler(&remover, &Remover::OnPair));
    schema.user->GetItem("alice").Connect(schema.room->GetItem("lobby"));
    EXPECT_EQ(remover.calls, 1) << "the reverse pair is not notified for a removed item";
    EXPECT_EQ(d.HasType("room"), nullptr);
    EXPECT_TRUE(schema.user->GetItem("alice").IsDisconnectedFromAll());
}

// ---- Removal from inside a connection's own notifications ----

namespace
{
class ConnectTap : public DataHandler
{
public:
    explicit ConnectTap(Event<ConnectionInfo>& event)
    {
        event.AddHandler(NewEventHandler(this, &ConnectTap::OnConnected));
    }
    void OnConnected(ConnectionInfo info)
    {
        ++calls;
        if (action)
            action(info);
    }
    std::function<void(ConnectionInfo)> action;
    int calls = 0;
};
} // namespace

TEST(StoreRemoval, ItemRemovedByATypeConnectionHandlerEndsTheConnectionCleanly)
{
    RemovalSchema schema;
    ItemPtr alice = schema.user->GetItem("alice");
    ItemPtr lobby = schema.room->GetItem("lobby");
    ConnectTap userTap(schema.user->m_connectedEvent);
    ConnectTap roomTap(schema.room->m_connectedEvent);
    ConnectTap storeTap(d.m_connectedEvent);
    userTap.action = [&](ConnectionInfo info) { ItemPtr(info.to).Remove(); };

    alice += lobby;

    // The room is gone before the store's and the room type's events: they are not told of a
    // pair that no longer exists, and the user holds nothing freed.
    EXPECT_EQ(userTap.calls, 1);
    EXPECT_EQ(storeTap.calls, 0);
    EXPECT_EQ(roomTap.calls, 0);
    EXPECT_FALSE(schema.room->HasItem("lobby"));
    EXPECT_TRUE(alice.IsDisconnectedFromAll());
}

TEST(StoreRemoval, HolderRemovedWhileItsOneSideIsReplacedHoldsNothing)
{
    RemovalSchema schema;
    Type* status = d.NewType("status", Leaf, false, true);
    schema.user->RelateToType(status, Many, One, false);
    ItemPtr alice = schema.user->GetItem("alice");
    ItemPtr away = status->GetItem("away");
    ItemPtr busy = status->GetItem("busy");
    alice += away;

    Log log;
    RemovalTap watcher(log, "status");
    watcher.WatchDisconnections(status->m_disconnectedEvent);
    watcher.onDisconnected = [&](ConnectionInfo) { alice.Remove(); };

    alice += busy;

    EXPECT_FALSE(schema.user->HasItem("alice"));
    EXPECT_TRUE(away.IsDisconnectedFromAll());
    EXPECT_TRUE(busy.IsDisconnectedFromAll());
}
