#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTreeWidget>

#include <algorithm>
#include <iterator>
#include <map>
#include <ostream>
#include <random>
#include <tuple>
#include <utility>
#include <vector>

#include "ProgramFixture.h"
#include "shares/SharedFoldersManager.h"
#include "store/Data.h"
#include "store/GeneralFunctions.h"
#include "store/Settings.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferStatus.h"
#include "views/transfers/TransferBarDelegate.h"
#include "views/transfers/TransfersForm.h"

using namespace transfer_status;

// One list of the transfers page, its group rows open or closed from the start, and the seed of
// the order in which its entries change.
struct GroupRowsCase
{
    const char* name;
    bool upload;
    bool open;
    unsigned seed;
};

void PrintTo(const GroupRowsCase& i_case, std::ostream* op_out)
{
    *op_out << i_case.name;
}

namespace
{
const int UserColumn = 0;
const int FolderColumn = 1;
const int FileColumn = 2;
const int StatusColumn = 3;
const int ProgressColumn = 4;
const int TimeLeftColumn = 5;

// bob's entries fill folders of these sizes and put the rest in one more.
const int FolderSizes[] = {1, 7, 50, 200};
const int BobEntries = 1000;
const int QueuedEntries = BobEntries + 3 + 2 + 2;
// A failing check lists this many of its differences, not all thousand.
const int ShownProblems = 40;

const GroupRowsCase Cases[] = {
    {"DownloadsOpen", false, true, 1101},
    {"DownloadsClosed", false, false, 2203},
    {"UploadsOpen", true, true, 3307},
    {"UploadsClosed", true, false, 4409},
};

const char* ColorKey(const QString& i_status)
{
    if (i_status == Complete)
        return "color_transfer_complete";
    if (i_status == Downloading || i_status == Uploading || i_status == Connecting)
        return "color_transfer_in_progress";
    if (i_status == Queued)
        return "color_transfer_queued";
    if (i_status == Denied || i_status == Aborted || i_status == LocalError)
        return "color_transfer_failed";
    return "color_transfer_other";
}

const char* EntryType(bool i_upload)
{
    return i_upload ? "upload_entry" : "download_entry";
}
const char* PositionType(bool i_upload)
{
    return i_upload ? "read_position" : "write_position";
}
QString Running(bool i_upload)
{
    return i_upload ? Uploading : Downloading;
}

QString StatusOf(ItemPtr i_entry, bool i_upload)
{
    return i_entry[i_upload ? "upload_entry_status" : "download_entry_status"].AsString();
}
// As the peer told it or the file on disk is: possibly below 0 for a download.
qint64 RawSize(ItemPtr i_entry, bool i_upload)
{
    return i_upload ? i_entry["shared_file"]["shared_file_size"].AsInt64() : i_entry["file_size"].AsInt64();
}
ItemPtr FolderOf(ItemPtr i_entry, bool i_upload)
{
    return i_upload ? i_entry["shared_file"]["shared_file_folder"] : i_entry["remote_folder"];
}
QString FileNameOf(ItemPtr i_entry, bool i_upload)
{
    if (!i_upload)
        return i_entry["file_name"].AsString();
    const QString l_path = i_entry["shared_file"]["shared_file_name"].AsString();
    return l_path.mid(std::max(l_path.lastIndexOf('/'), l_path.lastIndexOf('\\')) + 1);
}
// What the file row's status column must read.
QString FileStatusText(ItemPtr i_entry, bool i_upload)
{
    const QString l_status = StatusOf(i_entry, i_upload);
    if (l_status == Denied)
        if (const ItemPtr l_reason = i_entry["denial_reason"])
            return l_reason.AsString().toLower();
    return l_status.toLower();
}

// The first rule that holds: any running, any queued, all complete (also none), any denied,
// any aborted; otherwise nothing.
QString Aggregate(const std::vector<ItemPtr>& i_entries, bool i_upload)
{
    bool l_running = false, l_queued = false, l_allComplete = true, l_denied = false, l_aborted = false;
    for (ItemPtr l_entry : i_entries)
    {
        const QString l_status = StatusOf(l_entry, i_upload);
        l_running |= l_status == Running(i_upload);
        l_queued |= l_status == Queued;
        l_allComplete &= l_status == Complete;
        l_denied |= l_status == Denied;
        l_aborted |= l_status == Aborted;
    }
    if (l_running)
        return Running(i_upload);
    if (l_queued)
        return Queued;
    if (l_allComplete)
        return Complete;
    if (l_denied)
        return Denied;
    if (l_aborted)
        return Aborted;
    return QString();
}

// Finished entries count whole, running, queued and aborted ones with the bytes moved so far,
// the others not at all; nothing counts below 0.
std::tuple<qint64, qint64, qint64> DoneLeftTotal(const std::vector<ItemPtr>& i_entries, bool i_upload)
{
    qint64 l_done = 0, l_left = 0, l_total = 0;
    for (ItemPtr l_entry : i_entries)
    {
        const QString l_status = StatusOf(l_entry, i_upload);
        const qint64 l_size = std::max<qint64>(RawSize(l_entry, i_upload), 0);
        if (l_status == Complete)
        {
            l_done += l_size;
            l_total += l_size;
        }
        else if (l_status == Running(i_upload) || l_status == Queued || l_status == Aborted)
        {
            const qint64* lp_position =
                transferQueueManager->PeekObject<qint64>(l_entry[PositionType(i_upload)]);
            const qint64 l_position = lp_position ? std::max<qint64>(*lp_position, 0) : 0;
            l_done += l_position;
            l_left += std::max<qint64>(l_size - l_position, 0);
            l_total += l_size;
        }
    }
    return {l_done, l_left, l_total};
}

// A user's entries by the text of each of their folder rows.
using UserGroups = std::map<QString, std::vector<ItemPtr>>;

// Every entry of the list in the store by user and folder, read afresh.
std::map<QString, UserGroups> Groups(bool i_upload)
{
    std::map<QString, UserGroups> l_groups;
    for (ItemPtr l_entry : g(EntryType(i_upload)))
        l_groups[l_entry["user"].AsString()][ReversePathname(FolderOf(l_entry, i_upload).AsString())].push_back(l_entry);
    return l_groups;
}

std::vector<ItemPtr> AllOf(const UserGroups& i_user)
{
    std::vector<ItemPtr> l_entries;
    for (const auto& [l_folder, l_part] : i_user)
        l_entries.insert(l_entries.end(), l_part.begin(), l_part.end());
    return l_entries;
}

// The bar drawn in a row's progress cell and its time left.
QString Figures(QTreeWidgetItem* ip_row)
{
    const QVariant l_text = ip_row->data(ProgressColumn, TransferBarDelegate::TextRole);
    return (l_text.isValid()
                ? QString("%1 [%2]").arg(l_text.toString()).arg(ip_row->data(ProgressColumn, TransferBarDelegate::ValueRole).toInt())
                : QString("no bar")) +
           " | " + ip_row->text(TimeLeftColumn);
}
// What a group row of those sums shows once a transfer at that speed reports.
QString FiguresOf(const std::tuple<qint64, qint64, qint64>& i_sums, qint32 i_speed)
{
    const auto [l_done, l_left, l_total] = i_sums;
    const double l_percent = double(l_done) * 100.0 / double(l_total);
    return QString("%1 [%2] | %3")
        .arg(TransfersForm::ProgressText(l_done, l_percent))
        .arg(int(l_percent))
        .arg(TransfersForm::TimeLeftText(i_speed > 0 ? l_left / i_speed : 0));
}
} // namespace

