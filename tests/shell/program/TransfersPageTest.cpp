#include "ProgramFixture.h"
#include "transfers/TransferQueueManager.h"
#include "views/search/SearchForm.h"
#include "views/transfers/TransfersForm.h"

namespace
{
// Each row's non-empty texts joined by "|", indented by level.
QStringList Rows(QTreeWidget* ip_list)
{
    QStringList l_rows;
    for (QTreeWidgetItemIterator l_it(ip_list); *l_it; ++l_it)
    {
        QStringList l_cells;
        for (int l_column = 0; l_column < ip_list->columnCount(); ++l_column)
            if (!(*l_it)->text(l_column).isEmpty())
                l_cells << (*l_it)->text(l_column);
        int l_depth = 0;
        for (QTreeWidgetItem* lp_up = (*l_it)->parent(); lp_up; lp_up = lp_up->parent())
            ++l_depth;
        l_rows << QString(l_depth * 2, ' ') + l_cells.join('|');
    }
    return l_rows;
}
} // namespace

using TransfersPage = ProgramFixture;

TEST_F(TransfersPage, TheWindowShowsTheSavedDownloadsInQueueOrderAndCountsTheActiveOnesInItsTitle)
{
    // Three downloads of bob's, saved out of queue order, the first one running when the client stopped.
    m_store.Valueless("download_entry");
    for (const auto& [l_file, l_order] : {std::pair{"late.mp3", "30"}, {"first.mp3", "10"}, {"middle.mp3", "20"}})
    {
        const QString l_entry = l_file;
        for (const auto& [l_type, l_value] : {std::pair<const char*, QString>{"user", "bob"}, {"file_name", l_file},
                                             {"download_order", l_order}, {"remote_folder", "Music\\Album"},
                                             {"file_size", "1048576"}, {"download_entry_status", "downloading"}})
            m_store.Link("download_entry", l_entry, l_type, l_value);
    }
    StartLoggedIn();
    TransfersForm* lp_form = mp_ui->transfersForm;
    ASSERT_EQ(transfersForm, lp_form);
    const auto l_title = [&] { return mp_ui->tabControl->tabText(mp_ui->tabControl->indexOf(lp_form)); };
    EXPECT_EQ(l_title(), "Transfers [0/0]");
    // A download that was running when the client stopped waits in the queue again.
    EXPECT_EQ(Rows(lp_form->DownloadsList()),
              (QStringList{"bob", "  Album/Music", "    first.mp3|queued|1,048,576", "    middle.mp3|queued|1,048,576",
                           "    late.mp3|queued|1,048,576"}));

    // The first one runs: counted in the window's tab title.
    const ItemPtr l_first = d.GetType("file_name")->HasItem("first.mp3").GetItems("download_entry");
    transferQueueManager->SetDownloadEntryStatus(l_first, "downloading");
    EXPECT_EQ(l_title(), "Transfers [1/0]");
}

// The search that found a download, run again from the download's menu: a search of all users
// under a new token, with a result tab of its own, and no request for related searches.
TEST_F(TransfersPage, RerunningTheSearchOfADownloadOpensANewTabUnderANewToken)
{
    StartLoggedIn();
    const ItemPtr l_entry = transferQueueManager->AddDownload("bob", "a.mp3", "Music", 10, 0);
    l_entry += d.GetType("search_request_text")->GetItem("jazz & blues");
    mp_ui->transfersForm->DownloadsList()->topLevelItem(0)->child(0)->child(0)->setSelected(true);
    QStringList l_menu;
    Desktop::SetPopupMenu([&](QMenu& io_menu, const QPoint&) {
        for (QAction* lp_action : io_menu.actions())
            if (lp_action->text().startsWith("Re-run"))
            {
                l_menu << lp_action->text();
                lp_action->trigger();
            }
    });
    auto* lp_tabs = Child<QTabWidget>(searchForm, "searchTabControl");
    for (int l_run = 1; l_run <= 2; ++l_run)
    {
        mp_ui->transfersForm->OnDownloadsContextMenuRequested(QPoint(1, 1));
        ASSERT_TRUE(QTest::qWaitFor([&] { return m_server.FramesWithCode(26).size() == l_run; }, 5000));
        EXPECT_EQ(lp_tabs->count(), l_run);
        EXPECT_EQ(lp_tabs->tabText(l_run - 1), "jazz && blues");
    }
    EXPECT_EQ(l_menu, (QStringList{"Re-run Search: jazz && blues", "Re-run Search: jazz && blues"}));
    const QList<FakeCentralServer::Frame> l_searches = m_server.FramesWithCode(26);
    EXPECT_EQ(WireFields().Text("jazz & blues"), QByteArray(l_searches[0].fields.mid(4)));
    EXPECT_EQ(l_searches[1].fields.mid(4), l_searches[0].fields.mid(4));
    EXPECT_NE(l_searches[0].fields.left(4), l_searches[1].fields.left(4));
    EXPECT_TRUE(m_server.FramesWithCode(153).isEmpty());
}
