// Walking the shared folders on disk, the look-up items and the word index of the shares.

#include "shares/SharedFoldersManager.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <functional>
#include <iterator>
#include <optional>
#include <set>

#include <sys/stat.h>

#include "diagnostics/Log.h"
#include "shares/MP3Scanner.h"
#include "shares/FolderFiles.h"
#include "shares/FolderListing.h"
#include "shares/SharedFileTypes.h"
#include "shares/StampReader.h"
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
    // An MP3 file to ask about, in the order met, unless it failed before and its stamp, read
    // meanwhile, is still the one it failed with.
    struct Mp3File
    {
        // Of a file asked about whatever its stamp.
        QString path;
        // Of an earlier failure: its folder, name and stamp in a batch of stamps.
        Item* failure;
        const StampReader::Batch* stamps;
        std::size_t at;
    };

    // Files met without words, as loaded from the store or new, with their folder and name
    // items when the walk has them at hand.
    std::vector<UnindexedFile> unindexed;
    std::vector<Mp3File> mp3;
    StampReader stamps;
    // The paths of the names left out, each told once a scan, however often its folder is walked.
    std::set<QByteArray> leftOut;
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

bool IsMp3Name(std::string_view i_name)
{
    // Only these two spellings: a mixed-case extension is left alone.
    const std::size_t l_size = i_name.size();
    return l_size > 4 && (i_name.compare(l_size - 4, 4, ".mp3") == 0 || i_name.compare(l_size - 4, 4, ".MP3") == 0);
}

// A name for the log: what decodes as its text, a backslash doubled, any other byte and every
// control character as \xNN.
QString Readable(std::string_view i_name)
{
    QString l_text;
    for (std::size_t l_at = 0; l_at < i_name.size();)
    {
        const unsigned char l_byte = static_cast<unsigned char>(i_name[l_at]);
        std::size_t l_length = 1;
        QString l_character;
        if (l_byte >= 0x80)
            // The fewest bytes that make one character and come back from it.
            for (l_length = 1; l_length <= 4 && l_at + l_length <= i_name.size(); ++l_length)
            {
                const QByteArray l_bytes(i_name.data() + l_at, int(l_length));
                l_character = QFile::decodeName(l_bytes);
                if (QFile::encodeName(l_character) == l_bytes)
                    break;
                l_character.clear();
            }
        if (!l_character.isEmpty())
            l_text += l_character;
        else if (l_byte == '\\')
            l_text += "\\\\";
        else if (l_byte < 0x20 || l_byte >= 0x7f)
            l_text += QString("\\x%1").arg(l_byte, 2, 16, QChar('0'));
        else
            l_text += QChar(l_byte);
        l_at += l_character.isEmpty() ? 1 : l_length;
    }
    return l_text;
}

// Tells of a name the scan leaves out, unless this scan told of it already.
void LogLeftOut(std::set<QByteArray>& io_told, const FolderListing& i_listing, const FolderListing::Entry& i_entry)
{
    const std::string_view l_name = i_listing.Bytes(i_entry);
    if (!io_told.insert(i_listing.EncodedPath() + '/' + QByteArray(l_name.data(), int(l_name.size()))).second)
        return;
    Log("Shared", 1,
        QString("Skipping %1 %2, %3")
            .arg(i_entry.isDir ? "folder" : "file", FolderListing::PathOf(i_listing.AbsolutePath(), Readable(l_name)),
                 l_name.find('\\') != std::string_view::npos ? "a backslash in its name"
                                                             : "a name not in the file system's encoding"));
}

// The words of a file go in all at once, the relation looked up once for them all. Each word
// connects to the file, not the file to each word: a word holds files alone, so its side of the
// connection is found at once, where a file's is looked up among the kinds of items it holds.
void ConnectAll(Item* ip_file, const std::vector<Item*>& i_tokens, const RelationInfo& i_relation)
{
    for (Item* lp_token : i_tokens)
        lp_token->Connect(ip_file, i_relation);
}
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

// The stamps of earlier failures are read while the words go in.
void SharedFoldersManager::FinishScan(const ScanTypes& i_types, ScanWork& io_work)
{
    IndexFiles(i_types, io_work.unindexed);
    io_work.stamps.Wait();
    QStringList l_asked;
    for (const ScanWork::Mp3File& l_file : io_work.mp3)
        if (!l_file.failure)
            l_asked << l_file.path;
        else if (!l_file.stamps->HasStamp(l_file.at, l_file.failure->GetValue().Bytes()))
            l_asked << FolderListing::PathOf(l_file.stamps->folder, QFile::decodeName(l_file.stamps->Name(l_file.at)));
    if (!l_asked.isEmpty())
        emit MP3ScanRequired(l_asked);
}

