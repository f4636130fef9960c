// Walking the shared folders on disk, the look-up items and the word index of the shares.

#include "shares/SharedFoldersManager.h"

#include <QDir>
#include <QFileInfo>
#include <QFileInfoList>

#include <QHash>

#include <algorithm>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "diagnostics/Log.h"
#include "shares/MP3Scanner.h"
#include "shares/SharedFileTypes.h"
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
    // Files met without words, as loaded from the store or new, in the order met.
    std::vector<Item*> unindexed;
    QStringList mp3;
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

// The `search_token` items of lower-case texts: both passes over a text, the words, then the
// pieces between blanks and slashes, each token once. A scan asks for the same words over and
// over (every file of a folder has the folder's words, and names share theirs), so each token
// item is looked up in the store once per scan and each folder's words are cut once.
class WordIndex
{
public:
    explicit WordIndex(Type* ip_tokens) : mp_tokens(ip_tokens) {}

    std::vector<Item*> Tokens(const QString& i_lowerText)
    {
        std::vector<Item*> l_tokens;
        const auto l_collectRuns = [&](auto i_isSeparator) {
            const QChar* lp_text = i_lowerText.constData();
            const int l_size = i_lowerText.size();
            int l_start = -1;
            for (int l_at = 0; l_at <= l_size; ++l_at)
            {
                const bool l_separates = l_at == l_size || i_isSeparator(lp_text[l_at]);
                if (!l_separates && l_start < 0)
                    l_start = l_at;
                else if (l_separates && l_start >= 0)
                {
                    Item* lp_token = Token(QString::fromRawData(lp_text + l_start, l_at - l_start));
                    if (std::find(l_tokens.begin(), l_tokens.end(), lp_token) == l_tokens.end())
                        l_tokens.push_back(lp_token);
                    l_start = -1;
                }
            }
        };
        l_collectRuns([](QChar i_c) { return SharedFoldersManager::IsSearchTokenSeparator(i_c); });
        l_collectRuns([](QChar i_c) { return i_c == ' ' || i_c == '/' || i_c == '\\'; });
        return l_tokens;
    }

    const std::vector<Item*>& FolderTokens(Item* ip_folder)
    {
        auto l_cached = m_folders.find(ip_folder);
        if (l_cached == m_folders.end())
            l_cached = m_folders.emplace(ip_folder, Tokens(ItemPtr(ip_folder).AsString().toLower())).first;
        return l_cached->second;
    }

private:
    // The text may be a view into a caller's string: the key kept is a copy.
    Item* Token(const QString& i_text)
    {
        auto l_known = m_tokens.constFind(i_text);
        if (l_known != m_tokens.constEnd())
            return l_known.value();
        Item* lp_token = mp_tokens->GetItem(Value(i_text)).Get();
        m_tokens.insert(QString(i_text.constData(), i_text.size()), lp_token);
        return lp_token;
    }

    Type* mp_tokens;
    QHash<QString, Item*> m_tokens;
    std::unordered_map<Item*, std::vector<Item*>> m_folders;
};

void ConnectAll(ItemPtr i_file, const std::vector<Item*>& i_items)
{
    for (Item* lp_item : i_items)
        i_file += ItemPtr(lp_item);
}

// The files a folder item holds, by the exact bytes of their names. Empty when two of them share
// a name but for letter case: then which one a listed name stands for is the look-up's choice.
class HeldFiles
{
public:
    HeldFiles(const SharedFileTypes& i_types, Type* ip_lowerName, const ItemSet& i_files)
    {
        std::unordered_set<Item*> l_lowerNames;
        m_byName.reserve(i_files.Size());
        for (ItemPtr l_file : i_files)
        {
            Item* lp_name = l_file->FirstOf(i_types.name);
            Item* lp_lower = lp_name ? lp_name->FirstOf(ip_lowerName) : nullptr;
            if (!lp_lower || !l_lowerNames.insert(lp_lower).second)
            {
                m_byName.clear();
                m_usable = false;
                return;
            }
            m_byName.emplace(lp_name->GetValue().Bytes(), l_file.Get());
        }
    }

