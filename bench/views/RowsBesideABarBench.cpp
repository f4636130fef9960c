// New transfer rows while a transfer's bar runs, measured through the window.
//
// BM_RequestsBesideABar: 80 peers ask for files of ours as their sockets give the requests, one
// peer's 1 to 5 requests a turn of the event loop, at 2 upload slots, with the uploads page shown
// and, with bar:1, one upload running that reports a block every third turn (bar:0: none
// reports, so no bar is shown). The list first holds W waiting uploads asked for at once, and
// 1,000 more then come a few to a turn. For W = 1,000 and 16,000: the GUI thread's CPU per new row
// (us_row_<W>), from the first request until every row is in the list and the loop has settled,
// against the transfer queues alone doing the same with no view (x_engine_<W>), the CPU per row at
// 16,000 against 1,000 (ratio), and the worst lateness of a 10 ms timer over both sizes
// (worst_late_ms).
//
// BM_DownloadFolderBesideABar: another user's folder of N files (N = 1,000 to 32,000) queued through
// the browse tab's "Download Folder" on a browse window of its own, with the downloads page shown
// and, with bar:1, a download of a third user running that reports a block every 10 ms; the server's
// answer that the uploader is online comes at the next turn. The GUI thread's CPU per file until
// every file has its row in the list, against the transfer queues alone, the CPU per file at the
// largest N against that at 1,000, and the worst lateness.
//
// TARNWICK_BENCH_MOST_ROWS caps W and N, for code whose work grows with the square of the rows.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <map>
#include <memory>
#include <string>

#include "BrowsedFolder.h"
#include "FolderFigures.h"
#include "LoopRun.h"
#include "TransfersBenchEngine.h"
#include "peer/PeerMessenger.h"
#include "transfers/TransferStatus.h"

namespace
{
constexpr int kPeers = 80;
constexpr int kArriving = 1000;
constexpr int kPerPeer = 240;
constexpr int kPerFolder = 50;
constexpr qint64 kFileSize = 1000000;
const char* const Uploader = BrowsedFolder::Uploader;
const char* const Runner = "carl";

TransfersBenchEngine& Engine()
{
    return TransfersBenchEngine::Get();
}

int MostRows(int i_default)
{
    return qEnvironmentVariableIsSet("TARNWICK_BENCH_MOST_ROWS")
               ? std::min(i_default, qEnvironmentVariableIntValue("TARNWICK_BENCH_MOST_ROWS"))
               : i_default;
}

ItemPtr UserItem(const QString& i_name)
{
    return d.GetType("user")->GetItem(i_name);
}

// The file rows a list holds now, held-back ones not counted.
int ListedFileRows(QTreeWidget* ip_list)
{
    int l_rows = 0;
    for (int l_user = 0; l_user < ip_list->topLevelItemCount(); ++l_user)
    {
        QTreeWidgetItem* lp_user = ip_list->topLevelItem(l_user);
        for (int l_folder = 0; l_folder < lp_user->childCount(); ++l_folder)
            l_rows += lp_user->child(l_folder)->childCount();
    }
    return l_rows;
}

// Whether the view, if there is one, lists a row for every entry of the type.
bool AllListed(bool i_upload)
{
    if (!Engine().mp_form)
        return true;
    QTreeWidget* lp_list = i_upload ? Engine().mp_form->UploadsList() : Engine().mp_form->DownloadsList();
    return ListedFileRows(lp_list) == int(d.GetType(i_upload ? "upload_entry" : "download_entry")->ItemCount());
}

// A transfer under way as the queues set one up on a file connection; each report is a block
// moved. With a period, it reports on its own every so many milliseconds while it lives.
class RunningTransfer
{
public:
    RunningTransfer(ItemPtr i_entry, bool i_upload, int i_periodMs = 0) : m_entry(i_entry), m_upload(i_upload)
    {
        TransferQueueManager* lp_manager = Engine().mp_manager.get();
        lp_manager->AttachObject(m_entry, i_upload ? "read_position" : "write_position", new qint64(0));
        if (i_upload)
            lp_manager->SetUploadEntryStatus(m_entry, transfer_status::Uploading);
        else
            lp_manager->SetDownloadEntryStatus(m_entry, transfer_status::Downloading);
        lp_manager->AttachObject(m_entry, "last_receipt_time", new QDateTime(QDateTime::currentDateTime()));
        lp_manager->AttachObject(m_entry, "bytes_per_second", new qint32(100000));
        Report();
        if (i_periodMs > 0)
        {
            QObject::connect(&m_timer, &QTimer::timeout, [this] { Report(); });
            m_timer.start(i_periodMs);
        }
    }
    RunningTransfer(const RunningTransfer&) = delete;
    RunningTransfer& operator=(const RunningTransfer&) = delete;

