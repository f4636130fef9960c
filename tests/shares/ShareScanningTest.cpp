#include <QStringList>

#include <sys/stat.h>

#include "SharesFixture.h"

namespace
{
QStringList Tokens(ItemPtr i_file)
{
    QStringList l_tokens;
    for (ItemPtr l_token : i_file.GetItems("search_token"))
        l_tokens << l_token.AsString();
    l_tokens.sort();
    return l_tokens;
}
} // namespace

using ShareScanning = SharesFixture;

TEST_F(ShareScanning, RecordsWhatTheListingShowsAndEndsOnLinkCycles)
{
    for (const char* l_name : {"Rock/Old-Time Blues.mp3", "Rock/b.MP3", "Rock/c.Mp3", "Rock/.mp3",
                               "Rock/.secret.txt", ".hidden/x.mp3", "song.txt", "SONG.txt"})
        Write(l_name);
    ASSERT_EQ(mkfifo(Path("pipe.mp3").toUtf8().constData(), 0600), 0);
    QFile::link(Path("pipe.mp3"), Path("fifo-link.mp3"));
    QFile::link(Path(), Path("Rock/loop"));
    QFile::link(Path("Rock"), Path("alias"));
    LogLines l_log;
    QSignalSpy l_requests(mp_shares.get(), &SharedFoldersManager::MP3ScanRequired);

    mp_shares->AddSharedFolder(Path());
    EXPECT_EQ(Count("shared_file"), 7u) << "Rock's three files twice and one of the song pair";
    QStringList l_requested;
    for (const QList<QVariant>& l_request : l_requests)
        l_requested << l_request[0].toString().mid(Path().size() + 1);
    EXPECT_EQ(l_requested.join('|'),
              "alias/b.MP3|alias/Old-Time Blues.mp3|Rock/b.MP3|Rock/Old-Time Blues.mp3");
    for (const char* l_link : {"alias/loop", "Rock/loop"})
        EXPECT_TRUE(l_log.m_lines.contains("Shared:    Skipping folder " + Path(l_link) +
                                           ", a link back to " +
                                           QFileInfo(Path()).canonicalFilePath()));

    // A word of the shared folder's own path indexes every file below it.
    const QString l_rootPiece = QFileInfo(Path()).fileName().toLower();
    EXPECT_EQ(d.GetType("search_token")->HasItem(Value(l_rootPiece)).GetItems("shared_file").Size(),
              7u);
    ItemPtr l_blues = mp_shares->GetSharedFileItem(Path("Rock/Old-Time Blues.mp3"));
    EXPECT_TRUE(Tokens(l_blues).contains("old-time"));
    EXPECT_EQ(l_blues["shared_file_size"].AsInt(), 1);

    l_blues.NewItem("is_scanned");
    l_requests.clear();
    EXPECT_EQ(Rescan(), std::make_pair(0, 0));
    EXPECT_EQ(l_requests.size(), 3);
}

TEST_F(ShareScanning, CountsChangesMadeWhileTheStoreWasSaved)
{
    for (const char* l_name : {"a.txt", "b.txt", "sub/c.txt"})
        Write(l_name);
    const ItemPtr l_share = mp_shares->AddSharedFolder(Path());
    LogLines l_log;
    EXPECT_EQ(mp_shares->AddSharedFolder(Path()), l_share);
    EXPECT_TRUE(l_log.m_lines.isEmpty()) << "no scan for a folder already shared";
    EXPECT_EQ(l_share["shared_folder_id"].AsString(), "[1]" + QFileInfo(Path()).fileName());
    mp_saver->AddSavedType("global");
    mp_saver->AddSavedByConnectionType("global_value", "global");
    TemporaryFolder l_storeFolder;
    const QString l_store = QString::fromStdString(l_storeFolder.File("store"));
    mp_saver->Save(l_store);
    d.RemoveAllItems();
    QFile::remove(Path("b.txt"));
    for (const char* l_name : {"d.txt", "sub/e.txt"})
        Write(l_name);

    mp_saver->Load(l_store);
    EXPECT_EQ(Count("shared_file_lowercase_name"), 3u);
    EXPECT_EQ(Count("shared_file_folder_lowercase_name"), 2u);
    EXPECT_TRUE(mp_shares->GetSharedFileItem(Path("SUB/C.TXT")));
    EXPECT_EQ(Rescan(), std::make_pair(2, 1));
    EXPECT_EQ(d.GetType("search_token")->HasItem("c.txt").GetItems("shared_file").Size(), 1u)
        << "the word index is not saved: the rescan makes it again";
    QDir().mkpath(Path("more"));
    EXPECT_EQ(mp_shares->AddSharedFolder(Path("more"))["shared_folder_id"].AsString(), "[2]more");
}

TEST_F(ShareScanning, CountsVanishedFoldersAndSharesOnce)
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

TEST_F(ShareScanning, SplitsPathsIntoWordsAndPieces)
{
    // Folder, name and the tokens of both passes.
    const char* const l_cases[][3] = {
        {"/data/music/rock", "old-time blues.mp3",
         "blues blues.mp3 data mp3 music old old-time rock time"},
        {"/X", "Café Déjà.txt", "café déjà déjà.txt txt x"},
        {"/x", "a\u0142b c_d", "a a\u0142b b c c_d d x"}};
    for (const auto& l_case : l_cases)
    {
        ItemPtr l_file = d.GetType("shared_file")->NewItem();
        l_file += d.GetType("shared_file_folder")->GetItem(l_case[0]);
        l_file += d.GetType("shared_file_name")->GetItem(l_case[1]);
        mp_shares->TokenizeSharedFile(l_file);
        EXPECT_EQ(Tokens(l_file).join(' '), QString::fromUtf8(l_case[2]));
    }
    QString l_words;
    for (ushort l_code : {0x2f, 0x30, 0x39, 0x3a, 0x40, 0x41, 0x5a, 0x5f, 0x61, 0x7a, 0x7f, 0x80,
                          0xe9, 0xff, 0x100, 0x142})
        l_words += SharedFoldersManager::IsSearchTokenSeparator(QChar(l_code)) ? '-' : 'w';
    EXPECT_EQ(l_words, "-ww--ww-ww-www--");
}
