// Answering other users' searches on the index of the scanning benchmark's tree (100,000 files
// in 5,000 album folders), and building the share list (message 5) of that tree. Distributed
// searches arrive all the time, so a search that matches nothing must cost next to nothing:
// each search is set against a baseline of one std::map look-up per word of its text, timed in
// the same run. Per case: median and 95th percentile in microseconds, the multiple of the
// baseline, and answers per second. A search is also set against finding its files alone (its
// text read, its words looked up, their file sets intersected): "extra_us" is what building,
// compressing and logging the reply adds to that. The share list reports its build and compression time and
// its compressed size against the frame limit, with a memcpy of its body as the baseline.
// Without a peer messenger the reply is built, compressed and logged, and then not sent.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "diagnostics/LogService.h"
#include "diagnostics/LogSink.h"
#include "../MusicTree.h"
#include "../SharesBenchEngine.h"
#include "shares/SearchParser.h"
#include "store/Data.h"
#include "store/Settings.h"

namespace
{
constexpr int kFiles = 100000;

// Counts the replies that were built: the log line that comes before the send.
class ReplyCounter : public LogSink
{
public:
    void LogLine(const QString&, const QString& i_line) override
    {
        m_replies += i_line.contains("Sending search results") ? 1 : 0;
    }
    int m_replies = 0;
};

// The scanning benchmark's tree: album folders of 20 files under artist folders, names of 3 to
// 6 words drawn from a fixed vocabulary of 3,000, scanned into a public share.
struct Index : SharesBenchEngine
{
    static Index& Get()
    {
        static Index s_index;
        return s_index;
    }

    Index()
    {
        SetSetting("username", "anna");
        logService.InstallSink(&m_counter);

        WriteMusicTree(m_root.path(), kFiles);
        ItemPtr l_share = mp_shares->AddSharedFolder(m_root.path());
        l_share += d.GetType("shared_public")->GetGlobalNullItem();

        // The words of the index by how many files they reach.
        for (const auto& l_token : d.GetType("search_token")->ItemsByValue())
        {
            const std::string& l_word = l_token.first.Bytes();
            const ItemSet* lp_files = l_token.second->Connections().FindSet(d.GetType("shared_file"));
            const std::size_t l_count = lp_files ? lp_files->Size() : 0;
            m_words[l_word] = static_cast<int>(l_count);
            // Any token a search text can name as a required word of three letters or more.
            if (l_word.size() > 2 && l_count > 0 && l_word.find_first_of(" \t\"") == std::string::npos &&
                l_word[0] != '-' && l_word[0] != '*')
                m_byCount.emplace(l_count, l_word);
        }
    }

    // The word of at least three letters whose file count is nearest to that.
    std::string WordReaching(std::size_t i_files) const
    {
        auto l_at = m_byCount.lower_bound(i_files);
        if (l_at == m_byCount.end() ||
            (l_at != m_byCount.begin() && i_files - std::prev(l_at)->first < l_at->first - i_files))
            --l_at;
        return l_at->second;
    }

    // The rarest word of at least two files that shares a file with the given word.
    std::string RareWordWith(const std::string& i_word) const
    {
        Type* lp_files = d.GetType("shared_file");
        const ItemSet* lp_with = d.GetType("search_token")->HasItem(Value(i_word))->Connections().FindSet(lp_files);
        for (auto l_at = m_byCount.lower_bound(2); l_at != m_byCount.end(); ++l_at)
            for (ItemPtr l_file : *d.GetType("search_token")->HasItem(Value(l_at->second))->Connections().FindSet(lp_files))
                if (lp_with->Contains(l_file) && l_at->second != i_word)
                    return l_at->second;
        return i_word;
    }