// The real window with bob's thousand entries in one list, a few of carol's, two of dave's that
// hold no bytes and two of erin's in one folder, all kept offline so that nothing starts by
// itself. The test changes the entries in bursts as the transfer queues would, and after each
// burst compares every group row with what its entries in the store add up to.
class TransferGroupRows : public ProgramFixture, public ::testing::WithParamInterface<GroupRowsCase>
{
protected:
    void Begin()
    {
        m_upload = GetParam().upload;
        m_random.seed(GetParam().seed);
        // Black, the default of the other colour, is also what a row that was never coloured shows.
        m_store.Setting("color_transfer_other", "#5a3c1e");
        ASSERT_NO_FATAL_FAILURE(StartLoggedIn());
        ASSERT_EQ(GetSetting("color_transfer_other"), "#5a3c1e");
        mp_form = mp_ui->transfersForm;
        ASSERT_TRUE(mp_form);
        mp_list = m_upload ? mp_form->UploadsList() : mp_form->DownloadsList();
        if (!GetParam().open)
            ToggleExpansion();
    }

    // The toolbar's two expand switches of the list.
    void ToggleExpansion()
    {
        for (const char* lp_rows : {"folders", "users"})
            mp_form->OnActionBarTriggered(nullptr, QString("expand_%1_%2").arg(m_upload ? "upload" : "download", lp_rows));
    }

