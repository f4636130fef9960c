#pragma once

#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <functional>

#include "../ThreadCpuTime.h"
#include "LatenessTick.h"

// What a stretch of the window's event loop cost: the GUI thread's processor time and the worst
// lateness of a 10 ms timer meanwhile.
struct Busy
{
    double cpuMs = 0;
    double worstLateMs = 0;
};

// Runs the steps one to a turn of the event loop, then lets the loop settle for 100 ms, with a
// timer every 10 ms noting how late it runs. The CPU time counts the settling too: what the
// steps leave for later (layouts, deferred deletions, queued calls) is their work as well.
inline Busy RunInLoop(int i_steps, const std::function<void(int)>& i_step)
{
    LatenessTick l_tick;
    QEventLoop l_loop;
    QTimer l_stepper;
    l_stepper.setInterval(0);
    int l_next = 0;
    QObject::connect(&l_stepper, &QTimer::timeout, [&] {
        if (l_next < i_steps)
        {
            i_step(l_next++);
            return;
        }
        l_stepper.stop();
        QTimer::singleShot(100, &l_loop, &QEventLoop::quit);
    });
    const double l_cpu = ThreadCpuSeconds();
    l_tick.Start();
    l_stepper.start();
    l_loop.exec();
    Busy l_busy;
    l_busy.cpuMs = (ThreadCpuSeconds() - l_cpu) * 1e3;
    l_busy.worstLateMs = l_tick.WorstMs();
    return l_busy;
}

// Starts the work, then runs the event loop until it is done and 100 ms more, with a timer every
// 10 ms noting how late it runs. The CPU counts the settling too: what the work leaves for later
// is its work as well. Gives up after 10 minutes.
inline Busy RunUntil(const std::function<void()>& i_start, const std::function<bool()>& i_done)
{
    LatenessTick l_tick;
    QEventLoop l_loop;
    QTimer l_check;
    l_check.setInterval(1);
    QElapsedTimer l_clock;
    QObject::connect(&l_check, &QTimer::timeout, [&] {
        if (!i_done() && !l_clock.hasExpired(600000))
            return;
        l_check.stop();
        QTimer::singleShot(100, &l_loop, &QEventLoop::quit);
    });
    const double l_cpu = ThreadCpuSeconds();
    l_clock.start();
    l_tick.Start();
    QTimer::singleShot(0, i_start);
    l_check.start();
    l_loop.exec();
    return {(ThreadCpuSeconds() - l_cpu) * 1e3, l_tick.WorstMs()};
}
