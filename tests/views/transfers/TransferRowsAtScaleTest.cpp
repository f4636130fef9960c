
#include <functional>

#include "TransfersFixture.h"
#include "shell/RowNodes.h"
#include "views/transfers/DownloadMenuOptions.h"

// A list that holds thousands of rows holds no bar widget, and rows that go together leave it
// together.
class TransferRowsAtScale : public TransfersFixture
{
protected:
    void SetUp() override
    {
        TransfersFixture::SetUp();
        Load();
    }
    // The widgets a list holds in its rows, deletions flushed.
    static int RowWidgets(QTreeWidget* ip_list)
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return ip_list->viewport()->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly).size();
    }
    // Every row with its bar, depth first.
    QStringList RowsAndBars(QTreeWidget* ip_list) const
    {
        QStringList l_rows = Rows(ip_list);
        int l_index = 0;
        for (QTreeWidgetItemIterator l_it(ip_list); *l_it; ++l_it)
            l_rows[l_index++] += " " + BarText(*l_it);
        return l_rows;
    }
    // bob's downloads in two folders and carl's in one: finished ones whose bars are drawn,
    // one still running, queued ones, and a failed one.
    void Downloads()
    {
        for (int l_index = 0; l_index < 6; ++l_index)
        {
            const ItemPtr l_entry = Add("bob", "Music\\Album", "a" + std::to_string(l_index) + ".mp3");
            Run(l_entry, 0, 1024);
            Report(l_entry, 1048576, 1024);
            SetStatus(l_entry, false, l_index == 5 ? Aborted : Complete);
        }
        for (const char* l_name : {"b0.mp3", "b1.mp3", "b2.mp3"})
            Add("bob", "Music\\Other", l_name);
        const ItemPtr l_running = Add("bob", "Music\\Other", "b3.mp3");
        Run(l_running, 0, 1024);
        Report(l_running, 524288, 1024);
        for (const char* l_name : {"c0.mp3", "c1.mp3"})
        {
            const ItemPtr l_entry = Add("carl", "Music\\Third", l_name);
            Run(l_entry, 0, 1024);
            Report(l_entry, 2097152, 1024);
            SetStatus(l_entry, false, Complete);
        }
        Settle();
    }
};

TEST_F(TransferRowsAtScale, ATransfersBarIsDrawnWithoutAWidgetWhetherItRunsOrStopped)
{
    // How the transfer stops, and whether another transfer of its folder still runs.
    const std::tuple<const char*, bool, bool> l_cases[] = {
        {Complete, false, false}, {Aborted, false, false}, {Queued, false, false},
        {LocalError, true, false}, {Complete, true, true}, {Aborted, true, true}};
    std::vector<std::pair<QString, qint64>> l_shared;
    for (std::size_t l_case = 1; l_case <= std::size(l_cases); ++l_case)
        for (const char* l_end : {"a.mp3", "b.mp3"})
            l_shared.emplace_back(QString("%1%2").arg(l_case).arg(l_end), 2097152);
    Share(l_shared);
    int l_case = 0;
    for (const auto& [l_status, l_upload, l_neighbourRuns] : l_cases)
    {
        SCOPED_TRACE(QString("%1 %2%3").arg(l_status).arg(l_upload ? "upload" : "download").arg(l_neighbourRuns ? " beside a running one" : "").toStdString());
        QTreeWidget* lp_list = l_upload ? mp_uploads : mp_downloads;
        const QString l_user = QString("user%1").arg(++l_case);
        const auto l_new = [&](const QString& i_name) {
            return l_upload ? Upload(l_user, i_name) : Add(l_user, "Music\\Album", i_name.toStdString());
        };
        const ItemPtr l_entry = l_new(QString("%1a.mp3").arg(l_case));
        const ItemPtr l_neighbour = l_new(QString("%1b.mp3").arg(l_case));
        Run(l_entry, 0, 1024, l_upload);
        if (l_neighbourRuns)
            Run(l_neighbour, 0, 1024, l_upload);
        QTreeWidgetItem* lp_row = RowOf(l_entry, l_upload);
        QTreeWidgetItem* lp_folder = lp_row->parent();
        lp_folder->setExpanded(false);
        Report(l_entry, 1048576, 1024, l_upload);
        const auto l_bars = [&] {
            QStringList l_texts;
            for (QTreeWidgetItemIterator l_it(lp_list); *l_it; ++l_it)
                l_texts << BarText(*l_it);
            return l_texts;
        };
        const QStringList l_before = l_bars();
        EXPECT_EQ(RowWidgets(lp_list), 0);

        SetStatus(l_entry, l_upload, l_status);
        // The same bars show, and still no widget.
        EXPECT_EQ(BarText(lp_row), "1,048,576 (50.0%) [50]");
        EXPECT_EQ(BarText(lp_folder), "1,048,576 (25.0%) [25]");
        EXPECT_EQ(RowWidgets(lp_list), 0);
        EXPECT_EQ(l_bars(), l_before);

        // Running again, the row's bar shows the new figures.
        Run(l_entry, 0, 1024, l_upload);
        Report(l_entry, 1572864, 1024, l_upload);
        EXPECT_EQ(BarText(lp_row), "1,572,864 (75.0%) [75]");
        EXPECT_EQ(RowWidgets(lp_list), 0);
        // Opening a group row takes its bar away, drawn or live.
        SetStatus(l_entry, l_upload, Aborted);
        lp_folder->setExpanded(true);
        EXPECT_EQ(BarText(lp_folder), "no bar");
    }
}