    QTemporaryDir m_root;
    ReplyCounter m_counter;
    // Every word of the index with its file count: the baseline looks words up here.
    std::map<std::string, int> m_words;
    std::multimap<std::size_t, std::string> m_byCount;
};

double Percentile(std::vector<double> i_samples, double i_fraction)
{
    std::sort(i_samples.begin(), i_samples.end());
    return i_samples[static_cast<std::size_t>(i_fraction * static_cast<double>(i_samples.size() - 1))];
}

// One std::map look-up per word of the text: the least any answer must do.
double BaselineMicroseconds(const std::vector<std::string>& i_words)
{
    const Index& l_index = Index::Get();
    std::vector<double> l_samples;
    for (int l_run = 0; l_run < 20000; ++l_run)
    {
        const auto l_start = std::chrono::steady_clock::now();
        int l_found = 0;
        for (const std::string& l_word : i_words)
            l_found += l_index.m_words.count(l_word) ? 1 : 0;
        benchmark::DoNotOptimize(l_found);
        l_samples.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - l_start)
                .count());
    }
    return Percentile(l_samples, 0.5);
}

// What an answer cannot do without: the search text read, each word's file set found in the
// index, and the files in every set collected, walking the smallest.
std::size_t FindFiles(const QString& i_text)
{
    SearchParser l_parser;
    if (!l_parser.SetRemoteSearchText(i_text))
        return 0;
    static Type* const s_token = d.GetType("search_token");
    static Type* const s_file = d.GetType("shared_file");
    std::vector<const ItemSet*> l_sets;
    for (const QString& l_word : l_parser.GetIncludedTokenSet())
    {
        const ItemPtr l_token = s_token->HasItem(Value(l_word));
        const ItemSet* lp_files = l_token ? l_token->Connections().FindSet(s_file) : nullptr;
        if (!lp_files)
            return 0;
        l_sets.push_back(lp_files);
    }
    if (l_sets.empty())
        return 0;
    std::sort(l_sets.begin(), l_sets.end(),
              [](const ItemSet* ip_a, const ItemSet* ip_b) { return ip_a->Size() < ip_b->Size(); });
    std::vector<Item*> l_files;
    for (ItemPtr l_file : *l_sets.front())
        if (std::all_of(l_sets.begin() + 1, l_sets.end(), [&](const ItemSet* ip) { return ip->Contains(l_file); }))
            l_files.push_back(l_file.Get());
    return l_files.size();
}

double FindFilesMicroseconds(const QString& i_text)
{
    std::vector<double> l_samples;
    for (int l_run = 0; l_run < 5000; ++l_run)
    {
        const auto l_start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(FindFiles(i_text));
        l_samples.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - l_start)
                .count());
    }
    return Percentile(l_samples, 0.5);
}

void TimeSearch(benchmark::State& state, const std::vector<std::string>& i_words)
{
    Index& l_index = Index::Get();
    QString l_text;
    for (const std::string& l_word : i_words)
        l_text += (l_text.isEmpty() ? "" : " ") + QString::fromStdString(l_word);
    const int l_repliesBefore = l_index.m_counter.m_replies;
    std::vector<double> l_samples;
    quint32 l_req = 0;
    for (auto _ : state)
    {
        const auto l_start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(l_index.mp_shares->ProcessSearch("bob", ++l_req, l_text));
        const double l_micros =
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - l_start)
                .count();
        state.SetIterationTime(l_micros / 1e6);
        l_samples.push_back(l_micros);
    }
    const double l_median = Percentile(l_samples, 0.5);
    const double l_baseline = BaselineMicroseconds(i_words);
    std::size_t l_hits = 0;
    {
        std::vector<const ItemSet*> l_sets;
        for (const std::string& l_word : i_words)
        {
            ItemPtr l_token = d.GetType("search_token")->HasItem(Value(l_word));
            l_sets.push_back(l_token ? l_token->Connections().FindSet(d.GetType("shared_file")) : nullptr);
        }
        if (std::all_of(l_sets.begin(), l_sets.end(), [](const ItemSet* ip) { return ip != nullptr; }))
            for (ItemPtr l_file : *l_sets.front())
                l_hits += std::all_of(l_sets.begin() + 1, l_sets.end(),
                                      [&](const ItemSet* ip) { return ip->Contains(l_file); });
    }
    state.counters["files_hit"] = static_cast<double>(l_hits);
    state.counters["word_files"] = l_index.m_words.count(i_words.front()) ? l_index.m_words.at(i_words.front()) : 0;
    state.counters["replied"] =
        (l_index.m_counter.m_replies - l_repliesBefore) == static_cast<int>(state.iterations()) ? 1 : 0;
    state.counters["median_us"] = l_median;
    state.counters["p95_us"] = Percentile(l_samples, 0.95);
    state.counters["baseline_us"] = l_baseline;
    state.counters["x_baseline"] = l_median / l_baseline;
    const double l_finding = FindFilesMicroseconds(l_text);
    state.counters["find_us"] = l_finding;
    state.counters["extra_us"] = l_median - l_finding;
    state.counters["answers_per_s"] = 1e6 / l_median;
}

