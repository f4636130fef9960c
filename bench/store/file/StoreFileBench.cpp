// Saving and loading the store file of a million items and a million connections (about 50 MB),
// and of twice that, to show that both grow linearly with the store. A save is set against
// writing the same bytes to the same folder in one write with the flush to disk that the save
// makes; a load is set against reading the same file. Every figure is a median of runs made
// here, interleaved with the baseline's, and printed as a multiple of it ("x_write", "x_read");
// "growth" is the time at two million divided by the time at one million.
//
// Each load runs in a child process of its own that declares the types and loads, as the client
// does at start-up: a fresh store on a fresh heap. The saves run in one child that builds the
// store once. The parent never holds a store, so its children start small.

#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include "store/Data.h"
#include "store/DataSaver.h"

namespace
{
using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point i_start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - i_start).count();
}

double Median(std::vector<double> i_samples)
{
    std::sort(i_samples.begin(), i_samples.end());
    return i_samples[i_samples.size() / 2];
}

// Folders are saved; files are saved by connection to a folder. Every file sits in two folders,
// its own and the next one, which gives as many connections as items. Values are path-like and
// share long beginnings, as the names of a shared tree do.
void DeclareTypes(DataSaver& io_saver)
{
    Type* lp_folder = d.NewType("saver_bench_folder", Primary, false, false);
    Type* lp_file = d.NewType("saver_bench_file", Intermediate, false, false);
    lp_folder->RelateToType(lp_file, Many, Many, false);
    io_saver.AddSavedType("saver_bench_folder");
    io_saver.AddSavedByConnectionType("saver_bench_file", "saver_bench_folder");
}

std::size_t ItemCount()
{
    return d.GetType("saver_bench_folder")->ItemCount() + d.GetType("saver_bench_file")->ItemCount();
}

void FillStore(int i_items)
{
    Type* lp_folder = d.GetType("saver_bench_folder");
    Type* lp_file = d.GetType("saver_bench_file");
    const int l_folders = i_items / 2;
    std::vector<ItemPtr> l_folderItems;
    l_folderItems.reserve(static_cast<std::size_t>(l_folders));
    for (int l_k = 0; l_k < l_folders; ++l_k)
        l_folderItems.push_back(lp_folder->NewItem("/home/user/share/music/artist " +
                                                   std::to_string(l_k % 997) + "/album " +
                                                   std::to_string(l_k)));
    for (int l_k = 0; l_k < i_items - l_folders; ++l_k)
    {
        ItemPtr l_file = lp_file->NewItem("track " + std::to_string(l_k) + " - title.ogg");
        l_folderItems[static_cast<std::size_t>(l_k % l_folders)] += l_file;
        l_folderItems[static_cast<std::size_t>((l_k + 1) % l_folders)] += l_file;
    }
}

// Runs the work in a child process and hands back the numbers it wrote, or none when it failed.
template <class Work>
std::vector<double> InChild(Work i_work)
{
    int l_pipe[2];
    if (::pipe(l_pipe) != 0)
        return {};
    std::fflush(nullptr);
    const pid_t l_child = ::fork();
    if (l_child == 0)
    {
        ::close(l_pipe[0]);
        const std::vector<double> l_numbers = i_work();
        const auto l_bytes = static_cast<ssize_t>(l_numbers.size() * sizeof(double));
        const bool l_sent = ::write(l_pipe[1], l_numbers.data(), static_cast<std::size_t>(l_bytes)) == l_bytes;
        // Freeing a store of millions of items is no part of the measure.
        ::_exit(l_sent ? 0 : 1);
    }
    ::close(l_pipe[1]);
    std::vector<double> l_numbers;
    double l_number = 0;
    while (::read(l_pipe[0], &l_number, sizeof l_number) == static_cast<ssize_t>(sizeof l_number))
        l_numbers.push_back(l_number);
    ::close(l_pipe[0]);
    int l_status = 0;
    ::waitpid(l_child, &l_status, 0);
    if (l_child < 0 || !WIFEXITED(l_status) || WEXITSTATUS(l_status) != 0)
        return {};
    return l_numbers;
}

struct Files
{
    static Files& Get()
    {
        static Files s_files;
        return s_files;
    }

