// Many transfers waiting, measured through the window.
//
// Uploads: the upload queue when thousands of uploads wait, watched on a shown uploads page.
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
// (x_engine_<event>); late_<event>_ms is the worst lateness of a 10 ms timer while the event ran,
// worst_late_ms the worst of them.
//
// BM_PrivilegedBurst: a privileged user asks for one file after another while the first peer's W
// uploads wait: each of its requests goes before the last one placed, so the queue is numbered
// anew from 1 every time.
//
// TARNWICK_BENCH_MOST_WAITING caps W, TARNWICK_BENCH_FINISHED sets the finished uploads kept and
// TARNWICK_BENCH_EVENTS the events of each kind measured (200), so that code whose work grows
// with the queue can be measured in reasonable time.
//
// Download Folder: another user's folder of N files (N = 1,000 to 32,000) queued through the
// browse tab's own "Download Folder" action on a shown window, its files listed in the tab and
// the transfers page shown beside it; the server's answer that the user is online comes at the
// next turn of the event loop, as it does once the first download asks for the user, and the
// queue requests are sent again. The GUI thread's CPU per file, the worst lateness of a timer
// every 10 ms, the CPU against the transfer queues alone doing the same downloads with no view
// (x_engine), and the CPU per file at the largest N against that at 1,000.
//
// Completion: in a folder of 1,000 and of 16,000 files whose first half has arrived, the next 200
// downloads complete one after the other in queue order as the transfer queues complete them,
// from the uploader's transfer request and file connection to the finished file moved, with the
// transfers page shown: the GUI thread's CPU per completed download, at 16,000 against 1,000,
// and against the transfer queues alone.
//
// TARNWICK_BENCH_MOST_FILES caps N, so that code whose work grows with the square of the files
// can be measured in reasonable time.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTabWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "../ThreadCpuTime.h"
#include "BrowsedFolder.h"
#include "FolderFigures.h"
#include "LatenessTick.h"
#include "LoopRun.h"
#include "TransfersBenchEngine.h"
#include "peer/PeerMessenger.h"
#include "transfers/TransferStatus.h"

namespace
{
const char* const Uploader = BrowsedFolder::Uploader;
const char* const BigFolder = BrowsedFolder::Folder;

TransfersBenchEngine& Engine()
{
    return TransfersBenchEngine::Get();
}

ItemPtr User()
{
    return d.GetType("user")->GetItem(Uploader);
}

// No downloads, no messages waiting for the uploader, the uploader offline and never asked; the
// transfers page shown with its saved downloads loaded, or no view at all.
void Fresh(bool i_view)
{
    Engine().RemoveAll();
    User().GetItems("unsent_message").Remove();
    for (const char* lp_part : {"is_online", "last_queue_request_time", "next_place_in_line_request_time"})
        User().Disconnect(lp_part);
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (!i_view)
    {
        Engine().DropForm();
        return;
    }
    Engine().NewForm();
    Engine().mp_form->OnTransfersLoaded();
    QCoreApplication::processEvents();
}

bool AllAskedFor(int i_files)
{
    return d.GetType("download_entry")->ItemCount() == std::size_t(i_files) && User()["last_queue_request_time"];
}

// ---- Download Folder ----

std::vector<int> FolderSizes()
{
    const int l_most = qEnvironmentVariableIsSet("TARNWICK_BENCH_MOST_FILES")
                           ? qEnvironmentVariableIntValue("TARNWICK_BENCH_MOST_FILES")
                           : 32000;
    std::vector<int> l_sizes;
    for (int l_size = 1000; l_size <= l_most; l_size *= 2)
        l_sizes.push_back(l_size);
    return l_sizes;
}

Busy EngineAloneQueues(int i_files)
{
    Fresh(false);
    return RunUntil(
        [i_files] {
            BrowsedFolder::QueueAlone(i_files);
            BrowsedFolder::AnswerOnline();
        },
        [i_files] { return AllAskedFor(i_files); });
}

Busy WindowQueues(int i_files)
{
    Fresh(true);
    BrowsedFolder l_page(i_files, BrowsedFolder::Place::BesideTransfers);
    return RunUntil(
        [&] {
            l_page.DownloadFolder();
            BrowsedFolder::AnswerOnline();
        },
        [i_files] { return AllAskedFor(i_files); });
}

void BM_DownloadFolderThroughTheBrowseView(benchmark::State& state)
{
    FolderFigures l_figures;
    for (auto _ : state)
        for (int l_files : FolderSizes())
        {
            const Busy l_engine = EngineAloneQueues(l_files);
            l_figures.Note(l_files, l_engine, WindowQueues(l_files));
        }
    l_figures.Publish(state);
    Fresh(false);
}

// ---- Completion ----

constexpr int kCompletions = 200;

// The far end of each file connection: an uploader that sends the file's one byte.
class Uploaders
{
public:
    Uploaders() { m_listener.listen(QHostAddress::LocalHost, 0); }