    int Pick(int i_count) { return std::uniform_int_distribution<int>(0, i_count - 1)(m_random); }
    qint64 Between(qint64 i_low, qint64 i_high) { return std::uniform_int_distribution<qint64>(i_low, i_high)(m_random); }
    qint64 RandomSize()
    {
        const int l_kind = Pick(100);
        if (l_kind < 4)
            return 0;
        if (l_kind < 6 && !m_upload)
            return -Between(1, 5000);
        return l_kind < 36 ? Between(1, 999) : Between(1000, 10000000);
    }
    // Now and then past what a sender should say: below 0 or at a size below 0.
    qint64 RandomPosition(ItemPtr i_entry)
    {
        const qint64 l_size = RawSize(i_entry, m_upload);
        if (l_size <= 0 || Pick(20) == 0)
            return Pick(2) == 0 ? 0 : -Between(1, 100);
        return Between(0, l_size);
    }
    qint32 RandomSpeed()
    {
        const int l_kind = Pick(20);
        return l_kind == 0 ? 0 : (l_kind == 1 ? qint32(-Between(1, 1000)) : qint32(Between(1, 2000000)));
    }

    // Files of the sizes asked for, each a hole on disk.
    static bool MakeFile(const QString& i_path, qint64 i_size)
    {
        QFile l_file(i_path);
        return l_file.open(QIODevice::WriteOnly) && l_file.resize(i_size);
    }
    QString SharedPath(const QString& i_folder, const QString& i_name) const
    {
        return Home() + "/shared/" + i_folder + "/" + i_name;
    }

    // bob's entries spread over his folders in a shuffled order, and among them carol's three in
    // two folders, dave's two of no bytes and erin's two in a single folder.
    void Queue()
    {
        std::vector<QString> l_bobFolders;
        int l_folder = 1;
        for (const int l_size : FolderSizes)
            l_bobFolders.insert(l_bobFolders.end(), l_size, QString("Folder%1").arg(l_folder++));
        l_bobFolders.resize(BobEntries, QString("Folder%1").arg(l_folder));
        std::shuffle(l_bobFolders.begin(), l_bobFolders.end(), m_random);
        // User, folder, file, size.
        std::vector<std::tuple<QString, QString, QString, qint64>> l_files;
        for (int l_entry = 0; l_entry < BobEntries; ++l_entry)
        {
            const QString& l_folderName = l_bobFolders[std::size_t(l_entry)];
            l_files.emplace_back("bob", l_folderName, QString("track%1.dat").arg(l_entry, 4, 10, QChar('0')),
                                 l_folderName == "Folder1" ? 0 : RandomSize());
        }
        l_files.emplace_back("carol", "Folder2", "carol1.dat", RandomSize());
        l_files.emplace_back("carol", "Folder3", "carol2.dat", RandomSize());
        l_files.emplace_back("carol", "Folder3", "carol3.dat", 0);
        l_files.emplace_back("dave", "Empty", "nothing1.dat", 0);
        l_files.emplace_back("dave", "Empty", "nothing2.dat", m_upload ? 0 : -7);
        l_files.emplace_back("erin", "Solo", "erin1.dat", Between(1000, 100000));
        l_files.emplace_back("erin", "Solo", "erin2.dat", Between(1000, 100000));
        std::shuffle(l_files.begin(), l_files.end(), m_random);

        if (m_upload)
        {
            for (const auto& [l_user, l_folderName, l_name, l_size] : l_files)
            {
                ASSERT_TRUE(QDir().mkpath(Home() + "/shared/" + l_folderName));
                ASSERT_TRUE(MakeFile(SharedPath(l_folderName, l_name), l_size));
            }
            sharedFoldersManager->AddSharedFolder(Home() + "/shared").NewItem("shared_public");
        }
        for (const auto& [l_user, l_folderName, l_name, l_size] : l_files)
            if (m_upload)
                transferQueueManager->AddUpload(l_user, QString(SharedPath(l_folderName, l_name)).replace('/', '\\'));
            else
                transferQueueManager->AddDownload(l_user, l_name.toStdString(), ("Music\\" + l_folderName).toStdString(),
                                                  l_size, 0);
        ASSERT_EQ(g(EntryType(m_upload)).Size(), std::size_t(QueuedEntries));
    }

    // The list's entries in the order they were queued.
    std::vector<ItemPtr> Entries() const
    {
        return g(EntryType(m_upload)).SortNumericBy(m_upload ? "upload_order" : "download_order", true);
    }
    // The other users' entries and those of no bytes, seldom met among bob's thousand.
    bool IsRare(ItemPtr i_entry) const
    {
        return i_entry["user"].AsString() != "bob" || RawSize(i_entry, m_upload) <= 0;
    }

    void SetStatus(ItemPtr i_entry, const QString& i_status)
    {
        if (m_upload)
            transferQueueManager->SetUploadEntryStatus(i_entry, i_status);
        else
            transferQueueManager->SetDownloadEntryStatus(i_entry, i_status);
    }

