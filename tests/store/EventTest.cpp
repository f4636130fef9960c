#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "StoreTestLog.h"
#include "store/Data.h"
#include "support/TestSupport.h"

using namespace store_testing;

namespace
{
// A subscriber whose handler logs and then runs an optional action.
class Owner : public DataHandler
{
public:
    Owner(Log& log, std::string name) : name(std::move(name)), m_log(log) {}

    EventHandlerBase<ItemPtr>* Subscribe(Event<ItemPtr>& event)
    {
        auto* handler = NewEventHandler(this, &Owner::OnItem);
        event.AddHandler(handler);
        return handler;
    }

    void OnItem(ItemPtr item)
    {
        m_log.push_back(name + " " + Name(item.Get()));
        if (action)
            action(item);
    }

    std::size_t HandlerCount() const { return m_handlers.size(); }

    std::string name;
    std::function<void(ItemPtr)> action;

private:
    Log& m_log;
};

// A handler that counts its calls and its destruction, for walks over a plain event.
class Probe : public EventHandlerBase<int>
{
public:
    Probe(int& destroyed, std::function<void()> action = {})
        : m_destroyed(destroyed), m_action(std::move(action))
    {
    }
    ~Probe() override { ++m_destroyed; }
    void Handle(int) override
    {
        ++calls;
        if (m_action)
            m_action();
    }
    void SetAction(std::function<void()> action) { m_action = std::move(action); }

    int calls = 0;

private:
    int& m_destroyed;
    std::function<void()> m_action;
};

// Orders two handlers by identity, the order in which a walk reaches them.
template <class T>
void LowerFirst(T*& a, T*& b)
{
    if (std::less<T*>()(b, a))
        std::swap(a, b);
}
} // namespace

TEST(StoreEvents, AWithdrawnHandlerIsNeverCalledAndLeavesAtTheNextWalk)
{
    Log log;
    Type* user = d.NewType("user", Primary, false, true);
    auto owner = std::make_unique<Owner>(log, "owner");
    auto* handler = owner->Subscribe(user->m_newItemEvent);
    user->GetItem("alice");
    EXPECT_EQ(log, (Log{"owner alice"}));

    owner.reset();
    EXPECT_TRUE(user->m_newItemEvent.HasHandler(handler)) << "held until a walk reaches it";
    user->GetItem("bob");
    EXPECT_EQ(log, (Log{"owner alice"}));
    EXPECT_TRUE(user->m_newItemEvent.Empty());

    int destroyed = 0;
    int argument = 0;
    Event<int> event;
    event.Notify(argument);
    auto* probe = new Probe(destroyed);
    event.AddHandler(probe);
    event.AddHandler(probe);
    EXPECT_EQ(event.Size(), 1u);
    event.Notify(argument);
    probe->m_removed = true;
    event.Notify(argument);
    EXPECT_EQ(destroyed, 1) << "freed by the walk that met it flagged";
    EXPECT_TRUE(event.Empty());
}

TEST(StoreEvents, AnOwnerDestroyedByAnEarlierHandlerIsNotCalled)
{
    Log log;
    Type* user = d.NewType("user", Primary, false, true);
    auto first = std::make_unique<Owner>(log, "first");
    auto second = std::make_unique<Owner>(log, "second");
    first->Subscribe(user->m_newItemEvent);
    second->Subscribe(user->m_newItemEvent);
    // Whichever runs first destroys the other.
    first->action = [&](ItemPtr) { second.reset(); };
    second->action = [&](ItemPtr) { first.reset(); };

    user->GetItem("alice");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(user->m_newItemEvent.Size(), 1u) << "the later one was taken out in the same walk";
    Owner* survivor = first ? first.get() : second.get();
    survivor->action = nullptr;
    user->GetItem("bob");
    EXPECT_EQ(log.size(), 2u);
    EXPECT_EQ(log.back(), survivor->name + " bob");
}

// An inner walk of the same event takes out a handler that the outer walk still has in its copy;
// the outer walk must neither call nor read it, and it is freed once the outer walk ends.
TEST(StoreEvents, NestedWalksNeverTouchAHandlerAnInnerWalkTookOut)
{
    int destroyed = 0;
    int argument = 0;
    {
        Event<int> event;
        auto* trigger = new Probe(destroyed);
        auto* victim = new Probe(destroyed);
        LowerFirst(trigger, victim);
        int depth = 0;
        int victimCalls = 0;
        int destroyedAfterInnerWalk = -1;
        victim->SetAction([&] { ++victimCalls; });
        trigger->SetAction([&] {
            if (++depth == 1)
            {
                int inner = 1;
                event.Notify(inner);
                destroyedAfterInnerWalk = destroyed;
            }
            else
                victim->m_removed = true;
        });
        event.AddHandler(trigger);
        event.AddHandler(victim);

        event.Notify(argument);
        EXPECT_EQ(trigger->calls, 2);
        EXPECT_EQ(victimCalls, 0);
        EXPECT_EQ(destroyedAfterInnerWalk, 0) << "still allocated while the outer walk runs";
        EXPECT_EQ(destroyed, 1);
        EXPECT_EQ(event.Size(), 1u);
    }
    EXPECT_EQ(destroyed, 2) << "the event frees what it still holds";

    // The same through the store: a handler creates an item, and inside that walk destroys
    // the owner of a handler that comes later.
    Log log;
    Type* user = d.NewType("user", Primary, false, true);
    auto a = std::make_unique<Owner>(log, "a");
    auto b = std::make_unique<Owner>(log, "b");
    auto* ha = a->Subscribe(user->m_newItemEvent);
    auto* hb = b->Subscribe(user->m_newItemEvent);
    Owner* trigger = std::less<EventHandlerBase<ItemPtr>*>()(ha, hb) ? a.get() : b.get();
    std::unique_ptr<Owner>& victim = trigger == a.get() ? b : a;
    trigger->name = "trigger";
    trigger->action = [&](ItemPtr item) {
        if (item.AsStdString() == "outer")
            user->GetItem("inner");
        else
            victim.reset();
    };
    user->GetItem("outer");
    EXPECT_EQ(log, (Log{"trigger outer", "trigger inner"}));
    EXPECT_EQ(user->m_newItemEvent.Size(), 1u);
}

