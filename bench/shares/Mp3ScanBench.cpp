// The MP3 scanner over synthetic files already in the page cache, against reading the same
// files in the same 64 KiB blocks with no parsing. "of_read" is the scanner's speed as a share
// of the plain read measured just before it on the same file; the aim is 0.5 or more.
#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <map>
#include <vector>

#include "shares/MP3Scanner.h"
#include "support/support/Mp3Stream.h"

namespace
{
constexpr int FileMegabytes = 128;

// 0: an MPEG-1 Layer III file whose frames run from 128 to 320 kbit/s, with random-looking
// audio data holding the odd false sync. 1: nothing but headers, one every four bytes.
const QString& File(int i_kind)
{
    static QTemporaryDir s_folder;
    static std::map<int, QString> s_files;
    QString& l_path = s_files[i_kind];
    if (!l_path.isEmpty())
        return l_path;
    l_path = s_folder.filePath(QString("kind%1.mp3").arg(i_kind));
    QFile l_file(l_path);
    l_file.open(QIODevice::WriteOnly);
    QByteArray l_chunk;
    if (i_kind == 0)
    {
        Mp3Stream l_stream(true);
        for (int l_frame = 0; l_frame < 2000; ++l_frame)
            l_stream.Add({9 + l_frame % 6});
        l_chunk = l_stream.Bytes();
    }
    else
        l_chunk = Mp3Stream::Header({}).repeated(1 << 18);
    for (qint64 l_written = 0; l_written < qint64(FileMegabytes) << 20; l_written += l_chunk.size())
        l_file.write(l_chunk);
    return l_path;
}

std::map<int, double> s_readSeconds;

void Rate(benchmark::State& io_state, qint64 i_bytes)
{
    io_state.SetBytesProcessed(i_bytes * static_cast<qint64>(io_state.iterations()));
    io_state.counters["MB/s"] = benchmark::Counter(double(i_bytes) * double(io_state.iterations()) / 1e6,
                                                   benchmark::Counter::kIsRate);
}

void PlainRead(benchmark::State& io_state)
{
    const int l_kind = static_cast<int>(io_state.range(0));
    QFile l_file(File(l_kind));
    std::vector<char> l_block(MP3Scanner::BlockSize);
    qint64 l_bytes = 0;
    QElapsedTimer l_timer;
    double l_seconds = 0;
    for (auto _ : io_state)
    {
        l_timer.start();
        l_file.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        l_bytes = 0;
        for (qint64 l_read; (l_read = l_file.read(l_block.data(), MP3Scanner::BlockSize)) > 0;)
            l_bytes += l_read;
        l_file.close();
        benchmark::DoNotOptimize(l_block.data());
        l_seconds += double(l_timer.nsecsElapsed()) / 1e9;
    }
    s_readSeconds[l_kind] = l_seconds / double(io_state.iterations());
    Rate(io_state, l_bytes);
}

void Scan(benchmark::State& io_state)
{
    const int l_kind = static_cast<int>(io_state.range(0));
    const QString& l_path = File(l_kind);
    MP3Scanner l_scanner;
    int l_version = 0, l_frequency = 0, l_bitrate = 0;
    bool l_isVBR = false;
    QString l_mode;
    QElapsedTimer l_timer;
    double l_seconds = 0;
    for (auto _ : io_state)
    {
        l_timer.start();
        if (!l_scanner.ScanMP3(l_path, l_version, l_mode, l_frequency, l_isVBR, l_bitrate))
            io_state.SkipWithError("scan failed");
        l_seconds += double(l_timer.nsecsElapsed()) / 1e9;
    }
    Rate(io_state, QFile(l_path).size());
    io_state.counters["kbit/s"] = l_bitrate;
    if (s_readSeconds.count(l_kind) != 0)
        io_state.counters["of_read"] = s_readSeconds[l_kind] / (l_seconds / double(io_state.iterations()));
}
} // namespace

BENCHMARK(PlainRead)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(Scan)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(PlainRead)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(Scan)->Arg(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
