// Searches coming down the distributed tree: kind-49 frames read from the parent's loopback
// connection, answered (by a receiver that matches nothing) and relayed to 20 loopback children,
// one of which never reads. The baseline copies the same bytes from a loopback socket to the same
// kind of children with no parsing at all, and holds no more than the manager does for the
// stalled one. Quote `vs_copy` (the manager's frames/s over the copy's, same run) and check that
// `rss_growth_KiB` stays near 0 while the stalled child is dropped at the cap.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>
#include <vector>

#include "../BenchStore.h"
#include "../ResidentMemory.h"
#include "peer/PeerMessenger.h"
#include "server/Server.h"
#include "shares/DNetManager.h"
#include "store/Data.h"
#include "store/TimerManager.h"
#include "support/support/FakeUpnpBackend.h"
#include "support/support/WireFields.h"

namespace
{
const int Children = 20;
const int FramesPerBatch = 256;

// One loopback connection: our end (owned by whoever it is handed to) and the far end.
struct Pair
{
    QPointer<QTcpSocket> ours;
    std::unique_ptr<QTcpSocket> far;
    qint64 received = 0;
};

struct Setting : BenchStore
{
    static Setting& Get()
    {
        static Setting s_setting;
        return s_setting;
    }

    Setting()
    {
        mp_timers = std::make_unique<TimerManager>();
        mp_server = std::make_unique<Server>(std::make_unique<FakeUpnpBackend>());
        mp_messenger = std::make_unique<PeerMessenger>();
        mp_dnet = std::make_unique<DNetManager>();
        m_listener.listen(QHostAddress::LocalHost, 0);
    }

    Pair Connect()
    {
        Pair l_pair;
        l_pair.ours = new QTcpSocket;
        l_pair.ours->connectToHost(QHostAddress::LocalHost, m_listener.serverPort());
        l_pair.ours->waitForConnected(5000);
        m_listener.waitForNewConnection(5000);
        l_pair.far.reset(m_listener.nextPendingConnection());
        l_pair.far->setParent(nullptr);
        return l_pair;
    }

    std::unique_ptr<TimerManager> mp_timers;
    std::unique_ptr<Server> mp_server;
    std::unique_ptr<PeerMessenger> mp_messenger;
    std::unique_ptr<DNetManager> mp_dnet;
    QTcpServer m_listener;
};

// A batch of kind-49 search frames as a parent sends them.
QByteArray Batch()
{
    QByteArray l_batch;
    for (int l_frame = 0; l_frame < FramesPerBatch; ++l_frame)
    {
        const QByteArray l_body = WireFields()
                                      .Byte(3)
                                      .UInt32(49)
                                      .Text("searcher" + QString::number(l_frame % 50))
                                      .UInt32(static_cast<quint32>(l_frame))
                                      .Text("some artist live " + QString::number(l_frame));
        l_batch += WireFields().UInt32(static_cast<quint32>(l_body.size())).Raw(l_body).Bytes();
    }
    return l_batch;
}

// 19 children that read everything, and one that leaves it all in the system's buffers.
std::vector<Pair> MakeChildren()
{
    std::vector<Pair> l_children;
    for (int l_child = 0; l_child < Children; ++l_child)
        l_children.push_back(Setting::Get().Connect());
    l_children.back().far->setReadBufferSize(1);
    return l_children;
}

// Sends one batch from the parent's far end and waits until every reading child has all sent so
// far.
bool SendAndDrain(Pair& io_parent, std::vector<Pair>& io_children, const QByteArray& i_batch, qint64& io_sent)
{
    io_parent.far->write(i_batch);
    io_sent += i_batch.size();
    QElapsedTimer l_clock;
    l_clock.start();
    for (;;)
    {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        bool l_done = true;
        for (int l_child = 0; l_child + 1 < Children; ++l_child)
        {
            Pair& l_pair = io_children[static_cast<std::size_t>(l_child)];
            l_pair.received += l_pair.far->readAll().size();
            l_done = l_done && l_pair.received >= io_sent;
        }
        if (l_done)
            return true;
        if (l_clock.elapsed() > 10000)
            return false;
    }
}

double s_copyFramesPerSecond = 0;

// Runs the batches through whatever reads the parent's end, and reports rate, memory and what
// is left unsent to the children.
void Run(benchmark::State& state, Pair& io_parent, std::vector<Pair>& io_children, bool i_baseline)
{
    const QByteArray l_batch = Batch();
    qint64 l_sent = 0;
    // The first batch settles buffers and connections (and has the manager adopt its parent, whose
    // leader goes down first) before anything is measured.
    SendAndDrain(io_parent, io_children, l_batch, l_sent);
    for (Pair& l_child : io_children)
        l_child.received = l_sent;
    const qint64 l_rss = ResidentKiB();
    QElapsedTimer l_clock;
    l_clock.start();
    for (auto _ : state)
        if (!SendAndDrain(io_parent, io_children, l_batch, l_sent))
            state.SkipWithError("the children did not receive every frame");
    const double l_seconds = double(l_clock.nsecsElapsed()) / 1e9;
    const double l_frames = double(FramesPerBatch) * double(state.iterations());
    qint64 l_held = 0;
    for (Pair& l_child : io_children)
        if (l_child.ours)
            l_held += l_child.ours->bytesToWrite();
    state.counters["frames/s"] = benchmark::Counter(l_frames, benchmark::Counter::kIsRate);
    state.counters["rss_growth_KiB"] = double(ResidentKiB() - l_rss);
    state.counters["held_KiB"] = double(l_held) / 1024.0;
    if (i_baseline)
        s_copyFramesPerSecond = l_frames / l_seconds;
    else if (s_copyFramesPerSecond > 0)
        state.counters["vs_copy"] = l_frames / l_seconds / s_copyFramesPerSecond;
}

// The baseline: every byte the parent sends is written on to every child as it comes.
void RawCopy(benchmark::State& state)
{
    Pair l_parent = Setting::Get().Connect();
    std::vector<Pair> l_children = MakeChildren();
    QObject::connect(l_parent.ours, &QTcpSocket::readyRead, [&] {
        const QByteArray l_bytes = l_parent.ours->readAll();
        for (Pair& l_child : l_children)
            if (l_child.ours->bytesToWrite() <= DNetManager::MaxChildUnsentBytes)
                l_child.ours->write(l_bytes);
    });
    Run(state, l_parent, l_children, true);
    delete l_parent.ours;
    for (Pair& l_child : l_children)
        delete l_child.ours;
}

void Relay(benchmark::State& state)
{
    DNetManager* lp_dnet = Setting::Get().mp_dnet.get();
    qint64 l_answered = 0;
    QObject::connect(lp_dnet, &DNetManager::DNetSearchRequest, [&] { ++l_answered; });
    Pair l_parent = Setting::Get().Connect();
    std::vector<Pair> l_children = MakeChildren();
    for (int l_child = 0; l_child < Children; ++l_child)
        lp_dnet->OnDNetConnectionRequested("kid" + QString::number(l_child),
                                           l_children[static_cast<std::size_t>(l_child)].ours);
    lp_dnet->OnDNetConnectionAccepted("bob", l_parent.ours);
    Run(state, l_parent, l_children, false);
    state.counters["children_left"] = double(d.GetType("dnet_child")->ItemCount());
    if (l_answered != FramesPerBatch * (static_cast<qint64>(state.iterations()) + 1))
        state.SkipWithError("not every search was answered");
}
} // namespace

BENCHMARK(RawCopy)->Iterations(2000)->Unit(benchmark::kMicrosecond);
BENCHMARK(Relay)->Iterations(2000)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
