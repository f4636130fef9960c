// Sending a 1 GiB file on loopback to a plain socket reader, unlimited: first a raw copy of the
// file onto the socket (the physical limit here) in 64 KiB and in the upload's 8 KiB blocks,
// then the real upload thread with its handshake. Each reports MB/s and the process's CPU
// seconds per second; the upload thread also its ratio to the faster raw copy of the same run.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QFile>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtEndian>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "../LoopbackListener.h"
#include "transfers/UploadThread.h"

namespace
{
const qint64 FileBytes = qint64(1) << 30;

// A sparse file of 1 GiB, made once for every run.
struct SharedFile
{
    static SharedFile& Get()
    {
        static SharedFile s_file;
        return s_file;
    }
    SharedFile()
    {
        QFile l_file(m_dir.filePath("big.bin"));
        if (!l_file.open(QIODevice::WriteOnly) || !l_file.resize(FileBytes))
            qFatal("cannot make the file");
        l_file.write(QByteArray(1 << 20, 'x'));
        m_path = l_file.fileName();
    }
    QTemporaryDir m_dir;
    QString m_path;
};

// The plain reader: with a handshake it takes the 4-byte number and answers offset 0; then it
// reads the whole file and closes.
void Read(int i_fd, bool i_handshake)
{
    std::vector<char> l_buffer(1 << 16);
    if (i_handshake)
    {
        char l_number[4];
        for (ssize_t l_have = 0; l_have < 4;)
            l_have += ::recv(i_fd, l_number + l_have, size_t(4 - l_have), 0);
        const char l_offset[8] = {};
        ::send(i_fd, l_offset, sizeof l_offset, 0);
    }
    for (qint64 l_total = 0; l_total < FileBytes;)
    {
        const ssize_t l_read = ::recv(i_fd, l_buffer.data(), l_buffer.size(), 0);
        if (l_read <= 0)
            qFatal("the sender stopped early");
        l_total += l_read;
    }
    ::close(i_fd);
}

double CpuSeconds()
{
    rusage l_usage{};
    ::getrusage(RUSAGE_SELF, &l_usage);
    return double(l_usage.ru_utime.tv_sec + l_usage.ru_stime.tv_sec) +
           double(l_usage.ru_utime.tv_usec + l_usage.ru_stime.tv_usec) / 1e6;
}

// The raw copy's rate by block size, from this run.
std::map<int, double> g_rawBytesPerSecond;

// Times the loop's iterations by the wall clock and sets MB/s and CPU from them.
template <class Send>
double Measure(benchmark::State& io_state, Send i_send)
{
    double l_seconds = 0, l_cpu = 0;
    for (auto l_ : io_state)
    {
        const double l_cpuBefore = CpuSeconds();
        const auto l_start = std::chrono::steady_clock::now();
        i_send();
        const std::chrono::duration<double> l_took = std::chrono::steady_clock::now() - l_start;
        io_state.SetIterationTime(l_took.count());
        l_seconds += l_took.count();
        l_cpu += CpuSeconds() - l_cpuBefore;
    }
    const double l_rate = double(FileBytes) * double(io_state.iterations()) / l_seconds;
    io_state.counters["MB/s"] = l_rate / 1e6;
    io_state.counters["cpu"] = l_cpu / l_seconds;
    return l_rate;
}

void RawCopy(benchmark::State& io_state)
{
    const int l_block = int(io_state.range(0));
    const double l_rate = Measure(io_state, [&] {
        quint16 l_port = 0;
        const int l_listener = ListenOnLoopback(l_port, 1);
        std::thread l_sender([&] {
            const int l_fd = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in l_address{};
            l_address.sin_family = AF_INET;
            l_address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            l_address.sin_port = htons(l_port);
            ::connect(l_fd, reinterpret_cast<sockaddr*>(&l_address), sizeof l_address);
            QFile l_file(SharedFile::Get().m_path);
            l_file.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
            std::vector<char> l_buffer(size_t(l_block), 0);
            for (qint64 l_read; (l_read = l_file.read(l_buffer.data(), l_block)) > 0;)
                for (qint64 l_sent = 0; l_sent < l_read;)
                    l_sent += ::send(l_fd, l_buffer.data() + l_sent, size_t(l_read - l_sent), 0);
            ::shutdown(l_fd, SHUT_WR);
            char l_end;
            ::recv(l_fd, &l_end, 1, 0);
            ::close(l_fd);
        });
        Read(::accept(l_listener, nullptr, nullptr), false);
        l_sender.join();
        ::close(l_listener);
    });
    g_rawBytesPerSecond[l_block] = l_rate;
}

void UploadThreadCopy(benchmark::State& io_state)
{
    const double l_rate = Measure(io_state, [&] {
        quint16 l_port = 0;
        const int l_listener = ListenOnLoopback(l_port, 1);
        QTcpSocket* lp_socket = new QTcpSocket;
        lp_socket->connectToHost("127.0.0.1", l_port);
        const int l_reader = ::accept(l_listener, nullptr, nullptr);
        if (!lp_socket->waitForConnected(5000))
            qFatal("cannot connect");
        QFile l_file(SharedFile::Get().m_path);
        l_file.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        UploadThread l_thread(lp_socket, &l_file, 1, nullptr);
        lp_socket->moveToThread(&l_thread);
        l_thread.start();
        Read(l_reader, true);
        l_thread.wait();
        delete lp_socket;
        ::close(l_listener);
    });
    // Against the faster copy, and against a copy in the upload's own 8 KiB blocks: the second
    // tells how much of the gap is the block size alone.
    if (g_rawBytesPerSecond.count(1 << 16) && g_rawBytesPerSecond.count(8192))
    {
        io_state.counters["ratio_to_raw"] = l_rate / qMax(g_rawBytesPerSecond[1 << 16], g_rawBytesPerSecond[8192]);
        io_state.counters["ratio_to_raw_8k"] = l_rate / g_rawBytesPerSecond[8192];
    }
}
void RawCopyOnce()
{
    QFile l_file(SharedFile::Get().m_path);
    l_file.open(QIODevice::ReadOnly);
    std::vector<char> l_buffer(1 << 20);
    while (l_file.read(l_buffer.data(), qint64(l_buffer.size())) > 0)
    {
    }
}
} // namespace

BENCHMARK(RawCopy)->Arg(1 << 16)->Arg(8192)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(UploadThreadCopy)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int i_argc, char** i_argv)
{
    QCoreApplication l_app(i_argc, i_argv);
    // Made and read once before any timing, so every run reads it from the page cache.
    RawCopyOnce();
    benchmark::Initialize(&i_argc, i_argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
