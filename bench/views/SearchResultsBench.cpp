// A thousand users answer one search with fifty files each while the tab's filter is set: 50,000
// file rows under 1,000 users. Each reply is stored as the messenger stores it (not timed) and
// signalled to the search view (timed alone); then the delayed sort, and one filter keystroke over
// the whole tab, "word" and then "word mbr:192". Each is set against the same rows added, sorted
// and hidden in a bare QTreeWidget in the same run. A reply's time must not grow with the rows
// already in the tab: the last hundred replies' median is set against the first hundred's.
#include <benchmark/benchmark.h>

#include <QLineEdit>
#include <QTreeWidget>

#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

#include "ViewsBenchApp.h"
#include "peer/PeerMessenger.h"
#include "shares/SharedFoldersManager.h"
#include "shares/WishListSearcher.h"
#include "shell/ActionSetToolBar.h"
#include "shell/SizeManager.h"
#include "store/Data.h"
#include "store/DelayedInvoker.h"
#include "store/GeneralFunctions.h"
#include "views/search/SearchForm.h"
#include "views/search/SearchResultsForm.h"

namespace
{
constexpr int kUsers = 1000;
constexpr int kFiles = 50;
constexpr int kFolders = 5;
const QString kFilter = "word";
const QString kAttributeFilter = "word mbr:192";

using Clock = std::chrono::steady_clock;

double Ns(Clock::duration i_elapsed)
{
    return double(std::chrono::duration_cast<std::chrono::nanoseconds>(i_elapsed).count());
}

struct FileRow
{
    QString folder;
    QString name;
    qint64 size;
    int bitrate;
};

QString User(int i_user)
{
    return QString("user%1").arg((i_user * 7919) % kUsers);
}

// Every other name holds the filter's word; the bitrates go 128, 192, 320.
std::vector<FileRow> Files(int i_user)
{
    std::vector<FileRow> l_files;
    for (int l_file = 0; l_file < kFiles; ++l_file)
        l_files.push_back({QString("music\\artist %1\\album %2").arg(i_user).arg(l_file % kFolders),
                           QString("track %1%2.mp3").arg(l_file).arg(l_file % 2 ? "" : " word"),
                           qint64(3000000 + 1000 * l_file), (l_file % 3 == 0) ? 128 : (l_file % 3 == 1 ? 192 : 320)});
    return l_files;
}

// The view's engines as the start-up makes them, once per program.
struct SearchView
{
    static SearchView& Get()
    {
        static SearchView s_view;
        return s_view;
    }

    SearchView()
    {
        ViewsBenchShareEngines();
        WishListSearcher::CreateData();
        mp_invoker = std::make_unique<DelayedInvoker>();
        mp_actions = std::make_unique<ActionSetToolBar>();
        mp_sizes = std::make_unique<SizeManager>();
        mp_form = std::make_unique<SearchForm>();
        mp_form->Init();
    }

    std::unique_ptr<DelayedInvoker> mp_invoker;
    std::unique_ptr<ActionSetToolBar> mp_actions;
    std::unique_ptr<SizeManager> mp_sizes;
    std::unique_ptr<SearchForm> mp_form;
    quint32 m_token = 1;
};

// One user's reply to the search, as the messenger stores it.
ItemPtr StoreReply(ItemPtr i_request, int i_user)
{
    ItemPtr l_reply = d.GetType("search_results")->NewItem();
    for (const FileRow& l_file : Files(i_user))
    {
        ItemPtr l_result = d.GetType("search_result")->NewItem();
        l_result += d.GetType("bitrate")->GetItem(Value(l_file.bitrate));
        l_result += d.GetType("bitrate_mode")->GetItem("cbr");
        l_result += l_reply;
        l_result += d.GetType("search_result_file_name")->GetItem(Value(l_file.name));
        l_result += d.GetType("search_result_file_folder")->GetItem(Value(l_file.folder));
        l_result += d.GetType("file_size")->GetItem(Value(static_cast<long long>(l_file.size)));
    }
    l_reply += i_request;
    l_reply += d.GetType("user")->GetItem(User(i_user));
    l_reply += d.GetType("search_results_user_available")->GetItem(i_user % 4 ? "no" : "yes");
    l_reply += d.GetType("search_results_user_speed")->GetItem(Value(1024 * (i_user % 97)));
    l_reply += d.GetType("search_results_uploads_in_queue")->GetItem(Value(i_user % 13));
    return l_reply;
}

struct Figures
{
    double replyMedian = 0, replyWorst = 0, growth = 0, sort = 0, filter = 0, attributeFilter = 0;

