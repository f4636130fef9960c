// Bursts of thousands of events at once, through the window as a user has it: the transfers page
// shown with another user's download running and its bar moving, the diagnostics page on a tab
// behind it taking every log line, and the peers' messages arriving through real loopback
// connections, written at once by the far ends from a thread of their own (as other machines
// write) and read as the sockets give them.
//
// - BM_DeleteUserRow: the user row of one uploader's N queued downloads (in folders of 50) chosen
//   and the Delete key pressed, N = 1,000, 16,000 and 32,000, until every entry and row is gone.
// - BM_PlaceInLineAnswers: the uploader's N place-in-line answers (peer message 44) for our N
//   queued downloads, N = 1,000 to 32,000, until the last one shows in its row.
// - BM_PlaceInLineQuestions: 80 peers, each with its queued uploads (13, 200 and 400 each), ask
//   their place (peer message 51) for every one of them at once, until every answer (44) is back.
//
// Each quotes the GUI thread's CPU per download or message at each N (us_per_<N>), its ratio at
// 16,000 and at the largest N to 1,000 (ratio_<N>_to_1000), the same work against the engines
// alone in the same run, with neither page (x_engine_<N>), and the worst lateness of a timer
// every 10 ms while it ran (late_ms_<N>, worst_late_ms). The CPU counts what the event leaves for
// later (slices, deferred deletions, batched lines) up to 100 ms after it is done. What the
// toolkit and the engines make once in a fresh process is not counted: each scenario first runs
// once at its smallest size, engines alone and with the window, unmeasured.
//
// TARNWICK_BENCH_MOST_BURST caps N, so that slow code can be measured in reasonable time.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QKeyEvent>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "../LoopbackListener.h"
#include "../LoopbackStranger.h"
#include "LoopRun.h"
#include "TransfersBenchEngine.h"
#include "diagnostics/DiagnosticsForm.h"
#include "peer/PeerMessenger.h"
#include "support/support/WireFields.h"

namespace
{
const char* const Uploader = "bob";
const int PerFolder = 50;
const int Peers = 80;
const qint64 SettleLimitMs = 120000;

TransfersBenchEngine& Engine()
{
    return TransfersBenchEngine::Get();
}

int MostBurst()
{
    return qEnvironmentVariableIsSet("TARNWICK_BENCH_MOST_BURST") ? qEnvironmentVariableIntValue("TARNWICK_BENCH_MOST_BURST")
                                                                   : 32000;
}

// The messenger listens where the far ends connect; once per program.
void Listen()
{
    static const bool s_listening = [] {
        for (const char* lp_setting : {"listening_port", "obfuscated_listening_port"})
        {
            quint16 l_port = 0;
            ::close(ListenOnLoopback(l_port, 1));
            SetSetting(lp_setting, QString::number(l_port));
        }
        peerMessenger->DataLoaded();
        return true;
    }();
    Q_UNUSED(s_listening);
}

QByteArray Frame(const QByteArray& i_body)
{
    return WireFields().UInt32(quint32(i_body.size())).Raw(i_body);
}

// ---- The window ----

// The transfers page, shown on its downloads or uploads list, beside the diagnostics page as the
// main window has it, the log's sink; or, for the engines alone, neither. Another user's download
// runs and reports ten times a second while the window lives.
class Window
{
public:
    Window(bool i_view, bool i_uploadsPage)
    {
        Engine().Fresh(i_view, i_uploadsPage);
        if (i_view)
        {
            mp_diagnostics = new DiagnosticsForm;
            mp_diagnostics->Init();
            Engine().mp_pages->addTab(mp_diagnostics, "Diagnostics");
            Engine().mp_pages->setCurrentWidget(Engine().mp_form);
        }
        TransferQueueManager* lp_manager = Engine().mp_manager.get();
        m_running = lp_manager->AddDownload("carol", "running.mp3", "Music\\Now", 1000000000, 0);
        Engine().Run(m_running);
        m_reports.setInterval(100);
        QObject::connect(&m_reports, &QTimer::timeout, [this, lp_manager] {
            if (qint64* lp_position = lp_manager->PeekObject<qint64>(m_running["write_position"]))
            {
                *lp_position += 100000;
                emit lp_manager->DownloadProgressed(m_running);
            }
        });
        emit lp_manager->DownloadProgressed(m_running);
        m_reports.start();
        QCoreApplication::processEvents();
    }
    ~Window()
    {
        m_reports.stop();
        delete mp_diagnostics;
        Engine().Fresh(false);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

private:
    DiagnosticsForm* mp_diagnostics = nullptr;
    ItemPtr m_running;
    QTimer m_reports;
};

std::string FileName(int i_index)
{
    return "file" + std::to_string(i_index) + ".mp3";
}

std::string FolderName(int i_index)
{
    return "Music\\Folder" + std::to_string(i_index / PerFolder);
}

// The uploader's downloads, queued while it is offline, so nothing is asked of it yet.
std::vector<ItemPtr> QueueDownloads(int i_count)
{
    std::vector<ItemPtr> l_entries;
    for (int l_index = 0; l_index < i_count; ++l_index)
        l_entries.push_back(
            Engine().mp_manager->AddDownload(Uploader, FileName(l_index), FolderName(l_index), 10000000, 0));
    QCoreApplication::processEvents();
    return l_entries;
}

std::vector<int> Sizes(std::vector<int> i_sizes)
{
    i_sizes.erase(std::remove_if(i_sizes.begin(), i_sizes.end(), [](int i_size) { return i_size > MostBurst(); }),
                  i_sizes.end());
    return i_sizes;
}

// What a run comes to, per download or message at each N.
struct Figures
{
    std::map<int, double> us;
    std::map<int, double> engineUs;
    std::map<int, double> lateMs;

