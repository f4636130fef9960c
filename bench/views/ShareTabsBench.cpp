// A browse tab over a received list of 20 files per folder (200,000 files in 10,000 folders at
// full size, one folder holding 2,000 files). Three costs, each set against building the same
// rows in a bare QTreeWidget, timed in turn with it in every iteration:
// - from the messenger's list to a shown, expanded tree (the store's tree, the folder rows); at
//   three list sizes, where a time per folder (ns_per_folder) that stays flat shows a linear
//   cost (the bare tree's own fixed costs make its ratio climb with the size);
// - a click on the 2,000-file folder, against 2,000 bare rows; in shares of two sizes, where an
//   equal ratio shows a cost that follows the folder, not the share;
// - one filter keystroke that no folder name satisfies, so every file is tested, against the
//   bare folder rows.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QLineEdit>
#include <QTabWidget>
#include <QTreeWidget>

#include <chrono>
#include <memory>
#include <string>

#include "ViewsBenchApp.h"
#include "store/Data.h"
#include "store/Settings.h"
#include "views/search/ShareForm.h"
#include "views/search/SharesForm.h"

namespace
{
constexpr int kFilesPerFolder = 20;
constexpr int kBigFolder = 2000;

using Clock = std::chrono::steady_clock;

double Ns(Clock::duration i_elapsed)
{
    return double(std::chrono::duration_cast<std::chrono::nanoseconds>(i_elapsed).count());
}

// Folder i is artist i / 10; its album i % 10, the artist's own folder for album 0.
std::string FolderPath(int i_folder)
{
    std::string l_path = "Music\\Artist " + std::to_string(i_folder / 10);
    if (i_folder % 10)
        l_path += "\\Album " + std::to_string(i_folder % 10);
    return l_path;
}

// A list of that many folders, the last one the big folder.
FileInfoMap MakeList(int i_folders)
{
    FileInfoMap l_list;
    for (int l_folder = 0; l_folder < i_folders; ++l_folder)
    {
        const bool l_big = l_folder == i_folders - 1;
        std::set<FileInfo>& l_files = l_list[l_big ? "Music\\Big" : FolderPath(l_folder)];
        for (int l_index = 0; l_index < (l_big ? kBigFolder : kFilesPerFolder); ++l_index)
        {
            FileInfo l_file;
            l_file.name = "Track " + std::to_string(l_index) + " of " + std::to_string(l_folder) + ".mp3";
            l_file.size = 3000000 + l_index * 1000 + l_folder;
            l_file.attributeMap.attributes = {{0, 128 + l_index % 4 * 64}, {1, 180 + l_index}};
            l_files.insert(l_file);
        }
    }
    return l_list;
}

// The same folder rows, in a bare tree, shown and laid out.
Clock::duration BuildBareFolderRows(const FileInfoMap& i_list)
{
    QTreeWidget l_tree;
    l_tree.show();
    const auto l_start = Clock::now();
    std::map<std::string, QTreeWidgetItem*> l_rows;
    for (const auto& l_folder : i_list)
    {
        const std::string& l_path = l_folder.first;
        const auto l_parent = l_rows.find(l_path.substr(0, l_path.rfind('\\')));
        auto* lp_row = l_parent == l_rows.end() ? new QTreeWidgetItem(&l_tree) : new QTreeWidgetItem(l_parent->second);
        lp_row->setText(0, QString::fromStdString(l_path.substr(l_path.rfind('\\') + 1)));
        l_rows[l_path] = lp_row;
    }
    l_tree.expandAll();
    QCoreApplication::processEvents();
    return Clock::now() - l_start;
}

// 2,000 rows of three cells in a bare, sorted list, shown.
Clock::duration BuildBareFileRows(QTreeWidget& io_list)
{
    const auto l_start = Clock::now();
    QList<QTreeWidgetItem*> l_rows;
    for (int l_index = 0; l_index < kBigFolder; ++l_index)
        l_rows << new QTreeWidgetItem(QStringList{QString("Track %1 of 9.mp3").arg(l_index), "3,000,000", "128 VBR, 3m0s"});
    io_list.addTopLevelItems(l_rows);
    QCoreApplication::processEvents();
    const auto l_elapsed = Clock::now() - l_start;
    io_list.clear();
    return l_elapsed;
}

// The engines and the browse page's types, made once.
struct Engine
{
    static Engine& Get()
    {
        static Engine s_engine;
        return s_engine;
    }

    Engine()
    {
        ViewsBenchBrowsePageTypes();
        SetSetting("expand_new_shares", "yes");
    }
};

// A shown browse page of a benchmark's own: a window must go before the toolkit's exit.
struct Page
{
    Page()
    {
        m_page.resize(900, 600);
        m_page.show();
    }

