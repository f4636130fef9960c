// The upload queue when thousands of uploads wait, watched on a shown uploads page.
//
// For W = 1,000, 2,000, 4,000, 8,000 and 16,000 waiting uploads, held by one peer or spread
// over 80 peers (each asking for its share at once), at 1, 2 and 3 upload slots, with and
// without 20,000 finished uploads of the first peer kept beside them, the GUI thread's CPU per
// event of the queue, inside the window's event loop:
//
// - request: the first peer asks for one more file;
// - tick: the half-minute check of the queues and of the view, which clears finished uploads;
// - finish: a running upload ends and the next one is asked for;
// - flip: the first peer goes offline, or comes online again;
// - raise: the slots go from 1 to 2 (after a running upload of the second slot ended).
//
// Each is quoted per event at every W, as the ratio at 16,000 to that at 1,000 (ratio_<event>)
// and, at the largest W, against the same events on the queues alone with no view
// (x_engine_<event>); worst_late_ms is the worst lateness of a 10 ms timer over the whole run.
//
// BM_PrivilegedBurst: a privileged user asks for one file after another while the first peer's W
// uploads wait: each of its requests goes before the last one placed, so the queue is numbered
// anew from 1 every time.
//
// TARNWICK_BENCH_MOST_WAITING caps W, TARNWICK_BENCH_FINISHED sets the finished uploads kept and
// TARNWICK_BENCH_EVENTS the events of each kind measured (200), so that code whose work grows
// with the queue can be measured in reasonable time.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "LoopRun.h"
#include "TransfersBenchEngine.h"
#include "peer/PeerMessenger.h"
#include "transfers/TransferStatus.h"

