// The transfers view when one user's rows are many, on a shown page whose saved downloads are
// loaded.
//
// Each scenario runs for N = 1,000, 2,000, 4,000, 8,000 and 16,000 rows of one user, in one
// folder and in folders of 50, inside the window's event loop. A timer posted every 10 ms
// measures how late the loop runs it, and the GUI thread's CPU time is taken per row. Each
// figure is also quoted against the same work done by the transfer queues alone, with no view
// showing rows (x_engine), and the time per row at 16,000 against that at 1,000
// (ratio_16000_to_1000), for the whole and for the view's own share beyond the engine's
// (view_ratio_16000_to_1000).
//
// - Queue: N downloads queued 50 to a turn of the event loop, as "Download Folder" queues a
//   folder of 50.
// - Remove: the user's row chosen and Delete pressed over N queued downloads.
// - Clear: "Clear Complete" over N finished downloads, each with its bar.
// - Uploads: N files that one peer asks us to queue, 50 requests to a turn, as they come from
//   one read of its connection, watched on the uploads page; the peer is online, and the first
//   file it asks for takes our one upload slot.
//
// Beside kept rows: ten running downloads of one user reporting, and changing state, beside K
// finished rows of that user, each of which showed its bar (K = 0 and 20,000); the GUI thread's
// CPU per report and per change at 20,000 against that at 0 (ratio_20000_to_0).
//
// TARNWICK_BENCH_MOST_ROWS caps N, and TARNWICK_BENCH_KEPT_ROWS sets the larger K, so that code
// whose work grows with the square of the rows can be measured in reasonable time.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "LoopRun.h"
#include "TransfersBenchEngine.h"
#include "peer/PeerMessenger.h"
#include "transfers/TransferStatus.h"

namespace
{
constexpr int kBurst = 50;
constexpr int kRunning = 10;
constexpr int kChanges = 3000;

const std::vector<int>& Sizes()
{
    static const std::vector<int> s_sizes = [] {
        const int l_most = qEnvironmentVariableIsSet("TARNWICK_BENCH_MOST_ROWS")
                               ? qEnvironmentVariableIntValue("TARNWICK_BENCH_MOST_ROWS")
                               : 16000;
        std::vector<int> l_sizes;
        for (int l_size = 1000; l_size <= l_most; l_size *= 2)
            l_sizes.push_back(l_size);
        return l_sizes;
    }();
    return s_sizes;
}

TransfersBenchEngine& Engine()
{
    return TransfersBenchEngine::Get();
}

void FreshView(bool i_view, bool i_uploadsPage = false)
{
    Engine().Fresh(i_view, i_uploadsPage);
}

std::string FileName(int i_index)
{
    return "file" + std::to_string(i_index) + ".mp3";
}

std::string FolderName(int i_index, int i_perFolder)
{
    return "Music\\Folder" + std::to_string(i_index / i_perFolder);
}

void Queue(int i_from, int i_count, int i_perFolder)
{
    for (int l_index = i_from; l_index < i_from + i_count; ++l_index)
        Engine().mp_manager->AddDownload("one", FileName(l_index), FolderName(l_index, i_perFolder), 10000000, 0);
}

Busy QueueInBursts(int i_count, int i_perFolder)
{
    return RunInLoop(i_count / kBurst, [&](int i_step) { Queue(i_step * kBurst, kBurst, i_perFolder); });
}

// What a run's figures come to: per row, against the engine alone, and across sizes.
struct Figures
{
    std::map<int, double> usPerRow;
    std::map<int, double> engineUsPerRow;
    double worstLateMs = 0;

