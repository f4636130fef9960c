// Appending chat lines to a room view that sits at its 250,000-character ceiling, where every
// line costs one export of the view's HTML source and, now and then, the cut and the rebuild.
// Set against appending the same fragment to a plain QString held under the same ceiling: the
// ratio shows what the rich-text view and its size check cost per line, and a ratio that grows
// with the run length would show a view that is not bounded.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTextBrowser>

#include <algorithm>
#include <chrono>
#include <memory>

#include "store/DataSaver.h"
#include "store/GeneralFunctions.h"
#include "store/Settings.h"
#include "store/TimerManager.h"
#include "support/support/ClientSchema.h"
#include "ViewsBenchApp.h"
#include "views/chat/ChatRenderer.h"

namespace
{
constexpr int kLines = 10000;
const QString kText =
    "a line of room chat with a link http://example.org/x?a=1&b=2 and <b>markup</b>";

struct Setting
{
    static Setting& Get()
    {
        static Setting s_setting;
        return s_setting;
    }

    Setting()
    {
        ViewsBenchApp();
        SetSetting("chat_timestamps", "per_message_long");
        SetSetting("color_chat_username", "#0033ff");
        SetSetting("color_chat_timestamp", "#0066ff");
        SetSetting("color_chat_status", "#339933");
    }
};

double g_baselineNsPerLine = 0;

double NsPerLine(std::chrono::steady_clock::duration i_elapsed, benchmark::IterationCount i_lines)
{
    return double(std::chrono::duration_cast<std::chrono::nanoseconds>(i_elapsed).count()) /
           double(i_lines);
}

void BM_AppendToQStringUnderTheCeiling(benchmark::State& state)
{
    Setting::Get();
    const QString l_line =
        ConvertLinks(ChatRenderer::ChatLineHtml("per_message_long", QDateTime::currentDateTime(),
                                                "ann", kText)) + "\n";
    QString l_source;
    while (l_source.size() <= ChatRenderer::ViewHtmlLimit)
        l_source += l_line;
    const auto l_start = std::chrono::steady_clock::now();
    for (auto _ : state)
    {
        if (l_source.size() > ChatRenderer::ViewHtmlLimit)
            l_source.remove(0, l_source.indexOf('\n', ChatRenderer::ViewHtmlCut) + 1);
        l_source += l_line;
        benchmark::DoNotOptimize(l_source.data());
    }
    g_baselineNsPerLine = NsPerLine(std::chrono::steady_clock::now() - l_start, state.iterations());
}

void BM_AppendToRoomViewAtTheCeiling(benchmark::State& state)
{
    Setting::Get();
    QTextBrowser l_view;
    ChatRenderer l_renderer(&l_view, ChatRenderer::Kind::Room);
    // Up to the first cut, so that the timed lines all meet a full view.
    while (l_view.toHtml().size() <= ChatRenderer::ViewHtmlLimit)
        l_renderer.AddChat("ann", kText);
    l_renderer.AddChat("ann", kText);

    int l_largest = 0;
    int l_lines = 0;
    std::chrono::steady_clock::duration l_appending{};
    for (auto _ : state)
    {
        const auto l_start = std::chrono::steady_clock::now();
        l_renderer.AddChat("ann", kText);
        l_appending += std::chrono::steady_clock::now() - l_start;
        if (++l_lines % 100 == 0)
        {
            state.PauseTiming();
            l_largest = std::max(l_largest, l_view.toHtml().size());
            state.ResumeTiming();
        }
    }
    const double l_ns = NsPerLine(l_appending, state.iterations());
    state.counters["largest_html"] = l_largest;
    if (g_baselineNsPerLine > 0)
        state.counters["ratio_to_qstring"] = l_ns / g_baselineNsPerLine;
}

// The size check alone: one export of a full view's source, which every line pays.
void BM_ExportFullViewSource(benchmark::State& state)
{
    Setting::Get();
    QTextBrowser l_view;
    ChatRenderer l_renderer(&l_view, ChatRenderer::Kind::Room);
    while (l_view.toHtml().size() <= ChatRenderer::ViewHtmlLimit - 2000)
        l_renderer.AddChat("ann", kText);
    for (auto _ : state)
        benchmark::DoNotOptimize(l_view.toHtml().size());
}
} // namespace

BENCHMARK(BM_AppendToQStringUnderTheCeiling)->Iterations(kLines)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AppendToRoomViewAtTheCeiling)->Iterations(kLines)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ExportFullViewSource)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
