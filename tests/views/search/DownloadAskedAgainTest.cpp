#include <QDir>
#include <QFile>

#include <ostream>

#include "SearchFixture.h"
#include "peer/AttributeTranslationTable.h"
#include "peer/FileInfoMap.h"
#include "shell/program/DownloadsToDelete.h"
#include "support/support/WireFields.h"
#include "transfers/TransferStatus.h"
#include "views/search/ShareForm.h"
#include "views/transfers/TransfersForm.h"

// A road by which bob's file is asked for again while a Delete of bob's downloads runs: the row
// chosen, by a double click or the entry of its menu, or bob's offer; bob online or not, whether
// the finished file already lies in the download folder, and whether Delete was pressed twice.
struct AskedAgainCase
{
    const char* name;
    enum Road
    {
        ResultFile,
        ResultFolder,
        BrowsedFolder,
        BrowsedFile,
        PeersOffer
    } road;
    // Null for a double click.
    const char* menuEntry;
    bool online;
    bool finished = false;
    bool deletedTwice = false;
};

void PrintTo(const AskedAgainCase& i_case, std::ostream* op_out)
{
    *op_out << i_case.name;
}

namespace
{
const int Asked = 250;
const int StepsPerSlice = 5;

using Case = AskedAgainCase;
const Case Cases[] = {
    {"ResultDoubleClickedOnline", Case::ResultFile, nullptr, true},
    {"ResultDoubleClickedFinishedFileThere", Case::ResultFile, nullptr, true, true},
    {"ResultDoubleClickedDeletedTwiceOnline", Case::ResultFile, nullptr, true, false, true},
    {"ResultMenuDownloadFilesOffline", Case::ResultFile, "Download File(s)", false},
    {"ResultMenuDownloadFoldersOnline", Case::ResultFolder, "Download Folder(s)", true},
    {"BrowsedFolderMenuOnline", Case::BrowsedFolder, "Download Folder", true},
    {"BrowsedFolderDoubleClickedOffline", Case::BrowsedFolder, nullptr, false},
    {"BrowsedFileMenuOnline", Case::BrowsedFile, "Download File(s)", true},
    {"BrowsedFileDoubleClickedOffline", Case::BrowsedFile, nullptr, false},
    {"PeersOfferOnline", Case::PeersOffer, nullptr, true},
    {"PeersOfferOffline", Case::PeersOffer, nullptr, false},
};
} // namespace

// The whole window logged in, bob's downloads and carl's on its transfers page, bob connected to
// us for messages and on the user list, whose users' offers are taken.
class DownloadAskedAgain : public SearchFixture, protected DownloadsToDelete
{
protected:
    void SetUp() override
    {
        SearchFixture::SetUp();
        ASSERT_NO_FATAL_FAILURE(Open());
        mp_list = mp_ui->transfersForm->DownloadsList();
        mp_bob = Peer("bob");
        T("user")->GetItem("bob").NewItem("in_user_list");
        SetSetting("accept_userlist_uploads", "yes");
    }
    void TearDown() override
    {
        DownloadWork::SetStepsPerSlice(0);
        SearchFixture::TearDown();
    }

    // Bob counted as online, or not, from before his downloads are queued.
    void Queue(bool i_online)
    {
        if (i_online)
            T("user")->GetItem("bob").NewItem("is_online");
        QueueAll();
        ASSERT_TRUE(WorkDone());
    }
    static bool WorkDone()
    {
        return QTest::qWaitFor([] { return !transferQueueManager->IsDownloadWorkPending(); }, 20000);
    }

    // What bob's connection received since the last look, as "code path" for queue requests and
    // the code alone otherwise; a user information request sent last fences it.
    QStringList BobsNews()
    {
        peerMessenger->GetUserInfo("bob");
        const auto l_fenced = [&] {
            for (int l_at = m_bobSeen; l_at < mp_bob->Bodies().size(); ++l_at)
                if (qFromLittleEndian<quint32>(mp_bob->Bodies()[l_at].constData()) == 15)
                    return l_at;
            return -1;
        };
        EXPECT_TRUE(QTest::qWaitFor([&] { return l_fenced() >= 0; }, 5000));
        const int l_end = l_fenced();
        QStringList l_news;
        for (int l_at = m_bobSeen; l_at < l_end; ++l_at)
        {
            const QByteArray& l_body = mp_bob->Bodies()[l_at];
            const quint32 l_code = qFromLittleEndian<quint32>(l_body.constData());
            l_news << (l_code == 43 ? "43 " + QString::fromUtf8(l_body.mid(8)) : QString::number(l_code));
        }
        m_bobSeen = l_end + 1;
        return l_news;
    }

