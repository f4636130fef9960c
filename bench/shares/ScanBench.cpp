// Scanning a shared tree of 100,000 files in 5,000 folders (and twice that), set against a
// bare recursive QDirIterator listing of the same tree measured in the same run: the first
// scan of an empty store and the rescan of an unchanged one, each as a multiple of the
// listing, by the clock (x_listing, against the fastest of five listings) and by the processor
// time of the scanning thread (x_listing_cpu, against a listing made just before each scan). The scan blocks the window at every start, so beyond the disk it should cost only
// the store's own work. Also reported: the items and connections one scan makes, and the
// resident and peak memory of the process once it has.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "../ThreadCpuTime.h"
#include "MusicTree.h"
#include "SharesBenchEngine.h"
#include "store/Data.h"

namespace
{

// The engine, made once for the whole program.
struct Engine : SharesBenchEngine
{
    static Engine& Get()
    {
        static Engine s_engine;
        return s_engine;
    }
};

// A generated music tree in a temporary folder.
struct Tree
{
    explicit Tree(int i_files)
    {
        WriteMusicTree(m_root.path(), i_files);
    }

    // The bare listing: every entry of the tree once, as the scan's listing filter sees it.
    int List() const
    {
        int l_entries = 0;
        QDirIterator l_walk(m_root.path(), QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot,
                            QDirIterator::Subdirectories);
        while (l_walk.hasNext())
        {
            l_walk.next();
            ++l_entries;
        }
        return l_entries;
    }

    // The fastest of five listings, after the one that warms the caches as the scan finds them.
    double ListingSeconds() const
    {
        List();
        double l_best = 1e9;
        for (int l_run = 0; l_run < 5; ++l_run)
        {
            const auto l_start = std::chrono::steady_clock::now();
            benchmark::DoNotOptimize(List());
            l_best = std::min(
                l_best, std::chrono::duration<double>(std::chrono::steady_clock::now() - l_start)
                            .count());
        }
        return l_best;
    }

    QTemporaryDir m_root;
};

Tree& TreeOf(int i_files)
{
    static std::map<int, std::unique_ptr<Tree>> s_trees;
    std::unique_ptr<Tree>& l_tree = s_trees[i_files];
    if (!l_tree)
        l_tree = std::make_unique<Tree>(i_files);
    return *l_tree;
}

void StartEmpty(const Tree& i_tree)
{
    d.RemoveAllItems();
    d.GetType("shared_folder")->GetItem(Value(i_tree.m_root.path()));
}

std::size_t ItemCount()
{
    std::size_t l_items = 0;
    for (const auto& l_type : d.Types())
        l_items += l_type.second->ItemCount();
    return l_items;
}

std::size_t ConnectionCount()
{
    std::size_t l_ends = 0;
    for (const auto& l_type : d.Types())
    {
        ItemSet l_items;
        l_type.second->GetItems(l_items);
        for (ItemPtr l_item : l_items)
            for (auto l_entry = l_item->Connections().Begin();
                 l_entry != l_item->Connections().End(); ++l_entry)
                l_ends += l_entry.Set()->Size();
    }
    return l_ends / 2;
}

// VmRSS or VmHWM of this process, in MiB.
double MemoryMiB(const std::string& i_field)
{
    std::ifstream l_status("/proc/self/status");
    std::string l_line;
    while (std::getline(l_status, l_line))
        if (l_line.rfind(i_field + ":", 0) == 0)
            return std::stod(l_line.substr(i_field.size() + 1)) / 1024.0;
    return 0;
}

// Runs the rescan as the timed part, with untimed preparation before each run. Each run is also
// set against the processor time of a listing made just before it.
template <class Prepare>
void TimeRescans(benchmark::State& state, const Tree& i_tree, Prepare i_prepare)
{
    const double l_listing = i_tree.ListingSeconds();
    double l_total = 0;
    double l_scanCpu = 0;
    double l_listingCpu = 0;
    for (auto _ : state)
    {
        i_prepare();
        const double l_listingStart = ThreadCpuSeconds();
        benchmark::DoNotOptimize(i_tree.List());
        l_listingCpu += ThreadCpuSeconds() - l_listingStart;
        const double l_cpuStart = ThreadCpuSeconds();
        const auto l_start = std::chrono::steady_clock::now();
        Engine::Get().mp_shares->RescanShares();
        const double l_seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - l_start).count();
        l_scanCpu += ThreadCpuSeconds() - l_cpuStart;
        state.SetIterationTime(l_seconds);
        l_total += l_seconds;
    }
    state.counters["x_listing"] = l_total / static_cast<double>(state.iterations()) / l_listing;
    state.counters["x_listing_cpu"] = l_scanCpu / l_listingCpu;
    state.counters["scan_cpu_ms"] = l_scanCpu / static_cast<double>(state.iterations()) * 1000;
    state.counters["listing_cpu_ms"] = l_listingCpu / static_cast<double>(state.iterations()) * 1000;
    state.counters["listing_ms"] = l_listing * 1000;
    state.counters["us_per_file"] =
        l_total / static_cast<double>(state.iterations()) / static_cast<double>(state.range(0)) * 1e6;
}

void BM_FirstScan(benchmark::State& state)
{
    Engine::Get();
    const Tree& l_tree = TreeOf(static_cast<int>(state.range(0)));
    TimeRescans(state, l_tree, [&] { StartEmpty(l_tree); });
    const std::size_t l_before = 1; // the shared folder item
    state.counters["items"] = static_cast<double>(ItemCount() - l_before);
    state.counters["connections"] = static_cast<double>(ConnectionCount());
    state.counters["rss_MiB"] = MemoryMiB("VmRSS");
    state.counters["peak_MiB"] = MemoryMiB("VmHWM");
}

void BM_UnchangedRescan(benchmark::State& state)
{
    Engine::Get();
    const Tree& l_tree = TreeOf(static_cast<int>(state.range(0)));
    StartEmpty(l_tree);
    Engine::Get().mp_shares->RescanShares();
    TimeRescans(state, l_tree, [] {});
}

void BM_ListTree(benchmark::State& state)
{
    const Tree& l_tree = TreeOf(static_cast<int>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(l_tree.List());
}
} // namespace

BENCHMARK(BM_ListTree)->Arg(100000)->Arg(200000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FirstScan)->Arg(100000)->Arg(200000)->Unit(benchmark::kMillisecond)->UseManualTime()
    ->Iterations(3);
BENCHMARK(BM_UnchangedRescan)->Arg(100000)->Arg(200000)->Unit(benchmark::kMillisecond)
    ->UseManualTime()->Iterations(3);