void BM_SearchMiss(benchmark::State& state)
{
    TimeSearch(state, {"zqxjvw"});
}

void BM_SearchRareWord(benchmark::State& state)
{
    TimeSearch(state, {Index::Get().WordReaching(3)});
}

void BM_SearchCommonAndRareWord(benchmark::State& state)
{
    const Index& l_index = Index::Get();
    const std::string l_common = l_index.WordReaching(kFiles * 4 / 10);
    TimeSearch(state, {l_common, l_index.RareWordWith(l_common)});
}

void BM_SearchHalfTheFiles(benchmark::State& state)
{
    TimeSearch(state, {Index::Get().WordReaching(kFiles / 2)});
}

// The share list of the whole tree: collected, then written and compressed.
void BM_ShareList(benchmark::State& state)
{
    Index& l_index = Index::Get();
    std::vector<double> l_build;
    std::vector<double> l_whole;
    int l_size = 0;
    for (auto _ : state)
    {
        auto l_start = std::chrono::steady_clock::now();
        FileInfoMap l_files;
        AttributeTranslationTable l_table;
        l_index.mp_shares->GetSharedFilesAsUserShare("bob", l_files, l_table);
        l_build.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - l_start).count());
        l_start = std::chrono::steady_clock::now();
        MemStream l_message = l_index.mp_shares->GetSharedFilesMessage("bob");
        const double l_ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - l_start).count();
        l_whole.push_back(l_ms);
        state.SetIterationTime(l_ms / 1000);
        l_size = l_message.GetWriteIndex();
    }
    // The body before compression, copied: the bytes that compression works through.
    FileInfoMap l_files;
    AttributeTranslationTable l_table;
    l_index.mp_shares->GetSharedFilesAsUserShare("bob", l_files, l_table);
    MemStream l_body;
    l_body.Write(l_files);
    const std::vector<char> l_source(l_body.GetBuffer(), l_body.GetBuffer() + l_body.GetWriteIndex());
    std::vector<char> l_target(l_source.size());
    std::vector<double> l_copies;
    for (int l_run = 0; l_run < 20; ++l_run)
    {
        const auto l_start = std::chrono::steady_clock::now();
        std::memcpy(l_target.data(), l_source.data(), l_source.size());
        benchmark::ClobberMemory();
        l_copies.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - l_start).count());
    }
    const double l_memcpy = Percentile(l_copies, 0.5);
    state.counters["build_ms"] = Percentile(l_build, 0.5);
    state.counters["message_ms"] = Percentile(l_whole, 0.5);
    state.counters["body_MiB"] = static_cast<double>(l_source.size()) / 1048576.0;
    state.counters["compressed_MiB"] = l_size / 1048576.0;
    state.counters["of_frame_limit"] = l_size / double(SharedFoldersManager::MaxMessageLength);
    state.counters["x_memcpy"] = Percentile(l_whole, 0.5) / l_memcpy;
}
} // namespace

BENCHMARK(BM_SearchMiss)->UseManualTime()->Iterations(20000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SearchRareWord)->UseManualTime()->Iterations(5000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SearchCommonAndRareWord)->UseManualTime()->Iterations(5000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SearchHalfTheFiles)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ShareList)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
