// Walking the shared folders on disk, the look-up items and the word index of the shares.

#include "shares/SharedFoldersManager.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileInfoList>

#include <QHash>
#include <QTimer>

#include <algorithm>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "diagnostics/Log.h"
#include "shares/MP3Scanner.h"
#include "shares/FolderFiles.h"
#include "shares/SharedFileTypes.h"
#include "shares/WordIndex.h"
#include "store/Data.h"
#include "store/GeneralFunctions.h"
#include "store/RemovalScope.h"

struct SharedFoldersManager::ScanTypes : SharedFileTypes
{
    Type* lowerFolder = d.GetType("shared_file_folder_lowercase_name");
    Type* lowerName = d.GetType("shared_file_lowercase_name");
    Type* isScanned = d.GetType("is_scanned");
    Type* scanFailure = d.GetType("mp3_scan_failure");
};

struct SharedFoldersManager::ScanWork
{
    // Files met without words, as loaded from the store or new.
    std::vector<Item*> unindexed;
    // The MP3 files to ask about in the order met, with the file when it failed before and
    // is asked about only if its stamp changed.
    std::vector<std::pair<QString, Item*>> mp3;
};

namespace
{
// The items of one type connected to an item, without copying the set; null when none.
const ItemSet* HeldItems(ItemPtr i_item, Type* ip_type)
{
    return i_item ? i_item->Connections().FindSet(ip_type) : nullptr;
}

// Whether an item is held by a root of the store, which keeps it through a collection.
bool IsHeldByPrimary(ItemPtr i_item)
{
    const TypeItemsMap& l_connections = i_item->Connections();
    for (auto l_entry = l_connections.Begin(); l_entry != l_connections.End(); ++l_entry)
        if (l_entry.GetType()->GetPrimacy() == Primary)
            return true;
    return false;
}

bool IsMp3Name(const QString& i_name)
{
    // Only these two spellings: a mixed-case extension is left alone.
    return i_name.size() > 4 && (i_name.endsWith(".mp3") || i_name.endsWith(".MP3"));
}

void ConnectAll(ItemPtr i_file, const std::vector<Item*>& i_items)
{
    for (Item* lp_item : i_items)
        i_file += ItemPtr(lp_item);
}

// A listed folder, opened for the sizes of its new files when the first one needs it: a size
// looked up by name within the folder spares the walk down the whole path for every file.
// Like the listing's own, a size that cannot be read is 0, and a link gives its target's.
class FolderHandle
{
public:
    explicit FolderHandle(const QString& i_path) : m_path(i_path) {}
    ~FolderHandle()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FolderHandle(const FolderHandle&) = delete;
    FolderHandle& operator=(const FolderHandle&) = delete;

