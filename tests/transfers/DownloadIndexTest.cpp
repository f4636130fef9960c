#include <algorithm>
#include <map>
#include <numeric>
#include <random>
#include <set>

#include "TransferFixture.h"

// The download queue answers from figures it keeps as downloads come, change and go; these tests
// hold its answers against what a walk over every download, as the protocol's algorithms walk
// them, gives after seeded runs of changes.
class DownloadFigures : public TransferFixture
{
protected:
    void TearDown() override
    {
        DownloadWork::SetStepsPerSlice(0);
        TransferFixture::TearDown();
    }
    static QString Path(ItemPtr i_entry)
    {
        return i_entry["remote_folder"].AsString() + "\\" + i_entry["file_name"].AsString();
    }
    // The downloads of a user in queue order.
    static std::vector<ItemPtr> InOrder(ItemPtr i_user)
    {
        return i_user.GetItems("download_entry").SortNumericBy("download_order", true);
    }
    // The download queue's lines, in order, without their stamps.
    QStringList QueueLines() const
    {
        QStringList l_lines;
        for (QString l_line : m_lines)
        {
            l_line = l_line.mid(l_line.indexOf("] ") + 1).trimmed();
            if (l_line.startsWith("Requeueing") || l_line.startsWith("Queueing") || l_line.startsWith("Requesting place"))
                l_lines << l_line;
        }
        return l_lines;
    }
    // Runs the download work that waits, a bounded time.
    static bool WorkDone()
    {
        return QTest::qWaitFor([] { return !transferQueueManager->IsDownloadWorkPending(); }, 20000);
    }
};

// A completed download's emptied downloading folders go exactly when no download of its remote
// folder, of any user, is anything but complete, however the downloads came, changed and went.
TEST_F(DownloadFigures, EmptiedDownloadingFoldersGoExactlyWhenEveryDownloadOfTheRemoteFolderIsComplete)
{
    const char* const l_folders[] = {"M\\Artist\\Album", "M\\Artist\\Live", "N\\Band\\Album"};
    const char* const l_local[] = {"Artist/Album", "Artist/Live", "Band/Album"};
    const char* const l_statuses[] = {Queued, Complete, Complete, Denied, Aborted, LocalError, Downloading};
    for (const unsigned l_seed : {11u, 12u, 13u})
    {
        SCOPED_TRACE(l_seed);
        std::mt19937 l_random(l_seed);
        const auto l_pick = [&](std::size_t i_count) { return std::size_t(l_random() % i_count); };
        int l_completions = 0, l_removals = 0;
        for (int l_step = 0; l_step < 300; ++l_step)
        {
            const std::vector<ItemPtr> l_entries = g("download_entry").SortNumericBy("download_order", true);
            const int l_action = int(l_pick(10));
            if (l_entries.empty() || l_action < 3)
            {
                const std::size_t l_folder = l_pick(3);
                mp_manager->AddDownload(l_pick(2) ? "bob" : "carl", "f" + std::to_string(l_pick(6)), l_folders[l_folder], 10, 1);
                continue;
            }
            const ItemPtr l_entry = l_entries[l_pick(l_entries.size())];
            if (l_action == 3)
            {
                mp_manager->RemoveDownload(l_entry);
                continue;
            }
            if (l_action < 7)
            {
                mp_manager->SetDownloadEntryStatus(l_entry, l_statuses[l_pick(std::size(l_statuses))]);
                continue;
            }
            // A completion, with every download's folder there and empty.
            for (const char* l_path : l_local)
                ASSERT_TRUE(QDir().mkpath(m_dir.filePath(QString("downloading/") + l_path)));
            mp_manager->SetDownloadEntryStatus(l_entry, Complete);
            mp_manager->RemoveDownloadDownloadingFolderIfAppropriate(l_entry);
            bool l_allComplete = true;
            for (ItemPtr l_other : l_entry["remote_folder"].GetItems("download_entry"))
                l_allComplete &= Status(l_other) == Complete;
            const QString l_folder = l_entry["remote_folder"].AsString();
            const int l_index = int(std::find(std::begin(l_folders), std::end(l_folders), l_folder) - std::begin(l_folders));
            const QString l_deepest = m_dir.filePath(QString("downloading/") + l_local[l_index]);
            EXPECT_EQ(QDir(l_deepest).exists(), !l_allComplete) << l_folder.toStdString() << " at step " << l_step;
            // Its parent goes too when nothing else is in it.
            const bool l_sibling = l_index < 2;
            EXPECT_EQ(QDir(QFileInfo(l_deepest).path()).exists(), !l_allComplete || l_sibling);
            EXPECT_TRUE(QDir(m_dir.filePath("downloading")).exists());
            l_completions += 1;
            l_removals += l_allComplete;
        }
        EXPECT_GT(l_removals, 3);
        EXPECT_GT(l_completions - l_removals, 3);
        for (ItemPtr l_entry : g("download_entry"))
            mp_manager->RemoveDownload(l_entry);
    }
}

