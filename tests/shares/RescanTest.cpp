// What a rescan leaves in the store after the disk changed under it, with the program running
// and across a restart, written out in full so that any change to the scan's result shows.

#include <QRegularExpression>
#include <QSet>
#include <QStringList>

#include <QtTest/QTest>

#include <sys/time.h>

#include "SharesFixture.h"
#include "shares/MP3Scanner.h"
#include "support/support/Mp3Stream.h"

namespace
{
QString Lower(const ItemPtr& i_item) { return i_item.AsString(); }

// The words and pieces of a path, as the word index cuts them.
QSet<QString> PathWords(const QString& i_path)
{
    QSet<QString> l_words;
    for (const char* l_separators : {"[^0-9a-z\\x{80}-\\x{ff}]+", "[ /\\\\]+"})
        for (const QString& l_word : i_path.toLower().split(QRegularExpression(l_separators)))
            if (!l_word.isEmpty())
                l_words << l_word;
    return l_words;
}

QStringList Sorted(QStringList i_list)
{
    i_list.sort();
    return i_list;
}

// Every shares item a scan makes or keeps, with the temporary folder's path and words replaced,
// one line each in a fixed order. How many words that path has, and which, depends on where the
// temporary folder is: a word of the path shows only where a file's own path under it has it
// too, and the path's other words show once, as "<disk>", with how many files have them.
QString ShareStore(const QString& i_disk)
{
    const QSet<QString> l_diskWords = PathWords(i_disk);
    const auto l_relative = [&](QString i_text) { return i_text.replace(i_disk, "~").replace(i_disk.toLower(), "~"); };
    QStringList l_lines;
    for (ItemPtr l_share : d.GetType("shared_folder")->GetItems())
    {
        QStringList l_folders;
        for (ItemPtr l_folder : l_share.GetItems("shared_file_folder"))
            l_folders << l_relative(l_folder.AsString());
        l_lines << "share " + l_relative(l_share.AsString()) + ": " + Sorted(l_folders).join(", ");
    }
    for (ItemPtr l_folder : d.GetType("shared_file_folder")->GetItems())
        l_lines << QString("folder %1 lower=%2 shares=%3 files=%4")
                       .arg(l_relative(l_folder.AsString()), l_relative(Lower(l_folder["shared_file_folder_lowercase_name"])))
                       .arg(l_folder.GetItems("shared_folder").Size())
                       .arg(l_folder.GetItems("shared_file").Size());
    // A word of the temporary folder's path shows where the file's own path under it has it too.
    const auto l_shown = [&](ItemPtr i_file, const QString& i_word) {
        return !l_diskWords.contains(i_word) ||
               PathWords(l_relative(i_file["shared_file_folder"].AsString()).mid(1) + "/" + i_file["shared_file_name"].AsString())
                   .contains(i_word);
    };
    for (ItemPtr l_file : d.GetType("shared_file")->GetItems())
    {
        QStringList l_words;
        bool l_allDiskWords = true;
        ItemSet l_tokens = l_file.GetItems("search_token");
        for (const QString& l_word : l_diskWords)
            l_allDiskWords &= bool(l_tokens.Contains(d.GetType("search_token")->HasItem(Value(l_word))));
        for (ItemPtr l_token : l_tokens)
            if (l_shown(l_file, l_token.AsString()))
                l_words << l_token.AsString();
        QString l_attributes;
        for (const char* l_type : {"is_scanned", "mpeg_version", "channel_mode", "audio_frequency", "bitrate_mode", "bitrate"})
            if (ItemPtr l_attribute = l_file[l_type])
                l_attributes += QString(" %1=%2").arg(l_type, l_attribute.AsString());
        l_lines << QString("file %1 | %2 (lower=%3) | size=%4%5 | %6%7")
                       .arg(l_relative(l_file["shared_file_folder"].AsString()), l_file["shared_file_name"].AsString(),
                            Lower(l_file["shared_file_name"]["shared_file_lowercase_name"]), l_file["shared_file_size"].AsString(),
                            l_attributes, Sorted(l_words).join(' '), l_allDiskWords ? "" : " (without the disk's words)");
    }
    QSet<QString> l_tokens;
    for (ItemPtr l_token : d.GetType("search_token")->GetItems())
    {
        int l_files = 0, l_shownFiles = 0;
        for (ItemPtr l_file : l_token.GetItems("shared_file"))
        {
            ++l_files;
            l_shownFiles += l_shown(l_file, l_token.AsString());
        }
        if (!l_diskWords.contains(l_token.AsString()) || l_shownFiles > 0)
            l_tokens << QString("%1:%2").arg(l_token.AsString()).arg(l_shownFiles);
        else
            l_tokens << QString("<disk>:%1").arg(l_files);
    }
    l_lines << "tokens " + Sorted(l_tokens.values()).join(' ');
    for (const char* l_type : {"shared_file_name", "shared_file_lowercase_name", "shared_file_folder_lowercase_name", "shared_file_size"})
    {
        QStringList l_values;
        for (ItemPtr l_item : d.GetType(l_type)->GetItems())
            l_values << l_relative(l_item.AsString());
        l_lines << QString(l_type) + " " + Sorted(l_values).join(", ");
    }
    return Sorted(l_lines).join('\n');
}

class ShareRescan : public SharesFixture
{
protected:
    // The files of a share before and after it changed on disk.
    void Share()
    {
        for (const char* l_name : {"Share/Albums/First Light/01 Opening.mp3", "Share/Albums/First Light/02 Closing.MP3",
                                   "Share/Albums/First Light/cover.jpg", "Share/Albums/Second/Track One.ogg",
                                   "Share/Albums/Second/Track Two.ogg", "Share/Albums/Second/cover.jpg", "Share/Loose Notes.txt",
                                   "Share/Old Folder/keep.txt", "Share/Gone Folder/lost.txt", "Share/case/Upper.TXT",
                                   "Share/Edited.mp3", "Share/Blank.mp3"})
            Write(l_name);
        mp_shares->AddSharedFolder(Path("Share")).NewItem("shared_public");
        mp_shares->OnMP3Scanned(Path("Share/Albums/First Light/01 Opening.mp3"), 1, "joint stereo", 0, false, 192);
    }