    // Running, with the figures of a transfer under way as the queues set them up on a file
    // connection, or only marked so.
    void Run(ItemPtr i_entry, bool i_withPosition)
    {
        const bool l_start = i_withPosition && !i_entry[PositionType(m_upload)];
        if (l_start)
            transferQueueManager->AttachObject(i_entry, PositionType(m_upload), new qint64(RandomPosition(i_entry)));
        SetStatus(i_entry, Running(m_upload));
        if (!l_start)
            return;
        transferQueueManager->AttachObject(i_entry, "last_receipt_time", new QDateTime(QDateTime::currentDateTime()));
        transferQueueManager->AttachObject(i_entry, "bytes_per_second", new qint32(RandomSpeed()));
    }

    // Denied, for some with the peer's reason; a reason comes with the change to "denied".
    void Deny(ItemPtr i_entry)
    {
        static const char* const s_reasons[] = {"File not shared.", "Too many files", "Banned", "Queue Full"};
        if (StatusOf(i_entry, m_upload) != Denied && Pick(2) == 0)
            i_entry += d.GetType("denial_reason")->GetItem(s_reasons[Pick(4)]);
        SetStatus(i_entry, Denied);
    }

    // What can happen to an entry; uploads also go through the hand-shake.
    enum Move
    {
        ToQueued,
        ToRunningWithPosition,
        ToRunningBare,
        ToComplete,
        ToAborted,
        ToDenied,
        ToLocalError,
        ToRequesting,
        ToConnecting,
        ToWaitingForOffset,
        Moves
    };
    int MoveCount() const { return m_upload ? Moves : ToRequesting; }

    void Apply(ItemPtr i_entry, int i_move)
    {
        switch (i_move)
        {
        case ToQueued:
            return SetStatus(i_entry, Queued);
        case ToRunningWithPosition:
        case ToRunningBare:
            return Run(i_entry, i_move == ToRunningWithPosition);
        case ToComplete:
            return SetStatus(i_entry, Complete);
        case ToAborted:
            return SetStatus(i_entry, Aborted);
        case ToDenied:
            return Deny(i_entry);
        case ToLocalError:
            return SetStatus(i_entry, LocalError);
        case ToRequesting:
            return SetStatus(i_entry, Requesting);
        case ToConnecting:
            return SetStatus(i_entry, Connecting);
        default:
            return SetStatus(i_entry, WaitingForOffset);
        }
    }

    // One of the ways a transfer ends.
    int Outcome()
    {
        static const int s_outcomes[] = {ToComplete, ToAborted, ToDenied, ToLocalError};
        return s_outcomes[Pick(4)];
    }

    // Mostly what a busy queue sees: transfers starting and finishing.
    void ChangeStatus(ItemPtr i_entry)
    {
        static const int s_weights[Moves] = {16, 16, 6, 16, 10, 10, 8, 6, 6, 6};
        std::discrete_distribution<int> l_moves(s_weights, s_weights + MoveCount());
        Apply(i_entry, l_moves(m_random));
    }

    // The row of a user's entry, found by what its rows show.
    QTreeWidgetItem* FileRow(ItemPtr i_entry) const
    {
        const QString l_user = i_entry["user"].AsString();
        const QString l_folder = ReversePathname(FolderOf(i_entry, m_upload).AsString());
        const QString l_name = FileNameOf(i_entry, m_upload);
        for (int l_at = 0; l_at < mp_list->topLevelItemCount(); ++l_at)
        {
            QTreeWidgetItem* lp_user = mp_list->topLevelItem(l_at);
            for (int l_child = 0; lp_user->text(UserColumn) == l_user && l_child < lp_user->childCount(); ++l_child)
            {
                QTreeWidgetItem* lp_folder = lp_user->child(l_child);
                for (int l_file = 0; lp_folder->text(FolderColumn) == l_folder && l_file < lp_folder->childCount(); ++l_file)
                    if (lp_folder->child(l_file)->text(FileColumn) == l_name)
                        return lp_folder->child(l_file);
            }
        }
        return nullptr;
    }

    // A block moved by one of the running transfers, reported as the queues report it; the
    // group rows above it must show their sums at once. A transfer of a rare kind is taken
    // more often than its share.
    void ReportOne()
    {
        std::vector<ItemPtr> l_running, l_rare;
        for (ItemPtr l_entry : m_entries)
            if (transferQueueManager->PeekObject<qint64>(l_entry[PositionType(m_upload)]) &&
                transferQueueManager->PeekObject<qint32>(l_entry["bytes_per_second"]))
                (IsRare(l_entry) ? l_rare : l_running).push_back(l_entry);
        if (!l_rare.empty() && (l_running.empty() || Pick(3) == 0))
            Report(l_rare[std::size_t(Pick(int(l_rare.size())))]);
        else if (!l_running.empty())
            Report(l_running[std::size_t(Pick(int(l_running.size())))]);
    }