    void Note(int i_rows, const Busy& i_view, const Busy& i_engine)
    {
        usPerRow[i_rows] = i_view.cpuMs * 1e3 / i_rows;
        engineUsPerRow[i_rows] = i_engine.cpuMs * 1e3 / i_rows;
        worstLateMs = std::max(worstLateMs, i_view.worstLateMs);
    }
    void Publish(benchmark::State& state) const
    {
        const int l_most = usPerRow.rbegin()->first;
        for (const auto& [l_rows, l_us] : usPerRow)
            state.counters["us_per_row_" + std::to_string(l_rows)] = l_us;
        state.counters["x_engine_" + std::to_string(l_most)] = usPerRow.at(l_most) / engineUsPerRow.at(l_most);
        state.counters["ratio_" + std::to_string(l_most) + "_to_1000"] = usPerRow.at(l_most) / usPerRow.at(1000);
        // The view's own share: what the same work costs beyond the engine's.
        const auto l_view = [this](int i_rows) { return usPerRow.at(i_rows) - engineUsPerRow.at(i_rows); };
        state.counters["view_ratio_" + std::to_string(l_most) + "_to_1000"] = l_view(l_most) / l_view(1000);
        state.counters["worst_late_ms"] = worstLateMs;
    }
};

void BM_QueueDownloadsOfOneUser(benchmark::State& state)
{
    const int l_perFolder = int(state.range(0));
    Figures l_figures;
    for (auto _ : state)
        for (int l_rows : Sizes())
        {
            FreshView(false);
            const Busy l_engine = QueueInBursts(l_rows, l_perFolder);
            FreshView(true);
            l_figures.Note(l_rows, QueueInBursts(l_rows, l_perFolder), l_engine);
        }
    l_figures.Publish(state);
    FreshView(false);
}

// The engine alone removes the same downloads one by one, as the view would have it do.
Busy RemoveEach()
{
    return RunInLoop(1, [](int) {
        for (ItemPtr l_entry : g("download_entry"))
            Engine().mp_manager->RemoveDownload(l_entry);
    });
}

// Each download runs, reports once, as every transfer does at its end, and completes.
void FinishAll()
{
    TransferQueueManager* lp_manager = Engine().mp_manager.get();
    for (ItemPtr l_entry : g("download_entry"))
    {
        Engine().Run(l_entry);
        *lp_manager->PeekObject<qint64>(l_entry["write_position"]) = 10000000;
        emit lp_manager->DownloadProgressed(l_entry);
        lp_manager->SetDownloadEntryStatus(l_entry, transfer_status::Complete);
    }
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// For each size, the user's downloads made ready, then removed by the engine alone and, made
// again, through the view in one turn of the event loop.
void MeasureRemoval(benchmark::State& state, bool i_finished, const std::function<void()>& i_remove)
{
    const int l_perFolder = int(state.range(0));
    Figures l_figures;
    const auto l_make = [&](int i_rows) {
        Queue(0, i_rows, l_perFolder);
        if (i_finished)
            FinishAll();
        QCoreApplication::processEvents();
    };
    for (auto _ : state)
        for (int l_rows : Sizes())
        {
            FreshView(false);
            l_make(l_rows);
            const Busy l_engine = RemoveEach();
            FreshView(true);
            l_make(l_rows);
            l_figures.Note(l_rows, RunInLoop(1, [&](int) { i_remove(); }), l_engine);
        }
    l_figures.Publish(state);
    FreshView(false);
}

// The user's row chosen and Delete pressed.
void BM_RemoveDownloadsOfOneUser(benchmark::State& state)
{
    MeasureRemoval(state, false, [] {
        QTreeWidget* lp_list = Engine().mp_form->DownloadsList();
        lp_list->clearSelection();
        if (QTreeWidgetItem* lp_user = lp_list->topLevelItem(0))
            lp_user->setSelected(true);
        Engine().mp_form->DeleteSelectedDownloads();
    });
}

void BM_ClearCompleteDownloadsOfOneUser(benchmark::State& state)
{
    MeasureRemoval(state, true,
                   [] { Engine().mp_form->OnActionBarTriggered(nullptr, "clear_complete_downloads"); });
}

// The files one peer asks for, shared publicly: for each size and folder layout, made once.
QString SharedFolder(int i_rows, int i_perFolder)
{
    static QTemporaryDir s_root;
    static std::map<std::pair<int, int>, QString> s_made;
    QString& l_path = s_made[{i_rows, i_perFolder}];
    if (!l_path.isEmpty())
        return l_path;
    l_path = s_root.filePath(QString("%1-%2").arg(i_rows).arg(i_perFolder));
    TransfersBenchEngine::ShareFiles(l_path, i_rows, i_perFolder);
    return l_path;
}

Busy UploadRequestsInBursts(const QString& i_folder, int i_rows, int i_perFolder)
{
    const QString l_remote = QString(i_folder).replace('/', '\\');
    return RunInLoop(i_rows / kBurst, [&](int i_step) {
        for (int l_index = i_step * kBurst; l_index < (i_step + 1) * kBurst; ++l_index)
            emit peerMessenger->QueueUploadRequested(
                "peer", l_remote + QString("\\Folder%1\\file%2.mp3").arg(l_index / i_perFolder).arg(l_index));
    });
}

void BM_UploadsOnePeerQueues(benchmark::State& state)
{
    const int l_perFolder = int(state.range(0));
    Engine();
    SetSetting("max_queued_uploads_per_user", "99999");
    // Online, as a peer that asks for files is: its first file takes our one upload slot, and
    // the rest wait.
    d.GetType("user")->GetItem("peer").NewItem("is_online");
    Figures l_figures;
    for (auto _ : state)
        for (int l_rows : Sizes())
        {
            const QString l_folder = SharedFolder(l_rows, l_perFolder);
            FreshView(false);
            const Busy l_engine = UploadRequestsInBursts(l_folder, l_rows, l_perFolder);
            FreshView(true, true);
            l_figures.Note(l_rows, UploadRequestsInBursts(l_folder, l_rows, l_perFolder), l_engine);
        }
    l_figures.Publish(state);
    FreshView(false);
}

// K finished downloads of one user in folders of 50, each with its bar, and ten more of that
// user running in a folder of their own.
std::vector<ItemPtr> RunBesideKept(int i_kept)
{
    FreshView(true);
    Queue(0, i_kept, 50);
    FinishAll();
    TransferQueueManager* lp_manager = Engine().mp_manager.get();
    std::vector<ItemPtr> l_running;
    for (int l_index = 0; l_index < kRunning; ++l_index)
    {
        const ItemPtr l_entry =
            lp_manager->AddDownload("one", "running" + std::to_string(l_index) + ".mp3", "Music\\Now", 10000000, 0);
        Engine().Run(l_entry);
        l_running.push_back(l_entry);
    }
    QCoreApplication::processEvents();
    return l_running;
}

// Reports of the running downloads in turn, one to a turn of the event loop.
Busy Reports(const std::vector<ItemPtr>& i_running)
{
    TransferQueueManager* lp_manager = Engine().mp_manager.get();
    return RunInLoop(kChanges, [&](int i_step) {
        const ItemPtr l_entry = i_running[std::size_t(i_step) % i_running.size()];
        *lp_manager->PeekObject<qint64>(l_entry["write_position"]) += 1000;
        emit lp_manager->DownloadProgressed(l_entry);
    });
}

// The running downloads in turn complete, are queued again and run again.
Busy StatusChanges(const std::vector<ItemPtr>& i_running)
{
    TransferQueueManager* lp_manager = Engine().mp_manager.get();
    const char* const l_cycle[] = {transfer_status::Complete, transfer_status::Queued, transfer_status::Downloading};
    return RunInLoop(kChanges, [&](int i_step) {
        lp_manager->SetDownloadEntryStatus(i_running[std::size_t(i_step) % i_running.size()],
                                           l_cycle[(i_step / int(i_running.size())) % 3]);
    });
}

void BM_RunningBesideKeptRowsOfOneUser(benchmark::State& state)
{
    const int l_most = qEnvironmentVariableIsSet("TARNWICK_BENCH_KEPT_ROWS")
                           ? qEnvironmentVariableIntValue("TARNWICK_BENCH_KEPT_ROWS")
                           : 20000;
    const std::string l_mostName = std::to_string(l_most);
    std::map<int, double> l_report;
    std::map<int, double> l_change;
    double l_worst = 0;
    for (auto _ : state)
        for (int l_kept : {0, l_most})
        {
            const std::vector<ItemPtr> l_running = RunBesideKept(l_kept);
            const Busy l_reports = Reports(l_running);
            const Busy l_changes = StatusChanges(l_running);
            l_report[l_kept] = l_reports.cpuMs * 1e3 / kChanges;
            l_change[l_kept] = l_changes.cpuMs * 1e3 / kChanges;
            l_worst = std::max({l_worst, l_reports.worstLateMs, l_changes.worstLateMs});
        }
    state.counters["us_per_report_0"] = l_report[0];
    state.counters["us_per_report_" + l_mostName] = l_report[l_most];
    state.counters["us_per_change_0"] = l_change[0];
    state.counters["us_per_change_" + l_mostName] = l_change[l_most];
    state.counters["report_ratio_" + l_mostName + "_to_0"] = l_report[l_most] / l_report[0];
    state.counters["change_ratio_" + l_mostName + "_to_0"] = l_change[l_most] / l_change[0];
    state.counters["worst_late_ms"] = l_worst;
    FreshView(false);
}
} // namespace

BENCHMARK(BM_QueueDownloadsOfOneUser)->ArgName("per_folder")->Arg(50)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RemoveDownloadsOfOneUser)->ArgName("per_folder")->Arg(50)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ClearCompleteDownloadsOfOneUser)->ArgName("per_folder")->Arg(50)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UploadsOnePeerQueues)->ArgName("per_folder")->Arg(50)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RunningBesideKeptRowsOfOneUser)->Iterations(1)->Unit(benchmark::kMillisecond);