    // Sums runs, then their mean.
    Figures& operator+=(const Figures& i_run)
    {
        replyMedian += i_run.replyMedian;
        replyWorst += i_run.replyWorst;
        growth += i_run.growth;
        sort += i_run.sort;
        filter += i_run.filter;
        attributeFilter += i_run.attributeFilter;
        return *this;
    }
    Figures Mean(benchmark::IterationCount i_runs) const
    {
        const double l_runs = double(i_runs);
        return {replyMedian / l_runs, replyWorst / l_runs, growth / l_runs,
                sort / l_runs,        filter / l_runs,     attributeFilter / l_runs};
    }
};

// Median and worst of the per-reply times, and the last hundred's median over the first hundred's.
void Summarise(std::vector<double> i_replies, Figures& o_figures)
{
    const auto l_median = [](std::vector<double> i_times) {
        std::nth_element(i_times.begin(), i_times.begin() + long(i_times.size() / 2), i_times.end());
        return i_times[i_times.size() / 2];
    };
    o_figures.growth = l_median({i_replies.end() - 100, i_replies.end()}) /
                       l_median({i_replies.begin(), i_replies.begin() + 100});
    o_figures.replyMedian = l_median(i_replies);
    o_figures.replyWorst = *std::max_element(i_replies.begin(), i_replies.end());
}

Figures g_bare;

// The hiding a filter does, by hand: a file shown when its name holds the word (and, with the
// bitrate, its row's last figure is at least 192), a folder and a user when anything below is.
bool HideBare(QTreeWidgetItem* ip_row, int i_level, bool i_bitrate)
{
    bool l_shown = false;
    if (i_level == 2)
        l_shown = ip_row->text(4).contains(kFilter, Qt::CaseInsensitive) &&
                  (!i_bitrate || ip_row->text(6).toInt() >= 192);
    for (int l_child = 0; l_child < ip_row->childCount(); ++l_child)
        l_shown = HideBare(ip_row->child(l_child), i_level + 1, i_bitrate) || l_shown;
    ip_row->setHidden(!l_shown);
    return l_shown;
}

void BM_BareTreeAddsSortsAndHidesTheRows(benchmark::State& state)
{
    ViewsBenchApp();
    Figures l_total;
    for (auto _ : state)
    {
        QTreeWidget l_tree;
        l_tree.setColumnCount(7);
        std::vector<double> l_replies;
        for (int l_user = 0; l_user < kUsers; ++l_user)
        {
            const std::vector<FileRow> l_files = Files(l_user);
            const auto l_start = Clock::now();
            auto* lp_user = new QTreeWidgetItem(&l_tree, {User(l_user), l_user % 4 ? QString::number(l_user % 13) : "Y",
                                                          QString::number(l_user % 97, 'f', 1)});
            QTreeWidgetItem* lp_folder = nullptr;
            for (const FileRow& l_file : l_files)
            {
                const QString l_folder = ReversePathname(l_file.folder);
                if (!lp_folder || lp_folder->text(3) != l_folder)
                    lp_folder = new QTreeWidgetItem(lp_user, {QString(), QString(), QString(), l_folder});
                new QTreeWidgetItem(lp_folder, {QString(), QString(), QString(), QString(), l_file.name,
                                                CommafyNumber(l_file.size), QString::number(l_file.bitrate)});
            }
            lp_user->setExpanded(true);
            HideBare(lp_user, 0, false);
            l_replies.push_back(Ns(Clock::now() - l_start));
        }
        Figures l_run;
        Summarise(l_replies, l_run);
        auto l_start = Clock::now();
        l_tree.sortByColumn(1, Qt::DescendingOrder);
        l_run.sort = Ns(Clock::now() - l_start);
        l_start = Clock::now();
        for (int l_user = 0; l_user < l_tree.topLevelItemCount(); ++l_user)
            HideBare(l_tree.topLevelItem(l_user), 0, false);
        l_run.filter = Ns(Clock::now() - l_start);
        l_start = Clock::now();
        for (int l_user = 0; l_user < l_tree.topLevelItemCount(); ++l_user)
            HideBare(l_tree.topLevelItem(l_user), 0, true);
        l_run.attributeFilter = Ns(Clock::now() - l_start);
        l_total += l_run;
    }
    g_bare = l_total.Mean(state.iterations());
    state.counters["reply_median_us"] = g_bare.replyMedian / 1e3;
    state.counters["reply_growth"] = g_bare.growth;
    state.counters["sort_ms"] = g_bare.sort / 1e6;
    state.counters["hide_ms"] = g_bare.filter / 1e6;
}

void BM_SearchTabTakesTheRepliesSortsAndFilters(benchmark::State& state)
{
    SearchView& l_view = SearchView::Get();
    Figures l_total;
    for (auto _ : state)
    {
        state.PauseTiming();
        const quint32 l_token = l_view.m_token++;
        ItemPtr l_request = d.GetType("search_request")->NewItem(Value(l_token));
        l_request += d.GetType("search_request_text")->GetItem("track");
        l_view.mp_form->CreateSearchForm(l_token, "track", GlobalSearch);
        auto* lp_tab = l_request["search_results_widget"].AsPointer<SearchResultsForm>();
        lp_tab->filterEdit()->setText(kFilter);
        state.ResumeTiming();

        std::vector<double> l_replies;
        for (int l_user = 0; l_user < kUsers; ++l_user)
        {
            state.PauseTiming();
            ItemPtr l_reply = StoreReply(l_request, l_user);
            state.ResumeTiming();
            const auto l_start = Clock::now();
            emit peerMessenger->SearchResults(l_reply);
            l_replies.push_back(Ns(Clock::now() - l_start));
        }
        Figures l_run;
        Summarise(l_replies, l_run);
        auto l_start = Clock::now();
        lp_tab->Sort();
        l_run.sort = Ns(Clock::now() - l_start);
        lp_tab->filterEdit()->setText(QString());
        l_start = Clock::now();
        lp_tab->filterEdit()->setText(kFilter);
        l_run.filter = Ns(Clock::now() - l_start);
        l_start = Clock::now();
        lp_tab->filterEdit()->setText(kAttributeFilter);
        l_run.attributeFilter = Ns(Clock::now() - l_start);
        if (lp_tab->searchResults()->topLevelItemCount() != kUsers)
            state.SkipWithError("the tab does not hold every user");

        state.PauseTiming();
        l_view.mp_form->OnTabCloseRequested(0);
        state.ResumeTiming();
        l_total += l_run;
    }
    const Figures l_mean = l_total.Mean(state.iterations());
    state.counters["reply_median_us"] = l_mean.replyMedian / 1e3;
    state.counters["reply_worst_us"] = l_mean.replyWorst / 1e3;
    state.counters["reply_growth"] = l_mean.growth;
    state.counters["sort_ms"] = l_mean.sort / 1e6;
    state.counters["filter_word_ms"] = l_mean.filter / 1e6;
    state.counters["filter_word_mbr_ms"] = l_mean.attributeFilter / 1e6;
    if (g_bare.replyMedian > 0)
    {
        state.counters["ratio_reply_median"] = l_mean.replyMedian / g_bare.replyMedian;
        state.counters["ratio_reply_worst"] = l_mean.replyWorst / g_bare.replyWorst;
        state.counters["ratio_sort"] = l_mean.sort / g_bare.sort;
        state.counters["ratio_filter_word"] = l_mean.filter / g_bare.filter;
        state.counters["ratio_filter_word_mbr"] = l_mean.attributeFilter / g_bare.attributeFilter;
    }
}
} // namespace

BENCHMARK(BM_BareTreeAddsSortsAndHidesTheRows)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchTabTakesTheRepliesSortsAndFilters)->Iterations(3)->Unit(benchmark::kMillisecond);
