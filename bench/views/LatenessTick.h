#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <vector>

// A timer every 10 ms on the window's event loop that notes how late each tick comes: how long
// the loop was kept from answering, beyond the timer's own interval.
class LatenessTick
{
public:
    LatenessTick()
    {
        m_tick.setTimerType(Qt::PreciseTimer);
        m_tick.setInterval(10);
        QObject::connect(&m_tick, &QTimer::timeout, [this] {
            const qint64 l_now = m_clock.nsecsElapsed();
            m_lateMs.push_back(std::max(0.0, double(l_now - m_last) / 1e6 - 10.0));
            m_last = l_now;
        });
    }
    LatenessTick(const LatenessTick&) = delete;
    LatenessTick& operator=(const LatenessTick&) = delete;

    void Start()
    {
        m_clock.start();
        m_tick.start();
    }
    double MedianMs()
    {
        std::sort(m_lateMs.begin(), m_lateMs.end());
        return m_lateMs.empty() ? 0.0 : m_lateMs[m_lateMs.size() / 2];
    }
    double WorstMs() const { return m_lateMs.empty() ? 0.0 : *std::max_element(m_lateMs.begin(), m_lateMs.end()); }

private:
    QTimer m_tick;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    std::vector<double> m_lateMs;
};