    void Change() const
    {
        Write("Share/Loose Notes.txt", "a longer text");
        Write("Share/Edited.mp3", "other bytes");
        Write("Share/Albums/Second/Track Three.ogg");
        Write("Share/New Folder/fresh.mp3");
        ASSERT_TRUE(QFile::remove(Path("Share/Albums/First Light/cover.jpg")));
        ASSERT_TRUE(QFile::rename(Path("Share/Albums/Second/Track Two.ogg"), Path("Share/Albums/Second/Track 2.ogg")));
        ASSERT_TRUE(QFile::rename(Path("Share/case/Upper.TXT"), Path("Share/case/upper.txt")));
        ASSERT_TRUE(QDir().rename(Path("Share/Old Folder"), Path("Share/Renamed Folder")));
        ASSERT_TRUE(QDir(Path("Share/Gone Folder")).removeRecursively());
    }
};

// The rescan of a changed share: found files keep their items as loaded (a changed file keeps
// its old size), new and renamed ones are added, vanished ones go with their words.
const char* const ChangedShare = R"(file ~/Share | Blank.mp3 (lower=blank.mp3) | size=1 | blank blank.mp3 mp3 share
file ~/Share | Edited.mp3 (lower=edited.mp3) | size=1 | edited edited.mp3 mp3 share
file ~/Share | Loose Notes.txt (lower=loose notes.txt) | size=1 | loose notes notes.txt share txt
file ~/Share/Albums/First Light | 01 Opening.mp3 (lower=01 opening.mp3) | size=1 is_scanned= mpeg_version=1 channel_mode=joint stereo audio_frequency=0 bitrate_mode=cbr bitrate=192 | 01 albums first light mp3 opening opening.mp3 share
file ~/Share/Albums/First Light | 02 Closing.MP3 (lower=02 closing.mp3) | size=1 | 02 albums closing closing.mp3 first light mp3 share
file ~/Share/Albums/Second | Track 2.ogg (lower=track 2.ogg) | size=1 | 2 2.ogg albums ogg second share track
file ~/Share/Albums/Second | Track One.ogg (lower=track one.ogg) | size=1 | albums ogg one one.ogg second share track
file ~/Share/Albums/Second | Track Three.ogg (lower=track three.ogg) | size=1 | albums ogg second share three three.ogg track
file ~/Share/Albums/Second | cover.jpg (lower=cover.jpg) | size=1 | albums cover cover.jpg jpg second share
file ~/Share/New Folder | fresh.mp3 (lower=fresh.mp3) | size=1 | folder fresh fresh.mp3 mp3 new share
file ~/Share/Renamed Folder | keep.txt (lower=keep.txt) | size=1 | folder keep keep.txt renamed share txt
file ~/Share/case | Upper.TXT (lower=upper.txt) | size=1 | case share txt upper upper.txt
folder ~/Share lower=~/share shares=1 files=3
folder ~/Share/Albums lower=~/share/albums shares=1 files=0
folder ~/Share/Albums/First Light lower=~/share/albums/first light shares=1 files=2
folder ~/Share/Albums/Second lower=~/share/albums/second shares=1 files=4
folder ~/Share/New Folder lower=~/share/new folder shares=1 files=1
folder ~/Share/Renamed Folder lower=~/share/renamed folder shares=1 files=1
folder ~/Share/case lower=~/share/case shares=1 files=1
share ~/Share: ~/Share, ~/Share/Albums, ~/Share/Albums/First Light, ~/Share/Albums/Second, ~/Share/New Folder, ~/Share/Renamed Folder, ~/Share/case
shared_file_folder_lowercase_name ~/share, ~/share/albums, ~/share/albums/first light, ~/share/albums/second, ~/share/case, ~/share/new folder, ~/share/renamed folder
shared_file_lowercase_name 01 opening.mp3, 02 closing.mp3, blank.mp3, cover.jpg, edited.mp3, fresh.mp3, keep.txt, loose notes.txt, track 2.ogg, track one.ogg, track three.ogg, upper.txt
shared_file_name 01 Opening.mp3, 02 Closing.MP3, Blank.mp3, Edited.mp3, Loose Notes.txt, Track 2.ogg, Track One.ogg, Track Three.ogg, Upper.TXT, cover.jpg, fresh.mp3, keep.txt
shared_file_size 1
tokens 01:1 02:1 2.ogg:1 2:1 <disk>:12 albums:6 blank.mp3:1 blank:1 case:1 closing.mp3:1 closing:1 cover.jpg:1 cover:1 edited.mp3:1 edited:1 first:2 folder:2 fresh.mp3:1 fresh:1 jpg:1 keep.txt:1 keep:1 light:2 loose:1 mp3:5 new:1 notes.txt:1 notes:1 ogg:3 one.ogg:1 one:1 opening.mp3:1 opening:1 renamed:1 second:4 share:12 three.ogg:1 three:1 track:3 txt:3 upper.txt:1 upper:1)";
} // namespace

