#include <QSet>
#include <QStringList>

#include <set>

#include <sys/stat.h>

#include "SharesFixture.h"
#include "shares/WordIndex.h"

namespace
{
ItemPtr Named(const char* i_type, const QString& i_value) { return d.GetType(i_type)->GetItem(Value(i_value)); }

QStringList Tokens(ItemPtr i_file)
{
    QStringList l_tokens;
    for (ItemPtr l_token : i_file.GetItems("search_token"))
        l_tokens << l_token.AsString();
    l_tokens.sort();
    return l_tokens;
}
} // namespace

using SharedFolders = SharesFixture;

TEST_F(SharedFolders, RecordWhatTheListingShowsAndEndOnLinkCycles)
{
    for (const char* l_name : {"Rock/Old-Time Blues.mp3", "Rock/b.MP3", "Rock/c.Mp3", "Rock/.mp3", "Rock/.secret.txt", ".hidden/x.mp3",
                               "song.txt", "SONG.txt"})
        Write(l_name);
    ASSERT_EQ(mkfifo(Path("pipe.mp3").toUtf8().constData(), 0600), 0);
    QFile::link(Path("pipe.mp3"), Path("fifo-link.mp3"));
    QFile::link(Path(), Path("Rock/loop"));
    QFile::link(Path("Rock"), Path("alias"));
    LogLines l_log;
    QSignalSpy l_requests(mp_shares.get(), &SharedFoldersManager::MP3ScanRequired);
    mp_shares->AddSharedFolder(Path());
    EXPECT_EQ(Count("shared_file"), 7u) << "Rock's three files twice and one of the song pair";
    EXPECT_EQ(Requested(l_requests), "alias/b.MP3|alias/Old-Time Blues.mp3|Rock/b.MP3|Rock/Old-Time Blues.mp3");
    EXPECT_EQ(l_requests.size(), 1) << "one request for the whole scan";
    for (const char* l_link : {"alias/loop", "Rock/loop"})
        EXPECT_TRUE(l_log.m_lines.contains("Shared:    Skipping folder " + Path(l_link) + ", a link back to " +
                                           QFileInfo(Path()).canonicalFilePath()));
    // The look-up takes any letter case, but the folder and the whole name must match.
    for (const auto& [l_path, l_found] : {std::pair{"ROCK/c.mp3/", true}, {"c.Mp3", false}, {"Rock/c", false}, {"Rock/.secret.txt", false}})
        EXPECT_EQ(bool(mp_shares->GetSharedFileItem(Path(l_path))), l_found) << l_path;
    EXPECT_FALSE(mp_shares->GetSharedFileItem(""));
    // A word of the shared folder's own path indexes every file below it.
    const QString l_rootPiece = QFileInfo(Path()).fileName().toLower();
    EXPECT_EQ(d.GetType("search_token")->HasItem(Value(l_rootPiece)).GetItems("shared_file").Size(), 7u);
    ItemPtr l_blues = mp_shares->GetSharedFileItem(Path("Rock/Old-Time Blues.mp3"));
    EXPECT_TRUE(Tokens(l_blues).contains("old-time"));
    EXPECT_EQ(l_blues["shared_file_size"].AsInt(), 1);
    l_blues.NewItem("is_scanned");
    l_requests.clear();
    EXPECT_EQ(Rescan(), std::make_pair(0, 0));
    EXPECT_EQ(Requested(l_requests), "alias/b.MP3|alias/Old-Time Blues.mp3|Rock/b.MP3");
}

