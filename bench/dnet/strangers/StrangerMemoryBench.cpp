// What one stranger on one machine can leave the client holding once it has gone: 1,000
// messaging connections under new names of 4 KiB each, then 60 distributed-network children that
// each send all but the last byte of a 10 MiB frame, all ended again. The far ends are raw
// loopback sockets driven from the same loop without Qt. Quote `ratio`: the client's resident
// memory after they ended (and after the collection the client runs every five minutes) over
// its resident memory before they came, in the same run; it should stay under 1.1. `peak_ratio`
// shows what the ceilings let them hold meanwhile.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <memory>
#include <vector>

#include <arpa/inet.h>
#include <malloc.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "../../BenchStore.h"
#include "../../LoopbackStranger.h"
#include "../../ResidentMemory.h"
#include "peer/PeerMessenger.h"
#include "server/Server.h"
#include "shares/DNetManager.h"
#include "store/Data.h"
#include "store/Settings.h"
#include "store/TimerManager.h"
#include "support/support/FakePeer.h"
#include "support/support/FakeUpnpBackend.h"
#include "support/support/WireFields.h"

namespace
{
// How long the client may take to read, close or forget what the far ends did.
const qint64 SettleLimitMs = 60000;

const int MessagingConnections = 1000;
// Fewer at a time than a listener's backlog holds, so that every connect completes at once.
const int Batch = 40;
const int Children = 60;
const qint32 NameBytes = 4096;
// The most that unfinished frames held at once.
qint64 s_peakHeld = 0;

struct Setting : BenchStore
{
    Setting()
    {
        mp_timers = std::make_unique<TimerManager>();
        mp_server = std::make_unique<Server>(std::make_unique<FakeUpnpBackend>());
        mp_messenger = std::make_unique<PeerMessenger>();
        mp_dnet = std::make_unique<DNetManager>();
        SetSetting("listening_port", QString::number(FakePeer::FreePort()));
        SetSetting("obfuscated_listening_port", QString::number(FakePeer::FreePort()));
        mp_messenger->DataLoaded();
    }

    std::unique_ptr<TimerManager> mp_timers;
    std::unique_ptr<Server> mp_server;
    std::unique_ptr<PeerMessenger> mp_messenger;
    std::unique_ptr<DNetManager> mp_dnet;
};

// One far end: its first frame, then what every child sends after it (one buffer for all, made
// before anything is measured), how much of both it has sent, and whether the client closed it.
struct Far
{
    int fd;
    QByteArray first;
    const QByteArray* rest = nullptr;
    qint64 sent = 0;
    bool closed = false;