// The same store whether the disk changed while the program ran or while it was closed, and
// the counts of what changed.
TEST_F(ShareRescan, LeavesTheSameStoreAfterChangesWhileRunningOrClosed)
{
    for (const bool l_restart : {false, true})
    {
        d.RemoveAllItems();
        ASSERT_TRUE(QDir(Path("Share")).removeRecursively());
        Share();
        QSignalSpy l_requests(mp_shares.get(), &SharedFoldersManager::MP3ScanRequired);
        if (l_restart)
            Restart([&] { Change(); });
        else
            Change();
        EXPECT_EQ(Rescan(), std::make_pair(4, 4)) << l_restart;
        EXPECT_EQ(ShareStore(Path()).toStdString(), ChangedShare) << l_restart;
        EXPECT_EQ(Requested(l_requests), "Share/Albums/First Light/02 Closing.MP3|Share/Blank.mp3|Share/Edited.mp3|Share/New Folder/fresh.mp3")
            << l_restart;
        EXPECT_EQ(Rescan(), std::make_pair(0, 0)) << l_restart;
        EXPECT_EQ(ShareStore(Path()).toStdString(), ChangedShare) << l_restart;
    }
}

// The scanner's answers arrive on its own thread's schedule: each wait ends with the answer
// about the file that goes last.
TEST_F(ShareRescan, AsksTheScannerAgainOnlyAboutFailedFilesThatChanged)
{
    Write("Share/a.mp3", "not audio");
    Write("Share/b.mp3", "not audio either");
    Write("Share/good.mp3", Mp3Stream().Add({12}, 10).Bytes());
    const auto l_file = [&](const char* i_name) { return mp_shares->GetSharedFileItem(Path(i_name)); };
    const auto l_answered = [&](const char* i_name) {
        return QTest::qWaitFor([&] { return l_file(i_name)["mp3_scan_failure"] || l_file(i_name)["is_scanned"]; }, 10000);
    };
    mp_shares->AddSharedFolder(Path("Share"));
    ASSERT_TRUE(l_answered("Share/good.mp3"));
    ASSERT_TRUE(l_answered("Share/b.mp3"));
    for (const char* l_name : {"Share/a.mp3", "Share/b.mp3"})
        EXPECT_EQ(l_file(l_name)["mp3_scan_failure"].AsString(), MP3Scanner::FileStamp(Path(l_name))) << l_name;
    EXPECT_TRUE(l_file("Share/good.mp3")["is_scanned"]);

    QSignalSpy l_requests(mp_shares.get(), &SharedFoldersManager::MP3ScanRequired);
    for (bool l_restart : {false, true})
    {
        if (l_restart)
            Restart();
        EXPECT_EQ(Rescan(), std::make_pair(0, 0));
        EXPECT_TRUE(l_requests.isEmpty()) << "the answers, failures included, hold across a restart";
    }

    // A new length, and the same bytes written again later.
    Write("Share/a.mp3", Mp3Stream().Add({9}, 10).Bytes());
    const timeval l_later[2] = {{2000000000, 0}, {2000000000, 0}};
    ASSERT_EQ(::utimes(Path("Share/b.mp3").toLocal8Bit().constData(), l_later), 0);
    l_requests.clear();
    Rescan();
    EXPECT_EQ(Requested(l_requests), "Share/a.mp3|Share/b.mp3");
    ASSERT_TRUE(l_answered("Share/a.mp3") && QTest::qWaitFor([&] { return l_file("Share/b.mp3")["mp3_scan_failure"].AsString() == MP3Scanner::FileStamp(Path("Share/b.mp3")); }, 10000));
    EXPECT_EQ(l_file("Share/a.mp3")["bitrate"].AsInt(), 128);
    EXPECT_FALSE(l_file("Share/a.mp3")["mp3_scan_failure"]) << "a scanned file carries no failure";

    // A late failure says nothing of a file scanned meanwhile, nor of one no longer shared.
    mp_shares->OnMP3ScanFailed({Path("Share/a.mp3"), Path("Share/gone.mp3")}, {"1:2", "3:4"});
    EXPECT_FALSE(l_file("Share/a.mp3")["mp3_scan_failure"]);
    EXPECT_FALSE(d.GetType("mp3_scan_failure")->HasItem(Value("3:4")));
}

