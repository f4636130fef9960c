// The shares manager's schema, its wiring, and the rules of who may see what.

#include "shares/SharedFoldersManager.h"

#include <QDir>

#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/GeneralFunctions.h"
#include "store/SchemaDeclaration.h"
#include "store/Settings.h"

SharedFoldersManager* sharedFoldersManager = nullptr;

namespace
{
const TypeDeclaration FolderTypes[] = {
    {"shared_folder", Primary, false},
    {"shared_file", Intermediate, true},
    {"shared_file_name", Intermediate, false},
    {"shared_file_lowercase_name", Leaf, false},
    {"shared_file_folder", Intermediate, false},
    {"shared_file_folder_lowercase_name", Leaf, false},
    {"shared_file_size", Leaf, false},
    {"shared_public", Leaf, true},
    {"shared_userlist", Leaf, true},
    {"is_scanned", Leaf, true},
    {"shared_folder_id", Leaf, false},
};

// Read as RelateToType: how many `type` items one `related` item may be connected to, then how
// many `related` items one `type` item holds.
const RelationDeclaration FolderRelations[] = {
    {"shared_folder", "shared_file_folder", Many, Many},
    {"shared_file", "shared_file_folder", Many, One},
    {"shared_file_folder", "shared_file_folder_lowercase_name", Many, One},
    {"shared_file", "shared_file_name", Many, One},
    {"shared_file_name", "shared_file_lowercase_name", Many, One},
    {"shared_file", "shared_file_size", Many, One},
    {"shared_folder", "shared_public", Many, One},
    {"shared_folder", "shared_userlist", Many, One},
    {"shared_folder", "user_list_group", Many, Many},
    {"shared_folder", "shared_folder_id", One, One},
};

const TypeDeclaration UserShareTypes[] = {
    {"user_share", Primary, true},
    {"user_share_folder", Intermediate, true},
    {"user_share_folder_parent", Intermediate, true},
    {"user_share_folder_child", Intermediate, true},
    {"user_share_folder_name", Leaf, false},
    {"user_share_file", Intermediate, true},
    {"user_share_file_name", Leaf, false},
};

const RelationDeclaration UserShareRelations[] = {
    {"user_share", "user", One, One},
    {"user_share", "user_share_folder", One, Many},
    {"user_share_folder", "user_share_folder_name", Many, One},
    {"user_share_folder", "user_share_file", One, Many},
    {"user_share_folder", "user_share_folder_parent", One, One},
    {"user_share_folder", "user_share_folder_child", One, Many},
    {"user_share_folder_parent", "user_share_folder_child", One, One},
    {"user_share_file", "user_share_file_name", Many, One},
    {"user_share_file", "file_size", Many, One},
};

const RelationDeclaration FileAttributeRelations[] = {
    {"shared_file", "mpeg_version", Many, One},
    {"shared_file", "channel_mode", Many, One},
    {"shared_file", "audio_frequency", Many, One},
    {"shared_file", "bitrate_mode", Many, One},
    {"shared_file", "bitrate", Many, One},
    {"shared_file", "is_scanned", Many, One},
    {"shared_file", "mp3_scan_failure", Many, One},
};

// The last is the stamp a file had when the scanner could not analyse it.
const char* const Mp3AttributeTypes[] = {"mpeg_version", "channel_mode", "audio_frequency",
                                         "bitrate_mode", "bitrate", "mp3_scan_failure"};

const RelationDeclaration BrowsedAttributeRelations[] = {
    {"user_share_file", "bitrate_mode", Many, One},
    {"user_share_file", "bitrate", Many, One},
    {"user_share_file", "length_seconds", Many, One},
};

// The transfer queues set and clear the `unshared` mark; a marked user sees nothing at all.
bool IsUnshared(ItemPtr i_user)
{
    Type* lp_unshared = d.HasType("unshared");
    return lp_unshared && i_user && i_user.IsConnected(lp_unshared);
}

// The folders connected to the one item of a valueless marker type, without making that item.
ItemSet FoldersMarkedBy(const char* i_marker)
{
    const ItemSet& l_markers = d.GetType(i_marker)->NullItems();
    return l_markers.Empty() ? ItemSet() : ItemPtr(l_markers).GetItems("shared_folder");
}
} // namespace

SharedFoldersManager::SharedFoldersManager(QObject* ip_parent) : QObject(ip_parent)
{
    sharedFoldersManager = this;

    DeclareTypes(FolderTypes);
    if (dataSaver)
        dataSaver->AddSavedType("shared_folder");
    DeclareRelations(FolderRelations);
    if (dataSaver)
        for (const char* l_type : {"shared_public", "shared_userlist", "shared_folder_id"})
            dataSaver->AddSavedByConnectionType(l_type, "shared_folder");

    // These fire for items made while the store file loads too, so the look-up items are
    // never saved and always there.
    d.GetType("shared_file_name")
        ->m_newItemEvent.AddHandler(
            NewEventHandler(this, &SharedFoldersManager::OnSharedFileNameAdded));
    d.GetType("shared_file_folder")
        ->m_newItemEvent.AddHandler(
            NewEventHandler(this, &SharedFoldersManager::OnSharedFileFolderAdded));

    DeclareTypes(UserShareTypes);
    DeclareRelations(UserShareRelations);

    DeclareTypes({{"unshared", Leaf, true}});
    DeclareRelations({{"user", "unshared", Many, One}});
    if (dataSaver)
    {
        dataSaver->AddSavedType("unshared");
        dataSaver->AddSavedByConnectionType("user", "unshared");
    }

    DeclareTypes({{"search_token", Leaf, false}});
    DeclareRelations({{"search_token", "shared_file", Many, Many}});

    DeclareTypes({{"mp3_scan_failure", Leaf, false}});
    DeclareRelations(FileAttributeRelations);
    if (dataSaver)
    {
        dataSaver->AddSavedType("is_scanned");
        dataSaver->AddSavedByConnectionType("shared_file", "shared_file_folder");
        dataSaver->AddSavedByConnectionType("shared_file_folder", "shared_folder");
        dataSaver->AddSavedByConnectionType("shared_file_name", "shared_file");
        dataSaver->AddSavedByConnectionType("shared_file_size", "shared_file");
        for (const char* l_type : Mp3AttributeTypes)
            dataSaver->AddSavedByConnectionType(l_type, "shared_file");
    }
    DeclareRelations(BrowsedAttributeRelations);

    // A stored counter replaces this once the store file is loaded.
    SetSetting("shared_folder_counter", "1");
}

