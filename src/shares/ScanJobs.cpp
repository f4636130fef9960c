#include "shares/ScanJobs.h"

ScanJobs::ScanJobs(int i_threads)
{
    m_pool.setMaxThreadCount(i_threads);
}

ScanJobs::~ScanJobs()
{
    Wait();
}

void ScanJobs::Start(std::function<void()> i_job)
{
    Job& l_job = m_jobs.emplace_back();
    l_job.run = std::move(i_job);
    m_pool.start([this, &l_job] { Run(l_job); });
}

void ScanJobs::Run(Job& io_job)
{
    int l_waiting = 0;
    if (!io_job.state.compare_exchange_strong(l_waiting, 1))
        return;
    io_job.run();
    std::lock_guard<std::mutex> l_lock(m_mutex);
    io_job.state.store(2);
    m_done.notify_all();
}

void ScanJobs::Wait()
{
    for (Job& l_job : m_jobs)
        Run(l_job);
    {
        std::unique_lock<std::mutex> l_lock(m_mutex);
        for (Job& l_job : m_jobs)
            m_done.wait(l_lock, [&] { return l_job.state.load() == 2; });
    }
    // The threads may still be on their way out of jobs run here.
    m_pool.waitForDone();
    m_jobs.clear();
}