TEST_F(TransferRowsAtScale, RowsRemovedTogetherLeaveTheListsAsRowsRemovedOneByOne)
{
    const auto l_selectOnly = [&](QTreeWidgetItem* ip_row) {
        mp_downloads->clearSelection();
        ip_row->setSelected(true);
    };
    const auto l_row = [&](const char* i_file) {
        return RowOf(d.GetType("file_name")->HasItem(i_file).GetItems("download_entry"));
    };
    // How many go at once, and which downloads the same removal takes one by one.
    const std::pair<const char*, std::function<void()>> l_cases[] = {
        {"clear complete", [&] { Trigger(mp_downloads, "clear_complete_downloads"); }},
        {"delete a user row", [&] { l_selectOnly(l_row("a0.mp3")->parent()->parent()); QTest::keyClick(mp_downloads, Qt::Key_Delete); }},
        {"delete a folder row", [&] { l_selectOnly(l_row("b0.mp3")->parent()); QTest::keyClick(mp_downloads, Qt::Key_Delete); }},
        {"delete rows of two folders", [&] {
             l_selectOnly(l_row("a1.mp3"));
             for (const char* l_file : {"a2.mp3", "b3.mp3", "c0.mp3", "c1.mp3"})
                 l_row(l_file)->setSelected(true);
             QTest::keyClick(mp_downloads, Qt::Key_Delete);
         }},
        {"the menu's removal over a user row", [&] {
             DownloadsMenu({l_row("a0.mp3")->parent()->parent()}, "Remove downloads");
         }},
    };
    for (const auto& [l_name, l_remove] : l_cases)
    {
        SCOPED_TRACE(l_name);
        Downloads();
        const auto l_names = [] {
            QStringList l_files;
            for (ItemPtr l_entry : g("download_entry"))
                l_files << l_entry["file_name"].AsString();
            return l_files;
        };
        const QStringList l_all = l_names();
        l_remove();
        Settle();
        const QStringList l_together = RowsAndBars(mp_downloads);
        const int l_widgets = RowWidgets(mp_downloads);
        EXPECT_EQ(Nodes("download_list_node"), std::size_t(g("download_entry").Size()));
        QStringList l_gone = l_all;
        for (const QString& l_left : l_names())
            l_gone.removeOne(l_left);
        EXPECT_FALSE(l_gone.isEmpty());
        for (ItemPtr l_entry : g("download_entry"))
            mp_manager->RemoveDownload(l_entry);

        Downloads();
        for (ItemPtr l_entry : g("download_entry"))
            if (l_gone.contains(l_entry["file_name"].AsString()))
                mp_manager->RemoveDownload(l_entry);
        Settle();
        EXPECT_EQ(l_together, RowsAndBars(mp_downloads));
        EXPECT_EQ(l_widgets, RowWidgets(mp_downloads));
        for (ItemPtr l_entry : g("download_entry"))
            mp_manager->RemoveDownload(l_entry);
        EXPECT_EQ(mp_downloads->topLevelItemCount(), 0);
    }
}

namespace
{
// Queues a download again in the folder of each one removed, as a removal handler might.
class Requeuer : public DataHandler
{
public:
    explicit Requeuer(TransferQueueManager* ip_manager) : mp_manager(ip_manager)
    {
        d.GetType("download_entry")->m_removedEvent.AddHandler(NewEventHandler(this, &Requeuer::OnRemoved));
    }
    void OnRemoved(ItemPtr i_entry)
    {
        const std::string l_name = i_entry["file_name"].AsStdString();
        if (l_name.rfind("again ", 0) != 0)
            mp_manager->AddDownload(i_entry["user"].AsString(), "again " + l_name, i_entry["remote_folder"].AsStdString(), 10, 0);
    }

private:
    TransferQueueManager* mp_manager;
};
} // namespace

TEST_F(TransferRowsAtScale, ADownloadQueuedInAFolderWhileItsRowsGoKeepsOrGetsRowsOfItsOwn)
{
    Downloads();
    Add("dave", "Music\\Solo", "d0.mp3");
    const Requeuer l_requeuer(mp_manager.get());
    // The user whose row goes, and what is left of that user afterwards: carl's folder never
    // empties, since each new download comes before the next one goes, and keeps the time left
    // its last report gave it; dave's empties, and his new download gets a user row and a folder
    // row anew.
    const std::pair<const char*, QStringList> l_cases[] = {
        {"carl", {"+0=carl(offline)", "  +1=Third/Music 5=   0s", "    2=again c0.mp3 3=queued 7=10", "    2=again c1.mp3 3=queued 7=10"}},
        {"dave", {"+0=dave(offline)", "  +1=Solo/Music", "    2=again d0.mp3 3=queued 7=10"}},
    };
    for (const auto& [l_user, l_left] : l_cases)
    {
        SCOPED_TRACE(l_user);
        mp_downloads->clearSelection();
        RowOfNode(User(l_user)["download_list_user_node"])->setSelected(true);
        QTest::keyClick(mp_downloads, Qt::Key_Delete);
        Settle();
        const QStringList l_rows = Rows(mp_downloads);
        const int l_first = l_rows.indexOf(QRegularExpression(QString("\\+0=%1.*").arg(l_user)));
        ASSERT_GE(l_first, 0);
        EXPECT_EQ(l_rows.mid(l_first, l_left.size()), l_left);
        EXPECT_EQ(l_rows.filter(QString("0=%1").arg(l_user)).size(), 1);
    }
    EXPECT_EQ(mp_downloads->topLevelItemCount(), 3);
    EXPECT_EQ(Nodes("download_list_user_node"), 3u);
    EXPECT_EQ(Nodes("download_list_folder_node"), 4u);
    EXPECT_EQ(Nodes("download_list_node"), std::size_t(g("download_entry").Size()));
}
