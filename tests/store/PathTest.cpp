#include "StoreTesting.h"

namespace
{
// Rooms with a member flag and operators, next to the shared schema; a root type a with two
// child types b and c.
struct StorePaths : ::testing::Test, Schema
{
    StorePaths()
    {
        room->RelateToType(member, Many, One, false);
        user->RelateToType(operators, Many, Many, false);
        operators->RelateToType(room, One, One, false);
        a->RelateToType(b, Many, Many, false);
        a->RelateToType(c, Many, Many, false);
    }
    Type* member = d.NewType("is_member", Leaf, true, false);
    Type* operators = d.NewType("room_operators", Intermediate, true, false);
    Type* a = d.NewType("a", Primary, false, true);
    Type* b = d.NewType("b", Leaf, false, true);
    Type* c = d.NewType("c", Leaf, false, true);
};

// A root type with child edges, subscribed with a handler.
PathNode* Subscribe(const std::string& root, std::initializer_list<std::pair<std::string, PathNodeRelation>> children,
                    EventHandlerBase<ItemPtr>* handler)
{
    auto* node = new PathNode(&d, root.c_str());
    for (const auto& [child, code] : children)
        new PathNode(node, child.c_str(), code);
    d.AddPathEventHandler(node, handler);
    return node;
}
} // namespace

TEST_F(StorePaths, NotifyCodesFireOnTheirChangeOnly)
{
    Log log;
    EventTap onConnect(log, "on"), onDisconnect(log, "off"), notConnected(log, "not");
    Subscribe("user", {{"is_online", NotifyOnConnect}}, onConnect.Handler());
    Subscribe("user", {{"is_online", NotifyOnDisconnect}}, onDisconnect.Handler());
    Subscribe("room", {{"is_member", NotConnectedAndNotify}}, notConnected.Handler());
    ItemPtr alice = user->GetItem("alice"), lobby = room->GetItem("lobby");
    alice.NewItem("is_online");
    alice.Disconnect("is_online");
    user->GetItem("bob").NewItem("is_online");
    alice.NewItem("is_online");
    lobby.NewItem("is_member");
    lobby.Disconnect("is_member");
    lobby.Disconnect("is_member"); // nothing held, nothing disconnected
    EXPECT_EQ(log, (Log{"on alice", "off alice", "on bob", "on alice", "not lobby"}));
}

// A change on one edge notifies only when the other holds.
TEST_F(StorePaths, TwoEdgesCombined)
{
    const struct
    {
        PathNodeRelation b, c;
        std::vector<std::size_t> calls; // after a1+b1, a1+c1, a1+b2, a2+c1
    } cases[] = {{ConnectedAndNotify, ConnectedAndNotify, {0, 1, 2, 2}},
                 {NotifyOnConnect, ConnectedAndNotify, {0, 0, 1, 1}}};
    for (const auto& test : cases)
    {
        d.RemoveAllItems();
        EventTap recorder;
        Subscribe("a", {{"b", test.b}, {"c", test.c}}, recorder.Handler());
        std::vector<std::size_t> calls;
        for (auto [from, to] : {std::pair{a->GetItem("a1"), b->GetItem("b1")}, {a->GetItem("a1"), c->GetItem("c1")},
                                {a->GetItem("a1"), b->GetItem("b2")}, {a->GetItem("a2"), c->GetItem("c1")}})
            calls.push_back((from.Connect(to), recorder.calls.size()));
        EXPECT_EQ(calls, test.calls) << "case " << &test - cases;
        EXPECT_EQ(Count(recorder.calls, "a1"), recorder.calls.size());
    }
}

