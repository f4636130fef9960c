#include <gtest/gtest.h>

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
// Records the root items it is called with; an optional action runs inside the call.
class Recorder : public DataHandler
{
public:
    void OnRoot(ItemPtr root)
    {
        calls.push_back(Name(root.Get()));
        if (action)
            action(root);
    }

    // A handler whose owner is this recorder.
    EventHandlerBase<ItemPtr>* Handler() { return NewEventHandler(this, &Recorder::OnRoot); }

    std::vector<std::string> calls;
    std::function<void(ItemPtr)> action;
};

// Owns a handler that calls into a recorder it does not own, so destroying the owner withdraws
// the subscription while the recorder (and a running call into it) lives on.
class Owner : public DataHandler
{
public:
    EventHandlerBase<ItemPtr>* HandlerFor(Recorder& recorder)
    {
        return NewEventHandler(&recorder, &Recorder::OnRoot);
    }
};

using Calls = std::vector<std::string>;

struct PathSchema
{
    PathSchema()
    {
        user = d.NewType("user", Primary, false, true);
        online = d.NewType("is_online", Leaf, true, false);
        room = d.NewType("room", Primary, false, true);
        member = d.NewType("is_member", Leaf, true, false);
        operators = d.NewType("room_operators", Intermediate, true, false);
        global = d.NewType("global", Primary, false, true);
        value = d.NewType("global_value", Leaf, false, true);
        user->RelateToType(online, Many, One, false);
        room->RelateToType(member, Many, One, false);
        user->RelateToType(operators, Many, Many, false);
        operators->RelateToType(room, One, One, false);
        global->RelateToType(value, Many, One, false);
    }
    Type* user;
    Type* online;
    Type* room;
    Type* member;
    Type* operators;
    Type* global;
    Type* value;
};

// A root type with two related child types, for the combinations of codes.
struct TreeSchema
{
    TreeSchema()
    {
        a = d.NewType("a", Primary, false, true);
        b = d.NewType("b", Leaf, false, true);
        c = d.NewType("c", Leaf, false, true);
        a->RelateToType(b, Many, Many, false);
        a->RelateToType(c, Many, Many, false);
    }
    Type* a;
    Type* b;
    Type* c;
};

void Subscribe(const char* root, const char* child, PathNodeRelation code,
               EventHandlerBase<ItemPtr>* handler)
{
    auto* node = new PathNode(&d, root);
    new PathNode(node, child, code);
    d.AddPathEventHandler(node, handler);
}
} // namespace

// ---- Each relation code ----

TEST(StorePaths, NotifyOnConnectFiresOnConnectionOnly)
{
    PathSchema schema;
    Recorder recorder;
    Subscribe("user", "is_online", NotifyOnConnect, recorder.Handler());

    ItemPtr alice = schema.user->GetItem("alice");
    ItemPtr bob = schema.user->GetItem("bob");
    alice.NewItem("is_online");
    EXPECT_EQ(recorder.calls, Calls({"alice"}));
    alice.Disconnect("is_online");
    EXPECT_EQ(recorder.calls, Calls({"alice"}));
    bob.NewItem("is_online");
    alice.NewItem("is_online");
    EXPECT_EQ(recorder.calls, Calls({"alice", "bob", "alice"}));
}

TEST(StorePaths, NotifyOnDisconnectFiresOnDisconnectionOnly)
{
    PathSchema schema;
    Recorder recorder;
    Subscribe("user", "is_online", NotifyOnDisconnect, recorder.Handler());

    ItemPtr alice = schema.user->GetItem("alice");
    alice.NewItem("is_online");
    EXPECT_TRUE(recorder.calls.empty());
    alice.Disconnect("is_online");
    EXPECT_EQ(recorder.calls, Calls({"alice"}));
}