    // Under the size's name, each divided by the events it had.
    void Note(int i_size, const Busy& i_view, int i_viewEvents, const Busy& i_engine, int i_engineEvents)
    {
        us[i_size] = i_view.cpuMs * 1e3 / i_viewEvents;
        engineUs[i_size] = i_engine.cpuMs * 1e3 / i_engineEvents;
        lateMs[i_size] = i_view.worstLateMs;
    }
    void Publish(benchmark::State& state, const std::string& i_unit) const
    {
        double l_worst = 0;
        for (const auto& [l_count, l_us] : us)
        {
            const std::string l_size = std::to_string(l_count);
            state.counters["us_per_" + i_unit + "_" + l_size] = l_us;
            state.counters["x_engine_" + l_size] = l_us / engineUs.at(l_count);
            state.counters["late_ms_" + l_size] = lateMs.at(l_count);
            if (l_count != us.begin()->first)
                state.counters["ratio_" + l_size + "_to_" + std::to_string(us.begin()->first)] = l_us / us.begin()->second;
            l_worst = std::max(l_worst, lateMs.at(l_count));
        }
        state.counters["worst_late_ms"] = l_worst;
    }
};

// ---- Delete ----

// The user row chosen and the Delete key pressed on the downloads list.
void PressDelete()
{
    QTreeWidget* lp_list = Engine().mp_form->DownloadsList();
    lp_list->clearSelection();
    for (int l_row = 0; l_row < lp_list->topLevelItemCount(); ++l_row)
        if (lp_list->topLevelItem(l_row)->text(0) == Uploader)
            lp_list->topLevelItem(l_row)->setSelected(true);
    QKeyEvent l_press(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QCoreApplication::sendEvent(lp_list, &l_press);
}

bool UploaderGone()
{
    return !d.GetType("user")->GetItem(Uploader).IsConnected("download_entry");
}

// The transfer queues alone remove the same downloads, in one go.
Busy EngineRemoves(const std::vector<ItemPtr>& i_entries)
{
    return RunUntil(
        [&] {
            RemovalScope l_scope(d);
            for (ItemPtr l_entry : i_entries)
                if (l_entry->IsAlive())
                    Engine().mp_manager->RemoveDownload(l_entry);
        },
        UploaderGone);
}

void BM_DeleteUserRow(benchmark::State& state)
{
    Figures l_figures;
    for (auto _ : state)
        for (int l_count : Sizes({1000, 1000, 16000, 32000}))
        {
            Busy l_engine;
            {
                const Window l_window(false, false);
                l_engine = EngineRemoves(QueueDownloads(l_count));
            }
            const Window l_window(true, false);
            QueueDownloads(l_count);
            QTreeWidget* lp_list = Engine().mp_form->DownloadsList();
            const Busy l_view = RunUntil(PressDelete, [lp_list] {
                return UploaderGone() && lp_list->topLevelItemCount() == 1;
            });
            if (!UploaderGone() || lp_list->topLevelItemCount() != 1)
                state.SkipWithError("the downloads were not all removed");
            l_figures.Note(l_count, l_view, l_count, l_engine, l_count);
        }
    l_figures.Publish(state, "download");
}

// ---- Far ends ----

// Raw loopback connections to the messenger's listening port, each introduced as a messaging
// connection of its user. Their bursts are written from a thread of their own, which also reads
// what the client answers and counts the frames of one code.
class FarEnds
{
public:
    explicit FarEnds(const std::vector<QString>& i_users)
    {
        Listen();
        // One at a time, each taken in before the next, so that the listener's backlog never fills.
        for (const QString& l_user : i_users)
        {
            m_ends.push_back({ConnectToClient(true), l_user, QByteArray(), 0, QByteArray()});
            const QByteArray l_init = Frame(WireFields().Byte(1).Text(l_user).Text("P").UInt32(0));
            if (::send(m_ends.back().fd, l_init.constData(), std::size_t(l_init.size()), MSG_NOSIGNAL) != l_init.size())
                qFatal("cannot introduce the far end");
            // The client takes it in as a messaging connection of its user.
            if (!Settle(SettleLimitMs, [&] { return d.GetType("user")->GetItem(l_user).IsConnected("peer_socket"); }))
                qFatal("the client did not take the far end in");
        }
    }
    ~FarEnds()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        for (const End& l_end : m_ends)
            ::close(l_end.fd);
        if (!Settle(SettleLimitMs, [] { return ItemCount("peer_socket") == 0; }))
            qFatal("the client kept the far ends' connections");
    }
    FarEnds(const FarEnds&) = delete;
    FarEnds& operator=(const FarEnds&) = delete;

    // Each end writes its burst, all of it at once as far as the system takes it, and counts the
    // client's frames of the code.
    void Write(std::vector<QByteArray> i_bursts, quint32 i_answerCode)
    {
        for (std::size_t l_end = 0; l_end < m_ends.size(); ++l_end)
            m_ends[l_end].burst = std::move(i_bursts[l_end]);
        m_thread = std::thread([this, i_answerCode] { Run(i_answerCode); });
    }
    int Answers() const { return m_answers; }

private:
    struct End
    {
        int fd;
        QString user;
        QByteArray burst;
        qint64 sent = 0;
        QByteArray received;
    };

    void Run(quint32 i_answerCode)
    {
        std::vector<pollfd> l_polls(m_ends.size());
        while (!m_stop)
        {
            for (std::size_t l_end = 0; l_end < m_ends.size(); ++l_end)
                l_polls[l_end] = {m_ends[l_end].fd,
                                  short(POLLIN | (m_ends[l_end].sent < m_ends[l_end].burst.size() ? POLLOUT : 0)), 0};
            if (::poll(l_polls.data(), l_polls.size(), 5) <= 0)
                continue;
            for (std::size_t l_end = 0; l_end < m_ends.size(); ++l_end)
            {
                End& l_far = m_ends[l_end];
                if (l_polls[l_end].revents & POLLOUT)
                {
                    const ssize_t l_sent = ::send(l_far.fd, l_far.burst.constData() + l_far.sent,
                                                  std::size_t(l_far.burst.size() - l_far.sent), MSG_NOSIGNAL | MSG_DONTWAIT);
                    if (l_sent > 0)
                        l_far.sent += l_sent;
                }
                if (l_polls[l_end].revents & POLLIN)
                    Receive(l_far, i_answerCode);
            }
        }
    }

    void Receive(End& io_far, quint32 i_answerCode)
    {
        char l_buffer[65536];
        const ssize_t l_read = ::recv(io_far.fd, l_buffer, sizeof l_buffer, MSG_DONTWAIT);
        if (l_read <= 0)
            return;
        io_far.received.append(l_buffer, int(l_read));
        int l_at = 0;
        while (io_far.received.size() - l_at >= 8)
        {
            const quint32 l_length = qFromLittleEndian<quint32>(io_far.received.constData() + l_at);
            if (io_far.received.size() - l_at - 4 < qint64(l_length))
                break;
            if (l_length >= 4 && qFromLittleEndian<quint32>(io_far.received.constData() + l_at + 4) == i_answerCode)
                ++m_answers;
            l_at += 4 + int(l_length);
        }
        io_far.received.remove(0, l_at);
    }

    std::vector<End> m_ends;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_answers{0};
};

// ---- Place-in-line answers ----

QByteArray Answers(int i_count)
{
    QByteArray l_burst;
    for (int l_index = 0; l_index < i_count; ++l_index)
        l_burst += Frame(WireFields()
                             .UInt32(44)
                             .Text(QString::fromStdString(FolderName(l_index) + "\\" + FileName(l_index)))
                             .Int32(l_index + 1));
    return l_burst;
}

// Our N downloads queued, then the uploader answers for every one at once.
Busy AnswersArrive(int i_count)
{
    const std::vector<ItemPtr> l_entries = QueueDownloads(i_count);
    FarEnds l_uploader({Uploader});
    ItemPtr l_last = l_entries.back();
    const QString l_lastPlace = QString::number(i_count);
    const Busy l_busy = RunUntil([&] { l_uploader.Write({Answers(i_count)}, 0); },
                                 [&] { return l_last["place_in_line"].AsString() == l_lastPlace; });
    for (std::size_t l_index = 0; l_index < l_entries.size(); ++l_index)
        if (ItemPtr(l_entries[l_index])["place_in_line"].AsInt() != int(l_index) + 1)
            qFatal("a place in line was not taken");
    return l_busy;
}

void BM_PlaceInLineAnswers(benchmark::State& state)
{
    Figures l_figures;
    for (auto _ : state)
        for (int l_count : Sizes({1000, 1000, 2000, 4000, 8000, 16000, 32000}))
        {
            Busy l_engine;
            {
                const Window l_window(false, false);
                l_engine = AnswersArrive(l_count);
            }
            const Window l_window(true, false);
            l_figures.Note(l_count, AnswersArrive(l_count), l_count, l_engine, l_count);
        }
    l_figures.Publish(state, "message");
}

// ---- Place-in-line questions ----

QString Peer(int i_peer)
{
    return QString("peer%1").arg(i_peer);
}

// Enough files for every run, in folders of 50, shared with everyone; made once. The result is
// the folder's path as peers ask for it.
const QString& SharedRemote()
{
    return TransfersBenchEngine::SharedRemote(Peers * 400, PerFolder);
}

QString SharedFile(int i_file)
{
    return SharedRemote() + QString("\\Folder%1\\file%2.mp3").arg(i_file / PerFolder).arg(i_file);
}

// Every peer online asks for its files, two of which take our two slots; the others wait.
void QueueUploads(int i_each)
{
    SetSetting("max_queued_uploads_per_user", "999999");
    SetSetting("upload_slots", "2");
    for (int l_peer = 0; l_peer < Peers; ++l_peer)
        d.GetType("user")->GetItem(Peer(l_peer)).NewItem("is_online");
    for (int l_peer = 0; l_peer < Peers; ++l_peer)
        for (int l_file = 0; l_file < i_each; ++l_file)
            emit peerMessenger->QueueUploadRequested(Peer(l_peer), SharedFile(l_peer * i_each + l_file));
    QCoreApplication::processEvents();
}

// Each peer's questions about every one of its uploads that waits.
std::vector<QByteArray> Questions(int& o_count)
{
    std::vector<QByteArray> l_bursts;
    o_count = 0;
    for (int l_peer = 0; l_peer < Peers; ++l_peer)
    {
        QByteArray l_burst;
        for (ItemPtr l_entry : d.GetType("user")->GetItem(Peer(l_peer)).GetItems("upload_entry"))
            if (Engine().mp_manager->UploadPlace(l_entry))
            {
                l_burst += Frame(WireFields().UInt32(51).Text(l_entry["filename_as_requested"].AsString()));
                ++o_count;
            }
        l_bursts.push_back(l_burst);
    }
    return l_bursts;
}

// The peers' uploads queued, then each asks its places for all of them at once. The count of
// questions is given back.
Busy QuestionsArrive(int i_each, int& o_count)
{
    std::vector<QString> l_peers;
    for (int l_peer = 0; l_peer < Peers; ++l_peer)
        l_peers.push_back(Peer(l_peer));
    FarEnds l_ends(l_peers);
    QueueUploads(i_each);
    std::vector<QByteArray> l_bursts = Questions(o_count);
    const int l_count = o_count;
    const Busy l_busy = RunUntil([&] { l_ends.Write(std::move(l_bursts), 44); },
                                 [&] { return l_ends.Answers() >= l_count; });
    if (l_ends.Answers() != l_count)
        qFatal("the questions were not all answered");
    for (int l_peer = 0; l_peer < Peers; ++l_peer)
        d.GetType("user")->GetItem(Peer(l_peer)).Disconnect("is_online");
    return l_busy;
}

void BM_PlaceInLineQuestions(benchmark::State& state)
{
    Figures l_figures;
    for (auto _ : state)
        for (int l_each : {13, 13, 200, 400})
        {
            if (l_each * Peers > MostBurst())
                continue;
            Busy l_engine;
            int l_engineCount = 0;
            {
                const Window l_window(false, true);
                l_engine = QuestionsArrive(l_each, l_engineCount);
            }
            const Window l_window(true, true);
            int l_count = 0;
            const Busy l_view = QuestionsArrive(l_each, l_count);
            // Named by the uploads queued: the running ones are not asked about.
            l_figures.Note(l_each * Peers, l_view, l_count, l_engine, l_engineCount);
        }
    l_figures.Publish(state, "message");
}
} // namespace

BENCHMARK(BM_DeleteUserRow)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlaceInLineAnswers)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlaceInLineQuestions)->Iterations(1)->Unit(benchmark::kMillisecond);