    bool Usable() const { return m_usable; }
    bool Empty() const { return m_byName.empty(); }
    Item* Find(const QByteArray& i_name) const
    {
        auto l_found = m_byName.find(std::string_view(i_name.constData(), std::size_t(i_name.size())));
        return l_found == m_byName.end() ? nullptr : l_found->second;
    }

private:
    bool m_usable = true;
    std::unordered_map<std::string_view, Item*> m_byName;
};
} // namespace

void SharedFoldersManager::Init()
{
    RescanShares();
}

void SharedFoldersManager::RescanShares()
{
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

// The word index is built after the walk, file by file in the order of their identities: the
// sets of the common words then grow at their ends, where inserting costs least, rather than
// at random places, which took most of a start-up rescan. The index is not saved, so after a
// load every file is indexed again.
void SharedFoldersManager::FinishScan(const ScanTypes& i_types, ScanWork& io_work)
{
    std::vector<Item*>& l_files = io_work.unindexed;
    std::sort(l_files.begin(), l_files.end());
    l_files.erase(std::unique(l_files.begin(), l_files.end()), l_files.end());
    WordIndex l_index(i_types.token);
    for (Item* lp_file : l_files)
    {
        ItemPtr l_file(lp_file);
        if (!lp_file->IsAlive() || l_file.IsConnected(i_types.token))
            continue;
        // A file found under another spelling of its folder keeps the words of its own folder
        // item. The separator between folder and name splits words in both passes, so the two
        // are cut apart.
        ConnectAll(l_file, l_index.FolderTokens(lp_file->FirstOf(i_types.folder)));
        ConnectAll(l_file, l_index.Tokens(ItemPtr(lp_file->FirstOf(i_types.name)).AsString().toLower()));
    }
    l_files.clear();
    if (!io_work.mp3.isEmpty())
        emit MP3ScanRequired(io_work.mp3);
    io_work.mp3.clear();
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
    bool l_lookedUp = false;
    ItemSet l_lookupFolders;
    std::optional<HeldFiles> l_held;
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
                l_held.emplace(i_types, i_types.lowerName, lp_files ? *lp_files : ItemSet());
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
            l_file += i_types.size->GetItem(Value(static_cast<long long>(l_entry.size())));
            ++m_filesAdded;
        }
        if (IsMp3Name(l_name) && NeedsMp3Scan(i_types, l_file, l_entry))
            io_work.mp3 << l_entry.absoluteFilePath();
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

// A file the scanner answered is asked again only when it failed and has changed since.
bool SharedFoldersManager::NeedsMp3Scan(const ScanTypes& i_types, ItemPtr i_file,
                                        const QFileInfo& i_entry) const
{
    if (i_file.IsConnected(i_types.isScanned))
        return false;
    Item* lp_failure = i_file->FirstOf(i_types.scanFailure);
    return !lp_failure ||
           ItemPtr(lp_failure).AsString() != MP3Scanner::FileStamp(i_entry.absoluteFilePath());
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
    ConnectAll(i_file, WordIndex(d.GetType("search_token")).Tokens(l_text.toLower()));
}

bool SharedFoldersManager::IsSearchTokenSeparator(QChar i_c)
{
    const ushort l_code = i_c.unicode();
    if (l_code >= 0x80)
        return l_code > 0xff;
    return !((l_code >= '0' && l_code <= '9') || (l_code >= 'a' && l_code <= 'z') ||
             (l_code >= 'A' && l_code <= 'Z'));
}

void SharedFoldersManager::OnSharedFileFolderAdded(ItemPtr i_folder)
{
    i_folder += d.GetType("shared_file_folder_lowercase_name")
                    ->GetItem(Value(GetAbsoluteFileName(i_folder.AsString())));
}

void SharedFoldersManager::OnSharedFileNameAdded(ItemPtr i_name)
{
    i_name += d.GetType("shared_file_lowercase_name")
                  ->GetItem(Value(GetAbsoluteFileName(i_name.AsString())));
}