SharedFoldersManager::~SharedFoldersManager()
{
    if (sharedFoldersManager == this)
        sharedFoldersManager = nullptr;
}

ItemPtr SharedFoldersManager::AddSharedFolder(QString i_path)
{
    Type* lp_folders = d.GetType("shared_folder");
    const Value l_path(i_path);
    if (ItemPtr l_existing = lp_folders->HasItem(l_path))
        return l_existing;

    ItemPtr l_folder = lp_folders->NewItem(l_path);
    const qint64 l_number = GetSettingInt("shared_folder_counter");
    SetSetting("shared_folder_counter", Value(static_cast<long long>(l_number + 1)));
    const QString l_id = QString("[%1]%2").arg(l_number).arg(QDir(i_path).dirName());
    l_folder += d.GetType("shared_folder_id")->GetItem(Value(l_id));

    ScanSharedFolder(i_path, i_path);
    return l_folder;
}

bool SharedFoldersManager::IsFileSharedWithUser(ItemPtr i_file, QString i_user)
{
    ItemPtr l_user = d.GetType("user")->GetItem(Value(i_user));
    if (IsUnshared(l_user))
        return false;

    const ItemSet l_sharedFolders = i_file["shared_file_folder"].GetItems("shared_folder");
    if (!l_sharedFolders.Connected("shared_public").Empty())
        return true;
    ItemPtr l_inUserList = l_user["in_user_list"];
    if (!l_inUserList)
        return false;
    if (!l_sharedFolders.Connected("shared_userlist").Empty())
        return true;
    const ItemSet l_userGroups = l_inUserList.GetItems("user_list_group");
    return !l_userGroups.Common(l_sharedFolders.GetItems("user_list_group")).Empty();
}

ItemSet SharedFoldersManager::GetUserSharedFolders(QString i_user)
{
    ItemPtr l_user = d.GetType("user")->HasItem(Value(i_user));
    if (IsUnshared(l_user))
        return ItemSet();

    ItemSet l_folders = FoldersMarkedBy("shared_public");
    ItemPtr l_inUserList = l_user["in_user_list"];
    if (!l_inUserList)
        return l_folders;
    l_folders.Add(FoldersMarkedBy("shared_userlist"));
    for (ItemPtr l_group : l_inUserList.GetItems("user_list_group"))
        l_folders.Add(l_group.GetItems("shared_folder"));
    return l_folders;
}

ItemPtr SharedFoldersManager::GetSharedFileItem(QString i_path)
{
    const std::string l_path = GetAbsoluteFileName(i_path).toUtf8().toStdString();

    ItemPtr l_lowerName = d.GetType("shared_file_lowercase_name")->HasItem(GetFileName(l_path));
    const ItemSet l_candidates = l_lowerName.GetItems("shared_file_name").GetItems("shared_file");
    if (l_candidates.Empty())
        return ItemPtr();

    ItemPtr l_lowerFolder =
        d.GetType("shared_file_folder_lowercase_name")->HasItem(GetFolder(l_path));
    const ItemSet l_folders = l_lowerFolder.GetItems("shared_file_folder");
    return l_candidates.Connected(l_folders);
}

QString SharedFoldersManager::GetFileItemDisplayString(ItemPtr i_file)
{
    QString l_text;
    if (ItemPtr l_bitrate = i_file["bitrate"])
        l_text += QString::number(l_bitrate.AsInt());
    const std::string l_mode = i_file["bitrate_mode"].AsStdString();
    if (l_mode == "vbr")
        l_text += " VBR";
    else if (l_mode == "cbr")
        l_text += " CBR";
    if (ItemPtr l_length = i_file["length_seconds"])
        l_text += ", " + FormatSeconds(l_length.AsInt64());
    return l_text;
}

void SharedFoldersManager::RemoveUserShare(QString i_user)
{
    ItemPtr l_share = d.GetType("user")->HasItem(Value(i_user))["user_share"];
    if (l_share)
        RemoveShareTree(l_share);
}

void SharedFoldersManager::RemoveShareTree(ItemPtr i_share)
{
    if (i_share)
    {
        RemovalScope l_scope(d);
        const ItemSet l_folders = i_share.GetItems("user_share_folder");
        l_folders.GetItems("user_share_file").Remove();
        l_folders.Remove();
        i_share.Remove();
    }
    d.RemoveDisconnectedItems();
}