    void Report()
    {
        TransferQueueManager* lp_manager = Engine().mp_manager.get();
        if (qint64* lp_position = lp_manager->PeekObject<qint64>(m_entry[m_upload ? "read_position" : "write_position"]))
            *lp_position = (*lp_position + 1024) % kFileSize;
        if (m_upload)
            emit lp_manager->UploadProgressed(m_entry);
        else
            emit lp_manager->DownloadProgressed(m_entry);
    }

private:
    ItemPtr m_entry;
    bool m_upload;
    QTimer m_timer;
};

// ---- Requests ----

QString Peer(int i_peer)
{
    return QString("peer%1").arg(i_peer);
}

// Enough files of a megabyte (holes on disk) for every peer, in folders of 50, shared with
// everyone; made once. The result is the shared folder's path as peers ask for it.
const QString& SharedRemote()
{
    return TransfersBenchEngine::SharedRemote(kPeers * kPerPeer, kPerFolder, kFileSize);
}

// The peers' requests in the order they come: each peer asks for its own files in turn.
class Requests
{
public:
    void Ask(int i_peer)
    {
        const int l_file = i_peer * kPerPeer + m_asked[i_peer]++;
        emit peerMessenger->QueueUploadRequested(
            Peer(i_peer), SharedRemote() + QString("\\Folder%1\\file%2.mp3").arg(l_file / kPerFolder).arg(l_file));
    }
    // The next request, from the next peer.
    void AskNext() { Ask(m_next++ % kPeers); }

private:
    std::map<int, int> m_asked;
    int m_next = 0;
};

ItemPtr UploadIn(const char* i_status)
{
    const ItemPtr l_status = d.GetType("upload_entry_status")->HasItem(i_status);
    const ItemSet l_entries = l_status ? l_status.GetItems("upload_entry") : ItemSet();
    return l_entries.Empty() ? ItemPtr() : *l_entries.Begin();
}

// Runs the event loop unmeasured for a while, so that what a start left for later is done.
void Settle()
{
    QElapsedTimer l_settle;
    l_settle.start();
    while (!l_settle.hasExpired(300))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

// One peer's 1 to 5 requests a turn until 1,000 have come, the running transfer, if any, reporting
// every third turn; then the loop until every row is listed.
Busy ArrivingRequests(Requests& io_requests, RunningTransfer* ip_running)
{
    int l_asked = 0, l_turn = 0;
    QTimer l_stepper;
    l_stepper.setInterval(0);
    QObject::connect(&l_stepper, &QTimer::timeout, [&] {
        if (l_asked >= kArriving)
            return l_stepper.stop();
        const int l_peer = (l_turn * 37) % kPeers;
        for (int l_count = 1 + (l_turn * 7) % 5; l_count > 0 && l_asked < kArriving; --l_count, ++l_asked)
            io_requests.Ask(l_peer);
        if (ip_running && l_turn % 3 == 0)
            ip_running->Report();
        ++l_turn;
    });
    return RunUntil([&] { l_stepper.start(); }, [&] { return l_asked >= kArriving && AllListed(true); });
}

// The queue holding W waiting uploads asked for at once, then 1,000 more requests a few to a turn,
// with one upload running or none.
Busy MeasureRequests(int i_waiting, bool i_view, bool i_bar)
{
    Engine().Fresh(i_view, true);
    if (i_view)
        Engine().mp_pages->setCurrentWidget(Engine().mp_form);
    SharedRemote();
    SetSetting("max_queued_uploads_per_user", "999999");
    for (int l_peer = 0; l_peer < kPeers; ++l_peer)
        UserItem(Peer(l_peer)).NewItem("is_online");
    SetSetting("upload_slots", "0");
    Requests l_requests;
    for (int l_asked = 0; l_asked < i_waiting; ++l_asked)
        l_requests.AskNext();
    QCoreApplication::processEvents();
    SetSetting("upload_slots", "2");
    Engine().mp_manager->StartNewUploads();
    std::unique_ptr<RunningTransfer> lp_running;
    if (i_bar)
        lp_running = std::make_unique<RunningTransfer>(UploadIn(transfer_status::Requesting), true);
    Settle();

    const Busy l_busy = ArrivingRequests(l_requests, lp_running.get());
    lp_running.reset();
    for (int l_peer = 0; l_peer < kPeers; ++l_peer)
        UserItem(Peer(l_peer)).Disconnect("is_online");
    return l_busy;
}

void BM_RequestsBesideABar(benchmark::State& state)
{
    const bool l_bar = state.range(0) != 0;
    const int l_most = MostRows(16000);
    std::map<int, double> l_us, l_engineUs;
    double l_worst = 0;
    for (auto _ : state)
        for (int l_waiting : {1000, l_most})
        {
            l_engineUs[l_waiting] = MeasureRequests(l_waiting, false, l_bar).cpuMs * 1e3 / kArriving;
            const Busy l_window = MeasureRequests(l_waiting, true, l_bar);
            l_us[l_waiting] = l_window.cpuMs * 1e3 / kArriving;
            l_worst = std::max(l_worst, l_window.worstLateMs);
        }
    for (const auto& [l_waiting, l_perRow] : l_us)
    {
        state.counters["us_row_" + std::to_string(l_waiting)] = l_perRow;
        state.counters["x_engine_" + std::to_string(l_waiting)] = l_perRow / l_engineUs[l_waiting];
    }
    state.counters["ratio"] = l_us[l_most] / l_us[1000];
    state.counters["worst_late_ms"] = l_worst;
    Engine().Fresh(false);
}

// ---- Download Folder ----

// No downloads, the uploader offline and never asked; the downloads page shown, or no view.
void FreshDownloads(bool i_view)
{
    Engine().Fresh(i_view);
    if (i_view)
        Engine().mp_pages->setCurrentWidget(Engine().mp_form);
    for (const char* lp_user : {Uploader, Runner})
    {
        UserItem(lp_user).GetItems("unsent_message").Remove();
        for (const char* lp_part : {"is_online", "last_queue_request_time", "next_place_in_line_request_time"})
            UserItem(lp_user).Disconnect(lp_part);
    }
    QCoreApplication::processEvents();
}

bool AllAskedFor(int i_files)
{
    return int(UserItem(Uploader).GetItems("download_entry").Size()) == i_files &&
           UserItem(Uploader)["last_queue_request_time"] && AllListed(false);
}

std::unique_ptr<RunningTransfer> RunningDownload(bool i_bar)
{
    if (!i_bar)
        return nullptr;
    const ItemPtr l_entry = Engine().mp_manager->AddDownload(Runner, "running.mp3", "Music\\Elsewhere", kFileSize, 0);
    return std::make_unique<RunningTransfer>(l_entry, false, 10);
}

Busy EngineAloneQueues(int i_files, bool i_bar)
{
    FreshDownloads(false);
    const std::unique_ptr<RunningTransfer> lp_running = RunningDownload(i_bar);
    return RunUntil(
        [i_files] {
            BrowsedFolder::QueueAlone(i_files);
            BrowsedFolder::AnswerOnline();
        },
        [i_files] { return AllAskedFor(i_files); });
}

Busy WindowQueues(int i_files, bool i_bar)
{
    FreshDownloads(true);
    BrowsedFolder l_browse(i_files, BrowsedFolder::Place::OwnWindow);
    const std::unique_ptr<RunningTransfer> lp_running = RunningDownload(i_bar);
    Settle();
    return RunUntil(
        [&] {
            l_browse.DownloadFolder();
            BrowsedFolder::AnswerOnline();
        },
        [i_files] { return AllAskedFor(i_files); });
}

void BM_DownloadFolderBesideABar(benchmark::State& state)
{
    const bool l_bar = state.range(0) != 0;
    FolderFigures l_figures;
    for (auto _ : state)
        for (int l_files = 1000; l_files <= MostRows(32000); l_files *= 2)
        {
            const Busy l_engine = EngineAloneQueues(l_files, l_bar);
            l_figures.Note(l_files, l_engine, WindowQueues(l_files, l_bar));
        }
    l_figures.Publish(state);
    FreshDownloads(false);
}
} // namespace

BENCHMARK(BM_RequestsBesideABar)->ArgName("bar")->Arg(1)->Arg(0)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DownloadFolderBesideABar)->ArgName("bar")->Arg(1)->Arg(0)->Iterations(1)->Unit(benchmark::kMillisecond);