    // The store file of that many items, made once by a child.
    QString StoreOf(int i_items)
    {
        QString& l_path = m_stores[i_items];
        if (!l_path.isEmpty())
            return l_path;
        const QString l_candidate = m_folder.path() + QString("/store-%1").arg(i_items);
        const auto l_made = InChild([&] {
            DataSaver l_saver;
            DeclareTypes(l_saver);
            FillStore(i_items);
            return std::vector<double>{l_saver.Save(l_candidate) ? 1.0 : 0.0};
        });
        if (l_made == std::vector<double>{1.0})
            l_path = l_candidate;
        return l_path;
    }

    QTemporaryDir m_folder;
    std::map<int, QString> m_stores;
    // Median milliseconds by benchmark and size, for the growth figure.
    std::map<std::string, std::map<int, double>> m_medians;
};

// Reading every byte of the file, a mebibyte at a time into one buffer: what a load cannot do
// without.
double ReadMilliseconds(const QString& i_path)
{
    static std::vector<char> s_buffer(std::size_t(1) << 20);
    const auto l_start = Clock::now();
    QFile l_file(i_path);
    if (!l_file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return 0;
    while (l_file.read(s_buffer.data(), static_cast<qint64>(s_buffer.size())) > 0)
        benchmark::ClobberMemory();
    return MillisecondsSince(l_start);
}

// Writing the same bytes in one write, flushed to disk before the file is closed.
double WriteMilliseconds(const QString& i_path, const QByteArray& i_bytes)
{
    const auto l_start = Clock::now();
    QFile l_file(i_path);
    if (!l_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered) ||
        l_file.write(i_bytes) != i_bytes.size() || ::fsync(l_file.handle()) != 0)
        return 0;
    l_file.close();
    return MillisecondsSince(l_start);
}

// The store file for the benchmark's size, or none, and the benchmark skipped.
QString StoreFileFor(benchmark::State& state)
{
    const QString l_path = Files::Get().StoreOf(static_cast<int>(state.range(0)));
    if (l_path.isEmpty())
        state.SkipWithError("the store file could not be made");
    return l_path;
}

// Numbers that came in turns, a baseline's and then the measure's, split in two.
void SplitTurns(const std::vector<double>& i_numbers, int i_runs, std::vector<double>& o_baselines,
                std::vector<double>& o_measures)
{
    for (int l_run = 0; l_run < i_runs; ++l_run)
    {
        o_baselines.push_back(i_numbers[static_cast<std::size_t>(2 * l_run)]);
        o_measures.push_back(i_numbers[static_cast<std::size_t>(2 * l_run + 1)]);
    }
}

void Report(benchmark::State& state, const char* ip_name, const char* ip_baseline,
            const std::vector<double>& i_times, const std::vector<double>& i_baselines)
{
    const int l_items = static_cast<int>(state.range(0));
    const double l_median = Median(i_times);
    const double l_baseline = Median(i_baselines);
    state.counters["ms"] = l_median;
    state.counters[std::string(ip_baseline) + "_ms"] = l_baseline;
    state.counters[std::string("x_") + ip_baseline] = l_median / l_baseline;
    auto& l_medians = Files::Get().m_medians[ip_name];
    l_medians[l_items] = l_median;
    if (l_medians.count(l_items / 2))
        state.counters["growth"] = l_median / l_medians[l_items / 2];
    state.counters["file_MiB"] =
        static_cast<double>(QFile(Files::Get().StoreOf(l_items)).size()) / (1 << 20);
}

// Turns taken in one child, a baseline's and then the measure's: their medians reported, or
// the benchmark skipped when the child did not bring them all.
void ReportTurns(benchmark::State& state, const char* ip_name, const char* ip_baseline,
                 const std::vector<double>& i_numbers, int i_runs, const char* ip_failure)
{
    if (i_numbers.size() != static_cast<std::size_t>(2 * i_runs) ||
        std::count(i_numbers.begin(), i_numbers.end(), 0.0) != 0)
    {
        state.SkipWithError(ip_failure);
        return;
    }
    std::vector<double> l_baselines;
    std::vector<double> l_measures;
    SplitTurns(i_numbers, i_runs, l_baselines, l_measures);
    for (auto _ : state)
        state.SetIterationTime(Median(l_measures) / 1000);
    Report(state, ip_name, ip_baseline, l_measures, l_baselines);
}

