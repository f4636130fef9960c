#include "StoreTesting.h"

using StoreRemoval = SchemaTest;

TEST_F(StoreRemoval, ItemIsNotifiedWholeThenCutLooseWithoutCascade)
{
    ItemPtr alice = user->GetItem("alice");
    ItemPtr lobby = alice.Connect(room->GetItem("lobby")), attic = alice.Connect(room->GetItem("attic"));
    ItemPtr flag = alice.NewItem("is_online");
    Log log;
    EventTap type(log, "type"), store(log, "store");
    type.WatchRemovals(user->m_removedEvent);
    type.WatchDisconnections(user->m_disconnectedEvent);
    store.WatchRemovals(d.m_removedEvent);
    store.WatchDisconnections(d.m_disconnectedEvent);
    std::string seen;
    store.onItem = [&](ItemPtr item) {
        // Out of the index, but still whole.
        seen = std::to_string(item->Connections().Size()) + " " + Names(user) + " " + item.AsStdString();
    };
    alice.Remove();
    EXPECT_EQ(seen, "2  alice");
    ASSERT_EQ(log.size(), 8u);
    std::sort(log.begin() + 2, log.end());
    EXPECT_EQ(log, (Log{"type removed alice", "store removed alice", "store - alice (is_online)", "store - alice attic",
                        "store - alice lobby", "type - alice (is_online)", "type - alice attic", "type - alice lobby"}));
    EXPECT_EQ(Names(user) + " / " + Names(room), " / attic lobby") << "removal does not cascade";
    EXPECT_TRUE(lobby.IsDisconnectedFromAll() && attic.IsDisconnectedFromAll() && flag.IsDisconnectedFromAll());
}

TEST_F(StoreRemoval, HandlerRemovingTheSameItemAgainAndRemakingItsValue)
{
    ItemPtr alice = user->GetItem("alice");
    alice.Connect(room->GetItem("lobby"));
    EventTap tap;
    tap.WatchRemovals(user->m_removedEvent);
    ItemPtr remade;
    tap.onItem = [&](ItemPtr item) {
        if (item.AsStdString() != "alice" || remade)
            return;
        remade = user->GetItem("alice");
        item.Remove();
    };
    alice.Remove();
    EXPECT_EQ(tap.calls, Log{"removed alice"});
    ASSERT_TRUE(remade);
    EXPECT_EQ(user->HasItem("alice"), remade) << "the new item stays indexed";
    EXPECT_TRUE(room->GetItem("lobby").IsDisconnectedFromAll());
}

// Handlers connect the item again while it goes, before the cut and during it, and cut
// connections the cut has still to reach: every connection it ends up with is cut, each once.
TEST_F(StoreRemoval, ConnectionsMadeOrCutWhileGoingAreCutOnce)
{
    ItemPtr alice = user->GetItem("alice"), lobby = room->GetItem("lobby"), hall = room->GetItem("hall");
    alice.Connect(room->GetItem("attic"));
    alice.NewItem("is_online");
    EventTap connector, tap;
    connector.WatchRemovals(user->m_removedEvent);
    connector.onItem = [&](ItemPtr item) { item.Connect(lobby); };
    tap.WatchDisconnections(d.m_disconnectedEvent);
    tap.onPair = [&](ConnectionInfo info) {
        if (tap.calls.size() > 1)
            return;
        ItemPtr going(info.from);
        going.Disconnect("room");
        going.Disconnect("is_online");
        going.Connect(hall);
    };
    alice.Remove();
    std::sort(tap.calls.begin(), tap.calls.end());
    EXPECT_EQ(tap.calls, (Log{"- alice (is_online)", "- alice attic", "- alice hall", "- alice lobby"}));
    EXPECT_TRUE(lobby.IsDisconnectedFromAll() && hall.IsDisconnectedFromAll()) << "no dangling connection";
}

// Every connection of a live item is mutual and leads to a live item of the store.
bool Consistent()
{
    for (const auto& l_entry : d.Types())
        for (ItemPtr l_item : l_entry.second->GetItems())
        {
            const TypeItemsMap& l_connections = l_item->Connections();
            for (auto l_it = l_connections.Begin(); l_it != l_connections.End(); ++l_it)
                for (ItemPtr l_other : *l_it.Set())
                    if (!l_other->IsAlive() || !l_other.IsConnected(l_item) ||
                        !l_it.GetType()->GetItems().Contains(l_other))
                        return false;
        }
    return true;
}

