// Walking the shared folders on disk, the look-up items and the word index of the shares.

#include "shares/SharedFoldersManager.h"

#include <QDir>
#include <QFileInfo>
#include <QFileInfoList>

#include <algorithm>

#include "diagnostics/Log.h"
#include "shares/SharedFileTypes.h"
#include "store/Data.h"
#include "store/GeneralFunctions.h"

struct SharedFoldersManager::ScanTypes : SharedFileTypes
{
    Type* lowerFolder = d.GetType("shared_file_folder_lowercase_name");
    Type* lowerName = d.GetType("shared_file_lowercase_name");
    Type* isScanned = d.GetType("is_scanned");
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

void ConnectAll(ItemPtr i_file, const std::vector<ItemPtr>& i_items)
{
    for (ItemPtr l_item : i_items)
        i_file += l_item;
}

bool IsMp3Name(const QString& i_name)
{
    // Only these two spellings: a mixed-case extension is left alone.
    return i_name.size() > 4 && (i_name.endsWith(".mp3") || i_name.endsWith(".MP3"));
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
    for (ItemPtr l_sharedFolder : l_types.sharedFolder->GetItems())
    {
        l_sharedFolder.Disconnect("shared_file_folder");
        const QString l_path = l_sharedFolder.AsString();
        ScanFolder(l_types, l_sharedFolder, l_path);
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
    ScanFolder(l_types, l_types.sharedFolder->GetItem(Value(i_sharedFolder)), i_folder);
}

void SharedFoldersManager::ScanFolder(const ScanTypes& i_types, ItemPtr i_sharedFolder,
                                      const QString& i_folder)
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
    // Every file of a listing has the same folder part, and so the same look-up folders.
    ItemSet l_lookupFolders;
    QString l_lookupText;
    std::vector<ItemPtr> l_folderTokens;
    for (const QFileInfo& l_entry : l_entries)
    {
        if (l_entry.isDir())
        {
            ScanFolder(i_types, i_sharedFolder, l_entry.absoluteFilePath());
            continue;
        }
        if (!l_entry.isFile())
            continue;

        if (l_lookupText.isNull())
        {
            l_lookupText = GetAbsoluteFileName(l_entry.absolutePath());
            const ItemPtr l_lowerFolder = i_types.lowerFolder->HasItem(Value(l_lookupText));
            if (const ItemSet* lp_folders = HeldItems(l_lowerFolder, i_types.folder))
                l_lookupFolders = *lp_folders;
        }
        const QString l_name = l_entry.fileName();
        // The key of the name's look-up item; a trailing separator it drops holds no word.
        const QString l_lowerName = GetAbsoluteFileName(l_name);
        ItemPtr l_file = FindScannedFile(i_types, l_lookupFolders, l_lowerName);
        if (l_file)
            l_vanished.Erase(l_file);
        else
        {
            l_file = i_types.file->NewItem();
            l_file += l_folder;
            l_file += i_types.name->GetItem(Value(l_name));
            l_file += i_types.size->GetItem(Value(static_cast<long long>(l_entry.size())));
            ++m_filesAdded;
        }
        if (IsMp3Name(l_name) && !l_file.IsConnected(i_types.isScanned))
            emit MP3ScanRequired(l_entry.absoluteFilePath());
        // A file's words follow from its own folder and name items, which never change, and
        // are connected all at once: a file holding any has them all. The index is not saved,
        // so after a load every file is indexed again.
        if (l_file.IsConnected(i_types.token))
            continue;
        // The separator between folder and name splits words in both passes, so the folder's
        // words are looked up once per listing. A file found under another spelling of the
        // folder keeps the words of its own folder item.
        const ItemPtr l_fileFolder = l_file->FirstOf(i_types.folder);
        if (l_fileFolder != l_folder)
            ConnectAll(l_file, TokenItems(i_types.token, l_fileFolder.AsString().toLower()));
        else
        {
            if (l_folderTokens.empty())
                l_folderTokens = TokenItems(i_types.token, i_folder.toLower());
            ConnectAll(l_file, l_folderTokens);
        }
        ConnectAll(l_file, TokenItems(i_types.token, l_lowerName));
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
    ConnectAll(i_file, TokenItems(d.GetType("search_token"), l_text.toLower()));
}

// Both passes over one text: the words, then the pieces between blanks and slashes. A piece
// that is also a word, and a word met twice, is looked up once.
std::vector<ItemPtr> SharedFoldersManager::TokenItems(Type* ip_tokens, const QString& i_lowerText)
{
    std::vector<QString> l_texts;
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
                QString l_token = QString::fromRawData(lp_text + l_start, l_at - l_start);
                if (std::find(l_texts.begin(), l_texts.end(), l_token) == l_texts.end())
                    l_texts.push_back(std::move(l_token));
                l_start = -1;
            }
        }
    };
    l_collectRuns([](QChar i_c) { return IsSearchTokenSeparator(i_c); });
    l_collectRuns([](QChar i_c) { return i_c == ' ' || i_c == '/' || i_c == '\\'; });

    std::vector<ItemPtr> l_tokens;
    l_tokens.reserve(l_texts.size());
    for (const QString& l_text : l_texts)
        l_tokens.push_back(ip_tokens->GetItem(Value(l_text)));
    return l_tokens;
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