    void Report(ItemPtr i_entry)
    {
        QTreeWidgetItem* lp_row = FileRow(i_entry);
        const QString l_where = QString("report of %1 of %2 (%3)")
                                    .arg(FileNameOf(i_entry, m_upload), i_entry["user"].AsString(),
                                         StatusOf(i_entry, m_upload));
        if (!lp_row || !lp_row->parent() || !lp_row->parent()->parent())
        {
            m_problems << l_where + ": no file row under a folder and a user row";
            return;
        }
        QTreeWidgetItem* lp_folder = lp_row->parent();
        QTreeWidgetItem* lp_user = lp_folder->parent();
        const QString l_userBefore = Figures(lp_user);
        const QString l_folderBefore = Figures(lp_folder);

        const qint64 l_position = RandomPosition(i_entry);
        const qint32 l_speed = RandomSpeed();
        *transferQueueManager->PeekObject<qint64>(i_entry[PositionType(m_upload)]) = l_position;
        *transferQueueManager->PeekObject<qint32>(i_entry["bytes_per_second"]) = l_speed;
        if (m_upload)
            emit transferQueueManager->UploadProgressed(i_entry);
        else
            emit transferQueueManager->DownloadProgressed(i_entry);

        std::vector<ItemPtr> l_ofUser, l_ofFolder;
        for (ItemPtr l_entry : i_entry["user"].GetItems(EntryType(m_upload)))
        {
            l_ofUser.push_back(l_entry);
            if (FolderOf(l_entry, m_upload) == FolderOf(i_entry, m_upload))
                l_ofFolder.push_back(l_entry);
        }
        const auto l_userSums = DoneLeftTotal(l_ofUser, m_upload);
        const auto l_folderSums = DoneLeftTotal(l_ofFolder, m_upload);
        QString l_userWanted = l_userBefore, l_folderWanted = l_folderBefore;
        bool l_folderToo = true;
        // An open user row over a single folder leaves its sums to that folder row.
        if (!(lp_user->isExpanded() && lp_user->childCount() <= 1))
        {
            if (std::get<2>(l_userSums) > 0)
                l_userWanted = FiguresOf(l_userSums, l_speed);
            else
                l_folderToo = false;
        }
        if (l_folderToo && std::get<2>(l_folderSums) > 0)
            l_folderWanted = FiguresOf(l_folderSums, l_speed);

        const QString l_detail = QString(" at %1 bytes, %2 bytes/s, user row %3 with %4 folders")
                                     .arg(l_position)
                                     .arg(l_speed)
                                     .arg(lp_user->isExpanded() ? "open" : "closed")
                                     .arg(lp_user->childCount());
        const QString l_userShown = Figures(lp_user);
        if (l_userShown != l_userWanted)
            m_problems << QString("%1%2: user row shows \"%3\", wanted \"%4\"")
                              .arg(l_where, l_detail, l_userShown, l_userWanted);
        const QString l_folderShown = Figures(lp_folder);
        if (l_folderShown != l_folderWanted)
            m_problems << QString("%1%2: folder row %3 shows \"%4\", wanted \"%5\"")
                              .arg(l_where, l_detail, lp_folder->text(FolderColumn), l_folderShown, l_folderWanted);
        ++m_reports;
    }

    // Entries picked at random change state in a mixed order, with reports of running ones
    // between the changes. Meanwhile all entries of one small group row change alike, so that
    // its row comes to stand for a single state, or each ends in its own way; and one transfer
    // of each of the other users starts.
    void StatusBurst(int i_changes)
    {
        m_entries = Entries();
        std::vector<ItemPtr> l_rare;
        std::copy_if(m_entries.begin(), m_entries.end(), std::back_inserter(l_rare),
                     [this](ItemPtr i_entry) { return IsRare(i_entry); });
        std::multimap<int, ItemPtr> l_alike;
        const std::vector<ItemPtr> l_group = SmallGroup();
        for (ItemPtr l_entry : l_group)
            l_alike.emplace(Pick(i_changes), l_entry);
        const int l_move = Pick(MoveCount());
        const bool l_each = Pick(2) == 0;
        for (const char* lp_user : {"carol", "dave", "erin"})
        {
            std::vector<ItemPtr> l_own;
            std::copy_if(m_entries.begin(), m_entries.end(), std::back_inserter(l_own),
                         [lp_user](ItemPtr i_entry) { return i_entry["user"].AsString() == lp_user; });
            if (!l_own.empty())
                Run(l_own[std::size_t(Pick(int(l_own.size())))], true);
        }
        for (int l_change = 0; l_change < i_changes; ++l_change)
        {
            const std::vector<ItemPtr>& l_from = Pick(10) == 0 && !l_rare.empty() ? l_rare : m_entries;
            ChangeStatus(l_from[std::size_t(Pick(int(l_from.size())))]);
            for (auto l_at = l_alike.find(l_change); l_at != l_alike.end() && l_at->first == l_change;
                 l_at = l_alike.erase(l_at))
                Apply(l_at->second, l_each ? Outcome() : l_move);
            if (l_change % 6 == 5)
                ReportOne();
        }
    }