TEST(StorePaths, TwoConnectedAndNotifyEdgesEachNeedTheOther)
{
    TreeSchema schema;
    Recorder recorder;
    auto* root = new PathNode(&d, "a");
    new PathNode(root, "b", ConnectedAndNotify);
    new PathNode(root, "c", ConnectedAndNotify);
    d.AddPathEventHandler(root, recorder.Handler());

    ItemPtr a1 = schema.a->GetItem("a1");
    ItemPtr a2 = schema.a->GetItem("a2");
    a1.Connect(schema.b->GetItem("b1"));
    EXPECT_TRUE(recorder.calls.empty()) << "no c yet";
    a1.Connect(schema.c->GetItem("c1"));
    EXPECT_EQ(recorder.calls, Calls({"a1"}));
    a1.Connect(schema.b->GetItem("b2"));
    EXPECT_EQ(recorder.calls, Calls({"a1", "a1"}));
    a2.Connect(schema.c->GetItem("c1"));
    EXPECT_EQ(recorder.calls, Calls({"a1", "a1"})) << "a2 holds no b";
}

TEST(StorePaths, NotifyOnlyEdgeNeverHoldsAsACondition)
{
    TreeSchema schema;
    Recorder recorder;
    auto* root = new PathNode(&d, "a");
    new PathNode(root, "b", NotifyOnConnect);
    new PathNode(root, "c", ConnectedAndNotify);
    d.AddPathEventHandler(root, recorder.Handler());

    ItemPtr a1 = schema.a->GetItem("a1");
    a1.Connect(schema.b->GetItem("b1"));
    EXPECT_TRUE(recorder.calls.empty());
    a1.Connect(schema.c->GetItem("c1"));
    EXPECT_TRUE(recorder.calls.empty()) << "a change on the c edge needs the b edge to hold";
    a1.Connect(schema.b->GetItem("b2"));
    EXPECT_EQ(recorder.calls, Calls({"a1"}));
}

TEST(StorePaths, ConnectedEdgeConstrainsButRegistersNothing)
{
    TreeSchema schema;
    Recorder recorder;
    auto* root = new PathNode(&d, "a");
    new PathNode(root, "b", NotifyOnConnect);
    new PathNode(root, "c", Connected);
    d.AddPathEventHandler(root, recorder.Handler());
    EXPECT_TRUE(d.HasPathPairHandler(schema.a, schema.b, true));
    EXPECT_FALSE(d.HasPathPairHandler(schema.a, schema.c, true));
    EXPECT_FALSE(d.HasPathPairHandler(schema.a, schema.c, false));

    ItemPtr a1 = schema.a->GetItem("a1");
    a1.Connect(schema.b->GetItem("b1"));
    EXPECT_TRUE(recorder.calls.empty());
    a1.Connect(schema.c->GetItem("c1"));
    EXPECT_TRUE(recorder.calls.empty());
    a1.Connect(schema.b->GetItem("b2"));
    EXPECT_EQ(recorder.calls, Calls({"a1"}));
}

TEST(StorePaths, NotConnectedAndNotifyFiresOnEveryDisconnection)
{
    PathSchema schema;
    Recorder recorder;
    Subscribe("room", "is_member", NotConnectedAndNotify, recorder.Handler());
    EXPECT_TRUE(d.HasPathPairHandler(schema.room, schema.member, false));
    EXPECT_FALSE(d.HasPathPairHandler(schema.room, schema.member, true));

    ItemPtr lobby = schema.room->GetItem("lobby");
    lobby.NewItem("is_member");
    EXPECT_TRUE(recorder.calls.empty());
    lobby.Disconnect("is_member");
    EXPECT_EQ(recorder.calls, Calls({"lobby"}));
    lobby.Disconnect("is_member");
    EXPECT_EQ(recorder.calls, Calls({"lobby"})) << "nothing held, nothing disconnected";
}