    // Bob's list on his browse tab, made current: the asked file alone in its folder.
    ShareForm* BrowseBob()
    {
        ShareForm* lp_tab = mp_ui->sharesForm->OpenShareBrowse("bob");
        FileInfoMap l_list;
        FileInfo l_file;
        l_file.name = FileName(Asked).toStdString();
        l_file.size = 1000;
        l_list[FolderOf(Asked)].insert(l_file);
        AttributeTranslationTable l_names;
        emit peerMessenger->UserShare("bob", l_list, l_names);
        mp_ui->sharesForm->TabControl()->setCurrentWidget(lp_tab);
        return lp_tab;
    }
    static QTreeWidgetItem* FolderRow(ShareForm* ip_tab)
    {
        auto* lp_tree = Child<QTreeWidget>(ip_tab, "folderTree");
        const QList<QTreeWidgetItem*> l_rows = lp_tree->findItems("Folder5", Qt::MatchExactly | Qt::MatchRecursive);
        EXPECT_EQ(l_rows.size(), 1);
        lp_tree->setCurrentItem(l_rows.value(0));
        return l_rows.value(0);
    }
    static QTreeWidgetItem* FileRow(ShareForm* ip_tab)
    {
        FolderRow(ip_tab);
        auto* lp_files = Child<QTreeWidget>(ip_tab, "fileList");
        EXPECT_EQ(lp_files->topLevelItemCount(), 1);
        lp_files->clearSelection();
        if (QTreeWidgetItem* lp_row = lp_files->topLevelItem(0))
        {
            lp_row->setSelected(true);
            return lp_row;
        }
        return nullptr;
    }

    // Bob's reply on a tab of its own: the asked file's row.
    static QTreeWidgetItem* ResultRow(const QString& i_search)
    {
        SearchResultsForm* lp_page = NewTab(i_search);
        Deliver(Token(lp_page), {"bob"}, {{AskedPath().c_str(), 1000}});
        QTreeWidgetItem* lp_user = lp_page->searchResults()->topLevelItem(0);
        EXPECT_TRUE(lp_user && lp_user->childCount() == 1 && lp_user->child(0)->childCount() == 1);
        return lp_user ? lp_user->child(0)->child(0) : nullptr;
    }

    static std::string AskedPath() { return FolderOf(Asked) + "\\" + FileName(Asked).toStdString(); }

    FakePeer* mp_bob = nullptr;
    int m_bobSeen = 0;
};

class DownloadAskedAgainOnEachRoad : public DownloadAskedAgain,
                                     public ::testing::WithParamInterface<AskedAgainCase>
{
};