    // The entries of each group row of at most seven, by user and folder.
    std::vector<std::vector<ItemPtr>> SmallGroups() const
    {
        std::map<std::pair<QString, QString>, std::vector<ItemPtr>> l_groups;
        for (ItemPtr l_entry : m_entries)
            l_groups[{l_entry["user"].AsString(), FolderOf(l_entry, m_upload).AsString()}].push_back(l_entry);
        std::vector<std::vector<ItemPtr>> l_small;
        for (const auto& [l_key, l_entries] : l_groups)
            if (l_entries.size() <= 7)
                l_small.push_back(l_entries);
        return l_small;
    }
    std::vector<ItemPtr> SmallGroup()
    {
        const std::vector<std::vector<ItemPtr>> l_small = SmallGroups();
        return l_small.empty() ? std::vector<ItemPtr>() : l_small[std::size_t(Pick(int(l_small.size())))];
    }

    void Remove(ItemPtr i_entry)
    {
        m_entries.erase(std::find(m_entries.begin(), m_entries.end(), i_entry));
        if (m_upload)
            transferQueueManager->RemoveUpload(i_entry);
        else
            transferQueueManager->RemoveDownload(i_entry);
    }

    // Finished, aborted and removed one by one, carol's entries kept for a later removal. First
    // each small group row loses the one entry that decides what it shows, the others ended.
    void EndSome(int i_count)
    {
        m_entries = Entries();
        for (const std::vector<ItemPtr>& l_group : SmallGroups())
        {
            if (l_group.size() < 2 || l_group.front()["user"].AsString() == "carol")
                continue;
            for (std::size_t l_at = 1; l_at < l_group.size(); ++l_at)
                Apply(l_group[l_at], Outcome());
            Apply(l_group.front(), Pick(2) == 0 ? ToQueued : ToRunningWithPosition);
            ReportOne();
            Remove(l_group.front());
        }
        std::vector<ItemPtr> l_entries;
        std::copy_if(m_entries.begin(), m_entries.end(), std::back_inserter(l_entries),
                     [](ItemPtr i_entry) { return i_entry["user"].AsString() != "carol"; });
        std::shuffle(l_entries.begin(), l_entries.end(), m_random);
        for (int l_at = 0; l_at < i_count; ++l_at)
        {
            const ItemPtr l_entry = l_entries[std::size_t(l_at)];
            if (l_at % 3 == 0)
                SetStatus(l_entry, Complete);
            else if (l_at % 3 == 1)
                SetStatus(l_entry, Aborted);
            else
                Remove(l_entry);
            if (l_at % 5 == 4)
                ReportOne();
        }
    }

    QTreeWidgetItem* UserRow(const QString& i_user) const
    {
        for (int l_at = 0; l_at < mp_list->topLevelItemCount(); ++l_at)
            if (mp_list->topLevelItem(l_at)->text(UserColumn) == i_user)
                return mp_list->topLevelItem(l_at);
        return nullptr;
    }

    // Everything of bob's in one folder, and everything of carol's: downloads as the user deletes
    // a lone selected group row, uploads one by one.
    void RemoveGroup(const QString& i_user, const QString& i_folder)
    {
        QTreeWidgetItem* lp_row = UserRow(i_user);
        ASSERT_TRUE(lp_row) << i_user.toStdString();
        if (!i_folder.isEmpty())
        {
            QTreeWidgetItem* lp_user = lp_row;
            lp_row = nullptr;
            for (int l_child = 0; l_child < lp_user->childCount(); ++l_child)
                if (lp_user->child(l_child)->text(FolderColumn).startsWith(i_folder + "/"))
                    lp_row = lp_user->child(l_child);
            ASSERT_TRUE(lp_row) << i_folder.toStdString();
        }
        if (!m_upload)
        {
            mp_list->clearSelection();
            lp_row->setSelected(true);
            mp_form->DeleteSelectedDownloads();
            return;
        }
        for (ItemPtr l_entry : Entries())
            if (l_entry["user"].AsString() == i_user &&
                (i_folder.isEmpty() || FolderOf(l_entry, true).AsString().endsWith("/" + i_folder)))
                transferQueueManager->RemoveUpload(l_entry);
    }