    qint64 Size() const { return first.size() + (rest ? rest->size() : 0); }
};

// Sends what the system takes now, without waiting.
void Push(Far& io_far)
{
    while (!io_far.closed && io_far.sent < io_far.Size())
    {
        const bool l_first = io_far.sent < io_far.first.size();
        const char* lp_from = l_first ? io_far.first.constData() + io_far.sent
                                      : io_far.rest->constData() + (io_far.sent - io_far.first.size());
        const qint64 l_left = l_first ? io_far.first.size() - io_far.sent : io_far.Size() - io_far.sent;
        const ssize_t l_sent = ::send(io_far.fd, lp_from, static_cast<std::size_t>(l_left),
                                      MSG_NOSIGNAL | MSG_DONTWAIT);
        if (l_sent > 0)
            io_far.sent += l_sent;
        else if (l_sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        else
            io_far.closed = true;
    }
}

QByteArray Init(const QString& i_user, const char* i_type)
{
    return FakePeer::Frame(FakePeer::InitBody(i_user, i_type));
}

QString NewName(int i_index)
{
    const QString l_number = QString::number(i_index);
    return l_number + QString(NameBytes - l_number.size(), 'n');
}

// Opens a batch, has the client take every connection in, then ends them all.
bool MessagingBatch(int i_first, int i_count)
{
    std::vector<Far> l_far;
    for (int l_index = i_first; l_index < i_first + i_count; ++l_index)
    {
        l_far.push_back({ConnectToClient(false), Init(NewName(l_index), "P")});
        Push(l_far.back());
    }
    const bool l_open = Settle(SettleLimitMs, [&] { return ItemCount("peer_socket") == std::size_t(i_count); });
    for (Far& l_end : l_far)
        ::close(l_end.fd);
    return l_open && Settle(SettleLimitMs, [] { return ItemCount("peer_socket") == 0; });
}

// All but the last byte of a 10 MiB frame.
const QByteArray& UnfinishedFrame()
{
    static const QByteArray s_frame =
        WireFields().UInt32(PeerMessenger::MaxFrameLength).Raw(QByteArray(PeerMessenger::MaxFrameLength - 1, 'x'));
    return s_frame;
}

// Children that send all but the last byte of a 10 MiB frame; the client holds what its
// ceiling lets it.
bool ChildrenWithUnfinishedFrames(int i_count, int& o_peakKiB)
{
    std::vector<Far> l_far;
    for (int l_index = 0; l_index < i_count; ++l_index)
    {
        l_far.push_back({ConnectToClient(true), Init(NewName(MessagingConnections + l_index), "D"), &UnfinishedFrame()});
        // Taken in before the next, so that the listener's backlog never fills.
        const std::size_t l_children = ItemCount("dnet_child");
        Push(l_far.back());
        if (!Settle(SettleLimitMs, [&] { return ItemCount("dnet_child") > l_children || l_far.back().closed; }))
            return false;
    }
    const bool l_sent = Settle(SettleLimitMs,
        [&] {
            for (const Far& l_end : l_far)
                if (!l_end.closed && l_end.sent < l_end.Size())
                    return false;
            return true;
        },
        [&] {
            for (Far& l_end : l_far)
                Push(l_end);
            o_peakKiB = std::max(o_peakKiB, int(ResidentKiB()));
            s_peakHeld = std::max(s_peakHeld, peerMessenger->HeldFrames().Total());
        });
    for (Far& l_end : l_far)
        ::close(l_end.fd);
    return l_sent && Settle(SettleLimitMs, [] { return ItemCount("dnet_child") == 0; });
}

qint64 HeapInUse()
{
    const struct mallinfo2 l_info = mallinfo2();
    return qint64(l_info.uordblks + l_info.hblkhd);
}

void StrangersEnded(benchmark::State& state)
{
    static Setting s_setting;
    // Whatever the first connection of each kind sets up once is not the strangers' doing.
    int l_peak = 0;
    if (!MessagingBatch(0, 2) || !ChildrenWithUnfinishedFrames(1, l_peak))
        state.SkipWithError("the warm-up connections did not come and go");
    const std::size_t l_users = ItemCount("user");
    RunTheClientsTimers();
    // The baseline at rest: what the allocator kept from setting all this up goes back first.
    malloc_trim(0);
    const qint64 l_before = ResidentKiB();
    const qint64 l_heapBefore = HeapInUse();
    l_peak = 0;
    for (auto _ : state)
    {
        for (int l_first = 0; l_first < MessagingConnections; l_first += Batch)
            if (!MessagingBatch(l_first, Batch))
                state.SkipWithError("a batch of messaging connections did not come and go");
        if (!ChildrenWithUnfinishedFrames(Children, l_peak))
            state.SkipWithError("the children did not come and go");
        if (!Settle(SettleLimitMs, [&] { return ItemCount("user") == l_users; }))
            state.SkipWithError("the strangers' users stayed");
    }
    RunTheClientsTimers();
    const qint64 l_after = ResidentKiB();
    state.counters["rss_before_MiB"] = double(l_before) / 1024.0;
    state.counters["rss_after_MiB"] = double(l_after) / 1024.0;
    state.counters["ratio"] = double(l_after) / double(l_before);
    state.counters["peak_ratio"] = double(l_peak) / double(l_before);
    state.counters["peak_held_MiB"] = double(s_peakHeld) / 1048576.0;
    state.counters["heap_growth_KiB"] = double(HeapInUse() - l_heapBefore) / 1024.0;
    state.counters["users_left"] = double(ItemCount("user")) - double(l_users);
}
} // namespace

BENCHMARK(StrangersEnded)->Iterations(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
