#include "store/DelayedInvoker.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace
{
// Notes when Sort() is called, and may ask for the next call from inside it.
class Recorder : public QObject
{
    Q_OBJECT

public:
    explicit Recorder(int* counter = nullptr) : m_counter(counter) { m_clock.start(); }

    std::vector<qint64> sorts;
    int others = 0;
    int reinvokes = 0;

public slots:
    void Sort()
    {
        sorts.push_back(m_clock.elapsed());
        if (m_counter != nullptr)
            ++*m_counter;
        if (reinvokes > 0)
        {
            --reinvokes;
            delayedInvoker->Invoke(this, SLOT(Sort()), 100);
        }
    }
    void Other() { ++others; }

private:
    int* m_counter;
    QElapsedTimer m_clock;
};

int PendingTimers(const DelayedInvoker& invoker)
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return invoker.findChildren<QTimer*>().size();
}
} // namespace

TEST(DelayedInvoker, ABurstOfRequestsGivesOneCallAtTheFirstDeadline)
{
    DelayedInvoker invoker(nullptr);
    EXPECT_EQ(delayedInvoker, &invoker);
    Recorder recorder;
    invoker.Invoke(&recorder, "1Sort()", 800);
    QTest::qWait(300);
    invoker.Invoke(&recorder, "1Sort()", 800);
    QTest::qWait(100);
    invoker.Invoke(&recorder, "1Sort()", 10);
    EXPECT_EQ(PendingTimers(invoker), 1);

    QTest::qWait(1500);
    ASSERT_EQ(recorder.sorts.size(), 1u);
    // Later requests neither push the deadline back (to 1100 ms) nor bring it forward (to
    // 410 ms); the toolkit may fire a timer this long up to 5% early.
    EXPECT_GE(recorder.sorts[0], 700);
    EXPECT_LT(recorder.sorts[0], 1050);
    EXPECT_EQ(PendingTimers(invoker), 0);

    // A request after the call, and one from inside the called slot, schedule another.
    invoker.Invoke(&recorder, SLOT(Sort()), 10);
    QTest::qWait(150);
    EXPECT_EQ(recorder.sorts.size(), 2u);
    recorder.reinvokes = 2;
    invoker.Invoke(&recorder, SLOT(Sort()), 10);
    QTest::qWait(600);
    ASSERT_EQ(recorder.sorts.size(), 5u);
    EXPECT_GE(recorder.sorts[3] - recorder.sorts[2], 90);
    EXPECT_GE(recorder.sorts[4] - recorder.sorts[3], 90);
    EXPECT_EQ(PendingTimers(invoker), 0);
}

TEST(DelayedInvoker, DifferentSlotsAndTargetsAreIndependent)
{
    DelayedInvoker invoker(nullptr);
    Recorder a, b;
    invoker.Invoke(&a, SLOT(Sort()), 20);
    invoker.Invoke(&a, SLOT(Other()), 20);
    invoker.Invoke(&b, SLOT(Sort()), 20);
    invoker.Invoke(&a, SLOT(Sort()), 20);
    EXPECT_EQ(PendingTimers(invoker), 3);
    QTest::qWait(200);
    EXPECT_EQ(a.sorts.size(), 1u);
    EXPECT_EQ(a.others, 1);
    EXPECT_EQ(b.sorts.size(), 1u);
    EXPECT_EQ(b.others, 0);
}

TEST(DelayedInvoker, ADestroyedTargetIsNotCalledAndLeavesNothingPending)
{
    DelayedInvoker invoker(nullptr);
    int calls = 0;
    auto doomed = std::make_unique<Recorder>(&calls);
    invoker.Invoke(doomed.get(), SLOT(Sort()), 30);
    invoker.Invoke(doomed.get(), SLOT(Other()), 30);
    Recorder survivor(&calls);
    invoker.Invoke(&survivor, SLOT(Sort()), 30);
    doomed.reset();
    EXPECT_EQ(PendingTimers(invoker), 1);
    QTest::qWait(200);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(survivor.sorts.size(), 1u);
    EXPECT_EQ(PendingTimers(invoker), 0);

    // A new object (possibly at the freed address) is served normally.
    auto fresh = std::make_unique<Recorder>(&calls);
    invoker.Invoke(fresh.get(), SLOT(Sort()), 10);
    QTest::qWait(150);
    EXPECT_EQ(fresh->sorts.size(), 1u);
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
    QTest::qWait(150);
    EXPECT_EQ(calls, 0);
}

TEST(DelayedInvoker, EdgeArgumentsNeitherBlockNorCrash)
{
    DelayedInvoker invoker(nullptr);
    invoker.Invoke(nullptr, SLOT(Sort()), 10);
    EXPECT_EQ(PendingTimers(invoker), 0);

    // A negative delay must not leave a timer that never fires and blocks the key.
    Recorder recorder;
    invoker.Invoke(&recorder, SLOT(Sort()), -5);
    QTest::qWait(100);
    EXPECT_EQ(recorder.sorts.size(), 1u);
    EXPECT_EQ(PendingTimers(invoker), 0);
}

#include "DelayedInvokerTest.moc"