    // bob's tab showing the list. The tab is made as OpenShareBrowse makes it, without the
    // request to a peer that is not there.
    ShareForm* Show(FileInfoMap& io_list)
    {
        auto* lp_tab = new ShareForm("bob", nullptr);
        m_page.TabControl()->addTab(lp_tab, "bob");
        AttributeTranslationTable l_names;
        m_page.OnUserShare("bob", io_list, l_names);
        QCoreApplication::processEvents();
        return lp_tab;
    }
    void Close()
    {
        m_page.OnTabCloseRequested(0);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    Engine& m_engine = Engine::Get();
    SharesForm m_page;
};

QTreeWidgetItem* BigFolderRow(ShareForm* ip_tab)
{
    QTreeWidget* lp_tree = ip_tab->findChild<QTreeWidget*>("folderTree");
    return lp_tree->topLevelItem(lp_tree->topLevelItemCount() - 1);
}

void BM_ReceivedListToShownTree(benchmark::State& state)
{
    Page l_page;
    FileInfoMap l_list = MakeList(int(state.range(0)));
    Clock::duration l_showing{}, l_bare{};
    for (auto _ : state)
    {
        l_bare += BuildBareFolderRows(l_list);
        const auto l_start = Clock::now();
        l_page.Show(l_list);
        l_showing += Clock::now() - l_start;
        state.PauseTiming();
        l_page.Close();
        state.ResumeTiming();
    }
    const double l_iterations = double(state.iterations());
    state.counters["files"] = double(state.range(0) - 1) * kFilesPerFolder + kBigFolder;
    state.counters["ms"] = Ns(l_showing) / l_iterations / 1e6;
    state.counters["ns_per_folder"] = Ns(l_showing) / l_iterations / double(state.range(0));
    state.counters["ratio_to_bare_tree"] = Ns(l_showing) / Ns(l_bare);
}

void BM_ClickOnTheBigFolder(benchmark::State& state)
{
    Page l_page;
    FileInfoMap l_list = MakeList(int(state.range(0)));
    ShareForm* lp_tab = l_page.Show(l_list);
    QTreeWidget* lp_tree = lp_tab->findChild<QTreeWidget*>("folderTree");
    QTreeWidgetItem* lp_big = BigFolderRow(lp_tab);
    QTreeWidget l_bareList;
    l_bareList.setColumnCount(3);
    l_bareList.setSortingEnabled(true);
    l_bareList.show();
    Clock::duration l_clicking{}, l_bare{};
    for (auto _ : state)
    {
        l_bare += BuildBareFileRows(l_bareList);
        lp_tree->setCurrentItem(lp_tree->topLevelItem(0));
        const auto l_start = Clock::now();
        lp_tree->setCurrentItem(lp_big);
        QCoreApplication::processEvents();
        l_clicking += Clock::now() - l_start;
    }
    state.counters["share_folders"] = double(state.range(0));
    state.counters["ms"] = Ns(l_clicking) / double(state.iterations()) / 1e6;
    state.counters["ratio_to_bare_rows"] = Ns(l_clicking) / Ns(l_bare);
    l_page.Close();
}

void BM_FilterKeystroke(benchmark::State& state)
{
    Page l_page;
    FileInfoMap l_list = MakeList(int(state.range(0)));
    ShareForm* lp_tab = l_page.Show(l_list);
    QLineEdit* lp_filter = lp_tab->findChild<QLineEdit*>("filterEdit");
    Clock::duration l_filtering{}, l_bare{};
    int l_keystroke = 0;
    for (auto _ : state)
    {
        l_bare += BuildBareFolderRows(l_list);
        const auto l_start = Clock::now();
        lp_filter->setText(++l_keystroke % 2 ? "lov" : "love");
        QCoreApplication::processEvents();
        l_filtering += Clock::now() - l_start;
    }
    state.counters["ms"] = Ns(l_filtering) / double(state.iterations()) / 1e6;
    state.counters["ratio_to_bare_tree"] = Ns(l_filtering) / Ns(l_bare);
    lp_filter->clear();
    l_page.Close();
}
} // namespace

// Folders: 2,500, 5,000 and 10,000, with 20 files each (the last one 2,000).
BENCHMARK(BM_ReceivedListToShownTree)->Arg(2500)->Arg(5000)->Arg(10000)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ClickOnTheBigFolder)->Arg(2500)->Arg(10000)->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FilterKeystroke)->Arg(10000)->Iterations(10)->Unit(benchmark::kMillisecond);
