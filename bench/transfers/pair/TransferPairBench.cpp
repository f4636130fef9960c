// One 1 GiB file from disk to disk over loopback: first a raw copy (a thread reading the file
// onto a socket, a thread writing what arrives into a new file), then the real upload thread
// feeding the real download thread, with the downloader's handshake done on this thread as the
// manager does it. Each reports MB/s and the CPU seconds per second of the sending and the
// receiving side; the real pair also its ratio to the raw copy of the same run and how many
// progress reports reach this thread's event loop per second.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "../../ThreadCpuTime.h"
#include "transfers/DownloadThread.h"
#include "transfers/UploadThread.h"

namespace
{
const qint64 FileBytes = qint64(1) << 30;
const int RawBlock = 1 << 16;

struct Files
{
    static Files& Get()
    {
        static Files s_files;
        return s_files;
    }
    Files()
    {
        QFile l_file(m_dir.filePath("big.bin"));
        if (!l_file.open(QIODevice::WriteOnly))
            qFatal("cannot make the file");
        const QByteArray l_chunk(1 << 20, 'x');
        for (qint64 l_written = 0; l_written < FileBytes; l_written += l_chunk.size())
            l_file.write(l_chunk);
        m_source = l_file.fileName();
        m_target = m_dir.filePath("copy.bin");
    }
    QTemporaryDir m_dir;
    QString m_source, m_target;
};

struct Sides
{
    double seconds = 0, sender = 0, receiver = 0;
};

void Report(benchmark::State& io_state, const Sides& i_sides)
{
    io_state.counters["MB/s"] = double(FileBytes) * double(io_state.iterations()) / i_sides.seconds / 1e6;
    io_state.counters["cpu_send"] = i_sides.sender / i_sides.seconds;
    io_state.counters["cpu_recv"] = i_sides.receiver / i_sides.seconds;
}

double g_rawBytesPerSecond = 0;

void RawCopy(benchmark::State& io_state)
{
    Sides l_sides;
    for (auto l_ : io_state)
    {
        const int l_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in l_address{};
        l_address.sin_family = AF_INET;
        l_address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t l_length = sizeof l_address;
        if (::bind(l_listener, reinterpret_cast<sockaddr*>(&l_address), l_length) != 0 ||
            ::listen(l_listener, 1) != 0 ||
            ::getsockname(l_listener, reinterpret_cast<sockaddr*>(&l_address), &l_length) != 0)
            qFatal("cannot listen");
        const auto l_start = std::chrono::steady_clock::now();
        std::thread l_sender([&] {
            const double l_cpu = ThreadCpuSeconds();
            const int l_fd = ::socket(AF_INET, SOCK_STREAM, 0);
            ::connect(l_fd, reinterpret_cast<sockaddr*>(&l_address), sizeof l_address);
            QFile l_file(Files::Get().m_source);
            l_file.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
            std::vector<char> l_buffer(RawBlock);
            for (qint64 l_read; (l_read = l_file.read(l_buffer.data(), RawBlock)) > 0;)
                for (qint64 l_sent = 0; l_sent < l_read;)
                    l_sent += ::send(l_fd, l_buffer.data() + l_sent, size_t(l_read - l_sent), 0);
            ::close(l_fd);
            l_sides.sender += ThreadCpuSeconds() - l_cpu;
        });
        std::thread l_receiver([&] {
            const double l_cpu = ThreadCpuSeconds();
            const int l_fd = ::accept(l_listener, nullptr, nullptr);
            QFile l_file(Files::Get().m_target);
            l_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered);
            std::vector<char> l_buffer(RawBlock);
            for (ssize_t l_read; (l_read = ::recv(l_fd, l_buffer.data(), l_buffer.size(), 0)) > 0;)
                l_file.write(l_buffer.data(), l_read);
            ::close(l_fd);
            l_sides.receiver += ThreadCpuSeconds() - l_cpu;
        });
        l_sender.join();
        l_receiver.join();
        const std::chrono::duration<double> l_took = std::chrono::steady_clock::now() - l_start;
        io_state.SetIterationTime(l_took.count());
        l_sides.seconds += l_took.count();
        ::close(l_listener);
    }
    Report(io_state, l_sides);
    g_rawBytesPerSecond = double(FileBytes) * double(io_state.iterations()) / l_sides.seconds;
}