// A load at start-up: each in a fresh child, after a read of the file in the same child.
void BM_LoadAtStartUp(benchmark::State& state)
{
    const int l_items = static_cast<int>(state.range(0));
    const QString l_path = StoreFileFor(state);
    if (l_path.isEmpty())
        return;
    std::vector<double> l_loads;
    std::vector<double> l_reads;
    for (auto _ : state)
    {
        const std::vector<double> l_load = InChild([&] {
            const double l_read = ReadMilliseconds(l_path);
            DataSaver l_saver;
            DeclareTypes(l_saver);
            const auto l_start = Clock::now();
            l_saver.Load(l_path);
            const double l_ms = MillisecondsSince(l_start);
            return std::vector<double>{l_read, l_ms, static_cast<double>(ItemCount())};
        });
        if (l_load.size() != 3 || l_load[2] != l_items)
        {
            state.SkipWithError("the load failed");
            return;
        }
        l_reads.push_back(l_load[0]);
        l_loads.push_back(l_load[1]);
        state.SetIterationTime(l_load[1] / 1000);
    }
    Report(state, "start-up load", "read", l_loads, l_reads);
}

// Loads into a store emptied of what the previous load made, all in one child: the heap has
// grown already, so this is the load's own work without the kernel handing out fresh pages.
void BM_Reload(benchmark::State& state)
{
    const int l_items = static_cast<int>(state.range(0));
    const QString l_path = StoreFileFor(state);
    if (l_path.isEmpty())
        return;
    constexpr int kRuns = 7;
    const std::vector<double> l_numbers = InChild([&] {
        // Memory given back is kept, and large blocks come from the same heap.
        mallopt(M_MMAP_MAX, 0);
        mallopt(M_TRIM_THRESHOLD, std::numeric_limits<int>::max());
        DataSaver l_saver;
        DeclareTypes(l_saver);
        l_saver.Load(l_path);
        std::vector<double> l_times;
        for (int l_run = 0; l_run < kRuns; ++l_run)
        {
            d.RemoveAllItems();
            // The allocator sorts out the millions of pieces just given back at its next large
            // request; that happens here rather than inside the load.
            std::free(std::malloc(std::size_t(1) << 16));
            l_times.push_back(ReadMilliseconds(l_path));
            const auto l_start = Clock::now();
            l_saver.Load(l_path);
            l_times.push_back(MillisecondsSince(l_start));
            if (ItemCount() != static_cast<std::size_t>(l_items))
                return std::vector<double>{};
        }
        return l_times;
    });
    ReportTurns(state, "reload", "read", l_numbers, kRuns, "the load failed");
}

void BM_SaveStore(benchmark::State& state)
{
    const int l_items = static_cast<int>(state.range(0));
    const QString l_path = StoreFileFor(state);
    if (l_path.isEmpty())
        return;
    const QString l_target = l_path + "-saved";
    const QString l_raw = l_path + "-raw";
    constexpr int kRuns = 7;
    // Save and baseline take turns in one child that builds the store once; each save must write
    // as many bytes as the file made from the same store.
    const std::vector<double> l_times = InChild([&] {
        QFile l_file(l_path);
        l_file.open(QIODevice::ReadOnly);
        const QByteArray l_bytes = l_file.readAll();
        DataSaver l_saver;
        DeclareTypes(l_saver);
        FillStore(l_items);
        std::vector<double> l_numbers;
        for (int l_run = 0; l_run < kRuns; ++l_run)
        {
            l_numbers.push_back(WriteMilliseconds(l_raw, l_bytes));
            const auto l_start = Clock::now();
            const bool l_saved = l_saver.Save(l_target);
            l_numbers.push_back(l_saved ? MillisecondsSince(l_start) : 0);
        }
        l_numbers.push_back(QFile(l_target).size() == l_bytes.size() ? 1 : 0);
        return l_numbers;
    });
    // The last number says whether the saves had the file's size.
    const bool l_sized = !l_times.empty() && l_times.back() == 1;
    ReportTurns(state, "save", "write",
                l_sized ? std::vector<double>(l_times.begin(), l_times.end() - 1) : std::vector<double>{},
                kRuns, "the save failed or wrote another size");
}
} // namespace

BENCHMARK(BM_Reload)->Arg(1000000)->Arg(2000000)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadAtStartUp)->Arg(1000000)->Arg(2000000)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveStore)->Arg(1000000)->Arg(2000000)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
