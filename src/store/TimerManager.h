#pragma once

class QTimer;

// The program's shared repeating timers. Components connect their periodic slots to the
// timeout() of the timer with the period they want rather than owning a timer each.
class TimerManager
{
public:
    TimerManager();
    ~TimerManager();
    TimerManager(const TimerManager&) = delete;
    TimerManager& operator=(const TimerManager&) = delete;

    QTimer* halfMinuteTimer;
    QTimer* fiveMinuteTimer;
    QTimer* hourTimer;
};

extern TimerManager* timerManager;