// A handler of the first event about a member removes, cuts or cuts and remakes the flag of
// every other member while a bulk operation goes through them (ASan reports any member reached
// after it was freed), and the operation still leaves each member as it should.
TEST_F(StoreRemoval, BulkOperationsUnderHandlersChangingTheOtherMembers)
{
    // Not a root, so the collection takes every member.
    Type* l_member = d.NewType("member", Intermediate, false, true);
    l_member->RelateToType(online, Many, One, false);
    // Each operation, and whether it takes the members themselves.
    const std::tuple<const char*, std::function<void(const ItemSet&)>, bool> l_operations[] = {
        {"set disconnect", [](const ItemSet& i_members) { i_members.Disconnect("is_online"); }, false},
        {"set remove", [](const ItemSet& i_members) { i_members.Remove(); }, true},
        {"item disconnect", [&](const ItemSet&) { online->GetGlobalNullItem().Disconnect("member"); }, false},
        {"item remove", [&](const ItemSet&) { online->GetGlobalNullItem().Remove(); }, false},
        {"type remove", [&](const ItemSet&) { l_member->RemoveAllItems(); }, true},
        {"store remove", [](const ItemSet&) { d.RemoveAllItems(); }, true},
        {"collection", [](const ItemSet&) { d.RemoveDisconnectedItems(); }, true},
    };
    enum Action { RemoveOthers, CutOthers, RemakeOthers };
    for (const auto& [lp_name, l_run, l_takesMembers] : l_operations)
        for (Action l_action : {RemoveOthers, CutOthers, RemakeOthers})
        {
            SCOPED_TRACE(std::string(lp_name) + " / action " + std::to_string(l_action));
            d.RemoveAllItems();
            ItemSet l_members;
            for (const char* l_name : {"a", "b", "c", "d"})
                l_members.Insert(l_member->GetItem(l_name));
            for (ItemPtr l_item : l_members)
                l_item.NewItem("is_online");
            ItemPtr l_flag = online->GetGlobalNullItem();
            bool l_done = false;
            EventTap l_tap;
            const auto l_act = [&](Item* ip_item) {
                if (l_done || !l_members.Contains(ip_item))
                    return;
                l_done = true;
                ItemSet l_others(l_members);
                l_others.Erase(ip_item);
                if (l_action == RemoveOthers)
                    return l_others.Remove();
                l_others.Disconnect("is_online");
                if (l_action == RemakeOthers)
                    for (ItemPtr l_other : l_others)
                        l_other.NewItem("is_online");
            };
            l_tap.onItem = [&](ItemPtr i_item) { l_act(i_item.Get()); };
            l_tap.onPair = [&](ConnectionInfo i_info) {
                l_act(i_info.from);
                l_act(i_info.to);
            };
            l_tap.WatchRemovals(d.m_removedEvent);
            l_tap.WatchDisconnections(d.m_disconnectedEvent);

            l_run(l_members);
            EXPECT_TRUE(l_done);
            EXPECT_EQ(l_member->ItemCount(), l_takesMembers ? 0u : l_action == RemoveOthers ? 1u : 4u);
            for (ItemPtr l_left : l_member->GetItems())
                EXPECT_NE(l_left["is_online"], l_flag);
            EXPECT_TRUE(Consistent());
            // Whatever the handler removed is neither removed nor cut a second time.
            const std::set<std::string> l_distinct(l_tap.calls.begin(), l_tap.calls.end());
            EXPECT_TRUE(l_action != RemoveOthers || l_distinct.size() == l_tap.calls.size());
        }
}

TEST_F(StoreRemoval, TypeRemoveEndsItsItemsRelationsAndSubscriptions)
{
    user->GetItem("alice").Connect(room->GetItem("lobby"));
    EventTap tap;
    tap.WatchPair(user, room);
    d.m_typeRemovedEvent.AddHandler(tap.NewEventHandler(&tap, &EventTap::OnNewType));
    auto* root = new PathNode(&d, "user");
    new PathNode(root, "room", NotifyOnConnect);
    d.AddPathEventHandler(root, tap.Handler());
    room->Remove();
    EXPECT_TRUE(!d.HasType("room") && !user->IsRelated(room));
    EXPECT_TRUE(user->GetItem("alice").IsDisconnectedFromAll());
    EXPECT_EQ(StoreTesting::PathIndex(user, room, true), "0/0/0");
    EXPECT_EQ(tap.calls, (Log{"- alice lobby", "type room"}));
}

TEST_F(StoreRemoval, TypeRemovedFromInsideAPairHandlerOfItsOwnPair)
{
    EventTap remover;
    remover.onPair = [&](ConnectionInfo) { room->Remove(); };
    d.AddConnectionEventHandler(user, room, remover.NewEventHandler(&remover, &EventTap::OnPairConnected));
    d.AddConnectionEventHandler(room, user, remover.NewEventHandler(&remover, &EventTap::OnPairConnected));
    user->GetItem("alice").Connect(room->GetItem("lobby"));
    EXPECT_EQ(remover.calls.size(), 1u) << "the reverse pair is not notified for a removed item";
    EXPECT_TRUE(!d.HasType("room") && user->GetItem("alice").IsDisconnectedFromAll());
}

// Removed by a handler of the connection's own events, before the later ones: they are not told
// of a pair that no longer exists, and the other item holds nothing freed.
TEST_F(StoreRemoval, ItemRemovedInsideItsOwnConnectionEvents)
{
    ItemPtr alice = user->GetItem("alice");
    Log log;
    {
        EventTap userTap(log, "user"), roomTap(log, "room"), storeTap(log, "store");
        userTap.WatchConnections(user->m_connectedEvent);
        roomTap.WatchConnections(room->m_connectedEvent);
        storeTap.WatchConnections(d.m_connectedEvent);
        userTap.onPair = [&](ConnectionInfo info) { ItemPtr(info.to).Remove(); };
        alice += room->GetItem("lobby");
    }
    EXPECT_EQ(log, (Log{"user + alice lobby"}));
    EXPECT_TRUE(!room->HasItem("lobby") && alice.IsDisconnectedFromAll());

    // The holder removed while its `One` side is replaced.
    Type* status = d.NewType("status", Leaf, false, true);
    user->RelateToType(status, Many, One, false);
    ItemPtr away = status->GetItem("away"), busy = status->GetItem("busy");
    alice += away;
    EventTap watcher;
    watcher.WatchDisconnections(status->m_disconnectedEvent);
    watcher.onPair = [&](ConnectionInfo) { alice.Remove(); };
    alice += busy;
    EXPECT_TRUE(!user->HasItem("alice") && away.IsDisconnectedFromAll() && busy.IsDisconnectedFromAll());
}
