#include <QRandomGenerator>

#include <map>

#include "SearchFixture.h"
#include "shell/EventToolBar.h"
#include "support/support/FakeCentralHub.h"
#include "support/support/HeadlessClient.h"
#include "transfers/TransferQueueManager.h"
#include "views/search/ShareForm.h"
#include "views/search/SharesForm.h"
#include "views/transfers/CompleteDownloadsForm.h"
#include "views/transfers/TransferBarDelegate.h"
#include "views/transfers/TransfersForm.h"

namespace
{
// alice's whole window in this process and bob as a headless client in another, meeting through
// the fake hub.
class WholeRoad : public SearchFixture
{
protected:
    void SetUp() override
    {
        SearchFixture::SetUp();
        TakeMenuChoices();
    }

    static void DoubleClick(QTreeWidget* ip_tree, QTreeWidgetItem* ip_row)
    {
        ip_tree->scrollToItem(ip_row);
        const QPoint l_at = ip_tree->visualItemRect(ip_row).center();
        // As the toolkit delivers it: a click, then the second press as a double click.
        QTest::mouseClick(ip_tree->viewport(), Qt::LeftButton, {}, l_at);
        QTest::mouseDClick(ip_tree->viewport(), Qt::LeftButton, {}, l_at);
        QTest::mouseRelease(ip_tree->viewport(), Qt::LeftButton, {}, l_at);
    }
    static QTreeWidgetItem* Find(QTreeWidget* ip_tree, int i_column, const QString& i_text)
    {
        return ip_tree->findItems(i_text, Qt::MatchExactly | Qt::MatchRecursive, i_column).value(0);
    }
    static QByteArray Random(int i_size, quint32 i_seed)
    {
        QByteArray l_bytes(i_size, '\0');
        QRandomGenerator(i_seed).fillRange(reinterpret_cast<quint32*>(l_bytes.data()), i_size / 4);
        return l_bytes;
    }
    static QByteArray Read(const QString& i_path)
    {
        QFile l_file(i_path);
        return l_file.open(QIODevice::ReadOnly) ? l_file.readAll() : QByteArray("(missing)");
    }
    // With TARNWICK_SCREENSHOTS naming a folder, the widget as it looks now is saved there.
    static void Picture(QWidget* ip_widget, const QString& i_name)
    {
        const QString l_folder = qEnvironmentVariable("TARNWICK_SCREENSHOTS");
        if (!l_folder.isEmpty())
        {
            EXPECT_TRUE(ip_widget->grab().save(l_folder + "/" + i_name));
        }
    }
    QString Complete(const QString& i_relative) const { return Home() + "/Tarnwick Downloads/complete/" + i_relative; }

    FakeCentralHub m_hub;
    std::unique_ptr<HeadlessClient> mp_bob;
};
} // namespace

