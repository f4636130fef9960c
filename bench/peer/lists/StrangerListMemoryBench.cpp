// What a stranger's shared-file list leaves the client holding: a stranger connects from
// 127.0.0.1 and sends one list of 2,990,000 records of the smallest kind (about 6 MB on the
// wire, 60 MiB inflated), then goes; the client's half-minute step runs; then the same again.
// Quote the ratios to the client's resident memory before the first list, in the same run:
// `after1_ratio` and `after2_ratio` once each list was dropped and the stranger gone, which
// should stay near 1 (`after1_MiB_over` and `after2_MiB_over` are the same as MiB more than
// at the start), and `peak1_ratio`, `peak2_ratio` for what reading each list took.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMetaObject>
#include <QTimer>

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <memory>

#include <arpa/inet.h>
#include <fcntl.h>
#include <malloc.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "../../BenchStore.h"
#include "../../LoopbackStranger.h"
#include "../../ResidentMemory.h"
#include "peer/PeerMessenger.h"
#include "server/Server.h"
#include "store/Data.h"
#include "store/Settings.h"
#include "store/TimerManager.h"
#include "support/support/FakePeer.h"
#include "support/support/FakeUpnpBackend.h"

namespace
{
// How long the client may take to read, close or forget what the far ends did.
const qint64 SettleLimitMs = 120000;

// Each folder holds as many records as a count may announce, or nearly.
const int Folders = 23;
const int RecordsPerFolder = 130000;
const char* const Stranger = "stranger";

struct Setting : BenchStore
{
    Setting()
    {
        mp_timers = std::make_unique<TimerManager>();
        mp_server = std::make_unique<Server>(std::make_unique<FakeUpnpBackend>());
        mp_messenger = std::make_unique<PeerMessenger>();
        SetSetting("listening_port", QString::number(FakePeer::FreePort()));
        SetSetting("obfuscated_listening_port", QString::number(FakePeer::FreePort()));
        mp_messenger->DataLoaded();
        // The receiver of lists only counts what came: whatever a view would keep of it is not
        // the messenger's to give back.
        QObject::connect(mp_messenger.get(), &PeerMessenger::UserShare,
                         [this](QString, FileInfoMap& i_share, AttributeTranslationTable&) {
                             for (const auto& l_folder : i_share)
                                 m_files += qint64(l_folder.second.size());
                             ++m_lists;
                         });
    }

