// The completed downloads and the clearing of finished downloads, each against the same rows
// added to or removed from a bare tree in the same run.
//
// Open: 10,000 stored records listed at once, newest first, then one record more; the bare tree
// makes and takes the same 10,000 rows of five texts, unsorted, then one row at its top.
// Clear: "Clear Complete" over 2,000 finished downloads of one user in 20 folders; the bare tree
// loses the same 2,000 file rows from 20 folder rows.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QTreeWidget>

#include <chrono>
#include <memory>
#include <string>

#include "TransfersBenchEngine.h"
#include "transfers/TransferStatus.h"
#include "views/transfers/CompleteDownloadsForm.h"

namespace
{
constexpr int kRecords = 10000;
constexpr int kFinished = 2000;
constexpr int kFolders = 20;

double Ms(std::chrono::steady_clock::time_point i_start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - i_start).count();
}

QString FileName(int i_index)
{
    return QString("track %1.mp3").arg((i_index * 7919) % kRecords);
}

ItemPtr NewRecord(int i_index, const QDateTime& i_time)
{
    const ItemPtr l_record = d.GetType("complete_download")->NewItem();
    l_record += d.GetType("user")->GetItem(QString("user%1").arg(i_index % 50));
    l_record += d.GetType("complete_download_relative_folder")->GetItem(QString("Folder%1").arg(i_index % 100));
    l_record += d.GetType("complete_download_filename")->GetItem(FileName(i_index));
    l_record += d.GetType("complete_download_file_size")->GetItem("5242880");
    l_record += d.GetType("complete_download_completion_time")->GetItem(TransferTimeStamp(i_time));
    return l_record;
}

// The records as the transfer queues keep them, finished a second apart in no particular order.
void MakeRecords()
{
    static bool s_made = false;
    if (s_made)
        return;
    s_made = true;
    TransfersBenchEngine::Get();
    const QDateTime l_start = QDateTime::currentDateTime().addDays(-1);
    for (int l_index = 0; l_index < kRecords; ++l_index)
        NewRecord(l_index, l_start.addSecs((l_index * 104729) % kRecords));
}

QList<QTreeWidgetItem*> BareRows()
{
    QList<QTreeWidgetItem*> l_rows;
    for (int l_index = 0; l_index < kRecords; ++l_index)
        l_rows << new QTreeWidgetItem(QStringList{FileName(l_index), QString("Folder%1").arg(l_index % 100),
                                                  QString("user%1").arg(l_index % 50), "5242880",
                                                  "Sun Dec 6 12:00:00 2026"});
    return l_rows;
}

double g_bareOpenMs = 0;
double g_bareAddMs = 0;
double g_bareClearMs = 0;

void BM_BareTreeTakesTheRows(benchmark::State& state)
{
    MakeRecords();
    double l_open = 1e300;
    double l_add = 1e300;
    for (auto _ : state)
    {
        QTreeWidget l_tree;
        l_tree.setColumnCount(5);
        auto l_start = std::chrono::steady_clock::now();
        l_tree.addTopLevelItems(BareRows());
        l_open = std::min(l_open, Ms(l_start));
        auto* lp_row = new QTreeWidgetItem(QStringList{"new.mp3", "Folder", "user", "5242880", "now"});
        l_start = std::chrono::steady_clock::now();
        l_tree.insertTopLevelItem(0, lp_row);
        l_add = std::min(l_add, Ms(l_start));
    }
    g_bareOpenMs = l_open;
    g_bareAddMs = l_add;
    state.counters["add_10000_ms"] = l_open;
    state.counters["add_one_ms"] = l_add;
}

void BM_CompletedDownloadsOpenOverTenThousandThenGainOne(benchmark::State& state)
{
    MakeRecords();
    double l_open = 1e300;
    double l_add = 1e300;
    int l_extra = kRecords;
    for (auto _ : state)
    {
        auto lp_list = std::make_unique<CompleteDownloadsForm>();
        auto l_start = std::chrono::steady_clock::now();
        lp_list->Init(true);
        l_open = std::min(l_open, Ms(l_start));
        const ItemPtr l_record = NewRecord(l_extra++, QDateTime::currentDateTime());
        l_start = std::chrono::steady_clock::now();
        lp_list->OnCompleteDownloadAdded(l_record);
        l_add = std::min(l_add, Ms(l_start));
        l_record.Remove();
    }
    state.counters["open_ms"] = l_open;
    state.counters["add_one_ms"] = l_add;
    if (g_bareOpenMs > 0)
    {
        state.counters["open_ratio_to_bare_tree"] = l_open / g_bareOpenMs;
        state.counters["add_one_ratio_to_bare_tree"] = l_add / g_bareAddMs;
    }
}

void BM_BareTreeLosesTheRows(benchmark::State& state)
{
    ViewsBenchApp();
    double l_best = 1e300;
    for (auto _ : state)
    {
        QTreeWidget l_tree;
        l_tree.setColumnCount(9);
        auto* lp_user = new QTreeWidgetItem(&l_tree, QStringList{"bob"});
        std::vector<QTreeWidgetItem*> l_rows;
        for (int l_folder = 0; l_folder < kFolders; ++l_folder)
        {
            auto* lp_folder = new QTreeWidgetItem(lp_user, QStringList{"", QString("Folder%1").arg(l_folder)});
            for (int l_file = 0; l_file < kFinished / kFolders; ++l_file)
                l_rows.push_back(new QTreeWidgetItem(lp_folder, QStringList{"", "", "file.mp3", "complete"}));
        }
        const auto l_start = std::chrono::steady_clock::now();
        for (QTreeWidgetItem* lp_row : l_rows)
            delete lp_row;
        l_best = std::min(l_best, Ms(l_start));
    }
    g_bareClearMs = l_best;
    state.counters["remove_2000_ms"] = l_best;
}

void BM_ClearCompleteOverTwoThousandDownloads(benchmark::State& state)
{
    TransfersBenchEngine& l_engine = TransfersBenchEngine::Get();
    double l_best = 1e300;
    for (auto _ : state)
    {
        state.PauseTiming();
        l_engine.RemoveAll();
        l_engine.NewForm();
        l_engine.AddDownloads("bob", kFinished, kFinished / kFolders);
        for (ItemPtr l_entry : g("download_entry"))
            l_engine.mp_manager->SetDownloadEntryStatus(l_entry, transfer_status::Complete);
        l_engine.mp_form->OnTransfersLoaded();
        QCoreApplication::processEvents();
        state.ResumeTiming();
        const auto l_start = std::chrono::steady_clock::now();
        l_engine.mp_form->OnActionBarTriggered(nullptr, "clear_complete_downloads");
        l_best = std::min(l_best, Ms(l_start));
    }
    QCoreApplication::processEvents();
    state.counters["clear_ms"] = l_best;
    if (g_bareClearMs > 0)
        state.counters["ratio_to_bare_tree"] = l_best / g_bareClearMs;
}
} // namespace

BENCHMARK(BM_BareTreeTakesTheRows)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CompletedDownloadsOpenOverTenThousandThenGainOne)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareTreeLosesTheRows)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ClearCompleteOverTwoThousandDownloads)->Iterations(5)->Unit(benchmark::kMillisecond);