TEST(StorePaths, NotConnectedEdgeBlocksOnlyAMatchingItem)
{
    TreeSchema schema;
    Recorder recorder;
    auto* root = new PathNode(&d, "a");
    new PathNode(root, "b", NotConnectedAndNotify);
    new PathNode(root, schema.c->GetItem("blocked"), NotConnected);
    d.AddPathEventHandler(root, recorder.Handler());
    EXPECT_FALSE(d.HasPathPairHandler(schema.a, schema.c, false));

    ItemPtr a1 = schema.a->GetItem("a1");
    ItemPtr b1 = schema.b->GetItem("b1");
    a1.Connect(b1);
    a1.Disconnect(b1);
    EXPECT_EQ(recorder.calls, Calls({"a1"}));

    a1.Connect(schema.c->GetItem("other"));
    a1.Connect(b1);
    a1.Disconnect(b1);
    EXPECT_EQ(recorder.calls, Calls({"a1", "a1"})) << "only a non-matching c is held";

    // With several c items held, one that does not match is enough.
    a1.Connect(schema.c->GetItem("blocked"));
    a1.Connect(b1);
    a1.Disconnect(b1);
    EXPECT_EQ(recorder.calls, Calls({"a1", "a1", "a1"}));

    a1.Disconnect(schema.c->GetItem("other"));
    a1.Connect(b1);
    a1.Disconnect(b1);
    EXPECT_EQ(recorder.calls, Calls({"a1", "a1", "a1"})) << "only the blocked c is held";
}

TEST(StorePaths, LeavingTheOperatorsOfOneAnchoredRoom)
{
    PathSchema schema;
    ItemPtr lobby = schema.room->GetItem("lobby");
    ItemPtr other = schema.room->GetItem("other");
    Recorder recorder;
    auto* root = new PathNode(&d, "user");
    auto* ops = new PathNode(root, "room_operators", NotifyOnDisconnect);
    new PathNode(ops, lobby, ConnectedAndNotify);
    d.AddPathEventHandler(root, recorder.Handler());

    ItemPtr lobbyOps = schema.operators->NewItem();
    ItemPtr otherOps = schema.operators->NewItem();
    ItemPtr alice = schema.user->GetItem("alice");
    lobbyOps.Connect(lobby);
    otherOps.Connect(other);
    EXPECT_TRUE(recorder.calls.empty()) << "connecting the operators item to the room";
    alice.Connect(lobbyOps);
    alice.Connect(otherOps);
    EXPECT_TRUE(recorder.calls.empty());
    alice.Disconnect(otherOps);
    EXPECT_TRUE(recorder.calls.empty()) << "another room's operators";
    alice.Disconnect(lobbyOps);
    EXPECT_EQ(recorder.calls, Calls({"alice"}));
}

TEST(StorePaths, TriggerBelowTheRootReportsTheRootItem)
{
    PathSchema schema;
    Recorder recorder;
    auto* root = new PathNode(&d, "room");
    auto* ops = new PathNode(root, "room_operators", Connected);
    new PathNode(ops, "user", NotifyOnConnect);
    d.AddPathEventHandler(root, recorder.Handler());

    ItemPtr lobbyOps = schema.operators->NewItem();
    ItemPtr looseOps = schema.operators->NewItem();
    lobbyOps.Connect(schema.room->GetItem("lobby"));
    ItemPtr alice = schema.user->GetItem("alice");
    alice.Connect(looseOps);
    EXPECT_TRUE(recorder.calls.empty()) << "an operators item of no room";
    alice.Connect(lobbyOps);
    EXPECT_EQ(recorder.calls, Calls({"lobby"}));
}

TEST(StorePaths, TriggerBelowANegatedEdgeNeverCallsWithoutARoot)
{
    PathSchema schema;
    Recorder recorder;
    auto* root = new PathNode(&d, "room");
    auto* ops = new PathNode(root, "room_operators", NotConnected);
    new PathNode(ops, "user", NotifyOnConnect);
    d.AddPathEventHandler(root, recorder.Handler());

    ItemPtr lobbyOps = schema.operators->NewItem();
    ItemPtr looseOps = schema.operators->NewItem();
    lobbyOps.Connect(schema.room->GetItem("lobby"));
    schema.user->GetItem("alice").Connect(looseOps);
    schema.user->GetItem("alice").Connect(lobbyOps);
    EXPECT_TRUE(recorder.calls.empty());
}

// ---- Anchored and bare roots ----