    qint64 Size(const QString& i_name)
    {
        if (m_fd == -1)
            m_fd = ::open(QFile::encodeName(m_path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        struct stat l_stat;
        const QByteArray l_name = QFile::encodeName(i_name);
        const int l_result = m_fd >= 0 ? ::fstatat(m_fd, l_name.constData(), &l_stat, 0)
                                       : ::stat(QFile::encodeName(m_path + '/' + i_name).constData(), &l_stat);
        return l_result == 0 ? qint64(l_stat.st_size) : 0;
    }

private:
    QString m_path;
    int m_fd = -1;
};

// How many files one turn of the event loop takes on after the start-up scan.
constexpr std::size_t FollowUpFiles = 4000;
} // namespace

// The start-up rescan finds every loaded file without words (the index is not saved) and, in
// a share of broken or empty MP3 files, many files whose earlier failure must be checked against
// the disk. It leaves both to the event loop, so that the window answers at once; a search
// finishes the index before it is answered, and a scan before it walks.
void SharedFoldersManager::Init()
{
    m_deferFollowUp = true;
    RescanShares();
    m_deferFollowUp = false;
}

void SharedFoldersManager::RescanShares()
{
    FinishFollowUp();
    m_filesAdded = 0;
    m_filesRemoved = 0;
    const ScanTypes l_types;
    ScanWork l_work;
    {
        // A file the walk met may go before the walk ends (found again under another spelling of
        // its folder); it stays readable, and is told apart, until its words are in.
        RemovalScope l_scope(d);
        for (ItemPtr l_sharedFolder : l_types.sharedFolder->GetItems())
        {
            l_sharedFolder.Disconnect("shared_file_folder");
            const QString l_path = l_sharedFolder.AsString();
            ScanFolder(l_types, l_work, l_sharedFolder, l_path);
        }
        FinishScan(l_types, l_work);
    }
    const int l_vanishedFolders = RemoveVanishedFolders();
    // A rescan that removed nothing left nothing behind for the collection: every item it made
    // is connected to a file or folder that a shared folder reaches. Walking the whole store
    // anyway would take a third of an unchanged rescan, and more than twice that for twice the
    // tree; what other parts leave behind goes at the periodic collection.
    if (m_filesRemoved > 0 || l_vanishedFolders > 0)
        d.RemoveDisconnectedItems();
    emit SharedFilesRescanned(m_filesAdded, m_filesRemoved);
}

void SharedFoldersManager::FinishScan(const ScanTypes& i_types, ScanWork& io_work)
{
    QStringList l_asked;
    if (m_deferFollowUp)
    {
        m_unindexed.insert(io_work.unindexed.begin(), io_work.unindexed.end());
        for (const auto& [l_path, lp_failed] : io_work.mp3)
            if (lp_failed)
                m_failedMp3.emplace(lp_failed, l_path);
            else
                l_asked << l_path;
        if (IsFollowingUp())
            QTimer::singleShot(0, this, &SharedFoldersManager::ContinueFollowUp);
    }
    else
    {
        IndexFiles(i_types, io_work.unindexed.begin(), io_work.unindexed.end());
        for (const auto& [l_path, lp_failed] : io_work.mp3)
            if (!lp_failed || StampChanged(i_types, lp_failed, l_path))
                l_asked << l_path;
    }
    if (!l_asked.isEmpty())
        emit MP3ScanRequired(l_asked);
}

// The word index is built after the walk, file by file in the order of their identities and
// each file's words in theirs: every set of files of a word, and every set of words of a file,
// then grows at its end, where inserting costs least. Inserting at random places took most of a
// start-up rescan.
template <class Iterator>
void SharedFoldersManager::IndexFiles(const ScanTypes& i_types, Iterator i_begin, Iterator i_end)
{
    std::vector<Item*> l_files(i_begin, i_end);
    std::sort(l_files.begin(), l_files.end());
    l_files.erase(std::unique(l_files.begin(), l_files.end()), l_files.end());
    WordIndex l_index(i_types.token);
    std::vector<Item*> l_tokens;
    for (Item* lp_file : l_files)
    {
        ItemPtr l_file(lp_file);
        if (!lp_file->IsAlive() || l_file.IsConnected(i_types.token))
            continue;
        // A file found under another spelling of its folder keeps the words of its own folder
        // item. The separator between folder and name splits words in both passes, so the two
        // are cut apart.
        l_tokens = l_index.FolderTokens(lp_file->FirstOf(i_types.folder));
        const std::vector<Item*> l_nameTokens =
            l_index.Tokens(lp_file->FirstOf(i_types.name)->GetValue().Bytes());
        l_tokens.insert(l_tokens.end(), l_nameTokens.begin(), l_nameTokens.end());
        std::sort(l_tokens.begin(), l_tokens.end());
        l_tokens.erase(std::unique(l_tokens.begin(), l_tokens.end()), l_tokens.end());
        ConnectAll(l_file, l_tokens);
    }
}

// A file the scanner answered is asked about again only when it failed and has changed since.
bool SharedFoldersManager::StampChanged(const ScanTypes& i_types, Item* ip_file,
                                        const QString& i_path)
{
    Item* lp_failure = ip_file->FirstOf(i_types.scanFailure);
    return !lp_failure || ItemPtr(lp_failure).AsString() != MP3Scanner::FileStamp(i_path);
}

// One share of the start-up's follow-up per turn of the event loop: the files to index first,
// in the order of their identities, then the failed MP3 files, whose changed ones go to the
// scanner together.
void SharedFoldersManager::ContinueFollowUp()
{
    const ScanTypes l_types;
    if (!m_unindexed.empty())
    {
        auto l_end = m_unindexed.begin();
        for (std::size_t l_count = 0; l_end != m_unindexed.end() && l_count < FollowUpFiles; ++l_count)
            ++l_end;
        IndexFiles(l_types, m_unindexed.begin(), l_end);
        m_unindexed.erase(m_unindexed.begin(), l_end);
    }
    else
    {
        auto l_end = m_failedMp3.begin();
        for (std::size_t l_count = 0; l_end != m_failedMp3.end() && l_count < FollowUpFiles; ++l_count, ++l_end)
            if (!l_end->first->IsConnected(l_types.isScanned) &&
                StampChanged(l_types, l_end->first, l_end->second))
                m_changedMp3 << l_end->second;
        m_failedMp3.erase(m_failedMp3.begin(), l_end);
        if (m_failedMp3.empty() && !m_changedMp3.isEmpty())
        {
            const QStringList l_changed = m_changedMp3;
            m_changedMp3.clear();
            emit MP3ScanRequired(l_changed);
        }
    }
    if (IsFollowingUp())
        QTimer::singleShot(0, this, &SharedFoldersManager::ContinueFollowUp);
}

void SharedFoldersManager::FinishFollowUp()
{
    while (IsFollowingUp())
        ContinueFollowUp();
}

bool SharedFoldersManager::IsFollowingUp() const
{
    return !m_unindexed.empty() || !m_failedMp3.empty();
}

// A file that goes while the follow-up waits is no longer its business.
void SharedFoldersManager::OnSharedFileRemoved(ItemPtr i_file)
{
    m_unindexed.erase(i_file.Get());
    m_failedMp3.erase(i_file.Get());
}

// Folders no shared folder reaches any more went away on disk or with their share; their files
// count as removed. The files are removed here rather than left to the collection: a file name item is shared by every file
// of that name, so one live file of the same name would keep a vanished one reachable, and
// every later rescan would count it as removed again. A file that a root of the store still
// holds (an upload under way) stays, with its folder, for the collection to judge.
int SharedFoldersManager::RemoveVanishedFolders()
{
    Type* lp_sharedFolder = d.GetType("shared_folder");
    Type* lp_file = d.GetType("shared_file");
    ItemSet l_vanished;
    for (const auto& l_entry : d.GetType("shared_file_folder")->ItemsByValue())
        if (!ItemPtr(l_entry.second).IsConnected(lp_sharedFolder))
            l_vanished.Insert(l_entry.second);

    const ItemSet l_files = l_vanished.GetItems(lp_file);
    m_filesRemoved += static_cast<int>(l_files.Size());
    RemovalScope l_scope(d);
    for (ItemPtr l_file : l_files)
        if (!IsHeldByPrimary(l_file))
            l_file.Remove();
    for (ItemPtr l_folder : l_vanished)
        if (!HeldItems(l_folder, lp_file))
            l_folder.Remove();
    return static_cast<int>(l_vanished.Size());
}

void SharedFoldersManager::ScanSharedFolder(QString i_sharedFolder, QString i_folder)
{
    FinishFollowUp();
    const ScanTypes l_types;
    ScanWork l_work;
    RemovalScope l_scope(d);
    ScanFolder(l_types, l_work, l_types.sharedFolder->GetItem(Value(i_sharedFolder)), i_folder);
    FinishScan(l_types, l_work);
}

void SharedFoldersManager::ScanFolder(const ScanTypes& i_types, ScanWork& io_work,
                                      ItemPtr i_sharedFolder, const QString& i_folder)
{
    if (m_foldersBeingScanned.count(i_folder))
        return;
    const QString l_resolved = QFileInfo(i_folder).canonicalFilePath();
    if (!l_resolved.isEmpty() && m_resolvedScanPath.count(l_resolved))
    {
        Log("Shared", 2,
            QString("Skipping folder %1, a link back to %2").arg(i_folder, l_resolved));
        return;
    }
    m_foldersBeingScanned.insert(i_folder);
    if (!l_resolved.isEmpty())
        m_resolvedScanPath.insert(l_resolved);
    Log("Shared", 1,
        QString("Adding folder %1 as part of sharing %2").arg(i_folder, i_sharedFolder.AsString()));

    ItemPtr l_folder = i_types.folder->GetItem(Value(i_folder));
    l_folder += i_sharedFolder;
    const ItemSet* lp_held = HeldItems(l_folder, i_types.file);
    ItemSet l_vanished = lp_held ? *lp_held : ItemSet();

    // No system entries: a FIFO or a device is never opened, and a broken link leads nowhere.
    const QFileInfoList l_entries =
        QDir(i_folder).entryInfoList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot,
                                     QDir::Name | QDir::IgnoreCase);
    // Every file of a listing has the same folder part, and so the same look-up folders. When
    // this folder item is the only one of its path in any letter case, a listed name can only
    // stand for a file it holds: those are matched by name, and only a name they lack is looked
    // up in the whole store.
    FolderHandle l_folderFd(i_folder);
    bool l_lookedUp = false;
    ItemSet l_lookupFolders;
    std::optional<FolderFiles> l_held;
    // Files this listing made, by the key of their look-up item: in a folder that held nothing
    // before, a name differing from one of them only in letter case stands for that file.
    QHash<QString, Item*> l_made;
    for (const QFileInfo& l_entry : l_entries)
    {
        if (l_entry.isDir())
        {
            ScanFolder(i_types, io_work, i_sharedFolder, l_entry.absoluteFilePath());
            continue;
        }
        if (!l_entry.isFile())
            continue;

        if (!l_lookedUp)
        {
            l_lookedUp = true;
            const QString l_lookupText = GetAbsoluteFileName(l_entry.absolutePath());
            const ItemPtr l_lowerFolder = i_types.lowerFolder->HasItem(Value(l_lookupText));
            if (const ItemSet* lp_folders = HeldItems(l_lowerFolder, i_types.folder))
                l_lookupFolders = *lp_folders;
            if (l_lookupFolders.Size() == 1 && l_lookupFolders.Contains(l_folder))
            {
                const ItemSet* lp_files = HeldItems(l_folder, i_types.file);
                l_held.emplace(lp_files ? *lp_files : ItemSet(), i_types.name, i_types.lowerName);
            }
        }
        const QString l_name = l_entry.fileName();
        // The key of the name's look-up item; a trailing separator it drops holds no word.
        QString l_lowerName;
        ItemPtr l_file;
        if (l_held && l_held->Usable())
        {
            l_file = ItemPtr(l_held->Find(l_name.toUtf8()));
            if (!l_file && l_held->Empty())
                l_file = ItemPtr(l_made.value(l_lowerName = GetAbsoluteFileName(l_name)));
            else if (!l_file)
                l_file = FindScannedFile(i_types, l_lookupFolders, GetAbsoluteFileName(l_name));
        }
        else
            l_file = FindScannedFile(i_types, l_lookupFolders, GetAbsoluteFileName(l_name));
        if (l_file)
            l_vanished.Erase(l_file);
        else
        {
            l_file = i_types.file->NewItem();
            if (!l_lowerName.isNull())
                l_made.insert(l_lowerName, l_file.Get());
            l_file += l_folder;
            l_file += i_types.name->GetItem(Value(l_name));
            l_file += i_types.size->GetItem(Value(static_cast<long long>(l_folderFd.Size(l_name))));
            ++m_filesAdded;
        }
        if (IsMp3Name(l_name) && !l_file.IsConnected(i_types.isScanned))
            io_work.mp3.emplace_back(l_entry.absoluteFilePath(),
                                     l_file->FirstOf(i_types.scanFailure) ? l_file.Get() : nullptr);
        // A file's words follow from its own folder and name items, which never change, and
        // are connected all at once: a file holding any has them all.
        if (!l_file.IsConnected(i_types.token))
            io_work.unindexed.push_back(l_file.Get());
    }

