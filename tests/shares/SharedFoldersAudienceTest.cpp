#include <QStringList>

#include "SharesFixture.h"

namespace
{
QStringList Values(const ItemSet& i_items)
{
    QStringList l_values;
    for (ItemPtr l_item : i_items)
        l_values << l_item.AsString();
    l_values.sort();
    return l_values;
}

ItemPtr Named(const char* i_type, const QString& i_value)
{
    return d.GetType(i_type)->GetItem(Value(i_value));
}

// A listed user in those groups.
void List(const char* i_user, QStringList i_groups)
{
    ItemPtr l_inList = Named("user", i_user).NewItem("in_user_list");
    for (const QString& l_group : i_groups)
        l_inList += Named("user_list_group", l_group);
}
} // namespace

using SharedFoldersAudience = SharesFixture;

TEST_F(SharedFoldersAudience, DecidesFoldersAndFilesPerUser)
{
    // One scanned folder per share, each with one file named after it; "nested" lies under
    // the shares of groups a and b at once.
    const auto l_share = [](const char* i_name) { return Named("shared_folder", i_name); };
    l_share("pub").NewItem("shared_public");
    l_share("list").NewItem("shared_userlist");
    l_share("a") += Named("user_list_group", "a");
    l_share("b") += Named("user_list_group", "b");
    std::map<QString, ItemPtr> l_files;
    for (const char* l_name : {"pub", "list", "a", "nested"})
    {
        ItemPtr l_folder = Named("shared_file_folder", QString("/") + l_name);
        l_folder += std::string(l_name) == "nested" ? l_share("a") : l_share(l_name);
        (l_files[l_name] = d.GetType("shared_file")->NewItem()) += l_folder;
    }
    Named("shared_file_folder", "/nested") += l_share("b");
    List("listed", {});
    List("alice", {"a"});
    List("bob", {"b"});
    List("mallory", {"a"});
    Named("user", "mallory").NewItem("unshared");

    const struct
    {
        const char* user;
        QStringList folders, files;
    } l_cases[] = {
        {"stranger", {"pub"}, {"pub"}},
        {"listed", {"list", "pub"}, {"list", "pub"}},
        {"alice", {"a", "list", "pub"}, {"a", "list", "nested", "pub"}},
        {"bob", {"b", "list", "pub"}, {"list", "nested", "pub"}},
        {"mallory", {}, {}},
    };
    for (const auto& l_case : l_cases)
    {
        SCOPED_TRACE(l_case.user);
        EXPECT_EQ(Values(mp_shares->GetUserSharedFolders(l_case.user)), l_case.folders);
        QStringList l_visible;
        for (const auto& l_file : l_files)
            if (mp_shares->IsFileSharedWithUser(l_file.second, l_case.user))
                l_visible << l_file.first;
        EXPECT_EQ(l_visible, l_case.files);
    }
}

TEST_F(SharedFoldersAudience, FindsFilesThroughTheLowerCaseLookUp)
{
    ItemPtr l_file = d.GetType("shared_file")->NewItem();
    l_file += Named("shared_file_folder", "/Data/Music");
    l_file += Named("shared_file_name", "Song.MP3");
    Named("shared_file_folder", "/data/other");
    const struct
    {
        const char* path;
        bool found;
    } l_cases[] = {{"/data/music/song.mp3", true},  {"/DATA/MUSIC/SONG.mp3/", true},
                   {"/data/other/Song.MP3", false}, {"/Data/Music/Song", false},
                   {"", false}};
    for (const auto& l_case : l_cases)
        EXPECT_EQ(mp_shares->GetSharedFileItem(l_case.path), l_case.found ? l_file : ItemPtr())
            << l_case.path;
}

TEST_F(SharedFoldersAudience, NumbersNewFoldersOnce)
{
    const QString l_music[] = {Path("one/music"), Path("two/music")};
    QDir().mkpath(l_music[0]);
    const ItemPtr l_first = mp_shares->AddSharedFolder(l_music[0]);
    LogLines l_log;
    EXPECT_EQ(mp_shares->AddSharedFolder(l_music[0]), l_first);
    EXPECT_TRUE(l_log.m_lines.isEmpty());
    const ItemPtr l_second = mp_shares->AddSharedFolder(l_music[1]);
    EXPECT_EQ(l_first["shared_folder_id"].AsString(), "[1]music");
    EXPECT_EQ(l_second["shared_folder_id"].AsString(), "[2]music");
    EXPECT_EQ(GetSettingInt("shared_folder_counter"), 3);
}

TEST_F(SharedFoldersAudience, DisplaysFileAttributes)
{
    const struct
    {
        const char *bitrate, *mode, *length, *text;
    } l_cases[] = {
        {nullptr, nullptr, "245", ", 4m5s"}, {"192", "cbr", nullptr, "192 CBR"},
        {"256", "vbr", "61", "256 VBR, 1m1s"}, {nullptr, "vbr", nullptr, " VBR"},
        {nullptr, nullptr, nullptr, ""},
    };
    for (const auto& l_case : l_cases)
    {
        ItemPtr l_file = d.GetType("user_share_file")->NewItem();
        const std::pair<const char*, const char*> l_values[] = {
            {"bitrate", l_case.bitrate}, {"bitrate_mode", l_case.mode},
            {"length_seconds", l_case.length}};
        for (const auto& l_value : l_values)
            if (l_value.second)
                l_file += Named(l_value.first, l_value.second);
        EXPECT_EQ(mp_shares->GetFileItemDisplayString(l_file), l_case.text);
    }
}

TEST_F(SharedFoldersAudience, RemovesABrowsedTreeAndWhatOnlyItHeld)
{
    ItemPtr l_share = d.GetType("user_share")->NewItem();
    l_share += Named("user", "carl");
    ItemPtr l_folder = l_share.NewItem("user_share_folder");
    l_folder += Named("user_share_folder_name", "music");
    ItemPtr l_file = l_folder.NewItem("user_share_file");
    l_file += Named("user_share_file_name", "song.mp3");
    l_file += Named("file_size", "12");
    Named("user_share_file_name", "stray");

    mp_shares->RemoveUserShare("dave");
    EXPECT_EQ(Count("user_share_file_name"), 2u) << "no collection without a tree";
    mp_shares->RemoveUserShare("carl");
    for (const char* l_type : {"user_share", "user_share_folder", "user_share_folder_name",
                               "user_share_file", "user_share_file_name", "file_size"})
        EXPECT_EQ(Count(l_type), 0u) << l_type;
}