    // Some group rows opened or closed by hand.
    void FlipRows(int i_rows)
    {
        std::vector<QTreeWidgetItem*> l_groups;
        for (int l_at = 0; l_at < mp_list->topLevelItemCount(); ++l_at)
        {
            QTreeWidgetItem* lp_user = mp_list->topLevelItem(l_at);
            l_groups.push_back(lp_user);
            for (int l_child = 0; l_child < lp_user->childCount(); ++l_child)
                l_groups.push_back(lp_user->child(l_child));
        }
        for (int l_flip = 0; l_flip < i_rows && !l_groups.empty(); ++l_flip)
        {
            QTreeWidgetItem* lp_row = l_groups[std::size_t(Pick(int(l_groups.size())))];
            lp_row->setExpanded(!lp_row->isExpanded());
        }
    }

    // A group row's status column and colour for its entries.
    static void CheckGroupRow(QTreeWidgetItem* ip_row, const std::vector<ItemPtr>& i_entries, bool i_upload,
                              const QString& i_name, QStringList& io_problems)
    {
        const QString l_aggregate = Aggregate(i_entries, i_upload);
        const QString l_status = ip_row->isExpanded() ? QString() : l_aggregate;
        if (ip_row->text(StatusColumn) != l_status)
            io_problems << QString("%1 (%2, %3 entries) shows status \"%4\", wanted \"%5\"")
                               .arg(i_name, ip_row->isExpanded() ? "open" : "closed")
                               .arg(i_entries.size())
                               .arg(ip_row->text(StatusColumn), l_status);
        const QColor l_color(GetSetting(ColorKey(l_aggregate)));
        if (ip_row->foreground(0).color() != l_color)
            io_problems << QString("%1 (aggregate \"%2\") is coloured %3, wanted %4 (%5)")
                               .arg(i_name, l_aggregate, ip_row->foreground(0).color().name(), l_color.name(),
                                    ColorKey(l_aggregate));
    }

    // The file rows under a folder row, one for each of its entries, with their statuses.
    static void CheckFileRows(QTreeWidgetItem* ip_folder, const std::vector<ItemPtr>& i_entries, bool i_upload,
                              const QString& i_name, QStringList& io_problems)
    {
        std::map<QString, ItemPtr> l_byName;
        for (ItemPtr l_entry : i_entries)
            l_byName[FileNameOf(l_entry, i_upload)] = l_entry;
        QStringList l_shown;
        for (int l_child = 0; l_child < ip_folder->childCount(); ++l_child)
        {
            QTreeWidgetItem* lp_row = ip_folder->child(l_child);
            l_shown << lp_row->text(FileColumn);
            const auto l_found = l_byName.find(lp_row->text(FileColumn));
            if (l_found == l_byName.end())
                continue;
            const QString l_status = FileStatusText(l_found->second, i_upload);
            if (lp_row->text(StatusColumn) != l_status)
                io_problems << QString("%1, file %2 shows status \"%3\", wanted \"%4\"")
                                   .arg(i_name, lp_row->text(FileColumn), lp_row->text(StatusColumn), l_status);
            const QColor l_color(GetSetting(ColorKey(StatusOf(l_found->second, i_upload))));
            if (lp_row->foreground(0).color() != l_color)
                io_problems << QString("%1, file %2 (%3) is coloured %4, wanted %5")
                                   .arg(i_name, lp_row->text(FileColumn), StatusOf(l_found->second, i_upload),
                                        lp_row->foreground(0).color().name(), l_color.name());
        }
        QStringList l_wanted;
        for (const auto& [l_fileName, l_entry] : l_byName)
            l_wanted << l_fileName;
        l_shown.sort();
        if (l_shown != l_wanted || int(i_entries.size()) != l_wanted.size())
            io_problems << QString("%1 holds the file rows %2, wanted %3 for %4 entries")
                               .arg(i_name, l_shown.join(','), l_wanted.join(','))
                               .arg(i_entries.size());
    }

