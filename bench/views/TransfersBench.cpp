// The transfers view while transfers run and while the saved downloads are loaded.
//
// Reports: 2,000 download rows, 1,500 of them one user's in 30 folders, and 20 transfers
// reporting ten times a second each through the transfer queues' signal, spread out as worker
// threads would send them. A timer posted every 10 ms measures how late the window's event loop
// runs it (median and worst) and the GUI thread's CPU time is taken, each quoted as a ratio to
// the same run without reports.
//
// Load: the rows of 2,500 and then 5,000 saved downloads of one user are made in one call, as
// the transfer queues' load triggers it; the ratio of the two times shows how the load grows.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <string>
#include <chrono>
#include <vector>

#include "../ThreadCpuTime.h"
#include "LatenessTick.h"
#include "TransfersBenchEngine.h"
#include "transfers/TransferStatus.h"

namespace
{
constexpr int kRunMs = 3000;
constexpr int kTransfers = 20;

double ThreadCpuMs()
{
    return ThreadCpuSeconds() * 1e3;
}

struct LoopFigures
{
    double medianMs = 0;
    double worstMs = 0;
    double cpuMs = 0;
};

// 2,000 rows loaded and 20 of them running; made once.
std::vector<ItemPtr>& RunningTransfers()
{
    static std::vector<ItemPtr> s_running;
    if (!s_running.empty())
        return s_running;
    TransfersBenchEngine& l_engine = TransfersBenchEngine::Get();
    l_engine.RemoveAll();
    l_engine.NewForm();
    l_engine.AddDownloads("big", 1500, 50);
    for (int l_user = 0; l_user < 10; ++l_user)
        l_engine.AddDownloads(QString("user%1").arg(l_user), 50, 10);
    l_engine.mp_form->OnTransfersLoaded();
    TransferQueueManager* lp_manager = l_engine.mp_manager.get();
    const auto l_run = [&](ItemPtr i_entry) {
        l_engine.Run(i_entry);
        s_running.push_back(i_entry);
    };
    // Half of them the big user's, in ten of its folders; one each of the other users.
    for (int l_folder = 0; l_folder < 30; l_folder += 3)
        l_run(lp_manager->GetDownloadEntry("big", "file" + std::to_string(l_folder * 50) + ".mp3",
                                           "Music\\Folder" + std::to_string(l_folder)));
    for (int l_user = 0; l_user < 10; ++l_user)
        l_run(lp_manager->GetDownloadEntry(QString("user%1").arg(l_user), "file0.mp3", "Music\\Folder0"));
    return s_running;
}

LoopFigures RunEventLoop(bool i_reports)
{
    std::vector<ItemPtr>& l_running = RunningTransfers();
    TransferQueueManager* lp_manager = TransfersBenchEngine::Get().mp_manager.get();
    LatenessTick l_tick;
    // Each transfer reports every 100 ms, the twenty of them 5 ms apart.
    QTimer l_reporter;
    l_reporter.setTimerType(Qt::PreciseTimer);
    l_reporter.setInterval(100 / kTransfers);
    std::size_t l_next = 0;
    QObject::connect(&l_reporter, &QTimer::timeout, [&] {
        const ItemPtr l_entry = l_running[l_next++ % l_running.size()];
        *lp_manager->PeekObject<qint64>(l_entry["write_position"]) += 10000;
        emit lp_manager->DownloadProgressed(l_entry);
    });
    QEventLoop l_loop;
    QTimer::singleShot(kRunMs, &l_loop, &QEventLoop::quit);
    const double l_cpu = ThreadCpuMs();
    l_tick.Start();
    if (i_reports)
        l_reporter.start();
    l_loop.exec();
    LoopFigures l_figures;
    l_figures.cpuMs = ThreadCpuMs() - l_cpu;
    l_figures.medianMs = l_tick.MedianMs();
    l_figures.worstMs = l_tick.WorstMs();
    return l_figures;
}

LoopFigures g_quiet;

void Publish(benchmark::State& state, const LoopFigures& i_figures)
{
    state.counters["median_late_ms"] = i_figures.medianMs;
    state.counters["worst_late_ms"] = i_figures.worstMs;
    state.counters["gui_cpu_pct"] = i_figures.cpuMs * 100.0 / kRunMs;
}

void BM_TransfersListWithoutReports(benchmark::State& state)
{
    for (auto _ : state)
        g_quiet = RunEventLoop(false);
    Publish(state, g_quiet);
}

void BM_TwentyTransfersReportingTenTimesASecond(benchmark::State& state)
{
    LoopFigures l_figures;
    for (auto _ : state)
        l_figures = RunEventLoop(true);
    Publish(state, l_figures);
    // The quiet run's lateness is a timer's own jitter; a tenth of a millisecond stands in for none.
    state.counters["median_late_ratio"] = std::max(l_figures.medianMs, 0.1) / std::max(g_quiet.medianMs, 0.1);
    state.counters["worst_late_ratio"] = std::max(l_figures.worstMs, 0.1) / std::max(g_quiet.worstMs, 0.1);
    state.counters["gui_cpu_ratio"] = l_figures.cpuMs / std::max(g_quiet.cpuMs, 1.0);
    for (ItemPtr l_entry : RunningTransfers())
        TransfersBenchEngine::Get().mp_manager->SetDownloadEntryStatus(l_entry, transfer_status::Aborted);
    RunningTransfers().clear();
}

// One load of that many saved downloads, in folders of 50, into a fresh view.
double LoadMs(int i_count)
{
    TransfersBenchEngine& l_engine = TransfersBenchEngine::Get();
    l_engine.RemoveAll();
    l_engine.NewForm();
    l_engine.AddDownloads("one", i_count, 50);
    const auto l_start = std::chrono::steady_clock::now();
    l_engine.mp_form->OnTransfersLoaded();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - l_start).count();
}

// The two sizes in turn, so that both meet the same neighbours on the shared machine; the
// fastest run of each counts.
void BM_LoadSavedDownloadsOfOneUser(benchmark::State& state)
{
    double l_best[2] = {1e300, 1e300};
    for (auto _ : state)
        for (int l_size = 0; l_size < 2; ++l_size)
            l_best[l_size] = std::min(l_best[l_size], LoadMs(2500 << l_size));
    state.counters["load_2500_ms"] = l_best[0];
    state.counters["load_5000_ms"] = l_best[1];
    state.counters["ratio_5000_to_2500"] = l_best[1] / l_best[0];
    TransfersBenchEngine::Get().RemoveAll();
}
} // namespace

BENCHMARK(BM_LoadSavedDownloadsOfOneUser)->Iterations(15)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TransfersListWithoutReports)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TwentyTransfersReportingTenTimesASecond)->Iterations(1)->Unit(benchmark::kMillisecond);
