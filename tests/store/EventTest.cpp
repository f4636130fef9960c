#include "StoreTesting.h"

namespace
{
// A handler of a plain event that counts its calls and its destruction.
struct Probe : EventHandlerBase<int>
{
    explicit Probe(int& destroyed) : m_destroyed(destroyed) {}
    ~Probe() override { ++m_destroyed; }
    void Handle(int) override { ++calls, action ? action() : void(); }
    int calls = 0;
    std::function<void()> action;
    int& m_destroyed;
};
} // namespace

using StorePairHandlers = SchemaTest;

// A withdrawn handler is never called and leaves at the next walk; one added during a walk is
// called from the next walk on.
TEST(StoreEvents, HandlersWithdrawnOrAddedDuringAWalk)
{
    Type* user = d.NewType("user", Primary, false, true);
    Log log;
    auto owner = std::make_unique<EventTap>(log, "owner");
    owner->Subscribe(user->m_newItemEvent);
    user->GetItem("alice");
    owner.reset();
    EventTap first(log, "first"), late(log, "late");
    first.Subscribe(user->m_newItemEvent);
    first.onItem = [&](ItemPtr) {
        if (late.HandlerCount() == 0)
            late.Subscribe(user->m_newItemEvent);
    };
    user->GetItem("bob");
    user->GetItem("carol");
    std::sort(log.begin(), log.end());
    EXPECT_EQ(log, (Log{"first bob", "first carol", "late carol", "owner alice"})) << "late for bob, called for carol";
    EXPECT_EQ(StoreTesting::HandlerCount(user->m_newItemEvent), 2u);

    int destroyed = 0, argument = 0;
    Event<int> event;
    auto* probe = new Probe(destroyed);
    event.AddHandler(probe);
    event.AddHandler(probe);
    event.Notify(argument);
    EXPECT_EQ(probe->calls, 1) << "added twice, held once";

    // A deleted handler leaves its owner's list, so the owner may outlive the event.
    EventTap survivor;
    {
        Event<ItemPtr> shortLived;
        survivor.Subscribe(shortLived);
        EXPECT_EQ(survivor.HandlerCount(), 1u);
    }
    EXPECT_EQ(survivor.HandlerCount(), 0u);
}

// An inner walk of the same event takes out a handler that the outer walk still has in its copy;
// the outer walk must neither call nor read it, and it is freed once the outer walk ends.
TEST(StoreEvents, NestedWalksNeverTouchAHandlerAnInnerWalkTookOut)
{
    int destroyed = 0, argument = 0;
    {
        Event<int> event;
        auto *trigger = new Probe(destroyed), *victim = new Probe(destroyed);
        if (std::less<Probe*>()(victim, trigger))
            std::swap(trigger, victim);
        int depth = 0, destroyedAfterInnerWalk = -1, victimCalls = 0;
        victim->action = [&] { ++victimCalls; };
        trigger->action = [&] {
            if (++depth > 1)
                victim->m_removed = true;
            else
            {
                int inner = 1;
                event.Notify(inner);
                destroyedAfterInnerWalk = destroyed;
            }
        };
        event.AddHandler(trigger);
        event.AddHandler(victim);
        event.Notify(argument);
        EXPECT_EQ(trigger->calls, 2);
        EXPECT_EQ(victimCalls, 0);
        EXPECT_EQ(destroyedAfterInnerWalk, 0) << "still allocated while the outer walk runs";
        EXPECT_EQ(destroyed, 1);
        EXPECT_EQ(StoreTesting::HandlerCount(event), 1u);
    }
    EXPECT_EQ(destroyed, 2) << "the event frees what it still holds";
}

// The store remembers a pair of types that had no handler; a handler added later, in either
// order of the types, hears the next connection of that pair, and other pairs are still asked.
TEST_F(StorePairHandlers, AHandlerAddedAfterConnectionsWithoutOneHearsTheNext)
{
    Type* peer = d.NewType("peer", Primary, false, true);
    user->RelateToType(peer, Many, Many, false);
    ItemPtr u1 = user->GetItem("u1"), u2 = user->GetItem("u2"), u3 = user->GetItem("u3");
    ItemPtr p1 = peer->GetItem("p1"), r1 = room->GetItem("r1");
    Log log;
    EventTap pair(log, "pair"), rooms(log, "rooms");
    rooms.WatchPair(user, room);
    u1 += p1;
    u1 += r1;
    EXPECT_EQ(log, (Log{"rooms + u1 r1"}));
    p1 += u2;
    pair.WatchPair(peer, user);
    p1 += u3;
    u2 += r1;
    EXPECT_EQ(log, (Log{"rooms + u1 r1", "pair + p1 u3", "rooms + u2 r1"}));
}

TEST_F(StorePairHandlers, APairOfOneTypeIsReportedBothWaysAndUnrelatedOnesAreRefused)
{
    Type* peer = d.NewType("peer", Primary, false, true);
    peer->RelateToType(peer, Many, Many, false);
    ItemPtr p1 = peer->GetItem("p1"), p2 = peer->GetItem("p2");
    Log log;
    EventTap type(log, "type"), pair(log, "pair");
    type.WatchType(peer);
    pair.WatchPair(peer, peer);
    // A pair of one type is reported in both orders.
    p1 += p2;
    EXPECT_EQ(log, (Log{"type + p1 p2", "type + p2 p1", "pair + p1 p2", "pair + p2 p1"}));
    EXPECT_TRUE(p2.IsConnected(p1));
    log.clear();
    p2 -= p1;
    EXPECT_EQ(log, (Log{"type - p2 p1", "type - p1 p2", "pair - p2 p1", "pair - p1 p2"}));
    EXPECT_TRUE(p1.IsDisconnectedFromAll());

    // Unrelated types are refused and the handler stays with the caller.
    auto* handler = pair.NewEventHandler(&pair, &EventTap::OnPairConnected);
    EXPECT_THROWS_PTR(d.AddConnectionEventHandler(user, peer, handler), NotRelatedException);
    EXPECT_THROWS_PTR(d.AddDisconnectionEventHandler(peer, room, handler), NotRelatedException);
    delete handler;
}