TEST_F(StorePaths, NotConnectedEdgeBlocksOnlyAMatchingItem)
{
    EventTap recorder;
    auto* root = new PathNode(&d, "a");
    new PathNode(root, "b", NotConnectedAndNotify);
    new PathNode(root, c->GetItem("blocked"), NotConnected);
    d.AddPathEventHandler(root, recorder.Handler());
    ItemPtr a1 = a->GetItem("a1"), b1 = b->GetItem("b1");
    auto cycle = [&] {
        a1.Connect(b1);
        a1.Disconnect(b1);
        return recorder.calls.size();
    };
    EXPECT_EQ(cycle(), 1u);
    a1.Connect(c->GetItem("other"));
    EXPECT_EQ(cycle(), 2u) << "only a non-matching c is held";
    a1.Connect(c->GetItem("blocked"));
    EXPECT_EQ(cycle(), 3u) << "one non-matching c among several is enough";
    a1.Disconnect(c->GetItem("other"));
    EXPECT_EQ(cycle(), 3u) << "only the blocked c is held";
}

TEST_F(StorePaths, TriggersBelowTheRoot)
{
    ItemPtr lobby = room->GetItem("lobby"), other = room->GetItem("other");
    // Leaving the operators of one anchored room.
    Log log;
    EventTap leaving(log, "leaving"), joining(log, "joining"), negated(log, "negated");
    auto* root = new PathNode(&d, "user");
    new PathNode(new PathNode(root, "room_operators", NotifyOnDisconnect), lobby, ConnectedAndNotify);
    d.AddPathEventHandler(root, leaving.Handler());
    // Joining the operators of any room reports the room; under a negated edge, nothing.
    for (auto* tap : {&joining, &negated})
    {
        auto* roomRoot = new PathNode(&d, "room");
        new PathNode(new PathNode(roomRoot, "room_operators", tap == &joining ? Connected : NotConnected), "user",
                     NotifyOnConnect);
        d.AddPathEventHandler(roomRoot, tap->Handler());
    }
    ItemPtr lobbyOps = operators->NewItem(), otherOps = operators->NewItem(), looseOps = operators->NewItem(),
            alice = user->GetItem("alice");
    lobbyOps.Connect(lobby);
    otherOps.Connect(other);
    alice.Connect(looseOps); // an operators item of no room
    alice.Connect(lobbyOps);
    alice.Connect(otherOps);
    alice.Disconnect(otherOps); // another room's operators
    alice.Disconnect(lobbyOps);
    EXPECT_EQ(log, (Log{"joining lobby", "joining other", "leaving alice"}));
}

TEST_F(StorePaths, AnchoredRootFiresForItsValueOnly)
{
    ItemPtr codepage = global->GetItem("extended_ascii_codepage");
    EventTap recorder;
    auto* root = new PathNode(codepage);
    new PathNode(root, "global_value", NotifyOnConnect);
    d.AddPathEventHandler(root, recorder.Handler());
    global->GetItem("other_setting").Connect(value->GetItem("x"));
    codepage.Connect(value->GetItem("CP1251"));
    codepage.Connect(value->GetItem("CP1252"));
    // The anchor is the value: a new item with that value matches as well.
    codepage.Remove();
    global->GetItem("extended_ascii_codepage").Connect(value->GetItem("KOI8-R"));
    EXPECT_EQ(recorder.calls, Log(3, "extended_ascii_codepage"));
}

TEST_F(StorePaths, BareRootsUnknownNamesAndUnrelatedTriggers)
{
    EventTap recorder;
    d.AddPathEventHandler(new PathNode(&d, "user"), recorder.Handler());
    user->GetItem("alice").NewItem("is_online");
    EXPECT_TRUE(recorder.calls.empty()) << "a root without edges never fires";

    EXPECT_THROWS_PTR(PathNode(&d, "no_such_type"), TypeNotFoundException);
    PathNode bare(&d, "user");
    EXPECT_THROWS_PTR(PathNode(&bare, "no_such_type", Connected), TypeNotFoundException);
    EXPECT_TRUE(bare.Children().empty());

    // A trigger between unrelated types is refused whole, leaving nothing behind that a later
    // change could reach.
    EXPECT_THROWS_PTR(Subscribe("user", {{"is_online", NotifyOnConnect}, {"global", NotifyOnDisconnect}}, recorder.Handler()),
                      NotRelatedException);
    EXPECT_EQ(StoreTesting::PathIndex(user, online, true), "0/0/0");
    user->GetItem("bob").NewItem("is_online");
    // Only constraining an unrelated pair is accepted: it simply never holds.
    Subscribe("user", {{"is_online", NotifyOnConnect}, {"global", Connected}}, recorder.Handler());
    user->GetItem("carol").NewItem("is_online");
    EXPECT_TRUE(recorder.calls.empty());
}