    // Every group row of a list against a fresh walk of the store, and every file row's status.
    QStringList ListProblems(bool i_upload) const
    {
        QTreeWidget* lp_list = i_upload ? mp_form->UploadsList() : mp_form->DownloadsList();
        const QString l_list = i_upload ? "uploads" : "downloads";
        const auto l_groups = Groups(i_upload);
        QStringList l_problems, l_shownPairs, l_wantedPairs;
        for (const auto& [l_user, l_folders] : l_groups)
            for (const auto& [l_folder, l_entries] : l_folders)
                l_wantedPairs << l_user + " | " + l_folder;
        for (int l_at = 0; l_at < lp_list->topLevelItemCount(); ++l_at)
        {
            QTreeWidgetItem* lp_user = lp_list->topLevelItem(l_at);
            const QString l_user = lp_user->text(UserColumn);
            if (lp_user->childCount() == 0)
                l_shownPairs << l_user + " | (no folder row)";
            const auto l_userGroups = l_groups.find(l_user);
            for (int l_child = 0; l_child < lp_user->childCount(); ++l_child)
            {
                QTreeWidgetItem* lp_folder = lp_user->child(l_child);
                l_shownPairs << l_user + " | " + lp_folder->text(FolderColumn);
                if (l_userGroups == l_groups.end())
                    continue;
                const auto l_entries = l_userGroups->second.find(lp_folder->text(FolderColumn));
                if (l_entries == l_userGroups->second.end())
                    continue;
                const QString l_name =
                    QString("%1: folder row %2 of %3").arg(l_list, lp_folder->text(FolderColumn), l_user);
                CheckGroupRow(lp_folder, l_entries->second, i_upload, l_name, l_problems);
                CheckFileRows(lp_folder, l_entries->second, i_upload, l_name, l_problems);
            }
            if (l_userGroups != l_groups.end())
                CheckGroupRow(lp_user, AllOf(l_userGroups->second), i_upload,
                              QString("%1: user row %2").arg(l_list, l_user), l_problems);
        }
        l_shownPairs.sort();
        if (l_shownPairs != l_wantedPairs)
            l_problems.prepend(QString("%1: the group rows are [%2], wanted [%3]")
                                   .arg(l_list, l_shownPairs.join(", "), l_wantedPairs.join(", ")));
        return l_problems;
    }

    // After the queued refreshes have run, both lists and the reports since the last check.
    void Check(const QString& i_burst)
    {
        for (int l_turn = 0; l_turn < 3; ++l_turn)
            QCoreApplication::processEvents();
        QStringList l_problems = std::exchange(m_problems, {});
        l_problems << ListProblems(false) << ListProblems(true);
        EXPECT_TRUE(l_problems.isEmpty()) << i_burst.toStdString() << ": " << l_problems.size() << " differences\n"
                                          << l_problems.mid(0, ShownProblems).join('\n').toStdString();
        ++m_checks;
    }

    bool m_upload = false;
    std::mt19937 m_random;
    TransfersForm* mp_form = nullptr;
    QTreeWidget* mp_list = nullptr;
    // The list's entries in queue order, as the burst under way knows them.
    std::vector<ItemPtr> m_entries;
    QStringList m_problems;
    int m_reports = 0;
    int m_checks = 0;
};

INSTANTIATE_TEST_SUITE_P(Lists, TransferGroupRows, ::testing::ValuesIn(Cases),
                         [](const ::testing::TestParamInfo<GroupRowsCase>& i_info) { return std::string(i_info.param.name); });

TEST_P(TransferGroupRows, ShowWhatTheirEntriesAddUpToAfterEveryBurstOfChanges)
{
    ASSERT_NO_FATAL_FAILURE(Begin());
    ASSERT_NO_FATAL_FAILURE(Queue());
    Check("queued");
    for (int l_burst = 1; l_burst <= 5; ++l_burst)
    {
        StatusBurst(120);
        FlipRows(3);
        Check(QString("status burst %1").arg(l_burst));
    }
    EndSome(120);
    Check("finished, aborted and removed one by one");
    ASSERT_NO_FATAL_FAILURE(RemoveGroup("bob", "Folder3"));
    Check("bob's Folder3 removed");
    ASSERT_NO_FATAL_FAILURE(RemoveGroup("carol", QString()));
    Check("carol's removed");
    StatusBurst(60);
    mp_form->OnActionBarTriggered(nullptr, m_upload ? "clear_complete_and_aborted_uploads" : "clear_complete_downloads");
    Check("finished ones cleared");
    ToggleExpansion();
    StatusBurst(100);
    FlipRows(3);
    Check("group rows switched over by the toolbar");
    ToggleExpansion();
    StatusBurst(60);
    Check("group rows switched back");
    // The walk above must have met what it is meant to.
    EXPECT_GE(m_reports, 100);
    EXPECT_EQ(m_checks, 12);
}