// A thread's own CPU time, read on the thread itself just before it ends.
void AddCpuAtFinish(QThread& io_thread, double& io_total)
{
    QObject::connect(&io_thread, &QThread::started, &io_thread, [&io_total] { io_total -= ThreadCpuSeconds(); },
                     Qt::DirectConnection);
    QObject::connect(&io_thread, &QThread::finished, &io_thread, [&io_total] { io_total += ThreadCpuSeconds(); },
                     Qt::DirectConnection);
}

void UploaderToDownloader(benchmark::State& io_state)
{
    Sides l_sides;
    qint64 l_progressEvents = 0;
    double l_loopCpu = 0;
    for (auto l_ : io_state)
    {
        QTcpServer l_listener;
        l_listener.listen(QHostAddress::LocalHost);
        const auto l_start = std::chrono::steady_clock::now();
        QTcpSocket* lp_upSocket = new QTcpSocket;
        lp_upSocket->connectToHost(QHostAddress::LocalHost, l_listener.serverPort());
        if (!lp_upSocket->waitForConnected(5000) || !l_listener.waitForNewConnection(5000))
            qFatal("cannot connect");
        QTcpSocket* lp_downSocket = l_listener.nextPendingConnection();
        lp_downSocket->setParent(nullptr);
        QFile l_source(Files::Get().m_source), l_target(Files::Get().m_target);
        l_source.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        l_target.resize(0);
        l_target.open(QIODevice::WriteOnly | QIODevice::Append); // as the manager opens a partial file

        UploadThread l_upload(lp_upSocket, &l_source, 7, nullptr);
        DownloadThread l_download(lp_downSocket, &l_target, FileBytes, 0);
        AddCpuAtFinish(l_upload, l_sides.sender);
        AddCpuAtFinish(l_download, l_sides.receiver);
        QEventLoop l_loop;
        int l_running = 2;
        const auto l_ended = [&] {
            if (--l_running == 0)
                l_loop.quit();
        };
        QObject::connect(&l_upload, &UploadThread::UploadProgress, &l_loop, [&] { ++l_progressEvents; });
        QObject::connect(&l_download, &DownloadThread::DownloadProgress, &l_loop, [&] { ++l_progressEvents; });
        QObject::connect(&l_upload, &QThread::finished, &l_loop, l_ended, Qt::QueuedConnection);
        QObject::connect(&l_download, &QThread::finished, &l_loop, l_ended, Qt::QueuedConnection);

        const double l_cpu = ThreadCpuSeconds();
        lp_upSocket->moveToThread(&l_upload);
        l_upload.start();
        // The downloader's side of the handshake: the transfer number, then the offset.
        while (lp_downSocket->bytesAvailable() < 4)
            lp_downSocket->waitForReadyRead(5000);
        lp_downSocket->read(4);
        lp_downSocket->write(QByteArray(8, '\0'));
        lp_downSocket->flush();
        lp_downSocket->moveToThread(&l_download);
        l_download.start();
        l_loop.exec();
        l_loopCpu += ThreadCpuSeconds() - l_cpu;
        l_upload.wait();
        l_download.wait();

        const std::chrono::duration<double> l_took = std::chrono::steady_clock::now() - l_start;
        io_state.SetIterationTime(l_took.count());
        l_sides.seconds += l_took.count();
        if (l_target.size() != FileBytes)
            qFatal("the download is short");
        delete lp_upSocket;
        delete lp_downSocket;
    }
    Report(io_state, l_sides);
    io_state.counters["cpu_loop"] = l_loopCpu / l_sides.seconds;
    io_state.counters["progress/s"] = double(l_progressEvents) / l_sides.seconds;
    if (g_rawBytesPerSecond > 0)
        io_state.counters["ratio_to_raw"] =
            double(FileBytes) * double(io_state.iterations()) / l_sides.seconds / g_rawBytesPerSecond;
}
} // namespace

BENCHMARK(RawCopy)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(UploaderToDownloader)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int i_argc, char** i_argv)
{
    QCoreApplication l_app(i_argc, i_argv);
    Files::Get();
    benchmark::Initialize(&i_argc, i_argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
