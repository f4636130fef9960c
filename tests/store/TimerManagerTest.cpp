#include "store/TimerManager.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>

namespace
{
struct Period
{
    QTimer* TimerManager::*timer;
    int ms;
};

const Period kPeriods[] = {
    {&TimerManager::halfMinuteTimer, 30000},
    {&TimerManager::fiveMinuteTimer, 300000},
    {&TimerManager::hourTimer, 3600000},
};
} // namespace

TEST(TimerManager, SetsTheGlobalAndClearsItOnDestruction)
{
    auto manager = std::make_unique<TimerManager>();
    EXPECT_EQ(timerManager, manager.get());
    manager.reset();
    EXPECT_EQ(timerManager, nullptr);
}

TEST(TimerManager, ThreeRepeatingTimersRunFromConstruction)
{
    TimerManager manager;
    for (const Period& period : kPeriods)
    {
        SCOPED_TRACE(period.ms);
        QTimer* timer = manager.*period.timer;
        ASSERT_NE(timer, nullptr);
        EXPECT_EQ(timer->interval(), period.ms);
        EXPECT_FALSE(timer->isSingleShot());
        EXPECT_TRUE(timer->isActive());
        EXPECT_EQ(timer->timerType(), Qt::PreciseTimer);
        EXPECT_EQ(timer->parent(), nullptr);
        // The first tick is one whole period after start-up.
        EXPECT_GT(timer->remainingTime(), period.ms - 2000);
        EXPECT_LE(timer->remainingTime(), period.ms);
    }
    EXPECT_NE(manager.halfMinuteTimer, manager.fiveMinuteTimer);
    EXPECT_NE(manager.fiveMinuteTimer, manager.hourTimer);
}

TEST(TimerManager, TimersKeepTickingAtTheirPeriod)
{
    TimerManager manager;
    // The same timers at a short period show that they repeat rather than fire once.
    for (const Period& period : kPeriods)
    {
        SCOPED_TRACE(period.ms);
        QTimer* timer = manager.*period.timer;
        QSignalSpy spy(timer, &QTimer::timeout);
        timer->start(10);
        QTest::qWait(200);
        EXPECT_GE(spy.count(), 3);
        EXPECT_TRUE(timer->isActive());
        timer->stop();
    }
}

TEST(TimerManager, DestructionFreesTheTimers)
{
    auto manager = std::make_unique<TimerManager>();
    QPointer<QTimer> half(manager->halfMinuteTimer);
    QPointer<QTimer> five(manager->fiveMinuteTimer);
    QPointer<QTimer> hour(manager->hourTimer);
    manager.reset();
    EXPECT_TRUE(half.isNull());
    EXPECT_TRUE(five.isNull());
    EXPECT_TRUE(hour.isNull());
}
