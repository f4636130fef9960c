#include <QTimer>

#include <algorithm>
#include <functional>
#include <tuple>
#include <vector>

#include "DownloadsToDelete.h"
#include "ProgramFixture.h"
#include "support/support/WireFields.h"
#include "views/transfers/TransfersForm.h"

namespace
{
const int StepsPerSlice = 40;

// The file names of the downloads in the order they leave the store.
class Removals : public DataHandler
{
public:
    Removals()
    {
        d.GetType("download_entry")->m_removedEvent.AddHandler(NewEventHandler(this, &Removals::OnRemoved));
    }
    void OnRemoved(ItemPtr i_entry) { m_names << i_entry["file_name"].AsString(); }

    QStringList m_names;
};
} // namespace

// The transfers page of the whole window, bob's downloads queued in folders of 50 and carl's
// few beside them.
class DownloadRemoval : public ProgramFixture, protected DownloadsToDelete
{
protected:
    void SetUp() override
    {
        ProgramFixture::SetUp();
        ASSERT_NO_FATAL_FAILURE(StartLoggedIn());
        mp_list = mp_ui->transfersForm->DownloadsList();
        QueueAll();
    }

    void QuitAfterSlices(int i_slices);
};

// Delete on a user row of hundreds of downloads removes them a slice at a time from the event
// loop, in the order of the rows; at every turn between slices the rows left are exactly the
// downloads left, and at the end the user row has gone with them.
TEST_F(DownloadRemoval, DeleteOnABigUserRowRemovesItsDownloadsInTheirOrderASliceAtATime)
{
    const Slices l_slices(StepsPerSlice);
    const QStringList l_order = FileRows().mid(0, BobsDownloads);
    ASSERT_EQ(l_order.first(), FileName(0));
    ASSERT_EQ(l_order.last(), FileName(BobsDownloads - 1));
    const Removals l_removals;

    // A timer of the window's event loop notes what each turn finds.
    std::vector<int> l_removedAtTurns;
    QStringList l_mismatches;
    QTimer l_turns;
    l_turns.setInterval(0);
    QObject::connect(&l_turns, &QTimer::timeout, [&] {
        l_removedAtTurns.push_back(l_removals.m_names.size());
        if (Sorted(FileRows()) != Remaining())
            l_mismatches << QString("after %1 removals").arg(l_removals.m_names.size());
    });
    l_turns.start();
    ASSERT_NO_FATAL_FAILURE(Delete("bob"));
    // The first slice goes at once.
    EXPECT_EQ(l_removals.m_names.size(), StepsPerSlice);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !UserRow("bob"); }, 10000));
    l_turns.stop();

    EXPECT_EQ(l_removals.m_names, l_order);
    EXPECT_EQ(l_mismatches, QStringList());
    // The window answered between every two slices: no turn saw more than one slice's removals.
    std::vector<int> l_steps;
    int l_last = StepsPerSlice;
    for (int l_removed : l_removedAtTurns)
    {
        if (l_removed != l_last)
            l_steps.push_back(l_removed - l_last);
        l_last = l_removed;
    }
    EXPECT_EQ(l_last, BobsDownloads);
    EXPECT_GE(l_steps.size(), std::size_t(BobsDownloads / StepsPerSlice - 1));
    EXPECT_LE(*std::max_element(l_steps.begin(), l_steps.end()), StepsPerSlice);
    EXPECT_EQ(Remaining(), Carls());
    EXPECT_EQ(FileRows(), Carls());
    EXPECT_EQ(d.GetType("download_list_node")->ItemCount(), 3u);
    EXPECT_EQ(d.GetType("download_list_folder_node")->ItemCount(), 1u);
    EXPECT_EQ(d.GetType("download_list_user_node")->ItemCount(), 1u);
}

