#include <QProgressBar>

#include "ProgramFixture.h"
#include "shell/ColorSelectionDialog.h"
#include "transfers/TransferQueueManager.h"
#include "views/search/SearchForm.h"
#include "views/transfers/TransfersForm.h"

namespace
{
// A store file of settings and items of any types, each connection a pair of (type, index in
// that type's list); types are written in the order first named.
class ItemsStoreFile
{
public:
    ItemsStoreFile& Items(const QString& i_type, bool i_valueless, const QStringList& i_values)
    {
        m_types.push_back({i_type, i_valueless, i_values});
        return *this;
    }
    ItemsStoreFile& Connect(const QString& i_a, int i_a_index, const QString& i_b, int i_b_index)
    {
        m_pairs.push_back({{i_a, i_a_index}, {i_b, i_b_index}});
        return *this;
    }
    QByteArray Bytes() const
    {
        WireFields l_bytes;
        l_bytes.Int32(static_cast<qint32>(m_types.size()));
        std::map<std::pair<QString, int>, int> l_indexes;
        int l_next = 1;
        for (const Block& l_block : m_types)
        {
            l_bytes.Text(l_block.type).Byte(l_block.valueless).Int32(static_cast<qint32>(l_block.values.size()));
            for (int l_item = 0; l_item < l_block.values.size(); ++l_item)
            {
                l_indexes[{l_block.type, l_item}] = l_next;
                l_bytes.Int32(l_next++);
                if (!l_block.valueless)
                    l_bytes.Text(l_block.values[l_item]);
            }
        }
        l_bytes.Int32(static_cast<qint32>(m_pairs.size()));
        for (const auto& [l_a, l_b] : m_pairs)
            l_bytes.Int32(l_indexes.at(l_a)).Int32(l_indexes.at(l_b));
        return l_bytes;
    }

private:
    struct Block
    {
        QString type;
        bool valueless;
        QStringList values;
    };
    std::vector<Block> m_types;
    std::vector<std::pair<std::pair<QString, int>, std::pair<QString, int>>> m_pairs;
};
} // namespace

class TransfersPage : public ProgramFixture
{
protected:
    // The logged-in settings and three queued downloads of bob's, saved out of queue order.
    QByteArray SavedDownloads() const
    {
        ItemsStoreFile l_file;
        const QStringList l_keys = {"username", "password", "server_host", "server_port", "use_upnp", "web_host",
                                    "web_port"};
        const QStringList l_values = {"alice", "secret", "127.0.0.1", QString::number(m_server.Port()), "no",
                                      "127.0.0.1", QString::number(FakePeer::FreePort())};
        l_file.Items("global", false, l_keys).Items("global_value", false, l_values);
        for (int l_key = 0; l_key < l_keys.size(); ++l_key)
            l_file.Connect("global", l_key, "global_value", l_key);
        l_file.Items("download_entry", true, {"", "", ""}).Items("user", false, {"bob"})
            .Items("file_name", false, {"late.mp3", "first.mp3", "middle.mp3"})
            .Items("download_order", false, {"30", "10", "20"}).Items("remote_folder", false, {"Music\\Album"})
            .Items("file_size", false, {"1048576"}).Items("download_entry_status", false, {"downloading"});
        for (int l_entry = 0; l_entry < 3; ++l_entry)
            l_file.Connect("download_entry", l_entry, "user", 0).Connect("download_entry", l_entry, "file_name", l_entry)
                .Connect("download_entry", l_entry, "download_order", l_entry)
                .Connect("download_entry", l_entry, "remote_folder", 0).Connect("download_entry", l_entry, "file_size", 0)
                .Connect("download_entry", l_entry, "download_entry_status", 0);
        return l_file.Bytes();
    }
    // Each row's texts from the first column on, non-empty ones joined by "|", indented by level.
    static QStringList Rows(QTreeWidget* ip_list)
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
};