TEST(StorePaths, AnchoredRootFiresForItsValueOnly)
{
    PathSchema schema;
    ItemPtr codepage = schema.global->GetItem("extended_ascii_codepage");
    Recorder recorder;
    auto* root = new PathNode(codepage);
    new PathNode(root, "global_value", NotifyOnConnect);
    d.AddPathEventHandler(root, recorder.Handler());

    schema.global->GetItem("other_setting").Connect(schema.value->GetItem("x"));
    EXPECT_TRUE(recorder.calls.empty());
    codepage.Connect(schema.value->GetItem("CP1251"));
    codepage.Connect(schema.value->GetItem("CP1252"));
    EXPECT_EQ(recorder.calls, Calls({"extended_ascii_codepage", "extended_ascii_codepage"}));

    // The anchor is the value: a new item with that value matches as well.
    codepage.Remove();
    schema.global->GetItem("extended_ascii_codepage").Connect(schema.value->GetItem("KOI8-R"));
    EXPECT_EQ(recorder.calls.size(), 3u);
}

TEST(StorePaths, RootWithoutEdgesNeverFires)
{
    PathSchema schema;
    Recorder recorder;
    d.AddPathEventHandler(new PathNode(&d, "user"), recorder.Handler());
    schema.user->GetItem("alice").NewItem("is_online");
    EXPECT_TRUE(recorder.calls.empty());
    EXPECT_EQ(d.PairHandlerCount(schema.user, schema.online, true), 0u);
}

TEST(StorePaths, UnknownTypeNameThrows)
{
    PathSchema schema;
    EXPECT_THROWS_PTR(PathNode(&d, "no_such_type"), TypeNotFoundException);
    PathNode root(&d, "user");
    EXPECT_THROWS_PTR(PathNode(&root, "no_such_type", Connected), TypeNotFoundException);
    EXPECT_TRUE(root.Children().empty());
}

TEST(StorePaths, TriggerBetweenUnrelatedTypesIsRefusedWhole)
{
    PathSchema schema;
    Recorder recorder;
    auto* root = new PathNode(&d, "user");
    new PathNode(root, "is_online", NotifyOnConnect);
    new PathNode(root, "room", NotifyOnDisconnect);
    EXPECT_THROWS_PTR(d.AddPathEventHandler(root, recorder.Handler()), NotRelatedException);
    EXPECT_FALSE(d.HasPathPairHandler(schema.user, schema.online, true));
    schema.user->GetItem("alice").NewItem("is_online");
    EXPECT_TRUE(recorder.calls.empty());

    // Only constraining an unrelated pair is accepted: it simply never holds.
    auto* constrained = new PathNode(&d, "user");
    new PathNode(constrained, "is_online", NotifyOnConnect);
    new PathNode(constrained, "room", Connected);
    d.AddPathEventHandler(constrained, recorder.Handler());
    schema.user->GetItem("bob").NewItem("is_online");
    EXPECT_TRUE(recorder.calls.empty());
}

// ---- Sharing, teardown and re-subscription ----

TEST(StorePaths, SubscriptionsOfOnePairShareOneStoreHandler)
{
    PathSchema schema;
    Recorder first;
    Recorder second;
    Subscribe("user", "is_online", NotifyOnConnect, first.Handler());
    Subscribe("user", "is_online", ConnectedAndNotify, second.Handler());
    EXPECT_EQ(d.PathSubscriptionCount(schema.user, schema.online, true), 2u);
    EXPECT_EQ(d.PairHandlerCount(schema.user, schema.online, true), 1u);

    schema.user->GetItem("alice").NewItem("is_online");
    EXPECT_EQ(first.calls, Calls({"alice"}));
    EXPECT_EQ(second.calls, Calls({"alice"}));
}

TEST(StorePaths, DestroyedSubscriberIsTornDownByTheNextChangeAndThePairCanBeReused)
{
    PathSchema schema;
    auto gone = std::make_unique<Recorder>();
    Subscribe("user", "is_online", NotifyOnConnect, gone->Handler());
    gone.reset();
    // Withdrawal is lazy: the pair stays indexed until a change reaches it.
    EXPECT_TRUE(d.HasPathPairHandler(schema.user, schema.online, true));

    schema.user->GetItem("alice").NewItem("is_online");
    EXPECT_FALSE(d.HasPathPairHandler(schema.user, schema.online, true));
    EXPECT_EQ(d.PathSubscriptionCount(schema.user, schema.online, true), 0u);
    EXPECT_EQ(d.PairHandlerCount(schema.user, schema.online, true), 0u);

    Recorder again;
    Subscribe("user", "is_online", NotifyOnConnect, again.Handler());
    EXPECT_EQ(d.PairHandlerCount(schema.user, schema.online, true), 1u);
    schema.user->GetItem("bob").NewItem("is_online");
    EXPECT_EQ(again.calls, Calls({"bob"}));
}

