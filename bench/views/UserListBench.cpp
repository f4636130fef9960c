// After a login the server reports every listed user online, one message after the other, and
// each report re-sorts the user list so that online users come first. With 5,000 listed users
// the burst is set against inserting the same 5,000 rows into a bare tree without sorting: the
// ratio shows what following the burst costs the window, sort included.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTreeWidget>

#include <chrono>
#include <memory>

#include "ViewsBenchApp.h"
#include "server/Server.h"
#include "store/Data.h"
#include "store/SchemaDeclaration.h"
#include "views/chat/UserListForm.h"

namespace
{
constexpr int kUsers = 5000;

QString Name(int i_index)
{
    // Mixed case and an order unrelated to the order of coming online.
    return QString("%1user%2").arg(i_index % 2 ? "A" : "b").arg((i_index * 7919) % kUsers);
}

struct UserList
{
    static UserList& Get()
    {
        static std::unique_ptr<UserList> s_list;
        if (!s_list)
        {
            s_list = std::make_unique<UserList>();
            ViewsBenchApp::AtExit([] { s_list.reset(); });
        }
        return *s_list;
    }

    UserList()
    {
        Server::CreateData();
        DeclareTypes({{"user_note", Intermediate, false}});
        DeclareRelations({{"user", "user_note", Many, One}});
        mp_form = std::make_unique<UserListForm>();
        mp_form->Init();
        for (int l_index = 0; l_index < kUsers; ++l_index)
            d.GetType("user")->GetItem(Name(l_index)).NewItem("in_user_list");
        dataSaver->EmitDataLoaded();
    }
    std::unique_ptr<UserListForm> mp_form;
};

double g_baselineNs = 0;

double Ns(std::chrono::steady_clock::duration i_elapsed)
{
    return double(std::chrono::duration_cast<std::chrono::nanoseconds>(i_elapsed).count());
}

void BM_InsertRowsIntoABareTree(benchmark::State& state)
{
    std::chrono::steady_clock::duration l_inserting{};
    for (auto _ : state)
    {
        QTreeWidget l_tree;
        const auto l_start = std::chrono::steady_clock::now();
        for (int l_index = 0; l_index < kUsers; ++l_index)
            (new QTreeWidgetItem(&l_tree))->setText(0, Name(l_index));
        l_inserting += std::chrono::steady_clock::now() - l_start;
    }
    g_baselineNs = Ns(l_inserting) / double(state.iterations());
}

void BM_ListedUsersComeOnlineAfterALogin(benchmark::State& state)
{
    UserList& l_list = UserList::Get();
    std::chrono::steady_clock::duration l_burst{};
    std::chrono::steady_clock::duration l_sorting{};
    for (auto _ : state)
    {
        const auto l_start = std::chrono::steady_clock::now();
        for (int l_index = 0; l_index < kUsers; ++l_index)
            d.GetType("user")->GetItem(Name(l_index)).NewItem("is_online");
        // The window's next turn of the event loop, where the waiting sort runs.
        const auto l_sortStart = std::chrono::steady_clock::now();
        QCoreApplication::sendPostedEvents();
        l_sorting += std::chrono::steady_clock::now() - l_sortStart;
        l_burst += std::chrono::steady_clock::now() - l_start;

        state.PauseTiming();
        for (ItemPtr l_user : g("user"))
            l_user.Disconnect("is_online");
        QCoreApplication::sendPostedEvents();
        state.ResumeTiming();
    }
    benchmark::DoNotOptimize(l_list.mp_form.get());
    const double l_ns = Ns(l_burst) / double(state.iterations());
    state.counters["burst_ms"] = l_ns / 1e6;
    state.counters["sort_ms"] = Ns(l_sorting) / double(state.iterations()) / 1e6;
    if (g_baselineNs > 0)
        state.counters["ratio_to_bare_tree"] = l_ns / g_baselineNs;
}
} // namespace

BENCHMARK(BM_InsertRowsIntoABareTree)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListedUsersComeOnlineAfterALogin)->Iterations(5)->Unit(benchmark::kMillisecond);