    for (ItemPtr l_file : l_vanished)
    {
        l_file.Remove();
        ++m_filesRemoved;
    }
    m_foldersBeingScanned.erase(i_folder);
    if (!l_resolved.isEmpty())
        m_resolvedScanPath.erase(l_resolved);
}

// What GetSharedFileItem finds for a file of the listing, with the folder part looked up once
// per listing: a file of that lower-case name in one of the look-up folders.
ItemPtr SharedFoldersManager::FindScannedFile(const ScanTypes& i_types, const ItemSet& i_folders,
                                              const QString& i_lowerName) const
{
    if (i_folders.Empty())
        return ItemPtr();
    const ItemSet* lp_names =
        HeldItems(i_types.lowerName->HasItem(Value(i_lowerName)), i_types.name);
    if (!lp_names)
        return ItemPtr();
    ItemPtr l_found;
    for (ItemPtr l_name : *lp_names)
        if (const ItemSet* lp_files = HeldItems(l_name, i_types.file))
            for (ItemPtr l_file : *lp_files)
                if (i_folders.Contains(l_file->FirstOf(i_types.folder)) &&
                    (!l_found || l_file < l_found))
                    l_found = l_file;
    return l_found;
}

void SharedFoldersManager::TokenizeSharedFile(ItemPtr i_file)
{
    const QString l_text =
        i_file["shared_file_folder"].AsString() + "\\" + i_file["shared_file_name"].AsString();
    ConnectAll(i_file, WordIndex(d.GetType("search_token")).Tokens(l_text));
}

bool SharedFoldersManager::IsSearchTokenSeparator(QChar i_c)
{
    const ushort l_code = i_c.unicode();
    if (l_code >= 0x80)
        return l_code > 0xff;
    return !((l_code >= '0' && l_code <= '9') || (l_code >= 'a' && l_code <= 'z') ||
             (l_code >= 'A' && l_code <= 'Z'));
}

namespace
{
// GetAbsoluteFileName of an item's value: an ASCII one is lowered byte by byte, as every file
// of a first scan makes one.
Value LookupKey(ItemPtr i_item)
{
    const std::string_view l_bytes = i_item->GetValue().Bytes();
    if (!std::all_of(l_bytes.begin(), l_bytes.end(), [](char i_c) { return (i_c & 0x80) == 0; }))
        return Value(GetAbsoluteFileName(i_item.AsString()));
    std::string l_key(l_bytes);
    if (!l_key.empty() && (l_key.back() == '/' || l_key.back() == '\\'))
        l_key.pop_back();
    for (char& l_c : l_key)
        if (l_c >= 'A' && l_c <= 'Z')
            l_c = char(l_c - 'A' + 'a');
    return Value(std::move(l_key));
}
} // namespace

void SharedFoldersManager::OnSharedFileFolderAdded(ItemPtr i_folder)
{
    i_folder += d.GetType("shared_file_folder_lowercase_name")->GetItem(LookupKey(i_folder));
}

void SharedFoldersManager::OnSharedFileNameAdded(ItemPtr i_name)
{
    i_name += d.GetType("shared_file_lowercase_name")->GetItem(LookupKey(i_name));
}
