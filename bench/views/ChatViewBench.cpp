// Appending chat lines to a room view that sits at its 250,000-character ceiling, where the
// renderer must know the size of the view's HTML source for every line and, now and then, drops
// its oldest paragraphs. Set against appending the same line to a bare view kept far below the
// ceiling: the ratio shows what the ceiling costs per line, and a ratio that grows with the run
// length would show a view that is not bounded.
#include <benchmark/benchmark.h>

#include <QTextBrowser>

#include <algorithm>
#include <chrono>
#include <memory>

#include "store/GeneralFunctions.h"
#include "store/Settings.h"
#include "ViewsBenchApp.h"
#include "views/chat/ChatRenderer.h"

namespace
{
constexpr int kLines = 10000;
// Far below the ceiling: about a fiftieth of it.
constexpr int kSmallViewParagraphs = 10;
const QString kText =
    "a line of room chat with a link http://example.org/x?a=1&b=2 and <b>markup</b>";

void WriteChatSettings()
{
    ViewsBenchApp();
    SetSetting("chat_timestamps", "per_message_long");
    SetSetting("color_chat_username", "#0033ff");
    SetSetting("color_chat_timestamp", "#0066ff");
    SetSetting("color_chat_status", "#339933");
}

double g_baselineNsPerLine = 0;

double NsPerLine(std::chrono::steady_clock::duration i_elapsed, benchmark::IterationCount i_lines)
{
    return double(std::chrono::duration_cast<std::chrono::nanoseconds>(i_elapsed).count()) /
           double(i_lines);
}

// The line as the renderer writes it, appended to a bare view that is emptied, untimed, every
// few paragraphs.
void BM_AppendToASmallView(benchmark::State& state)
{
    WriteChatSettings();
    const QString l_line = ConvertLinks(ChatRenderer::ChatLineHtml(
        "per_message_long", QDateTime::currentDateTime(), "ann", kText));
    QTextBrowser l_view;
    l_view.show();
    std::chrono::steady_clock::duration l_appending{};
    for (auto _ : state)
    {
        if (l_view.document()->blockCount() >= kSmallViewParagraphs)
            l_view.clear();
        const auto l_start = std::chrono::steady_clock::now();
        l_view.append(l_line);
        l_appending += std::chrono::steady_clock::now() - l_start;
    }
    g_baselineNsPerLine = NsPerLine(l_appending, state.iterations());
    state.counters["html"] = l_view.toHtml().size();
}

void BM_AppendToRoomViewAtTheCeiling(benchmark::State& state)
{
    WriteChatSettings();
    QTextBrowser l_view;
    l_view.show();
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
        state.counters["ratio_to_small_view"] = l_ns / g_baselineNsPerLine;
}

// What every line used to pay for the size check: one export of a full view's source.
void BM_ExportFullViewSource(benchmark::State& state)
{
    WriteChatSettings();
    QTextBrowser l_view;
    ChatRenderer l_renderer(&l_view, ChatRenderer::Kind::Room);
    while (l_view.toHtml().size() <= ChatRenderer::ViewHtmlLimit - 2000)
        l_renderer.AddChat("ann", kText);
    for (auto _ : state)
        benchmark::DoNotOptimize(l_view.toHtml().size());
}
} // namespace

BENCHMARK(BM_AppendToASmallView)->Iterations(kLines)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AppendToRoomViewAtTheCeiling)->Iterations(kLines)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ExportFullViewSource)->Unit(benchmark::kMicrosecond);