// The start-up scan finishes its work before it returns: the words of the loaded files are in,
// and earlier failures were checked against the disk, so that only the changed one is asked
// about again, with the unscanned and new files, in the order the walk met them.
TEST_F(ShareRescan, TheStartUpScanIndexesAndChecksFailuresBeforeItReturns)
{
    Share();
    ASSERT_TRUE(QTest::qWaitFor([&] { return bool(mp_shares->GetSharedFileItem(Path("Share/Edited.mp3"))["mp3_scan_failure"]); }, 10000));
    // As if the scanner had not come to it yet.
    mp_shares->GetSharedFileItem(Path("Share/Albums/First Light/02 Closing.MP3")).Disconnect("mp3_scan_failure");
    Restart([&] { Change(); });
    QSignalSpy l_requests(mp_shares.get(), &SharedFoldersManager::MP3ScanRequired);
    QSignalSpy l_rescanned(mp_shares.get(), &SharedFoldersManager::SharedFilesRescanned);
    mp_shares->Init();
    ASSERT_EQ(l_rescanned.size(), 1);
    EXPECT_EQ(l_rescanned[0], (QList<QVariant>{4, 4}));
    EXPECT_EQ(ShareStore(Path()).toStdString(), ChangedShare);
    EXPECT_EQ(Requested(l_requests).toStdString(), "Share/Albums/First Light/02 Closing.MP3|Share/Edited.mp3|Share/New Folder/fresh.mp3");
    EXPECT_EQ(l_requests.size(), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return mp_shares->GetSharedFileItem(Path("Share/Edited.mp3"))["mp3_scan_failure"].AsString() == MP3Scanner::FileStamp(Path("Share/Edited.mp3")); }, 10000));
}
