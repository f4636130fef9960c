// One log line, as every engine writes many: stamped, indented and handed to the page that shows
// it. It is set against handing the same finished line to the same page, measured in the same
// run; "x_line" is that multiple and "extra_ns" what the stamping adds. For reference, the
// toolkit's own reading of the current local time, which reads and checks the zone file each
// time, is timed too.

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QString>

#include <algorithm>
#include <chrono>
#include <vector>

#include "../BenchApplication.h"
#include "diagnostics/Log.h"
#include "diagnostics/LogService.h"
#include "diagnostics/LogSink.h"

namespace
{
using Clock = std::chrono::steady_clock;

// What the diagnostics page does with a line, less the widget: it keeps its length.
class CountingSink : public LogSink
{
public:
    void LogLine(const QString& i_area, const QString& i_line) override
    {
        m_characters += i_area.size() + i_line.size();
    }
    qint64 m_characters = 0;
};

struct Setup
{
    Setup() : mp_app(NewBenchApplication()) { logService.InstallSink(&m_sink); }
    std::unique_ptr<QCoreApplication> mp_app;
    CountingSink m_sink;
};

Setup& TheSetup()
{
    static Setup s_setup;
    return s_setup;
}

const QString g_text = QStringLiteral("Sending search results to user %1 for search string %2")
                           .arg(QStringLiteral("bob"), QStringLiteral("rare words"));

double MedianNanoseconds(std::vector<double> i_samples)
{
    std::sort(i_samples.begin(), i_samples.end());
    return i_samples[i_samples.size() / 2];
}

// Batches of lines, each batch timed; the median batch divided by its size.
template <class Work>
double NanosecondsPerCall(Work i_work)
{
    constexpr int kBatch = 200;
    std::vector<double> l_batches;
    for (int l_run = 0; l_run < 200; ++l_run)
    {
        const auto l_start = Clock::now();
        for (int l_k = 0; l_k < kBatch; ++l_k)
            i_work();
        l_batches.push_back(std::chrono::duration<double, std::nano>(Clock::now() - l_start).count() / kBatch);
    }
    return MedianNanoseconds(l_batches);
}

void BM_LogLine(benchmark::State& state)
{
    Setup& l_setup = TheSetup();
    const QString l_stamp = LogService::Stamp(QDateTime::currentDateTime());
    double l_line = 0;
    double l_handed = 0;
    for (auto _ : state)
    {
        l_line = NanosecondsPerCall([] { Log("Search", 1, g_text); });
        // The finished line: the same text behind a stamp made beforehand.
        l_handed = NanosecondsPerCall([&] {
            l_setup.m_sink.LogLine(QStringLiteral("Search"),
                                   QLatin1Char('[') + l_stamp + QLatin1String("] ") +
                                       LogService::Indent(g_text, 1));
        });
        state.SetIterationTime(l_line / 1e9);
    }
    state.counters["line_ns"] = l_line;
    state.counters["handed_ns"] = l_handed;
    state.counters["x_line"] = l_line / l_handed;
    state.counters["extra_ns"] = l_line - l_handed;
    benchmark::DoNotOptimize(l_setup.m_sink.m_characters);
}

void BM_ToolkitLocalStamp(benchmark::State& state)
{
    double l_stamp = 0;
    for (auto _ : state)
    {
        l_stamp = NanosecondsPerCall([] {
            benchmark::DoNotOptimize(LogService::Stamp(QDateTime::currentDateTime()));
        });
        state.SetIterationTime(l_stamp / 1e9);
    }
    state.counters["stamp_ns"] = l_stamp;
}
} // namespace

BENCHMARK(BM_LogLine)->UseManualTime()->Iterations(3)->Unit(benchmark::kNanosecond);
BENCHMARK(BM_ToolkitLocalStamp)->UseManualTime()->Iterations(3)->Unit(benchmark::kNanosecond);
BENCHMARK_MAIN();