namespace
{
constexpr int kBurst = 50;
constexpr int kPerFolder = 50;
constexpr int kExtraFiles = 4000;

// Events of each kind per measurement, a multiple of the burst.
int Events()
{
    static const int s_events = qEnvironmentVariableIsSet("TARNWICK_BENCH_EVENTS")
                                    ? std::max(kBurst, qEnvironmentVariableIntValue("TARNWICK_BENCH_EVENTS") / kBurst * kBurst)
                                    : 200;
    return s_events;
}

int MostWaiting()
{
    return qEnvironmentVariableIsSet("TARNWICK_BENCH_MOST_WAITING")
               ? qEnvironmentVariableIntValue("TARNWICK_BENCH_MOST_WAITING")
               : 16000;
}

int Finished()
{
    return qEnvironmentVariableIsSet("TARNWICK_BENCH_FINISHED") ? qEnvironmentVariableIntValue("TARNWICK_BENCH_FINISHED")
                                                                 : 20000;
}

std::vector<int> WaitingSizes()
{
    std::vector<int> l_sizes;
    for (int l_size = 1000; l_size <= MostWaiting(); l_size *= 2)
        l_sizes.push_back(l_size);
    return l_sizes;
}

TransfersBenchEngine& Engine()
{
    return TransfersBenchEngine::Get();
}

// Enough small files for every run, in folders of 50, shared with everyone; made once. The
// result is the folder's path as peers ask for it.
const QString& SharedRemote()
{
    static QTemporaryDir s_root;
    static QString s_remote;
    if (!s_remote.isEmpty())
        return s_remote;
    const int l_files = Finished() + MostWaiting() + kExtraFiles;
    const QString l_path = s_root.filePath("shared");
    for (int l_index = 0; l_index < l_files; ++l_index)
    {
        const QString l_folder = l_path + QString("/Folder%1").arg(l_index / kPerFolder);
        if (l_index % kPerFolder == 0)
            QDir().mkpath(l_folder);
        QFile(l_folder + QString("/file%1.mp3").arg(l_index)).open(QIODevice::WriteOnly);
    }
    sharedFoldersManager->AddSharedFolder(l_path).NewItem("shared_public");
    s_remote = QString(l_path).replace('/', '\\');
    return s_remote;
}

QString Peer(int i_peer)
{
    return QString("peer%1").arg(i_peer);
}

void Ask(int i_peer, int i_file)
{
    emit peerMessenger->QueueUploadRequested(
        Peer(i_peer), SharedRemote() + QString("\\Folder%1\\file%2.mp3").arg(i_file / kPerFolder).arg(i_file));
}

ItemPtr UserItem(const QString& i_name)
{
    return d.GetType("user")->GetItem(i_name);
}

void SetOnline(const QString& i_user, bool i_online)
{
    if (i_online)
        UserItem(i_user).NewItem("is_online");
    else
        UserItem(i_user).Disconnect("is_online");
}

ItemPtr ARunningUpload()
{
    const ItemPtr l_status = d.GetType("upload_entry_status")->HasItem(transfer_status::Requesting);
    const ItemSet* lp_entries = l_status ? l_status->Connections().FindSet(d.GetType("upload_entry")) : nullptr;
    return lp_entries && !lp_entries->Empty() ? *lp_entries->Begin() : ItemPtr();
}

// As the queues take an upload's end from its thread.
void EndUpload(ItemPtr i_entry)
{
    Engine().mp_manager->SetUploadEntryStatus(i_entry, transfer_status::Complete);
    Engine().mp_manager->StartNewUploads();
}

struct Setup
{
    int peers;
    int uploadSlots;
    bool finished;
};

// A fresh queue: the first peer's finished uploads, each asked for, sent and ended in turn. The
// next file nobody has asked for is returned.
int Start(const Setup& i_setup, bool i_view)
{
    Engine().Fresh(i_view, true);
    SharedRemote();
    SetSetting("max_queued_uploads_per_user", "999999");
    // The half-minute tick also looks for finished uploads to clear.
    SetSetting("clear_complete_aborted_uploads", "yes");
    for (int l_peer = 0; l_peer < 80; ++l_peer)
        SetOnline(Peer(l_peer), l_peer < i_setup.peers);
    SetSetting("upload_slots", "1");
    int l_file = 0;
    if (i_setup.finished)
        for (; l_file < Finished(); ++l_file)
        {
            Ask(0, l_file);
            EndUpload(ARunningUpload());
        }
    return l_file;
}

int Waiting()
{
    const ItemPtr l_status = d.GetType("upload_entry_status")->HasItem(transfer_status::Queued);
    const ItemSet* lp_entries = l_status ? l_status->Connections().FindSet(d.GetType("upload_entry")) : nullptr;
    return lp_entries ? int(lp_entries->Size()) : 0;
}

// Each peer asks at once for its share of what is missing of the waiting uploads, with no slot
// open; then the slots open.
void FillUp(const Setup& i_setup, int i_waiting, int& io_file)
{
    SetSetting("upload_slots", "0");
    const int l_missing = i_waiting - Waiting();
    for (int l_peer = 0; l_peer < i_setup.peers; ++l_peer)
        for (int l_count = 0; l_count < l_missing / i_setup.peers; ++l_count)
            Ask(l_peer, io_file++);
    SetSetting("upload_slots", QString::number(i_setup.uploadSlots));
    Engine().mp_manager->StartNewUploads();
    QCoreApplication::processEvents();
}

// Each event's CPU, per event, on the built queue.
std::map<std::string, double> MeasureEvents(int& io_file, double& io_worstLateMs)
{
    std::map<std::string, double> l_us;
    const auto l_note = [&](const char* i_event, const Busy& i_busy, int i_events) {
        l_us[i_event] = i_busy.cpuMs * 1e3 / i_events;
        io_worstLateMs = std::max(io_worstLateMs, i_busy.worstLateMs);
    };
    // Requests come 50 to a turn, as one read of a peer's connection brings them.
    l_note("request", RunInLoop(Events() / kBurst, [&](int) {
               for (int l_count = 0; l_count < kBurst; ++l_count)
                   Ask(0, io_file++);
           }),
           Events());
    l_note("tick", RunInLoop(Events(), [](int) {
               Engine().mp_manager->EveryHalfMinute();
               if (Engine().mp_form)
                   Engine().mp_form->EveryHalfMinute();
           }),
           Events());
    l_note("finish", RunInLoop(Events(), [](int) {
               if (const ItemPtr l_running = ARunningUpload())
                   EndUpload(l_running);
           }),
           Events());
    l_note("flip", RunInLoop(Events(), [](int i_step) { SetOnline(Peer(0), i_step % 2 == 1); }), Events());

    // Raising the slots from 1 to 2 finds one slot free: a running upload beyond the first has
    // ended under one slot, unmeasured.
    double l_raiseMs = 0;
    LatenessTick l_tick;
    l_tick.Start();
    for (int l_step = 0; l_step < Events() / 5; ++l_step)
    {
        Engine().mp_manager->SetUploadSlots(1);
        if (Engine().mp_manager->ActiveUploadCount() > 1)
            Engine().mp_manager->SetUploadEntryStatus(ARunningUpload(), transfer_status::Complete);
        QCoreApplication::processEvents();
        const double l_cpu = ThreadCpuSeconds();
        Engine().mp_manager->SetUploadSlots(2);
        QCoreApplication::processEvents();
        l_raiseMs += (ThreadCpuSeconds() - l_cpu) * 1e3;
    }
    l_us["raise"] = l_raiseMs * 1e3 / (Events() / 5);
    io_worstLateMs = std::max(io_worstLateMs, l_tick.WorstMs());
    return l_us;
}

void BM_WaitingUploads(benchmark::State& state)
{
    const Setup l_setup{int(state.range(0)), int(state.range(1)), state.range(2) != 0};
    std::map<int, std::map<std::string, double>> l_view;
    std::map<std::string, double> l_engine;
    double l_worstLateMs = 0;
    const int l_most = WaitingSizes().back();
    for (auto _ : state)
    {
        int l_file = Start(l_setup, true);
        // The first events after a fresh view pay for what the toolkit makes once: not counted.
        double l_ignoredLate = 0;
        FillUp(l_setup, WaitingSizes().front(), l_file);
        MeasureEvents(l_file, l_ignoredLate);
        for (int l_waiting : WaitingSizes())
        {
            FillUp(l_setup, l_waiting, l_file);
            l_view[l_waiting] = MeasureEvents(l_file, l_worstLateMs);
        }
        double l_ignored = 0;
        l_file = Start(l_setup, false);
        FillUp(l_setup, l_most, l_file);
        l_engine = MeasureEvents(l_file, l_ignored);
    }
    const std::string l_mostName = std::to_string(l_most);
    for (const auto& [l_event, l_us] : l_view.at(l_most))
    {
        state.counters["us_" + l_event + "_1000"] = l_view.at(1000).at(l_event);
        state.counters["us_" + l_event + "_" + l_mostName] = l_us;
        state.counters["ratio_" + l_event] = l_us / l_view.at(1000).at(l_event);
        state.counters["x_engine_" + l_event] = l_us / l_engine.at(l_event);
    }
    state.counters["worst_late_ms"] = l_worstLateMs;
    Engine().Fresh(false);
}

void BM_PrivilegedBurst(benchmark::State& state)
{
    const Setup l_setup{1, int(state.range(0)), state.range(1) != 0};
    std::map<int, double> l_us;
    double l_engineUs = 0;
    double l_worstLateMs = 0;
    const int l_most = WaitingSizes().back();
    Engine();
    UserItem("vip").NewItem("is_privileged");
    SetOnline("vip", true);
    const auto l_burst = [&](int i_waiting, bool i_view) {
        int l_file = Start(l_setup, i_view);
        FillUp(l_setup, i_waiting, l_file);
        // A burst comes 50 requests to a turn, as one read of the user's connection brings them.
        return RunInLoop(Events() / kBurst, [&](int) {
            for (int l_count = 0; l_count < kBurst; ++l_count, ++l_file)
                emit peerMessenger->QueueUploadRequested(
                    "vip", SharedRemote() + QString("\\Folder%1\\file%2.mp3").arg(l_file / kPerFolder).arg(l_file));
        });
    };
    for (auto _ : state)
        for (int l_waiting : WaitingSizes())
        {
            const Busy l_busy = l_burst(l_waiting, true);
            l_us[l_waiting] = l_busy.cpuMs * 1e3 / (Events());
            l_worstLateMs = std::max(l_worstLateMs, l_busy.worstLateMs);
            if (l_waiting == l_most)
                l_engineUs = l_burst(l_waiting, false).cpuMs * 1e3 / (Events());
        }
    state.counters["us_request_1000"] = l_us.at(1000);
    state.counters["us_request_" + std::to_string(l_most)] = l_us.at(l_most);
    state.counters["ratio_request"] = l_us.at(l_most) / l_us.at(1000);
    state.counters["x_engine_request"] = l_us.at(l_most) / l_engineUs;
    state.counters["worst_late_ms"] = l_worstLateMs;
    SetOnline("vip", false);
    Engine().Fresh(false);
}
} // namespace

BENCHMARK(BM_WaitingUploads)
    ->ArgNames({"peers", "slots", "finished"})
    ->ArgsProduct({{1, 80}, {1, 2, 3}, {0, 1}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PrivilegedBurst)
    ->ArgNames({"slots", "finished"})
    ->ArgsProduct({{1, 2, 3}, {0, 1}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
