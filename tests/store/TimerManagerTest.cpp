#include "store/TimerManager.h"

#include <QPointer>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>

TEST(TimerManager, HalfMinuteFiveMinuteAndHourTicksLiveAsLongAsTheManager)
{
    auto manager = std::make_unique<TimerManager>();
    EXPECT_EQ(timerManager, manager.get());
    QPointer<QTimer> timers[] = {manager->halfMinuteTimer, manager->fiveMinuteTimer, manager->hourTimer};
    for (const auto& [timer, period] : {std::pair{timers[0], 30000}, {timers[1], 300000}, {timers[2], 3600000}})
        EXPECT_TRUE(timer->interval() == period && !timer->isSingleShot() && timer->isActive()) << period;
    manager.reset();
    EXPECT_EQ(timerManager, nullptr);
    EXPECT_TRUE(timers[0].isNull() && timers[1].isNull() && timers[2].isNull());
}