TEST_F(TransfersPage, TheWindowShowsTheSavedDownloadsInQueueOrderAndRecoloursThemFromTheColourDialog)
{
    m_server.AcceptLogins();
    ASSERT_TRUE(WriteFile(StorePath(), SavedDownloads()));
    Start();
    ASSERT_TRUE(QTest::qWaitFor([] { return gp_server->IsConnected(); }, 5000));

    TransfersForm* lp_form = mp_ui->transfersForm;
    ASSERT_EQ(transfersForm, lp_form);
    EXPECT_EQ(mp_ui->tabControl->tabText(mp_ui->tabControl->indexOf(lp_form)), "Transfers [0/0]");
    // A download that was running when the client stopped waits in the queue again.
    EXPECT_EQ(Rows(lp_form->DownloadsList()),
              (QStringList{"bob", "  Album/Music", "    first.mp3|queued|1,048,576", "    middle.mp3|queued|1,048,576",
                           "    late.mp3|queued|1,048,576"}));

    // The first one runs: counted in the title, with its bar.
    const ItemPtr l_first = d.GetType("file_name")->HasItem("first.mp3").GetItems("download_entry");
    transferQueueManager->AttachObject(l_first, "write_position", new qint64(262144));
    transferQueueManager->SetDownloadEntryStatus(l_first, "downloading");
    transferQueueManager->AttachObject(l_first, "bytes_per_second", new qint32(1024));
    emit transferQueueManager->DownloadProgressed(l_first);
    EXPECT_EQ(mp_ui->tabControl->tabText(mp_ui->tabControl->indexOf(lp_form)), "Transfers [1/0]");
    QTreeWidgetItem* lp_row = lp_form->DownloadsList()->topLevelItem(0)->child(0)->child(0);
    auto* lp_bar = qobject_cast<QProgressBar*>(lp_form->DownloadsList()->itemWidget(lp_row, 4));
    ASSERT_TRUE(lp_bar);
    EXPECT_EQ(lp_bar->format(), "262,144 (25.0%)");

    SetSetting("color_transfer_queued", "#123456");
    mp_window->OnSelectColors();
    auto* lp_dialog = mp_window->findChild<ColorSelectionDialog*>();
    ASSERT_TRUE(lp_dialog);
    lp_dialog->OnSaveColors();
    QTreeWidgetItem* lp_queued = lp_form->DownloadsList()->topLevelItem(0)->child(0)->child(1);
    EXPECT_EQ(lp_queued->foreground(2).color().name(), "#123456");
    lp_dialog->close();
}

// The search that found a download, run again from the download's menu: a search of all users
// under a new token, with a result tab of its own, and no request for related searches.
TEST_F(TransfersPage, RerunningTheSearchOfADownloadOpensANewTabUnderANewToken)
{
    StartLoggedIn();
    const ItemPtr l_entry = transferQueueManager->AddDownload("bob", "a.mp3", "Music", 10, 0);
    l_entry += d.GetType("search_request_text")->GetItem("jazz & blues");
    QTreeWidget* lp_list = mp_ui->transfersForm->DownloadsList();
    lp_list->topLevelItem(0)->child(0)->child(0)->setSelected(true);
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
    const int l_tabs = lp_tabs->count();
    for (int l_run = 1; l_run <= 2; ++l_run)
    {
        mp_ui->transfersForm->OnDownloadsContextMenuRequested(QPoint(1, 1));
        ASSERT_TRUE(QTest::qWaitFor([&] { return m_server.FramesWithCode(26).size() == l_run; }, 5000));
        EXPECT_EQ(lp_tabs->count(), l_tabs + l_run);
        EXPECT_EQ(lp_tabs->tabText(lp_tabs->count() - 1), "jazz && blues");
    }
    EXPECT_EQ(l_menu, (QStringList{"Re-run Search: jazz && blues", "Re-run Search: jazz && blues"}));
    const QList<FakeCentralServer::Frame> l_searches = m_server.FramesWithCode(26);
    EXPECT_EQ(l_searches[0].fields.mid(4), l_searches[1].fields.mid(4));
    EXPECT_EQ(WireFields().Text("jazz & blues"), QByteArray(l_searches[0].fields.mid(4)));
    EXPECT_NE(l_searches[0].fields.left(4), l_searches[1].fields.left(4));
    EXPECT_TRUE(m_server.FramesWithCode(153).isEmpty());
}