    // Our end of a new connection, its uploader's byte on the way.
    QTcpSocket* Connect()
    {
        auto lp_uploader = std::make_unique<QTcpSocket>();
        lp_uploader->connectToHost(QHostAddress::LocalHost, m_listener.serverPort());
        if (!lp_uploader->waitForConnected(5000) || !m_listener.waitForNewConnection(5000))
            qFatal("no loopback connection");
        QTcpSocket* lp_ours = m_listener.nextPendingConnection();
        lp_ours->setParent(nullptr);
        lp_uploader->write("x", 1);
        lp_uploader->flush();
        m_uploaders.push_back(std::move(lp_uploader));
        return lp_ours;
    }

private:
    QTcpServer m_listener;
    std::vector<std::unique_ptr<QTcpSocket>> m_uploaders;
};

// One download after the other of the folder, from the uploader's request to the moved file.
Busy CompleteInTurn(int i_files, bool i_view)
{
    Fresh(i_view);
    QTemporaryDir l_downloads;
    SetSetting("download_folder", l_downloads.path());
    for (int l_index = 0; l_index < i_files; ++l_index)
    {
        const ItemPtr l_entry = Engine().mp_manager->AddDownload(Uploader, BrowsedFolder::FileName(l_index), BigFolder, 1, 0);
        if (l_index < i_files / 2)
            Engine().mp_manager->SetDownloadEntryStatus(l_entry, transfer_status::Complete);
    }
    QCoreApplication::processEvents();
    Uploaders l_uploaders;
    int l_started = 0;
    const auto l_start = [&] {
        const quint32 l_req = quint32(++l_started);
        const std::string l_name = BrowsedFolder::FileName(i_files / 2 + l_started - 1);
        emit peerMessenger->FileTransferRequested(Uploader, 1, l_req, std::string(BigFolder) + "\\" + l_name, 1);
        Engine().mp_manager->OnFileConnection(Uploader, l_uploaders.Connect(), l_req);
    };
    int l_completed = 0;
    const QMetaObject::Connection l_counting = QObject::connect(
        Engine().mp_manager.get(), &TransferQueueManager::CompleteDownloadAdded, [&](ItemPtr) { ++l_completed; });
    const Busy l_busy = RunUntil(l_start, [&] {
        if (l_completed < l_started)
            return false;
        if (l_started == kCompletions)
            return true;
        l_start();
        return false;
    });
    QObject::disconnect(l_counting);
    g("complete_download").Remove();
    SetSetting("download_folder", "/nonexistent/tarnwick-bench");
    return l_busy;
}

void BM_CompletionInAFolder(benchmark::State& state)
{
    std::map<int, double> l_usPerCompletion, l_engineUs;
    double l_worst = 0;
    for (auto _ : state)
        for (int l_files : {1000, 16000})
        {
            l_engineUs[l_files] = CompleteInTurn(l_files, false).cpuMs * 1e3 / kCompletions;
            const Busy l_window = CompleteInTurn(l_files, true);
            l_usPerCompletion[l_files] = l_window.cpuMs * 1e3 / kCompletions;
            l_worst = std::max(l_worst, l_window.worstLateMs);
        }
    for (const auto& [l_files, l_us] : l_usPerCompletion)
    {
        state.counters["us_per_completion_" + std::to_string(l_files)] = l_us;
        state.counters["x_engine_" + std::to_string(l_files)] = l_us / l_engineUs[l_files];
    }
    state.counters["ratio_16000_to_1000"] = l_usPerCompletion[16000] / l_usPerCompletion[1000];
    state.counters["worst_late_ms"] = l_worst;
    Fresh(false);
}

// ---- uploads ----
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

// Enough small files for every run, in folders of 50, shared with everyone; made once. The
// result is the folder's path as peers ask for it.
const QString& SharedRemote()
{
    return TransfersBenchEngine::SharedRemote(Finished() + MostWaiting() + kExtraFiles, kPerFolder);
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

// Each event's CPU per event on the built queue, and the worst lateness while it ran.
struct EventFigures
{
    std::map<std::string, double> us;
    std::map<std::string, double> lateMs;
};

EventFigures MeasureEvents(int& io_file)
{
    EventFigures l_figures;
    const auto l_note = [&](const char* i_event, const Busy& i_busy, int i_events) {
        l_figures.us[i_event] = i_busy.cpuMs * 1e3 / i_events;
        l_figures.lateMs[i_event] = i_busy.worstLateMs;
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
    l_figures.us["raise"] = l_raiseMs * 1e3 / (Events() / 5);
    l_figures.lateMs["raise"] = l_tick.WorstMs();
    return l_figures;
}

void BM_WaitingUploads(benchmark::State& state)
{
    const Setup l_setup{int(state.range(0)), int(state.range(1)), state.range(2) != 0};
    std::map<int, EventFigures> l_view;
    EventFigures l_engine;
    const int l_most = WaitingSizes().back();
    for (auto _ : state)
    {
        int l_file = Start(l_setup, true);
        // The first events after a fresh view pay for what the toolkit makes once: not counted.
        FillUp(l_setup, WaitingSizes().front(), l_file);
        MeasureEvents(l_file);
        for (int l_waiting : WaitingSizes())
        {
            FillUp(l_setup, l_waiting, l_file);
            l_view[l_waiting] = MeasureEvents(l_file);
        }
        l_file = Start(l_setup, false);
        FillUp(l_setup, l_most, l_file);
        l_engine = MeasureEvents(l_file);
    }
    const std::string l_mostName = std::to_string(l_most);
    double l_worstLateMs = 0;
    for (const auto& [l_event, l_us] : l_view.at(l_most).us)
    {
        state.counters["us_" + l_event + "_1000"] = l_view.at(1000).us.at(l_event);
        state.counters["us_" + l_event + "_" + l_mostName] = l_us;
        state.counters["ratio_" + l_event] = l_us / l_view.at(1000).us.at(l_event);
        state.counters["x_engine_" + l_event] = l_us / l_engine.us.at(l_event);
        double l_lateMs = 0;
        for (const auto& [l_waiting, l_figures] : l_view)
            l_lateMs = std::max(l_lateMs, l_figures.lateMs.at(l_event));
        state.counters["late_" + l_event + "_ms"] = l_lateMs;
        l_worstLateMs = std::max(l_worstLateMs, l_lateMs);
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

BENCHMARK(BM_DownloadFolderThroughTheBrowseView)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CompletionInAFolder)->Iterations(1)->Unit(benchmark::kMillisecond);
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