// What may happen between two slices of a removal: the downloads it still has to remove go in
// their order, each once; what it was not asked to remove stays, whatever took a removed
// download's place in the store.
TEST_F(DownloadRemoval, BetweenSlicesOtherRemovalsAndASecondDeleteAreTakenInTurn)
{
    struct Case
    {
        const char* name;
        std::function<void()> meanwhile;
        // Removed by the user's Delete and by what came meanwhile, in order, and what stays.
        QStringList removed;
        QStringList left;
    };
    QStringList l_bobs;
    for (int l_index = 0; l_index < BobsDownloads; ++l_index)
        l_bobs << FileName(l_index);
    const QStringList l_carls = Carls();
    const auto l_without = [](QStringList i_names, const QString& i_name) {
        i_names.removeOne(i_name);
        return i_names;
    };
    const Case l_cases[] = {
        {"a download removed by the menu's removal, and one queued anew for another user",
         [&] {
             transferQueueManager->RemoveDownload(Download(FileName(100)));
             transferQueueManager->AddDownload("dave", "new.mp3", "Music\\Dave", 10, 0);
         },
         l_without(l_bobs, FileName(100)).mid(0, StepsPerSlice) + QStringList{FileName(100)} +
             l_without(l_bobs, FileName(100)).mid(StepsPerSlice),
         l_carls + QStringList{"new.mp3"}},
        {"a download removed, one queued anew for another user and that user's row deleted",
         [&] {
             transferQueueManager->RemoveDownload(Download(FileName(100)));
             transferQueueManager->AddDownload("dave", "new.mp3", "Music\\Dave", 10, 0);
             Delete("dave");
         },
         l_without(l_bobs, FileName(100)).mid(0, StepsPerSlice) + QStringList{FileName(100)} +
             l_without(l_bobs, FileName(100)).mid(StepsPerSlice) + QStringList{"new.mp3"},
         l_carls},
        {"Delete pressed again on the same user row", [&] { Delete("bob"); }, l_bobs, l_carls},
        {"Delete pressed on another user's row", [&] { Delete("carl"); }, l_bobs + l_carls, {}},
    };
    const Slices l_slices(StepsPerSlice);
    for (const Case& l_case : l_cases)
    {
        SCOPED_TRACE(l_case.name);
        for (ItemPtr l_entry : g("download_entry"))
            transferQueueManager->RemoveDownload(l_entry);
        QueueAll();
        const Removals l_removals;
        ASSERT_NO_FATAL_FAILURE(Delete("bob"));
        ASSERT_EQ(l_removals.m_names.size(), StepsPerSlice);
        l_case.meanwhile();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !transferQueueManager->IsDownloadWorkPending(); }, 10000));
        QCoreApplication::processEvents();

        EXPECT_EQ(l_removals.m_names, l_case.removed);
        EXPECT_EQ(Remaining(), Sorted(l_case.left));
        EXPECT_EQ(Sorted(FileRows()), Sorted(l_case.left));
        EXPECT_EQ(d.GetType("download_list_node")->ItemCount(), std::size_t(l_case.left.size()));
    }
}

