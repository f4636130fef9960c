#include "transfers/DownloadWork.h"

#include <QElapsedTimer>
#include <QMetaObject>

#include <algorithm>
#include <iterator>
#include <utility>

#include "store/Data.h"

namespace
{
int s_stepsPerSlice = 0;
} // namespace

DownloadWork::DownloadWork()
{
    d.GetType("download_entry")->m_removedEvent.AddHandler(NewEventHandler(this, &DownloadWork::OnEntryRemoved));
}

void DownloadWork::SetStepsPerSlice(int i_steps)
{
    s_stepsPerSlice = i_steps;
}

void DownloadWork::Append(Job i_job, Together i_together)
{
    m_jobs.push_back({std::move(i_job), std::move(i_together)});
    if (m_jobs.size() == 1 && !m_running)
        RunSlice();
}

void DownloadWork::Next(std::vector<Job> i_jobs)
{
    const std::size_t l_at = std::min(m_nextAt, m_jobs.size());
    std::vector<Work> l_work;
    for (Job& l_job : i_jobs)
        l_work.push_back({std::move(l_job), Together()});
    m_jobs.insert(m_jobs.begin() + std::ptrdiff_t(l_at), std::make_move_iterator(l_work.begin()),
                  std::make_move_iterator(l_work.end()));
    m_nextAt = l_at + l_work.size();
}

// A step may run a nested event loop (a dialog, a blocking wait): a slice asked for meanwhile
// waits for the running one.
void DownloadWork::RunSlice()
{
    m_scheduled = false;
    if (m_running)
        return;
    m_running = true;
    QElapsedTimer l_clock;
    l_clock.start();
    // What the job in front runs under, from its first step in this slice on.
    std::shared_ptr<void> l_together;
    for (int l_steps = 1; !m_jobs.empty(); ++l_steps)
    {
        // The job keeps the first place while it runs, so that what it asks for next goes after
        // it; it runs from outside the queue, which may grow under it.
        if (!l_together && m_jobs.front().together)
            l_together = m_jobs.front().together();
        Job l_job = std::move(m_jobs.front().job);
        m_nextAt = 1;
        const bool l_done = l_job();
        if (l_done)
        {
            m_jobs.pop_front();
            l_together.reset();
        }
        else
            m_jobs.front().job = std::move(l_job);
        m_nextAt = 0;
        if (s_stepsPerSlice > 0 ? l_steps >= s_stepsPerSlice
                                : l_steps >= LeastStepsPerSlice && l_clock.elapsed() >= SliceMs)
            break;
    }
    l_together.reset();
    m_running = false;
    if (!m_jobs.empty())
        ScheduleSlice();
}

void DownloadWork::ScheduleSlice()
{
    if (m_scheduled)
        return;
    m_scheduled = true;
    QMetaObject::invokeMethod(this, "RunSlice", Qt::QueuedConnection);
}

DownloadWork::Job DownloadWork::EachInTurn(std::function<bool(std::vector<ItemPtr>&)> i_take,
                                           std::function<void(ItemPtr)> i_each, std::function<void()> i_end)
{
    return [this, i_take, i_each, i_end, l_started = false, l_entries = std::vector<ItemPtr>(),
            l_holdings = std::vector<quint64>(), l_next = std::size_t(0)]() mutable {
        if (!l_started)
        {
            l_started = true;
            if (!i_take(l_entries))
                return true;
            for (ItemPtr l_entry : l_entries)
                l_holdings.push_back(Hold(l_entry));
        }
        else if (l_next < l_entries.size())
        {
            const ItemPtr l_entry = l_entries[l_next];
            if (Release(l_entry, l_holdings[l_next++]))
                i_each(l_entry);
        }
        if (l_next < l_entries.size())
            return false;
        i_end();
        return true;
    };
}

quint64 DownloadWork::Hold(ItemPtr i_entry, HoldFor i_for)
{
    const auto [l_held, l_new] = m_held.try_emplace(i_entry.Get(), Held{0, 0, 0});
    if (l_new)
        l_held->second.holding = ++m_lastHolding;
    ++l_held->second.count;
    if (i_for == HoldFor::Removal)
        ++l_held->second.removals;
    return l_held->second.holding;
}

bool DownloadWork::Release(ItemPtr i_entry, quint64 i_holding, HoldFor i_for)
{
    const auto l_held = m_held.find(i_entry.Get());
    if (l_held == m_held.end() || l_held->second.holding != i_holding)
        return false;
    if (i_for == HoldFor::Removal)
        --l_held->second.removals;
    if (--l_held->second.count == 0)
        m_held.erase(l_held);
    return true;
}

bool DownloadWork::IsHeldForRemoval(ItemPtr i_entry) const
{
    const auto l_held = m_held.find(i_entry.Get());
    return l_held != m_held.end() && l_held->second.removals > 0;
}

void DownloadWork::OnEntryRemoved(ItemPtr i_entry)
{
    m_held.erase(i_entry.Get());
}