TEST(StorePaths, DisconnectionPairsAreTornDownOnlyByDisconnections)
{
    PathSchema schema;
    auto gone = std::make_unique<Recorder>();
    Subscribe("room", "is_member", NotifyOnDisconnect, gone->Handler());
    gone.reset();
    ItemPtr lobby = schema.room->GetItem("lobby");
    lobby.NewItem("is_member");
    EXPECT_TRUE(d.HasPathPairHandler(schema.room, schema.member, false));
    lobby.Disconnect("is_member");
    EXPECT_FALSE(d.HasPathPairHandler(schema.room, schema.member, false));
}

TEST(StorePaths, LastSubscriptionsEndInsideANestedWalkOfTheirOwnPair)
{
    PathSchema schema;
    Recorder recorder;
    auto first = std::make_unique<Owner>();
    auto second = std::make_unique<Owner>();
    Subscribe("user", "is_online", NotifyOnConnect, first->HandlerFor(recorder));
    Subscribe("user", "is_online", NotifyOnConnect, second->HandlerFor(recorder));
    bool fired = false;
    recorder.action = [&](ItemPtr) {
        if (fired)
            return;
        fired = true;
        // Both subscriptions end, then a nested change of the same pair tears them down while
        // the outer walk still lists them and one of their handlers is still running.
        first.reset();
        second.reset();
        schema.user->GetItem("bob").NewItem("is_online");
    };
    schema.user->GetItem("alice").NewItem("is_online");
    EXPECT_EQ(recorder.calls, Calls({"alice"}));
    EXPECT_FALSE(d.HasPathPairHandler(schema.user, schema.online, true));
    EXPECT_EQ(d.PairHandlerCount(schema.user, schema.online, true), 0u);

    Recorder again;
    Subscribe("user", "is_online", NotifyOnConnect, again.Handler());
    schema.user->GetItem("carol").NewItem("is_online");
    EXPECT_EQ(again.calls, Calls({"carol"}));
    EXPECT_EQ(recorder.calls, Calls({"alice"}));
}

TEST(StorePaths, PairEmptiedFromAnotherPairsWalk)
{
    PathSchema schema;
    Recorder onlineRecorder;
    auto onlineOwner = std::make_unique<Owner>();
    Subscribe("user", "is_online", NotifyOnConnect, onlineOwner->HandlerFor(onlineRecorder));
    Recorder memberRecorder;
    Subscribe("room", "is_member", NotifyOnConnect, memberRecorder.Handler());
    memberRecorder.action = [&](ItemPtr) {
        onlineOwner.reset();
        schema.user->GetItem("alice").NewItem("is_online");
    };
    schema.room->GetItem("lobby").NewItem("is_member");
    EXPECT_EQ(memberRecorder.calls, Calls({"lobby"}));
    EXPECT_TRUE(onlineRecorder.calls.empty());
    EXPECT_EQ(d.PairHandlerCount(schema.user, schema.online, true), 0u);
    EXPECT_EQ(d.PairHandlerCount(schema.room, schema.member, true), 1u);
}

TEST(StorePaths, HandlerRemovingTheRootStopsTheRestOfTheChange)
{
    PathSchema schema;
    Recorder first;
    Recorder second;
    Subscribe("user", "is_online", NotifyOnConnect, first.Handler());
    Subscribe("user", "is_online", NotifyOnConnect, second.Handler());
    auto removeUser = [](ItemPtr user) { user.Remove(); };
    first.action = removeUser;
    second.action = removeUser;
    schema.user->GetItem("alice").NewItem("is_online");
    EXPECT_EQ(first.calls.size() + second.calls.size(), 1u);
    EXPECT_FALSE(schema.user->HasItem("alice"));
    EXPECT_TRUE(schema.online->GetGlobalNullItem()->IsDisconnectedFromAll());
}