// The word index is built after the walk, file by file in the order of their identities and
// each file's words in theirs: every set of files of a word, and every set of words of a file,
// then grows at its end, where inserting costs least. Inserting at random places took most of a
// start-up rescan. The names are cut a batch of files at a time, whose words are found or made
// together.
void SharedFoldersManager::IndexFiles(const ScanTypes& i_types, std::vector<UnindexedFile>& io_files)
{
    constexpr std::size_t l_batchFiles = 256;
    const auto l_byFile = [](const UnindexedFile& i_a, const UnindexedFile& i_b) { return i_a.file < i_b.file; };
    std::sort(io_files.begin(), io_files.end(), l_byFile);
    io_files.erase(std::unique(io_files.begin(), io_files.end(),
                               [](const UnindexedFile& i_a, const UnindexedFile& i_b) { return i_a.file == i_b.file; }),
                   io_files.end());
    const RelationInfo l_relation = i_types.token->GetRelation(i_types.file);
    const RelationInfo l_fileRelation = i_types.file->GetRelation(i_types.token);
    // Most names bring a word or two of their own, a track number or the like.
    i_types.token->ReserveItems(2 * io_files.size());
    WordIndex l_index(i_types.token, 2 * io_files.size());
    WordIndex::Batch l_names;
    std::vector<UnindexedFile> l_batch;
    std::vector<Item*> l_nameTokens;
    std::vector<Item*> l_tokens;
    const auto l_connect = [&] {
        l_index.Resolve(l_names);
        for (std::size_t l_at = 0; l_at < l_batch.size(); ++l_at)
        {
            Item* lp_file = l_batch[l_at].file;
            if (!lp_file->IsAlive())
                continue;
            // A file found under another spelling of its folder keeps the words of its own
            // folder item. The separator between folder and name splits words in both passes,
            // so the two are cut apart.
            const std::vector<Item*>& l_folderTokens = l_index.FolderTokens(
                l_batch[l_at].folder ? l_batch[l_at].folder : lp_file->FirstOf(i_types.folder));
            const auto [lp_begin, lp_end] = l_names.TokensOf(l_at);
            l_nameTokens.assign(lp_begin, lp_end);
            std::sort(l_nameTokens.begin(), l_nameTokens.end());
            l_nameTokens.erase(std::unique(l_nameTokens.begin(), l_nameTokens.end()), l_nameTokens.end());
            l_tokens.clear();
            std::set_union(l_folderTokens.begin(), l_folderTokens.end(), l_nameTokens.begin(),
                           l_nameTokens.end(), std::back_inserter(l_tokens));
            // A file met without words has both ends filled at once when nobody hears of it;
            // one given its words meanwhile keeps them.
            if (!lp_file->ConnectUnheard(l_tokens.data(), l_tokens.size(), l_fileRelation) &&
                !lp_file->IsConnected(i_types.token))
                ConnectAll(lp_file, l_tokens, l_relation);
        }
        l_names.Clear();
        l_batch.clear();
    };
    for (const UnindexedFile& l_file : io_files)
    {
        Item* lp_file = l_file.file;
        // The walk took only files without words; whether one has them by now is asked when
        // they go in.
        if (!lp_file->IsAlive())
            continue;
        WordIndex::Cut((l_file.name ? l_file.name : lp_file->FirstOf(i_types.name))->GetValue().Bytes(), l_names);
        l_batch.push_back(l_file);
        if (l_batch.size() == l_batchFiles)
            l_connect();
    }
    l_connect();
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
    // The files it held, in identity order, and which of them the listing has met: what is left
    // unmet went away.
    std::vector<Item*> l_heldFiles;
    if (const ItemSet* lp_held = HeldItems(l_folder, i_types.file))
    {
        l_heldFiles.reserve(lp_held->Size());
        lp_held->ForEachMember([&](Item* ip_file) { l_heldFiles.push_back(ip_file); });
    }
    std::vector<bool> l_met(l_heldFiles.size());

    FolderListing l_listing(i_folder);
    // Every file of a listing has the same folder part, and so the same look-up folders. When
    // this folder item is the only one of its path in any letter case, a listed name can only
    // stand for a file it holds: those are matched by name, and only a name they lack is looked
    // up in the whole store.
    bool l_lookedUp = false;
    ItemSet l_lookupFolders;
    std::optional<FolderFiles> l_held;
    // Files this listing made, by the key of their look-up item: in a folder that held nothing
    // before, a name differing from one of them only in letter case stands for that file.
    QHash<QString, Item*> l_made;
    // The earlier failures among its files, whose stamps are read together, and their places
    // in the list of MP3 files.
    StampReader::Batch l_toStamp;
    std::vector<std::size_t> l_stamped;
    for (const FolderListing::Entry& l_entry : l_listing.Entries())
    {
        // A peer could not ask for it, nor for anything below it: it is not shared at all.
        if (!l_entry.requestable)
        {
            LogLeftOut(io_work.leftOut, l_listing, l_entry);
            continue;
        }
        if (l_entry.isDir)
        {
            // Going down keeps no folder open on the way.
            l_listing.Close();
            ScanFolder(i_types, io_work, i_sharedFolder, l_listing.PathOf(l_entry));
            continue;
        }

        if (!l_lookedUp)
        {
            l_lookedUp = true;
            const QString l_lookupText = GetAbsoluteFileName(l_listing.AbsolutePath());
            const ItemPtr l_lowerFolder = i_types.lowerFolder->HasItem(Value(l_lookupText));
            if (const ItemSet* lp_folders = HeldItems(l_lowerFolder, i_types.folder))
                l_lookupFolders = *lp_folders;
            if (l_lookupFolders.Size() == 1 && l_lookupFolders.Contains(l_folder))
            {
                const ItemSet* lp_files = HeldItems(l_folder, i_types.file);
                l_held.emplace(lp_files ? *lp_files : ItemSet(), i_types.name, i_types.lowerName);
            }
        }
        const std::string_view l_bytes = l_listing.Bytes(l_entry);
        // The name as text, made when it is needed.
        QString l_name;
        const auto l_text = [&]() -> const QString& {
            if (l_name.isNull())
                l_name = l_listing.Name(l_entry);
            return l_name;
        };
        // The key of the name's look-up item; a trailing separator it drops holds no word.
        QString l_lowerName;
        ItemPtr l_file;
        Item* lp_nameItem = nullptr;
        if (l_held && l_held->Usable())
        {
            const auto [lp_held, lp_heldName] =
                l_entry.ascii ? l_held->Find(l_bytes) : l_held->Find(l_text().toUtf8().toStdString());
            l_file = ItemPtr(lp_held);
            lp_nameItem = lp_heldName;
            if (!l_file && l_held->Empty())
                l_file = ItemPtr(l_made.value(l_lowerName = GetAbsoluteFileName(l_text())));
            else if (!l_file)
                l_file = FindScannedFile(i_types, l_lookupFolders, GetAbsoluteFileName(l_text()));
        }
        else
            l_file = FindScannedFile(i_types, l_lookupFolders, GetAbsoluteFileName(l_text()));
        if (l_file)
        {
            const auto lp_at = std::lower_bound(l_heldFiles.begin(), l_heldFiles.end(), l_file.Get(), std::less<Item*>());
            if (lp_at != l_heldFiles.end() && *lp_at == l_file.Get())
                l_met[std::size_t(lp_at - l_heldFiles.begin())] = true;
        }
        else
        {
            // Like a listing's own, a size that cannot be read is 0.
            struct stat l_stat;
            const long long l_size = l_listing.Stat(l_entry, l_stat) ? l_stat.st_size : 0;
            l_file = i_types.file->NewItem();
            if (!l_lowerName.isNull())
                l_made.insert(l_lowerName, l_file.Get());
            l_file += l_folder;
            const Value l_nameValue = l_entry.ascii ? Value(std::string(l_bytes)) : Value(l_text());
            lp_nameItem = l_file.Connect(i_types.name->GetItem(l_nameValue)).Get();
            l_file += i_types.size->GetItem(Value(l_size));
            ++m_filesAdded;
        }
        // A file the scanner answered is asked about again only when it failed and has
        // changed since.
        if (IsMp3Name(l_bytes) && !l_file.IsConnected(i_types.isScanned))
        {
            if (Item* lp_failure = l_file->FirstOf(i_types.scanFailure))
            {
                io_work.mp3.push_back({QString(), lp_failure, nullptr, l_toStamp.starts.size()});
                l_toStamp.Add(l_bytes);
                l_stamped.push_back(io_work.mp3.size() - 1);
            }
            else
                io_work.mp3.push_back({FolderListing::PathOf(l_listing.AbsolutePath(), l_text()), nullptr, nullptr, 0});
        }
        // A file's words follow from its own folder and name items, which never change, and
        // are connected all at once: a file holding any has them all.
        if (!l_file.IsConnected(i_types.token))
            io_work.unindexed.push_back(
                {l_file.Get(), lp_nameItem ? l_folder.Get() : nullptr, lp_nameItem});
    }

    if (!l_toStamp.starts.empty())
    {
        l_toStamp.folder = l_listing.AbsolutePath();
        l_toStamp.encodedFolder = l_listing.EncodedPath();
        const StampReader::Batch* lp_stamps = io_work.stamps.Read(std::move(l_toStamp));
        for (std::size_t l_at : l_stamped)
            io_work.mp3[l_at].stamps = lp_stamps;
    }
    for (std::size_t l_at = 0; l_at < l_heldFiles.size(); ++l_at)
        if (!l_met[l_at])
        {
            ItemPtr(l_heldFiles[l_at]).Remove();
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
    Type* lp_tokens = d.GetType("search_token");
    ConnectAll(i_file.Get(), WordIndex(lp_tokens).Tokens(l_text),
               lp_tokens->GetRelation(i_file->GetType()));
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
    std::string l_key;
    if (FolderFiles::AsciiLookupKey(i_item->GetValue().Bytes(), l_key))
        return Value(std::move(l_key));
    return Value(GetAbsoluteFileName(i_item.AsString()));
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
