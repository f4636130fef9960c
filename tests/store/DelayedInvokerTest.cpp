#include "store/DelayedInvoker.h"

#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>

namespace
{
// Counts the calls of Sort() and Other() (and into a shared total), and may ask for the next
// Sort() from inside it, with a negative delay.
class Recorder : public QObject
{
    Q_OBJECT

public:
    explicit Recorder(int* ip_total = nullptr) : mp_total(ip_total) {}
    int sorts = 0, others = 0, reinvokes = 0;

public slots:
    void Sort()
    {
        ++sorts;
        mp_total ? void(++*mp_total) : void();
        if (reinvokes-- > 0)
            delayedInvoker->Invoke(this, SLOT(Sort()), -5);
    }
    void Other() { ++others; }

private:
    int* mp_total;
};

QList<QTimer*> Pending(const DelayedInvoker& i_invoker)
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return i_invoker.findChildren<QTimer*>();
}
// Every pending call now, rather than when its time comes.
void FireAll(const DelayedInvoker& i_invoker)
{
    for (QTimer* lp_timer : Pending(i_invoker))
        QMetaObject::invokeMethod(lp_timer, "timeout");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
// Runs the event loop until a precise timer started now has fired: any earlier, shorter timer
// has had its turn by then.
void PassTime(int i_ms)
{
    bool l_done = false;
    QTimer::singleShot(i_ms, Qt::PreciseTimer, [&] { l_done = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return l_done; }, 10000));
}
} // namespace

TEST(DelayedInvoker, ABurstOfRequestsGivesOneCallAtTheFirstDeadline)
{
    DelayedInvoker invoker(nullptr);
    Recorder recorder;
    invoker.Invoke(&recorder, "1Sort()", 4000);
    ASSERT_EQ(Pending(invoker).size(), 1);
    QTimer* timer = Pending(invoker)[0];
    const int deadline = timer->remainingTime();
    PassTime(600);
    invoker.Invoke(&recorder, "1Sort()", 4000);
    invoker.Invoke(&recorder, "1Sort()", 10);
    // Neither pushed back by the later request nor brought forward by the shorter one. The
    // margins are far wider than a coarse timer's slack and leave seconds for a slow machine.
    ASSERT_EQ(Pending(invoker), QList<QTimer*>{timer});
    EXPECT_LT(timer->remainingTime(), deadline - 500);
    EXPECT_GT(timer->remainingTime(), 1000);
    FireAll(invoker);
    EXPECT_EQ(recorder.sorts, 1);
    EXPECT_TRUE(Pending(invoker).isEmpty());
    // A request after the call, and one from inside the called slot, schedule another; a
    // negative delay does not keep it from ever firing.
    recorder.reinvokes = 1;
    invoker.Invoke(&recorder, SLOT(Sort()), 10);
    FireAll(invoker);
    EXPECT_EQ(recorder.sorts, 2);
    ASSERT_EQ(Pending(invoker).size(), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.sorts == 3; }, 5000)) << "a real timer";
    EXPECT_TRUE(Pending(invoker).isEmpty());
}

TEST(DelayedInvoker, DifferentSlotsAndTargetsAreIndependentAndANullOrDestroyedTargetIsLeftOut)
{
    DelayedInvoker invoker(nullptr);
    int calls = 0;
    Recorder a(&calls), b(&calls);
    auto doomed = std::make_unique<Recorder>(&calls);
    for (auto [target, slot] : {std::pair<Recorder*, const char*>{&a, SLOT(Sort())}, {&a, SLOT(Other())},
                                {&b, SLOT(Sort())}, {&a, SLOT(Sort())}, {doomed.get(), SLOT(Sort())},
                                {doomed.get(), SLOT(Other())}, {nullptr, SLOT(Sort())}})
        invoker.Invoke(target, slot, 20);
    doomed.reset();
    EXPECT_EQ(Pending(invoker).size(), 3);
    FireAll(invoker);
    EXPECT_EQ(std::make_tuple(a.sorts, a.others, b.sorts, b.others, calls), std::make_tuple(1, 1, 1, 0, 2));
    // A new object (possibly at the freed address) is served normally.
    auto fresh = std::make_unique<Recorder>();
    invoker.Invoke(fresh.get(), SLOT(Sort()), 10);
    FireAll(invoker);
    EXPECT_EQ(fresh->sorts, 1);
}

TEST(DelayedInvoker, DestroyingTheInvokerCancelsPendingCallsAndClearsTheGlobal)
{
    int calls = 0;
    auto invoker = std::make_unique<DelayedInvoker>(nullptr);
    auto* owned = new Recorder(&calls); // goes with the invoker, quietly
    owned->setParent(invoker.get());
    Recorder outside(&calls);
    invoker->Invoke(owned, SLOT(Sort()), 20);
    invoker->Invoke(&outside, SLOT(Sort()), 20);
    invoker.reset();
    EXPECT_EQ(delayedInvoker, nullptr);
    PassTime(100);
    EXPECT_EQ(calls, 0);
}

#include "DelayedInvokerTest.moc"