TEST_F(SharedFolders, CountChangesMadeWhileTheStoreWasSaved)
{
    for (const char* l_name : {"a.txt", "b.txt", "sub/c.txt"})
        Write(l_name);
    const ItemPtr l_share = mp_shares->AddSharedFolder(Path());
    LogLines l_log;
    EXPECT_EQ(mp_shares->AddSharedFolder(Path()), l_share);
    EXPECT_TRUE(l_log.m_lines.isEmpty()) << "no scan for a folder already shared";
    EXPECT_EQ(l_share["shared_folder_id"].AsString(), "[1]" + QFileInfo(Path()).fileName());
    Restart([&] {
        QFile::remove(Path("b.txt"));
        for (const char* l_name : {"d.txt", "sub/e.txt"})
            Write(l_name);
    });
    EXPECT_EQ(Count("shared_file_lowercase_name"), 3u);
    EXPECT_EQ(Count("shared_file_folder_lowercase_name"), 2u);
    EXPECT_TRUE(mp_shares->GetSharedFileItem(Path("SUB/C.TXT")));
    EXPECT_EQ(Rescan(), std::make_pair(2, 1));
    EXPECT_EQ(d.GetType("search_token")->HasItem("c.txt").GetItems("shared_file").Size(), 1u)
        << "the word index is not saved: the rescan makes it again";
    QDir().mkpath(Path("more"));
    EXPECT_EQ(mp_shares->AddSharedFolder(Path("more"))["shared_folder_id"].AsString(), "[2]more");
}

TEST_F(SharedFolders, CountVanishedFoldersAndSharesOnce)
{
    for (const char* l_name : {"a/cover.jpg", "b/cover.jpg", "b/x.txt", "c.txt"})
        Write(l_name);
    mp_shares->AddSharedFolder(Path());
    QDir(Path("b")).removeRecursively();
    EXPECT_EQ(Rescan(), std::make_pair(0, 2));
    EXPECT_EQ(Rescan(), std::make_pair(0, 0)) << "b's cover.jpg must not outlive its folder";
    EXPECT_EQ(Count("shared_file_folder"), 2u);
    d.GetType("shared_folder")->HasItem(Value(Path())).Remove();
    EXPECT_EQ(Rescan(), std::make_pair(0, 2));
    EXPECT_EQ(Rescan(), std::make_pair(0, 0));
    for (const char* l_type : {"shared_file", "shared_file_name", "shared_file_lowercase_name"})
        EXPECT_EQ(Count(l_type), 0u) << l_type;
}

TEST_F(SharedFolders, SplitPathsIntoWordsAndPieces)
{
    // Folder, name and the tokens of both passes.
    const char* const l_cases[][3] = {{"/data/music/rock", "old-time blues.mp3", "blues blues.mp3 data mp3 music old old-time rock time"},
                                      {"/X", "Café Déjà.txt", "café déjà déjà.txt txt x"},
                                      {"/x", "a\u0142b c_d", "a a\u0142b b c c_d d x"},
                                      {"/\u00c9T\u00c9", "a\U0001F600B", "a a\U0001F600b b \u00e9t\u00e9"}};
    for (const auto& l_case : l_cases)
    {
        ItemPtr l_file = d.GetType("shared_file")->NewItem();
        l_file += Named("shared_file_folder", l_case[0]);
        l_file += Named("shared_file_name", l_case[1]);
        mp_shares->TokenizeSharedFile(l_file);
        EXPECT_EQ(Tokens(l_file).join(' '), QString::fromUtf8(l_case[2]));
    }
    // Many texts cut together find the tokens each finds alone, every token made once, a word
    // met again in a piece or in a later text of the batch included.
    const std::vector<std::string> l_texts = {"/m/Two Words\\two words.mp3", "/m/x\\fresh new.mp3", "/m/x\\FRESH-new.ogg",
                                              "/é\\Été été.mp3", "", "/"};
    WordIndex l_index(d.GetType("search_token"));
    WordIndex::Batch l_batch;
    for (const std::string& l_text : l_texts)
        WordIndex::Cut(l_text, l_batch);
    l_index.Resolve(l_batch);
    for (std::size_t l_at = 0; l_at < l_texts.size(); ++l_at)
    {
        const auto [lp_begin, lp_end] = l_batch.TokensOf(l_at);
        std::set<Item*> l_together(lp_begin, lp_end);
        const std::vector<Item*> l_alone = WordIndex(d.GetType("search_token")).Tokens(l_texts[l_at]);
        EXPECT_EQ(l_together, std::set<Item*>(l_alone.begin(), l_alone.end())) << l_texts[l_at];
    }
    QStringList l_made;
    for (ItemPtr l_token : d.GetType("search_token")->GetItems())
        l_made << l_token.AsString();
    EXPECT_EQ(l_made.size(), QSet<QString>(l_made.begin(), l_made.end()).size());
    EXPECT_TRUE(l_made.contains("fresh-new.ogg") && l_made.contains("two") && l_made.contains(QString::fromUtf8("été.mp3")));

    QString l_words;
    for (ushort l_code : {0x2f, 0x30, 0x39, 0x3a, 0x40, 0x41, 0x5a, 0x5f, 0x61, 0x7a, 0x7f, 0x80, 0xe9, 0xff, 0x100, 0x142})
        l_words += SharedFoldersManager::IsSearchTokenSeparator(QChar(l_code)) ? '-' : 'w';
    EXPECT_EQ(l_words, "-ww--ww-ww-www--");
}