    std::unique_ptr<TimerManager> mp_timers;
    std::unique_ptr<Server> mp_server;
    std::unique_ptr<PeerMessenger> mp_messenger;
    int m_lists = 0;
    qint64 m_files = 0;
};

void Put32(QByteArray& io_bytes, quint32 i_value)
{
    for (int l_byte = 0; l_byte < 4; ++l_byte)
        io_bytes += static_cast<char>((i_value >> (8 * l_byte)) & 0xff);
}

// Message 5 of i_folders folders of i_records records each: no name, no extension, no
// attributes, each size apart within its folder so that every record is kept.
QByteArray ShareListFrame(int i_folders, int i_records)
{
    QByteArray l_list;
    l_list.reserve(i_folders * (i_records * 21 + 16) + 4);
    Put32(l_list, quint32(i_folders));
    for (int l_folder = 0; l_folder < i_folders; ++l_folder)
    {
        const QByteArray l_path = "f" + QByteArray::number(l_folder);
        Put32(l_list, quint32(l_path.size()));
        l_list += l_path;
        Put32(l_list, quint32(i_records));
        for (int l_record = 0; l_record < i_records; ++l_record)
        {
            l_list += '\1';
            Put32(l_list, 0);
            Put32(l_list, quint32(l_record));
            Put32(l_list, 0);
            Put32(l_list, 0);
            Put32(l_list, 0);
        }
    }
    uLongf l_packed = compressBound(uLong(l_list.size()));
    QByteArray l_body(int(l_packed) + 4, '\0');
    qToLittleEndian<quint32>(5, l_body.data());
    if (compress2(reinterpret_cast<Bytef*>(l_body.data() + 4), &l_packed,
                  reinterpret_cast<const Bytef*>(l_list.constData()), uLong(l_list.size()),
                  Z_BEST_COMPRESSION) != Z_OK)
        qFatal("cannot compress the list");
    l_body.resize(int(l_packed) + 4);
    if (quint32(l_body.size()) > PeerMessenger::MaxFrameLength)
        qFatal("the list does not fit one frame");
    return FakePeer::Frame(FakePeer::InitBody(Stranger, "P")) + FakePeer::Frame(l_body);
}

// The stranger connects, sends its frames from the one buffer without waiting, and goes once
// the list was read. The peak is what was resident at most meanwhile.
bool StrangerSends(Setting& io_setting, const QByteArray& i_frames, qint64& o_peakKiB)
{
    const int l_lists = io_setting.m_lists;
    const bool l_peakKnown = ResetPeakResident();
    o_peakKiB = ResidentKiB();
    const int l_fd = ConnectToClient(true);
    qint64 l_sent = 0;
    bool l_closed = false;
    const bool l_read = Settle(SettleLimitMs, [&] { return io_setting.m_lists > l_lists || l_closed; },
                               [&] {
                                   while (!l_closed && l_sent < i_frames.size())
                                   {
                                       const ssize_t l_now = ::send(
                                           l_fd, i_frames.constData() + l_sent,
                                           std::size_t(i_frames.size() - l_sent),
                                           MSG_NOSIGNAL | MSG_DONTWAIT);
                                       if (l_now > 0)
                                           l_sent += l_now;
                                       else if (l_now < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                                           break;
                                       else
                                           l_closed = true;
                                   }
                                   o_peakKiB = std::max(o_peakKiB, ResidentKiB());
                               });
    ::close(l_fd);
    if (l_peakKnown)
        o_peakKiB = std::max(o_peakKiB, PeakResidentKiB());
    return l_read && !l_closed && Settle(SettleLimitMs, [] { return ItemCount("peer_socket") == 0; });
}

double MiB(qint64 i_kib)
{
    return double(i_kib) / 1024.0;
}

void StrangerShareList(benchmark::State& state)
{
    static Setting s_setting;
    // The same first steps with a small list: whatever the first connection and list set up
    // once is not the stranger's doing.
    qint64 l_peak[2] = {0, 0};
    qint64 l_after[2] = {0, 0};
    if (!StrangerSends(s_setting, ShareListFrame(2, 1000), l_peak[0]))
        state.SkipWithError("the warm-up list was not read");
    RunTheClientsTimers();
    const QByteArray l_frames = ShareListFrame(Folders, RecordsPerFolder);
    const std::size_t l_users = ItemCount("user");
    if (d.GetType("user")->HasItem(QString(Stranger)))
        state.SkipWithError("the warm-up stranger stayed");
    // The baseline at rest: what the allocator kept from setting all this up goes back first.
    malloc_trim(0);
    const qint64 l_start = ResidentKiB();
    const qint64 l_files = s_setting.m_files;
    for (auto _ : state)
    {
        for (int l_round = 0; l_round < 2; ++l_round)
        {
            if (!StrangerSends(s_setting, l_frames, l_peak[l_round]))
                state.SkipWithError("the list was not read");
            if (!Settle(SettleLimitMs, [&] { return ItemCount("user") == l_users; }))
                state.SkipWithError("the stranger's user stayed");
            RunTheClientsTimers();
            l_after[l_round] = ResidentKiB();
        }
    }
    state.counters["start_MiB"] = MiB(l_start);
    for (int l_round = 0; l_round < 2; ++l_round)
    {
        const std::string l_name = std::to_string(l_round + 1);
        state.counters["peak" + l_name + "_MiB"] = MiB(l_peak[l_round]);
        state.counters["after" + l_name + "_MiB"] = MiB(l_after[l_round]);
        state.counters["peak" + l_name + "_ratio"] = double(l_peak[l_round]) / double(l_start);
        state.counters["after" + l_name + "_ratio"] = double(l_after[l_round]) / double(l_start);
        state.counters["after" + l_name + "_MiB_over"] = MiB(l_after[l_round] - l_start);
    }
    state.counters["frame_MiB"] = double(l_frames.size()) / 1048576.0;
    state.counters["files_read"] = double(s_setting.m_files - l_files);
}
} // namespace

BENCHMARK(StrangerShareList)->Iterations(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
