#pragma once

#include <QObject>

#include <deque>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

#include "store/DataHandler.h"
#include "store/ItemPtr.h"

// The download queue's work that may be long (a whole folder queued, all of a user's downloads
// asked for again, the half-minute check, thousands of downloads removed), done in the order of
// the events that asked for it and a slice at a time from the event loop, so that the window
// answers however many files there are. Work asked for while other work waits goes behind it, as
// the event that asked would have been handled after that work in one piece. With nothing
// waiting, the first slice runs at once.
class DownloadWork : public QObject, public DataHandler
{
    Q_OBJECT

public:
    // One piece of work, a step at a time: called again while it returns false.
    using Job = std::function<bool()>;
    // What a job's steps of one slice are run under: made before the first of them and dropped
    // after the last, so that what they leave to be done together is done once a slice.
    using Together = std::function<std::shared_ptr<void>()>;

    DownloadWork();
    DownloadWork(const DownloadWork&) = delete;
    DownloadWork& operator=(const DownloadWork&) = delete;

    // Behind everything that waits.
    void Append(Job i_job, Together i_together = {});
    // Right after the job whose step asks for them, before what waited behind it.
    void Next(std::vector<Job> i_jobs);
    bool IsIdle() const { return m_jobs.empty(); }

    // Downloads a job comes back to in later steps. A held download that is removed is forgotten,
    // so that no job reaches it, nor a later download made where it lay, even one that another
    // job holds: each holding is known by the number it was given. A job that holds a download to
    // remove it says so, on holding and on releasing.
    enum class HoldFor
    {
        Steps,
        Removal
    };
    quint64 Hold(ItemPtr i_entry, HoldFor i_for = HoldFor::Steps);
    // Whether the download held under that number is still there; forgets the holding either way.
    bool Release(ItemPtr i_entry, quint64 i_holding, HoldFor i_for = HoldFor::Steps);
    // Whether work that waits will remove the download.
    bool IsHeldForRemoval(ItemPtr i_entry) const;

    // A job over downloads taken when its turn comes: i_take gives them, in their order, or false
    // when there is nothing to do at all; each one still there then has a step of its own, and
    // i_end follows the last.
    Job EachInTurn(std::function<bool(std::vector<ItemPtr>& o_entries)> i_take,
                   std::function<void(ItemPtr i_entry)> i_each, std::function<void()> i_end);

    // A slice ends once it has run this long, but never before this many steps: a small piece
    // of work is over before the call that asked for it returns, however busy the machine.
    static constexpr int SliceMs = 15;
    static constexpr int LeastStepsPerSlice = 32;
    // Slices of exactly this many steps instead, for tests that watch the slices; 0 for none.
    static void SetStepsPerSlice(int i_steps);

private slots:
    void RunSlice();

private:
    void OnEntryRemoved(ItemPtr i_entry);
    void ScheduleSlice();

    struct Work
    {
        Job job;
        Together together;
    };
    std::deque<Work> m_jobs;
    // Where Next puts jobs: right after the running one.
    std::size_t m_nextAt = 0;
    bool m_running = false;
    bool m_scheduled = false;
    // Per held download: how many holdings it has, how many of them are removals', and the number
    // they were given.
    struct Held
    {
        int count;
        int removals;
        quint64 holding;
    };
    std::unordered_map<Item*, Held> m_held;
    quint64 m_lastHolding = 0;
};