TEST_F(StorePaths, SharingTeardownAndResubscription)
{
    Log log;
    EventTap first(log, "first"), again(log, "again");
    auto gone = std::make_unique<EventTap>(log, "gone");
    Subscribe("user", {{"is_online", NotifyOnConnect}}, first.Handler());
    Subscribe("user", {{"is_online", ConnectedAndNotify}}, gone->Handler());
    user->GetItem("alice").NewItem("is_online");

    // Withdrawn subscriptions leave the pair's index once a change of its kind reaches it.
    Subscribe("room", {{"is_member", NotifyOnDisconnect}}, gone->Handler());
    gone.reset();
    first.RemoveDataHandlers();
    user->GetItem("dora").NewItem("is_online");
    EXPECT_EQ(StoreTesting::PathIndex(user, online, true), "0/0/0");
    Subscribe("user", {{"is_online", NotifyOnConnect}}, again.Handler());
    EXPECT_EQ(StoreTesting::PathIndex(user, online, true), "1/1/1");
    user->GetItem("bob").NewItem("is_online");
    EXPECT_EQ(log, (Log{"first alice", "gone alice", "again bob"}));

    // A disconnection pair goes only with a disconnection.
    ItemPtr lobby = room->GetItem("lobby");
    lobby.NewItem("is_member");
    EXPECT_EQ(StoreTesting::PathIndex(room, member, false), "1/1/1");
    lobby.Disconnect("is_member");
    EXPECT_EQ(StoreTesting::PathIndex(room, member, false), "0/0/0");
}

// Both subscriptions of a pair end, then a nested change of the same pair tears them down while
// the outer walk still lists them and one of their handlers is still running.
TEST_F(StorePaths, LastSubscriptionsEndInsideANestedWalkOfTheirOwnPair)
{
    EventTap recorder;
    auto first = std::make_unique<DataHandler>(), second = std::make_unique<DataHandler>();
    Subscribe("user", {{"is_online", NotifyOnConnect}}, first->NewEventHandler(&recorder, &EventTap::OnItem));
    Subscribe("user", {{"is_online", NotifyOnConnect}}, second->NewEventHandler(&recorder, &EventTap::OnItem));
    recorder.onItem = [&](ItemPtr) {
        if (!first)
            return;
        first.reset();
        second.reset();
        user->GetItem("bob").NewItem("is_online");
    };
    user->GetItem("alice").NewItem("is_online");
    EXPECT_EQ(StoreTesting::PathIndex(user, online, true), "0/0/0");
    EventTap again;
    Subscribe("user", {{"is_online", NotifyOnConnect}}, again.Handler());
    user->GetItem("carol").NewItem("is_online");
    EXPECT_EQ(again.calls, (Log{"carol"}));
    EXPECT_EQ(recorder.calls, (Log{"alice"}));
}

TEST_F(StorePaths, HandlerRemovingTheRootStopsTheRestOfTheChange)
{
    EventTap first, second;
    Subscribe("user", {{"is_online", NotifyOnConnect}}, first.Handler());
    Subscribe("user", {{"is_online", NotifyOnConnect}}, second.Handler());
    first.onItem = second.onItem = [](ItemPtr item) { item.Remove(); };
    user->GetItem("alice").NewItem("is_online");
    EXPECT_EQ(first.calls.size() + second.calls.size(), 1u);
    EXPECT_TRUE(!user->HasItem("alice") && online->GetGlobalNullItem()->IsDisconnectedFromAll());
}
