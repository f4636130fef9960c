#include "store/TimerManager.h"

#include <QTimer>

TimerManager* timerManager = nullptr;

namespace
{
QTimer* StartRepeating(int i_ms)
{
    QTimer* lp_timer = new QTimer();
    // Coarse timers may drift by 5% of the period, minutes for the hourly one.
    lp_timer->setTimerType(Qt::PreciseTimer);
    lp_timer->setSingleShot(false);
    lp_timer->start(i_ms);
    return lp_timer;
}
} // namespace

TimerManager::TimerManager()
    : halfMinuteTimer(nullptr), fiveMinuteTimer(nullptr), hourTimer(nullptr)
{
    timerManager = this;
    halfMinuteTimer = StartRepeating(30000);
    fiveMinuteTimer = StartRepeating(300000);
    hourTimer = StartRepeating(3600000);
}

TimerManager::~TimerManager()
{
    for (QTimer* lp_timer : {halfMinuteTimer, fiveMinuteTimer, hourTimer})
    {
        lp_timer->stop();
        delete lp_timer;
    }
    // Leave no dangling global behind for code that runs later in shut-down.
    if (timerManager == this)
        timerManager = nullptr;
}
