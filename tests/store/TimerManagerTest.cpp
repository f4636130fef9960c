#include "store/TimerManager.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>

namespace
{
const std::pair<QTimer* TimerManager::*, int> kPeriods[] = {
    {&TimerManager::halfMinuteTimer, 30000},
    {&TimerManager::fiveMinuteTimer, 300000},
    {&TimerManager::hourTimer, 3600000},
};
} // namespace

TEST(TimerManager, ThreeRepeatingTimersRunFromConstruction)
{
    TimerManager manager;
    for (const auto& [member, ms] : kPeriods)
    {
        SCOPED_TRACE(ms);
        QTimer* timer = manager.*member;
        ASSERT_NE(timer, nullptr);
        EXPECT_EQ(timer->interval(), ms);
        EXPECT_FALSE(timer->isSingleShot());
        EXPECT_TRUE(timer->isActive());
        EXPECT_EQ(timer->timerType(), Qt::PreciseTimer);
        EXPECT_EQ(timer->parent(), nullptr);
        // The first tick is one whole period after start-up.
        EXPECT_GT(timer->remainingTime(), ms - 2000);
        EXPECT_LE(timer->remainingTime(), ms);

        // The same timer at a short period shows that it repeats rather than fires once.
        QSignalSpy spy(timer, &QTimer::timeout);
        timer->start(10);
        QTest::qWait(200);
        EXPECT_GE(spy.count(), 3);
        EXPECT_TRUE(timer->isActive());
        timer->stop();
    }
    EXPECT_NE(manager.halfMinuteTimer, manager.fiveMinuteTimer);
    EXPECT_NE(manager.fiveMinuteTimer, manager.hourTimer);
}

TEST(TimerManager, SetsTheGlobalAndFreesItsTimersOnDestruction)
{
    auto manager = std::make_unique<TimerManager>();
    EXPECT_EQ(timerManager, manager.get());
    QPointer<QTimer> timers[] = {manager->halfMinuteTimer, manager->fiveMinuteTimer, manager->hourTimer};
    manager.reset();
    EXPECT_EQ(timerManager, nullptr);
    for (const QPointer<QTimer>& timer : timers)
        EXPECT_TRUE(timer.isNull());
}