TEST_F(SharedFolders, DecideFoldersAndFilesPerUser)
{
    // One scanned folder per share, each with one file named after it; "nested" lies under
    // the shares of groups a and b at once.
    const auto l_share = [](const char* i_name) { return Named("shared_folder", i_name); };
    l_share("pub").NewItem("shared_public");
    l_share("list").NewItem("shared_userlist");
    std::map<QString, ItemPtr> l_files;
    for (const char* l_name : {"pub", "list", "a", "b", "nested"})
        (l_files[l_name] = d.GetType("shared_file")->NewItem()) += Named("shared_file_folder", QString("/") + l_name);
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
    const char* const l_cases[][3] = {{"stranger", "pub", "pub"}, {"listed", "list pub", "list pub"}, {"alice", "a list pub", "a list nested pub"},
                                      {"bob", "b list pub", "b list nested pub"}, {"mallory", "", ""}};
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

TEST_F(SharedFolders, DisplayFileAttributes)
{
    // Bitrate, mode and length in seconds; "-" for none.
    const char* const l_cases[][4] = {{"-", "-", "245", ", 4m5s"}, {"192", "cbr", "-", "192 CBR"}, {"256", "vbr", "61", "256 VBR, 1m1s"},
                                      {"-", "vbr", "-", " VBR"},   {"-", "-", "-", ""}};
    const char* const l_types[] = {"bitrate", "bitrate_mode", "length_seconds"};
    for (const auto& l_case : l_cases)
    {
        ItemPtr l_file = d.GetType("user_share_file")->NewItem();
        for (int l_k = 0; l_k < 3; ++l_k)
            if (l_case[l_k][0] != '-')
                l_file += Named(l_types[l_k], l_case[l_k]);
        EXPECT_EQ(mp_shares->GetFileItemDisplayString(l_file), l_case[3]);
    }
}

TEST_F(SharedFolders, RemoveABrowsedTreeAndWhatOnlyItHeld)
{
    ItemPtr l_folder = (Named("user", "carl") += d.GetType("user_share")->NewItem()).NewItem("user_share_folder");
    l_folder += Named("user_share_folder_name", "music");
    ItemPtr l_file = l_folder.NewItem("user_share_file");
    l_file += Named("user_share_file_name", "song.mp3");
    l_file += Named("file_size", "12");
    Named("user_share_file_name", "stray");
    mp_shares->RemoveUserShare("dave");
    EXPECT_EQ(Count("user_share_file_name"), 2u) << "no collection without a tree";
    mp_shares->RemoveUserShare("carl");
    for (const char* l_type : {"user_share", "user_share_folder", "user_share_folder_name", "user_share_file", "user_share_file_name", "file_size"})
        EXPECT_EQ(Count(l_type), 0u) << l_type;
}