// A user's re-queue takes and holds the user's downloads only when its turn comes, behind other
// download work; a Delete pressed on the user's row before then, which held them at the key press,
// still removes every one of them after the re-queue, rows and all. A download asked for again
// once the re-queue has let go of it, before the Delete reaches it, is the user's word after the
// Delete's: it is queued afresh and stays.
TEST_F(DownloadRemoval, ADeletePressedWhileTheUsersRequeueWaitsRemovesTheDownloadsTheRequeueHolds)
{
    const ItemPtr l_bob = d.GetType("user")->GetItem("bob");
    // The server's answer to the client's following bob: online.
    const auto l_online = [&] {
        m_server.SendFrame(5, WireFields().Text("bob").Byte(1).Int32(2).Int32(0).UInt32(0).UInt32(0).Int32(0).Int32(0).Text("NO").Bytes());
        return QTest::qWaitFor([&] { return l_bob.IsConnected("is_online"); }, 5000);
    };
    const QString l_passed = "Queueing " + FileName(0);
    // What starts the re-queue, and whether bob's first download is asked for again.
    const std::tuple<const char*, bool, bool> l_cases[] = {
        {"bob comes online", false, false},
        {"the half-minute check", true, false},
        {"bob comes online, a download asked for again", false, true},
        {"the half-minute check, a download asked for again", true, true},
    };
    for (const auto& [l_name, l_tick, l_askedAgain] : l_cases)
    {
        SCOPED_TRACE(l_name);
        for (ItemPtr l_entry : g("download_entry"))
            transferQueueManager->RemoveDownload(l_entry);
        // Each case finds bob offline, so that his coming online is news.
        m_server.SendFrame(7, WireFields().Text("bob").Int32(0).Byte(0));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !l_bob.IsConnected("is_online"); }, 5000));
        QueueAll();
        // carl's downloads, deleted first, are the work the re-queue waits behind: enough for
        // bob's coming online to reach the window long before their removal ends.
        for (int l_index = 0; l_index < 100; ++l_index)
            transferQueueManager->AddDownload("carl", ("more " + FileName(l_index)).toStdString(), "Music\\Carl", 1000, 0);
        if (l_tick)
        {
            // Online, with his downloads asked for long enough ago to be asked for again.
            ASSERT_TRUE(l_online());
            ASSERT_TRUE(QTest::qWaitFor([] { return !transferQueueManager->IsDownloadWorkPending(); }, 20000));
            l_bob += d.GetType("last_queue_request_time")->GetItem(TransferTimeStamp(QDateTime::currentDateTime().addSecs(-601)));
        }
        {
            // One step a slice until all is asked for; the work then runs its course.
            const Slices l_slices(1);
            ASSERT_NO_FATAL_FAILURE(Delete("carl"));
            if (l_tick)
                transferQueueManager->EveryHalfMinute();
            else
                ASSERT_TRUE(l_online());
            ASSERT_GT(Remaining().size(), std::size_t(BobsDownloads)) << "carl's removal was over before the re-queue was asked for";
            ASSERT_NO_FATAL_FAILURE(Delete("bob"));
            if (l_askedAgain)
            {
                // A slice a call, until the re-queue has asked for the first download.
                const int l_before = m_log.m_lines.filter(l_passed).size();
                for (int l_slice = 0; l_slice < 1000 && m_log.m_lines.filter(l_passed).size() == l_before; ++l_slice)
                    QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
                ASSERT_GT(m_log.m_lines.filter(l_passed).size(), l_before) << "the re-queue never reached the download";
                ASSERT_EQ(Remaining().size(), std::size_t(BobsDownloads)) << "the Delete was under way";
                transferQueueManager->AddDownload("bob", FileName(0).toStdString(), FolderOf(0), 1000, 0);
            }
        }
        ASSERT_TRUE(QTest::qWaitFor([] { return !transferQueueManager->IsDownloadWorkPending(); }, 20000));
        QCoreApplication::processEvents();

        const QStringList l_left = l_askedAgain ? QStringList(FileName(0)) : QStringList();
        EXPECT_EQ(Remaining(), l_left);
        EXPECT_EQ(FileRows(), l_left);
        EXPECT_EQ(d.GetType("download_list_node")->ItemCount(), std::size_t(l_left.size()));
    }
}

// Quitting while a removal is half done saves every download either whole or not at all: those
// not yet reached are loaded again with all their parts, those removed are gone.
void DownloadRemoval::QuitAfterSlices(int i_slices)
{
    const Slices l_slices(StepsPerSlice);
    const Removals l_removals;
    ASSERT_NO_FATAL_FAILURE(Delete("bob"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return l_removals.m_names.size() >= i_slices * StepsPerSlice; }, 10000));
    const int l_removed = l_removals.m_names.size();
    ASSERT_LT(l_removed, BobsDownloads);
    QStringList l_left = Carls();
    for (int l_index = l_removed; l_index < BobsDownloads; ++l_index)
        l_left << FileName(l_index);
    mp_window.reset();

    d.RemoveAllItems();
    DataSaver l_saver;
    ASSERT_TRUE(l_saver.CanLoad(StorePath()));
    l_saver.Load(StorePath());
    EXPECT_EQ(Remaining(), Sorted(l_left));
    const QStringList l_whole{"download_entry_status", "download_order", "file_name", "file_size",
                              "remote_folder", "subfolder_save_level", "user"};
    QStringList l_partial;
    for (ItemPtr l_entry : g("download_entry"))
    {
        QStringList l_parts;
        for (const QString& l_type : l_whole)
            if (l_entry.GetItems(l_type.toStdString().c_str()).Size() != 1)
                l_parts << l_type;
        if (!l_parts.isEmpty())
            l_partial << l_entry["file_name"].AsString() + " lacks " + l_parts.join(", ");
    }
    EXPECT_EQ(l_partial, QStringList());
}

TEST_F(DownloadRemoval, QuittingAfterTheFirstSliceSavesTheDownloadsNotYetRemovedWhole)
{
    QuitAfterSlices(1);
}

TEST_F(DownloadRemoval, QuittingAfterThreeSlicesSavesTheDownloadsNotYetRemovedWhole)
{
    QuitAfterSlices(3);
}