TEST(StoreEvents, AHandlerAddedDuringAWalkIsCalledFromTheNextWalkOn)
{
    Log log;
    Type* user = d.NewType("user", Primary, false, true);
    Owner early(log, "early");
    Owner late(log, "late");
    early.Subscribe(user->m_newItemEvent);
    early.action = [&](ItemPtr) {
        if (late.HandlerCount() == 0)
            late.Subscribe(user->m_newItemEvent);
    };

    user->GetItem("alice");
    EXPECT_EQ(log, (Log{"early alice"}));
    user->GetItem("bob");
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(std::count(log.begin(), log.end(), "late bob"), 1);
}

TEST(StoreEvents, AnOwnerMayOutliveTheHolderThatDeletedItsHandler)
{
    Log log;
    auto owner = std::make_unique<Owner>(log, "owner");
    {
        Event<ItemPtr> event;
        owner->Subscribe(event);
        owner->Subscribe(event);
        EXPECT_EQ(owner->HandlerCount(), 2u);
    }
    EXPECT_EQ(owner->HandlerCount(), 0u) << "a deleted handler leaves its owner's list";
    owner.reset();
}

// ---- Pair handlers ----

TEST(StorePairHandlers, APairOfOneTypeIsReportedInBothOrders)
{
    Log log;
    Type* peer = d.NewType("peer", Primary, false, true);
    peer->RelateToType(peer, Many, Many, false);
    ItemPtr p1 = peer->GetItem("p1");
    ItemPtr p2 = peer->GetItem("p2");
    EventTap type(log, "type");
    EventTap pair(log, "pair");
    type.WatchType(peer);
    pair.WatchPair(peer, peer);

    p1 += p2;
    EXPECT_EQ(log, (Log{"type + p1 p2", "type + p2 p1", "pair + p1 p2", "pair + p2 p1"}));
    EXPECT_TRUE(p2.IsConnected(p1));
    log.clear();
    p2 -= p1;
    EXPECT_EQ(log, (Log{"type - p2 p1", "type - p1 p2", "pair - p2 p1", "pair - p1 p2"}));
    EXPECT_TRUE(p1.IsDisconnectedFromAll());
}

TEST(StorePairHandlers, EachKeyGetsItsOwnTypesInOrderAndWithdrawnOnesStop)
{
    Log log;
    Type* user = d.NewType("user", Primary, false, true);
    Type* room = d.NewType("room", Primary, false, true);
    user->RelateToType(room, Many, Many, false);
    ItemPtr alice = user->GetItem("alice");
    ItemPtr lobby = room->GetItem("lobby");
    EventTap userRoom(log, "(user,room)");
    userRoom.WatchPair(user, room);
    auto roomUser = std::make_unique<EventTap>(log, "(room,user)");
    roomUser->WatchPair(room, user);

    lobby += alice;
    EXPECT_EQ(log, (Log{"(room,user) + lobby alice", "(user,room) + alice lobby"}));
    log.clear();
    roomUser.reset();
    alice -= lobby;
    EXPECT_EQ(log, (Log{"(user,room) - alice lobby"}));
}

TEST(StorePairHandlers, UnrelatedTypesAreRefusedAndTheHandlerStaysWithTheCaller)
{
    Log log;
    Type* user = d.NewType("user", Primary, false, true);
    Type* room = d.NewType("room", Primary, false, true);
    Type* file = d.NewType("file", Primary, false, true);
    user->RelateToType(room, Many, Many, false);
    auto owner = std::make_unique<EventTap>(log, "pair");

    auto* handler = owner->NewEventHandler(owner.get(), &EventTap::OnPairConnected);
    EXPECT_THROWS_PTR(d.AddConnectionEventHandler(user, file, handler), NotRelatedException);
    EXPECT_THROWS_PTR(d.AddDisconnectionEventHandler(file, room, handler), NotRelatedException);
    delete handler;
    owner.reset();

    user->GetItem("alice") += room->GetItem("lobby");
    EXPECT_TRUE(log.empty());
}
