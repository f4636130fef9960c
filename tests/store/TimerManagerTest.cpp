#include "store/TimerManager.h"

#include <QPointer>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>

TEST(TimerManager, ThreeRepeatingTimersLiveAsLongAsTheManager)
{
    auto manager = std::make_unique<TimerManager>();
    EXPECT_EQ(timerManager, manager.get());
    QPointer<QTimer> timers[] = {manager->halfMinuteTimer, manager->fiveMinuteTimer, manager->hourTimer};
    const int periods[] = {30000, 300000, 3600000};
    for (int i = 0; i < 3; ++i)
    {
        SCOPED_TRACE(periods[i]);
        EXPECT_EQ(timers[i]->interval(), periods[i]);
        EXPECT_FALSE(timers[i]->isSingleShot());
        EXPECT_TRUE(timers[i]->isActive());
    }
    manager.reset();
    EXPECT_EQ(timerManager, nullptr);
    for (const QPointer<QTimer>& timer : timers)
        EXPECT_TRUE(timer.isNull());
}
