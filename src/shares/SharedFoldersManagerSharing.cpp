// What other users may see of the shares as a whole list or one folder at a time, the counts
// the server is told at login, and the results of the MP3 scanner.

#include "shares/SharedFoldersManager.h"

#include <algorithm>
#include <string>

#include "diagnostics/Log.h"
#include "peer/PeerMessenger.h"
#include "server/Server.h"
#include "shares/SharedFileTypes.h"
#include "shares/SharedFolderInfo.h"
#include "store/Data.h"
#include "store/Settings.h"

namespace
{
// A file as a record of its own folder's list: its name alone, its size and nothing else.
FileInfo BareRecord(const SharedFileTypes& i_types, Item* ip_file)
{
    FileInfo l_record;
    l_record.name = ItemPtr(ip_file->FirstOf(i_types.name)).AsStdString();
    l_record.size = ItemPtr(ip_file->FirstOf(i_types.size)).AsInt64();
    return l_record;
}

// Readers take no more records in one list than that; a longer folder is cut.
quint32 ListedCount(std::size_t i_size)
{
    return static_cast<quint32>(std::min<std::size_t>(i_size, InputStream::MaxCount));
}
} // namespace

void SharedFoldersManager::GetSharedFilesAsUserShare(QString i_user, FileInfoMap& o_files,
                                                     AttributeTranslationTable&)
{
    const SharedFileTypes l_types;
    for (ItemPtr l_folder : GetUserSharedFolders(i_user).GetItems(l_types.folder))
    {
        std::string l_path(l_folder->GetValue().Bytes());
        std::replace(l_path.begin(), l_path.end(), '/', '\\');
        // An empty folder is listed too; two folder items of one path share the entry.
        std::set<FileInfo>& l_records = o_files[l_path];
        const ItemSet* lp_files = l_folder->Connections().FindSet(l_types.file);
        if (!lp_files)
            continue;
        for (ItemPtr l_file : *lp_files)
        {
            FileInfo l_record = BareRecord(l_types, l_file.Get());
            SetMp3Attributes(l_file.Get(), l_record.name, l_types.bitrate, l_types.bitrateMode,
                             l_record);
            l_records.insert(std::move(l_record));
        }
    }
}

MemStream SharedFoldersManager::GetSharedFilesMessage(QString i_user)
{
    Log("Shared", 1, QString("Shared file list requested by user %1").arg(i_user));
    FileInfoMap l_files;
    AttributeTranslationTable l_table;
    GetSharedFilesAsUserShare(i_user, l_files, l_table);

    MemStream l_body;
    const quint32 l_folders = ListedCount(l_files.size());
    l_body.Write(l_folders);
    auto l_folder = l_files.cbegin();
    for (quint32 l_n = 0; l_n < l_folders; ++l_n, ++l_folder)
    {
        l_body.Write(l_folder->first);
        const quint32 l_count = ListedCount(l_folder->second.size());
        l_body.Write(l_count);
        auto l_record = l_folder->second.cbegin();
        for (quint32 l_written = 0; l_written < l_count; ++l_written, ++l_record)
            l_body.Write(*l_record);
    }
    l_body.Write(static_cast<quint32>(l_table.size()));

    MemStream l_message;
    if (!CompressMessage(5, l_body, "Shared", i_user, l_message))
        return MemStream();
    return l_message;
}

void SharedFoldersManager::OnSharedFileListRequested(QString i_user)
{
    MemStream l_message = GetSharedFilesMessage(i_user);
    if (l_message.GetWriteIndex() > 0 && peerMessenger)
        peerMessenger->SendMessage(i_user, l_message);
}

void SharedFoldersManager::OnFilesInFoldersRequested(QString i_user, quint32 i_req,
                                                     QString i_folder)
{
    // Only the store is consulted, by the exact path: no remote text reaches the disk.
    const SharedFileTypes l_types;
    const ItemPtr l_folder =
        l_types.folder->HasItem(Value(QString(i_folder).replace('\\', '/')));
    if (!l_folder ||
        GetUserSharedFolders(i_user).Common(l_folder.GetItems("shared_folder")).Empty())
        return;

    SharedFolderInfo l_info;
    if (const ItemSet* lp_files = l_folder->Connections().FindSet(l_types.file))
        for (ItemPtr l_file : *lp_files)
        {
            if (l_info.files.size() == InputStream::MaxCount)
                break;
            l_info.files.insert(BareRecord(l_types, l_file.Get()));
        }
    MemStream l_body;
    l_body.Write(i_req);
    l_body.Write(i_folder);
    l_body.Write(quint32(1));
    l_body.Write(i_folder);
    l_body.Write(l_info);

    MemStream l_message;
    if (CompressMessage(37, l_body, "Shared", i_user, l_message) && peerMessenger)
        peerMessenger->SendMessage(i_user, l_message);
}

void SharedFoldersManager::OnConnectedToServer()
{
    // Every scanned folder and file, whatever its audience.
    gp_server->SendFilesFolders(static_cast<int>(d.GetType("shared_file_folder")->ItemCount()),
                                static_cast<int>(d.GetType("shared_file")->ItemCount()));
    gp_server->GetUserStats(GetSetting("username"));
}

void SharedFoldersManager::OnReceivedUserStats(QString i_user, UserStats i_stats)
{
    if (i_user != GetSetting("username"))
        return;
    SetSetting("upload_speed", Value(i_stats.m_averageSpeed));
}

void SharedFoldersManager::OnMP3Scanned(QString i_file, int i_mpegVersion, QString i_channelMode,
                                        int i_frequency, bool i_isVBR, int i_bitrate)
{
    Log("MP3 Scanning", 1, QString("Scanned %1").arg(i_file));
    // The file may have left the shares while it was being scanned.
    ItemPtr l_file = GetSharedFileItem(i_file);
    if (!l_file)
        return;
    l_file += d.GetType("mpeg_version")->GetItem(Value(i_mpegVersion));
    l_file += d.GetType("channel_mode")->GetItem(Value(i_channelMode));
    l_file += d.GetType("audio_frequency")->GetItem(Value(i_frequency));
    l_file += d.GetType("bitrate_mode")->GetItem(Value(i_isVBR ? "vbr" : "cbr"));
    l_file += d.GetType("bitrate")->GetItem(Value(i_bitrate));
    l_file += d.GetType("is_scanned")->GetGlobalNullItem();
    l_file.Disconnect("mp3_scan_failure");
}

void SharedFoldersManager::OnMP3ScanFailed(QStringList i_files, QStringList i_stamps)
{
    Type* lp_failures = d.GetType("mp3_scan_failure");
    Type* lp_scanned = d.GetType("is_scanned");
    for (int l_at = 0; l_at < i_files.size() && l_at < i_stamps.size(); ++l_at)
    {
        ItemPtr l_file = GetSharedFileItem(i_files[l_at]);
        if (l_file && !l_file.IsConnected(lp_scanned))
            l_file += lp_failures->GetItem(Value(i_stamps[l_at]));
    }
}