// What a half-minute tick asks of each uploader and logs, in one piece or in slices of two
// steps, is what the tick's walk over every queued download asks: the online users of the queued
// downloads in the order the walk meets them; each one from whom nothing downloads asked for all
// of his downloads again once 600 s have passed since he last was, and asked for the place of
// each queued one once his next place-in-line time has come.
TEST_F(DownloadFigures, TheHalfMinuteTickAsksAndLogsWhatAWalkOverEveryQueuedDownloadWould)
{
    const char* const l_statuses[] = {Queued, Queued, Queued, Complete, Denied, Aborted, LocalError, Downloading};
    const int l_lastAsked[] = {-1, 700, 10};
    const int l_placeIn[] = {-1, -5, 100};
    for (const unsigned l_seed : {21u, 22u, 23u, 24u, 25u, 26u})
    {
        SCOPED_TRACE(l_seed);
        std::mt19937 l_random(l_seed);
        const auto l_pick = [&](std::size_t i_count) { return std::size_t(l_random() % i_count); };
        DownloadWork::SetStepsPerSlice(l_seed % 2 ? 2 : 0);
        const QDateTime l_now = QDateTime::currentDateTime();
        std::vector<QString> l_users;
        std::vector<int> l_orders(40);
        std::iota(l_orders.begin(), l_orders.end(), 5000 + int(l_seed) * 100);
        std::shuffle(l_orders.begin(), l_orders.end(), l_random);
        for (int l_user = 0; l_user < 6; ++l_user)
        {
            const QString l_name = QString("u%1-%2").arg(l_seed).arg(l_user);
            l_users.push_back(l_name);
            for (std::size_t l_file = 0, l_count = l_pick(7); l_file < l_count; ++l_file)
            {
                const ItemPtr l_entry = Download("f" + std::to_string(l_file), 10, l_name);
                l_entry += d.GetType("download_order")->GetItem(QString::number(l_orders.back()));
                l_orders.pop_back();
                mp_manager->SetDownloadEntryStatus(l_entry, l_statuses[l_pick(std::size(l_statuses))]);
            }
            if (l_pick(3))
            {
                Online(l_name);
                ASSERT_TRUE(WorkDone());
            }
            for (const auto& [l_type, l_seconds] : {std::pair{"last_queue_request_time", -l_lastAsked[l_pick(3)]},
                                                    std::pair{"next_place_in_line_request_time", l_placeIn[l_pick(3)]}})
                if (l_seconds == 1 || l_seconds == -1)
                    User(l_name).GetItems(l_type).Remove();
                else
                    Restamp(User(l_name), l_type, l_now.addSecs(l_seconds));
            Parked(l_name);
        }
        m_lines.clear();

        // The walk, written out: the users in the order the queued downloads give them.
        std::vector<ItemPtr> l_walked;
        for (ItemPtr l_entry : d.GetType("download_entry_status")->GetItem(Queued).GetItems("download_entry"))
            if (ItemPtr l_user = l_entry["user"]; l_user.IsConnected("is_online") &&
                                                  std::find(l_walked.begin(), l_walked.end(), l_user) == l_walked.end())
                l_walked.push_back(l_user);
        const auto l_running = [](ItemPtr i_user) {
            for (ItemPtr l_entry : i_user.GetItems("download_entry"))
                if (Status(l_entry) == Downloading)
                    return true;
            return false;
        };
        const auto l_due = [&](ItemPtr i_user, const char* i_type, qint64 i_afterMs) {
            const QDateTime l_stamp = QDateTime::fromString(i_user[i_type].AsString(), Qt::TextDate);
            return !l_stamp.isValid() || l_stamp.msecsTo(l_now) >= i_afterMs;
        };
        std::map<QString, QStringList> l_sent;
        std::set<ItemPtr> l_requeued;
        QStringList l_lines;
        for (ItemPtr l_user : l_walked)
        {
            if (l_running(l_user) || !l_due(l_user, "last_queue_request_time", 600000))
                continue;
            l_requeued.insert(l_user);
            l_lines << "Requeueing downloads from user " + l_user.AsString();
            for (ItemPtr l_entry : InOrder(l_user))
                if (Status(l_entry) != Complete && Status(l_entry) != Denied && Status(l_entry) != Downloading)
                {
                    l_sent[l_user.AsString()] << "43 " + Path(l_entry);
                    l_lines << "Queueing " + l_entry["file_name"].AsString();
                }
        }
        for (ItemPtr l_user : l_walked)
        {
            if (l_requeued.count(l_user) || l_running(l_user) || !l_due(l_user, "next_place_in_line_request_time", 0))
                continue;
            for (ItemPtr l_entry : InOrder(l_user))
                if (Status(l_entry) == Queued)
                {
                    l_sent[l_user.AsString()] << "51 " + Path(l_entry);
                    l_lines << QString("Requesting place in line for download of %1 from %2")
                                   .arg(l_entry["file_name"].AsString(), l_user.AsString());
                }
        }

        mp_manager->EveryHalfMinute();
        ASSERT_TRUE(WorkDone());
        for (const QString& l_user : l_users)
            EXPECT_EQ(Parked(l_user), l_sent[l_user]) << l_user.toStdString();
        EXPECT_EQ(QueueLines(), l_lines);
        for (ItemPtr l_user : l_requeued)
            EXPECT_TRUE(StampedAhead(l_user, "next_place_in_line_request_time", 30));
        for (ItemPtr l_entry : g("download_entry"))
            mp_manager->RemoveDownload(l_entry);
    }
}
