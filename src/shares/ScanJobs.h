#pragma once

#include <QThreadPool>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

// Work of a scan that needs no store, run on threads of its own while the scan goes on. Whoever
// waits runs itself the jobs no thread has begun: a busy machine may leave a woken thread
// without a processor for longer than the job takes, and waiting on it would make the scan
// slower than doing the work in place.
class ScanJobs
{
public:
    explicit ScanJobs(int i_threads);
    ~ScanJobs();
    ScanJobs(const ScanJobs&) = delete;
    ScanJobs& operator=(const ScanJobs&) = delete;

    // The job runs once, on one of the threads or in Wait.
    void Start(std::function<void()> i_job);
    // Returns once every job has run.
    void Wait();

private:
    struct Job
    {
        std::function<void()> run;
        // 0 waiting, 1 running, 2 done.
        std::atomic<int> state{0};
    };
    void Run(Job& io_job);

    std::deque<Job> m_jobs;
    std::mutex m_mutex;
    std::condition_variable m_done;
    QThreadPool m_pool;
};
