#include <QStringList>

#include "SharesFixture.h"

namespace
{
ItemPtr Named(const char* i_type, const QString& i_value)
{
    return d.GetType(i_type)->GetItem(Value(i_value));
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
    std::map<QString, ItemPtr> l_files;
    for (const char* l_name : {"pub", "list", "a", "b", "nested"})
        (l_files[l_name] = d.GetType("shared_file")->NewItem()) +=
            Named("shared_file_folder", QString("/") + l_name);
    for (const char* l_name : {"pub", "list", "a", "b"})
        Named("shared_file_folder", QString("/") + l_name) += l_share(l_name);
    for (const char* l_group : {"a", "b"})
    {
        l_share(l_group) += Named("user_list_group", l_group);
        Named("shared_file_folder", "/nested") += l_share(l_group);
    }
    // Listed users and their groups; mallory is marked unshared.
    for (const auto& l_user : {std::make_pair("listed", ""), {"alice", "a"}, {"bob", "b"}, {"mallory", "a"}})
    {
        ItemPtr l_inList = Named("user", l_user.first).NewItem("in_user_list");
        if (*l_user.second)
            l_inList += Named("user_list_group", l_user.second);
    }
    Named("user", "mallory").NewItem("unshared");

    const char* const l_cases[][3] = {
        {"stranger", "pub", "pub"},        {"listed", "list pub", "list pub"},
        {"alice", "a list pub", "a list nested pub"}, {"bob", "b list pub", "b list nested pub"},
        {"mallory", "", ""},
    };
    for (const auto& l_case : l_cases)
    {
        QStringList l_folders, l_visible;
        for (ItemPtr l_folder : mp_shares->GetUserSharedFolders(l_case[0]))
            l_folders << l_folder.AsString();
        for (const auto& l_file : l_files)
            if (mp_shares->IsFileSharedWithUser(l_file.second, l_case[0]))
                l_visible << l_file.first;
        l_folders.sort();
        EXPECT_EQ(l_folders.join(' '), l_case[1]) << l_case[0];
        EXPECT_EQ(l_visible.join(' '), l_case[2]) << l_case[0];
    }
}

TEST_F(SharedFoldersAudience, FindsFilesThroughTheLowerCaseLookUp)
{
    ItemPtr l_file = d.GetType("shared_file")->NewItem();
    l_file += Named("shared_file_folder", "/Data/Music");
    l_file += Named("shared_file_name", "Song.MP3");
    Named("shared_file_folder", "/data/other");
    for (const auto& l_case : {std::make_pair("/data/music/song.mp3", true),
                               {"/DATA/MUSIC/SONG.mp3/", true}, {"/data/other/Song.MP3", false},
                               {"/Data/Music/Song", false}, {"", false}})
        EXPECT_EQ(mp_shares->GetSharedFileItem(l_case.first), l_case.second ? l_file : ItemPtr())
            << l_case.first;
}

TEST_F(SharedFoldersAudience, DisplaysFileAttributes)
{
    // Bitrate, mode and length in seconds; "-" for none.
    const char* const l_cases[][4] = {{"-", "-", "245", ", 4m5s"}, {"192", "cbr", "-", "192 CBR"},
                                      {"256", "vbr", "61", "256 VBR, 1m1s"},
                                      {"-", "vbr", "-", " VBR"}, {"-", "-", "-", ""}};
    for (const auto& l_case : l_cases)
    {
        ItemPtr l_file = d.GetType("user_share_file")->NewItem();
        const char* const l_types[] = {"bitrate", "bitrate_mode", "length_seconds"};
        for (int l_k = 0; l_k < 3; ++l_k)
            if (l_case[l_k][0] != '-')
                l_file += Named(l_types[l_k], l_case[l_k]);
        EXPECT_EQ(mp_shares->GetFileItemDisplayString(l_file), l_case[3]);
    }
}

TEST_F(SharedFoldersAudience, RemovesABrowsedTreeAndWhatOnlyItHeld)
{
    ItemPtr l_folder = (Named("user", "carl") += d.GetType("user_share")->NewItem())
                           .NewItem("user_share_folder");
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