// alice searches, finds bob's song and fetches it, told when its folder is done; then she
// browses bob's files from the result and takes the whole folder.
TEST_F(WholeRoad, AFoundFileArrivesWholeAndTheBrowsedFolderAfterIt)
{
    QTemporaryDir l_bob;
    const QString l_album = l_bob.filePath("Music/Album");
    ASSERT_TRUE(QDir().mkpath(l_album + "/Extra") && QDir().mkpath(l_bob.filePath("home")));
    const std::map<QString, QByteArray> l_files = {{"song.bin", Random(320 << 10, 1)}, {"cover.bin", Random(24 << 10, 2)},
                                                   {"setup.ini", "[x]"}, {"Extra/notes.bin", Random(6 << 10, 3)}};
    for (const auto& [l_name, l_bytes] : l_files)
        ASSERT_TRUE(WriteFile(l_album + "/" + l_name, l_bytes));
    // Slow enough for the progress to be seen on the way.
    mp_bob = std::make_unique<HeadlessClient>(
        l_bob.filePath("home"), QStringList{"--user", "bob", "--share", l_bob.filePath("Music"), "--limit", "512"},
        m_hub.Port());
    ASSERT_TRUE(mp_bob->Says("online"));

    m_store.Setting("server_port", QString::number(m_hub.Port()));
    ASSERT_TRUE(m_store.WriteTo(StorePath()));
    Start();
    ASSERT_TRUE(QTest::qWaitFor([] { return gp_server->IsConnected(); }, 10000));
    mp_window->show();
    QApplication::setActiveWindow(mp_window.get());
    d.GetType("excluded_download_extension")->GetItem(".ini");

    // The search, typed into the Search tab; bob's reply becomes rows.
    auto* lp_entry = Child<QLineEdit>(searchForm, "searchEdit");
    FocusWidgetAndParents(lp_entry);
    QTest::keyClicks(lp_entry, "song");
    QTest::keyClick(lp_entry, Qt::Key_Return);
    auto* lp_searches = Child<QTabWidget>(searchForm, "searchTabControl");
    auto* lp_page = qobject_cast<SearchResultsForm*>(lp_searches->currentWidget());
    ASSERT_TRUE(lp_page);
    QTreeWidget* lp_results = lp_page->searchResults();
    QTreeWidgetItem* lp_song = nullptr;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (lp_song = Find(lp_results, 4, "song.bin")) != nullptr; }, 20000));

    // A double click queues it: a row waits in the Transfers tab, with a folder alert armed.
    DoubleClick(lp_results, lp_song);
    QTreeWidget* lp_downloads = transfersForm->DownloadsList();
    FocusWidgetAndParents(lp_downloads);
    QTreeWidgetItem* lp_row = Find(lp_downloads, 2, "song.bin");
    ASSERT_TRUE(lp_row);
    EXPECT_EQ(lp_row->text(3), "queued");
    RightClick(lp_row, "Folder download completes");
    EXPECT_TRUE(ShowsIcon(lp_row->parent()->icon(1), ":/icons/alert_icon"));
    ClickAction(lp_downloads, "Completed Downloads");
    ASSERT_TRUE(completeDownloadsForm);
    QTreeWidget* lp_completed = completeDownloadsForm->List();

    // Back to the search while it runs: its row shows the progress on the way.
    FocusWidgetAndParents(lp_results);
    QList<int> l_percents;
    const QMetaObject::Connection l_watch =
        QObject::connect(transferQueueManager, &TransferQueueManager::DownloadProgressed, [&](ItemPtr) {
            const QVariant l_value = lp_row->data(4, TransferBarDelegate::ValueRole);
            if (l_value.isValid() && lp_row->text(3) == "downloading")
                l_percents << l_value.toInt();
        });
    ASSERT_TRUE(QTest::qWaitFor([&] { return lp_row->text(3) == "complete"; }, 30000));
    QObject::disconnect(l_watch);
    EXPECT_TRUE(std::any_of(l_percents.begin(), l_percents.end(), [](int i_percent) {
        return i_percent > 0 && i_percent < 100;
    })) << l_percents.size() << " reports";
    EXPECT_EQ(l_percents.value(l_percents.size() - 1), 100);
    // The folder's notice waits in the event bar; the completed list has its row; the file is whole.
    EXPECT_TRUE(QTest::qWaitFor([] { return VisibleActionTexts(eventToolBar) == QStringList("Album"); }, 5000))
        << VisibleActionTexts(eventToolBar).join(",").toStdString();
    ASSERT_EQ(lp_completed->topLevelItemCount(), 1);
    EXPECT_EQ(lp_completed->topLevelItem(0)->text(0), "song.bin");
    EXPECT_EQ(Read(Complete("Album/song.bin")), l_files.at("song.bin"));

    FocusWidgetAndParents(lp_downloads);
    Picture(mp_window.get(), "whole-road-transfers.png");

    // From the result's menu to bob's files, at the song's folder; asked again, the same tab.
    FocusWidgetAndParents(lp_results);
    m_onMenu = [](QMenu& io_menu) {
        io_menu.resize(io_menu.sizeHint());
        Picture(&io_menu, "search-result-menu.png");
    };
    RightClick(lp_song, "Browse Folder");
    m_onMenu = nullptr;
    auto* lp_browse = mp_window->findChild<ShareForm*>();
    ASSERT_TRUE(lp_browse);
    auto* lp_folders = Child<QTreeWidget>(lp_browse, "folderTree");
    const auto l_atAlbum = [&] { return lp_folders->currentItem() && lp_folders->currentItem()->text(0) == "Album"; };
    ASSERT_TRUE(QTest::qWaitFor(l_atAlbum, 20000));
    EXPECT_TRUE(lp_folders->isVisible());
    EXPECT_EQ(TopTexts(Child<QTreeWidget>(lp_browse, "fileList")), QStringList({"cover.bin", "setup.ini", "song.bin"}));
    // The page's toolbar sets were declared at start-up; the user menu of the row reaches the
    // same page, which brings the open tab forward and opens the upload twin beside it.
    EXPECT_EQ(ToolbarTexts(lp_folders).mid(0, 3), QStringList({"Expand Level", "Collapse All", "Expand All"}));
    FocusWidgetAndParents(lp_results);
    RightClick(lp_song, "Browse user's files");
    EXPECT_EQ(mp_window->findChildren<ShareForm*>().size(), 1);
    EXPECT_TRUE(lp_folders->isVisible());
    RightClick(lp_song, "Upload to user");
    QTabWidget* lp_browseTabs = mp_ui->sharesForm->TabControl();
    EXPECT_EQ(lp_browseTabs->tabText(lp_browseTabs->currentIndex()), "Upload to bob");
    lp_browseTabs->setCurrentWidget(lp_browse);

    // The whole folder from the browse tab: its files and its sub-folder's, but the excluded ending.
    RightClick(lp_folders->currentItem(), "Download Folder");
    const auto l_states = [] {
        QStringList l_names;
        for (ItemPtr l_entry : d.GetType("download_entry")->GetItems())
            l_names << l_entry["file_name"].AsString() + " " + l_entry["download_entry_status"].AsString();
        return l_names.sort(), l_names;
    };
    const QStringList l_done{"cover.bin complete", "notes.bin complete", "song.bin complete"};
    ASSERT_TRUE(QTest::qWaitFor([&] { return l_states() == l_done; }, 30000)) << l_states().join(", ").toStdString();
    EXPECT_EQ(Read(Complete("Album/cover.bin")), l_files.at("cover.bin"));
    EXPECT_EQ(Read(Complete("Album/Extra/notes.bin")), l_files.at("Extra/notes.bin"));
    EXPECT_FALSE(QFile::exists(Complete("Album/setup.ini")));
    Picture(mp_window.get(), "whole-road-browse.png");

    // Finished, the rows stay until cleared.
    EXPECT_EQ(lp_downloads->topLevelItemCount(), 1);
}