// A file asked for again while Delete on its user's row still has to reach it is queued as if the
// Delete had ended before it was asked for: once, in the store and in the list, with its own
// search and status, bob asked for it while he is online; the Delete passes over it.
TEST_P(DownloadAskedAgainOnEachRoad, IsQueuedAfreshAsIfTheDeleteHadEnded)
{
    const AskedAgainCase& l_case = GetParam();
    ASSERT_NO_FATAL_FAILURE(Queue(l_case.online));
    if (l_case.finished)
    {
        const QString l_path = transferQueueManager->GetDownloadTargetPath(Download(FileName(Asked)), true).replace('\\', '/');
        ASSERT_TRUE(l_path.startsWith(Home() + "/")) << l_path.toStdString();
        ASSERT_TRUE(QDir().mkpath(QFileInfo(l_path).path()));
        QFile l_finished(l_path);
        ASSERT_TRUE(l_finished.open(QIODevice::WriteOnly));
    }
    const QString l_search = "track " + QString::number(Asked);
    const bool l_searched = l_case.road == Case::ResultFile || l_case.road == Case::ResultFolder;
    QTreeWidgetItem* lp_row = nullptr;
    if (l_searched)
    {
        ASSERT_TRUE(lp_row = ResultRow(l_search));
        if (l_case.road == Case::ResultFolder)
            lp_row = lp_row->parent();
    }
    else if (l_case.road != Case::PeersOffer)
    {
        ShareForm* lp_browsed = BrowseBob();
        lp_row = l_case.road == Case::BrowsedFolder ? FolderRow(lp_browsed) : FileRow(lp_browsed);
        ASSERT_TRUE(lp_row);
    }
    TakeMenuChoices();
    BobsNews();
    const Slices l_slices(StepsPerSlice);

    ASSERT_NO_FATAL_FAILURE(Delete("bob"));
    if (l_case.deletedTwice)
    {
        ASSERT_NO_FATAL_FAILURE(Delete("bob"));
    }
    Item* const lp_deleted = Download(FileName(Asked)).Get();
    ASSERT_TRUE(lp_deleted) << "the first slice reached the asked file";
    if (l_case.road == Case::PeersOffer)
    {
        // How far the Delete had come when the offer was taken.
        int l_removedAtOffer = -1;
        const QMetaObject::Connection l_taken =
            QObject::connect(peerMessenger, &PeerMessenger::QueueDownloadRequested, [&] {
                l_removedAtOffer = BobsDownloads + Carls().size() - int(g("download_entry").Size());
            });
        mp_bob->SendFrame(WireFields().UInt32(60).Text(QString::fromStdString(AskedPath())).UInt32(1000).UInt32(0).Bytes());
        EXPECT_TRUE(QTest::qWaitFor([&] { return l_removedAtOffer >= 0; }, 5000));
        QObject::disconnect(l_taken);
        ASSERT_LT(l_removedAtOffer, Asked) << "the Delete had reached the asked file before the offer";
    }
    else if (!l_case.menuEntry)
        emit lp_row->treeWidget()->itemDoubleClicked(lp_row, 0);
    else
        EXPECT_TRUE(RightClick(lp_row, l_case.menuEntry).contains(l_case.menuEntry));
    // The store gives the slot it freed last first: a download asked for at once is made where
    // the deleted one lay, which the Delete's later step must pass over all the same.
    if (l_searched || l_case.road == Case::PeersOffer)
    {
        ASSERT_EQ(Download(FileName(Asked)).Get(), lp_deleted) << "not made where the deleted one lay";
    }
    ASSERT_TRUE(WorkDone());
    QCoreApplication::processEvents();

    QStringList l_left;
    for (const QString& l_carl : Carls())
        l_left << "carl|Music\\Carl|" + l_carl + "|1000|";
    l_left << QString("bob|%1|%2|1000|%3").arg(QString::fromStdString(FolderOf(Asked)), FileName(Asked), l_searched ? l_search : "");
    EXPECT_EQ(Downloads(), l_left);
    EXPECT_EQ(Download(FileName(Asked))["download_entry_status"].AsString(),
              QString(l_case.finished ? transfer_status::Complete : transfer_status::Queued));
    EXPECT_EQ(BobsNews(), l_case.online && !l_case.finished ? QStringList("43 " + QString::fromStdString(AskedPath())) : QStringList());
    EXPECT_EQ(Sorted(FileRows()), Sorted(Carls() << FileName(Asked)));
    EXPECT_EQ(T("download_list_node")->ItemCount(), std::size_t(Carls().size() + 1));
}

INSTANTIATE_TEST_SUITE_P(Roads, DownloadAskedAgainOnEachRoad, ::testing::ValuesIn(Cases),
                         [](const ::testing::TestParamInfo<AskedAgainCase>& i_info) { return std::string(i_info.param.name); });

// A folder's download asked for before the Delete, while other download work waits, comes before
// the Delete however long it waits: it finds the file still queued and leaves it to the Delete.
TEST_F(DownloadAskedAgain, AFolderAskedForBeforeTheDeleteLeavesItsFileToTheDelete)
{
    ASSERT_NO_FATAL_FAILURE(Queue(true));
    ShareForm* lp_browsed = BrowseBob();
    TakeMenuChoices();
    BobsNews();
    const Slices l_slices(2);

    ASSERT_NO_FATAL_FAILURE(Delete("carl"));
    ASSERT_TRUE(transferQueueManager->IsDownloadWorkPending());
    EXPECT_EQ(RightClick(FolderRow(lp_browsed), "Download Folder"), QStringList("Download Folder"));
    ASSERT_NO_FATAL_FAILURE(Delete("bob"));
    ASSERT_TRUE(WorkDone());
    QCoreApplication::processEvents();

    EXPECT_EQ(Downloads(), QStringList());
    EXPECT_EQ(FileRows(), QStringList());
    EXPECT_EQ(BobsNews(), QStringList());
}
