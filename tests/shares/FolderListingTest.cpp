// A scanned folder's listing against Qt's own of the same folder, and the stamps read on other
// threads against the scanner's own.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStringList>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "SharesFixture.h"
#include "shares/FolderListing.h"
#include "shares/MP3Scanner.h"
#include "shares/StampReader.h"

namespace
{
// The names of a listing, "/" after a folder's.
QStringList Names(const FolderListing& i_listing)
{
    QStringList l_names;
    for (const FolderListing::Entry& l_entry : i_listing.Entries())
        l_names << i_listing.Name(l_entry) + (l_entry.isDir ? "/" : "");
    return l_names;
}

// What the scan listed with QDir before: folders and files, links as their targets, no hidden
// entries, no special files or broken links, by name ignoring case.
QStringList QtNames(const QString& i_folder)
{
    QStringList l_names;
    for (const QFileInfo& l_entry : QDir(i_folder).entryInfoList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot,
                                                                  QDir::Name | QDir::IgnoreCase))
        if (l_entry.isDir() || l_entry.isFile())
            l_names << l_entry.fileName() + (l_entry.isDir() ? "/" : "");
    return l_names;
}

class FolderListingTest : public ::testing::Test, protected ShareDisk
{
};
} // namespace

// Every kind of entry and name a folder can hold, in the order Qt gives them.
TEST_F(FolderListingTest, ListsAndOrdersAsQtDoes)
{
    for (const char* l_name : {"b.mp3", "A.mp3", "_under.txt", "[bracket].txt", "10 ten.txt", "9 nine.txt", "Zeta.txt",
                               "\u00e9t\u00e9.txt", "\u00c9cole.txt", "eagle.txt", "\u0142\u00f3d\u017a.txt", "\u4e2d\u6587.txt",
                               "tab\tname.txt", "back\\slash.txt", ".hidden.txt", "sub/inner.txt", ".hiddendir/x.txt",
                               "Sub2/x.txt", "target.txt", "Track 01 intro.mp3", "track 01.mp3", "track 012.mp3",
                               "Track 01 Intro long.mp3", "track 01 a.mp3", "track 0", "TRACK 01 \u00e9.mp3"})
        Write(l_name);
    ASSERT_EQ(mkfifo(Path("pipe.mp3").toUtf8().constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(Path("target.txt"), Path("link-to-file.txt")));
    ASSERT_TRUE(QFile::link(Path("sub"), Path("link-to-folder")));
    ASSERT_TRUE(QFile::link(Path("nothing"), Path("broken-link.txt")));
    ASSERT_TRUE(QFile::link(Path("pipe.mp3"), Path("link-to-pipe.mp3")));
    FolderListing l_listing(Path());
    EXPECT_EQ(Names(l_listing), QtNames(Path()));
    EXPECT_TRUE(Names(l_listing).contains("link-to-folder/"));
    EXPECT_TRUE(Names(l_listing).contains("link-to-file.txt"));
    EXPECT_FALSE(Names(l_listing).contains("broken-link.txt"));
    EXPECT_FALSE(Names(l_listing).contains("pipe.mp3"));

    // Paths as the entries' own, however the folder was written; metadata through links.
    for (const QString& l_spelling : {Path(), Path() + "/", Path("sub/..")})
    {
        FolderListing l_again(l_spelling);
        ASSERT_FALSE(l_again.Entries().empty());
        EXPECT_EQ(l_again.PathOf(l_again.Entries().front()),
                  QFileInfo(Path(l_again.Name(l_again.Entries().front()))).absoluteFilePath());
    }
    for (const FolderListing::Entry& l_entry : l_listing.Entries())
        if (l_listing.Bytes(l_entry) == "link-to-file.txt")
        {
            struct stat l_stat;
            l_listing.Close();
            ASSERT_TRUE(l_listing.Stat(l_entry, l_stat));
            EXPECT_EQ(l_stat.st_size, 1);
        }
}

// Names alike but for letter case are both listed, side by side; a folder that cannot be read
// lists nothing.
TEST_F(FolderListingTest, KeepsNamesAlikeButForCaseAndListsNothingOfAMissingFolder)
{
    for (const char* l_name : {"song.txt", "SONG.txt", "a.txt", "z.txt"})
        Write(l_name);
    QStringList l_names = Names(FolderListing(Path()));
    ASSERT_EQ(l_names.size(), 4);
    EXPECT_EQ(l_names[0], "a.txt");
    EXPECT_EQ(QSet<QString>({l_names[1], l_names[2]}), QSet<QString>({"song.txt", "SONG.txt"}));
    EXPECT_EQ(l_names[3], "z.txt");
    EXPECT_TRUE(FolderListing(Path("missing")).Entries().empty());
}

// Stamps read on other threads are those the scanner writes; a file that is not there has none.
TEST_F(FolderListingTest, StampsReadAheadAreTheScannersOwn)
{
    StampReader::Batch l_files;
    for (int l_file = 0; l_file < 300; ++l_file)
    {
        Write(QString("s/%1.mp3").arg(l_file), QByteArray(l_file, 'x'));
        l_files.Add(std::to_string(l_file) + ".mp3");
    }
    l_files.Add("missing.mp3");
    StampReader l_reader;
    std::vector<const StampReader::Batch*> l_batches;
    for (const QString& l_folder : {Path("s"), Path("none")})
    {
        StampReader::Batch l_batch = l_files;
        l_batch.encodedFolder = QFile::encodeName(l_folder);
        l_batches.push_back(l_reader.Read(std::move(l_batch)));
    }
    l_reader.Wait();
    for (std::size_t l_at = 0; l_at < l_files.starts.size(); ++l_at)
    {
        const QString l_stamp = MP3Scanner::FileStamp(Path("s/") + l_files.Name(l_at));
        EXPECT_EQ(QString::fromStdString(l_batches[0]->StampText(l_at)), l_stamp) << l_files.Name(l_at);
        EXPECT_TRUE(l_batches[0]->HasStamp(l_at, l_stamp.toStdString()));
        EXPECT_FALSE(l_batches[0]->HasStamp(l_at, "1:2"));
        EXPECT_EQ(l_batches[1]->StampText(l_at), "");
        EXPECT_TRUE(l_batches[1]->HasStamp(l_at, ""));
    }
    EXPECT_EQ(l_batches[0]->StampText(300), "");
}
