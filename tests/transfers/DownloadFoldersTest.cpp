#include <QDir>

#include <string>

#include "TransferFixture.h"

using namespace transfer_status;

class DownloadFolders : public TransferFixture
{
protected:
    ItemPtr Download(const QString& i_user, const std::string& i_folder, const std::string& i_file,
                     const char* i_level, const char* i_status = Queued)
    {
        ItemPtr l_entry = NewEntry(false, i_status, i_user);
        l_entry += d.GetType("remote_folder")->GetItem(i_folder);
        l_entry += d.GetType("file_name")->GetItem(i_file);
        l_entry += d.GetType("subfolder_save_level")->GetItem(i_level);
        return l_entry;
    }
    QString Local(const QString& i_path) const { return m_dir.path() + i_path; }
};

TEST_F(DownloadFolders, PathsKeepTheLastRemoteLevelsAndCleanEveryRemoteName)
{
    const QString l_base = QString(m_dir.path()).replace('/', '\\');
    const struct
    {
        const char* name;
        std::string folder, file;
        const char *level, *kept, *fileText;
    } l_cases[] = {
        {"level 1 of three", "@@x\\Music\\Artist\\Album", "a.mp3", "1", "Artist\\Album", "a.mp3"},
        {"level 0", "Music\\Album", "b.mp3", "0", "Album", "b.mp3"},
        {"level above the components", "Music\\Album", "c", "5", "Music\\Album", "c"},
        {"level below 0", "Music\\Album", "c", "-2", "Album", "c"},
        {"no remote folder", "", "d", "1", "", "d"},
        {"UTF-8 names", "x\\Caf\xc3\xa9", "\xc3\xa9t\xc3\xa9.mp3", "0", "Caf\xc3\xa9", "\xc3\xa9t\xc3\xa9.mp3"},
        {"dot-dot levels", "..\\..\\etc", "passwd", "2", "_\\_\\etc", "passwd"},
        {"slashes split levels", "a/../../b", "f", "3", "a\\_\\_\\b", "f"},
        {"an empty level", "a\\\\\\b", "g", "2", "a\\_\\b", "g"},
        {"NUL in a level", std::string("x\\a\0b", 5), "h", "0", "a_b", "h"},
        {"file name ..", "M", "..", "0", "M", "_"},
        {"empty file name", "M", "", "0", "M", "_"},
        {"slash in a file name", "M", "../a/b", "0", "M", ".._a_b"},
        {"backslash in a file name", "M", "..\\..\\b", "0", "M", ".._.._b"},
        {"NUL in a file name", "M", std::string("a\0b", 3), "0", "M", "a_b"},
    };
    SetSetting("download_folder", m_dir.path());
    for (const auto& l_case : l_cases)
    {
        SCOPED_TRACE(l_case.name);
        const ItemPtr l_entry = Download("bob", l_case.folder, l_case.file, l_case.level);
        const QString l_kept = QString::fromUtf8(l_case.kept), l_levels = l_kept.isEmpty() ? "" : "\\" + l_kept;
        EXPECT_EQ(mp_manager->GetDownloadTargetFolder(l_entry, false), l_base + "\\downloading" + l_levels);
        EXPECT_EQ(mp_manager->GetDownloadTargetPath(l_entry, true),
                  l_base + "\\complete" + l_levels + "\\" + QString::fromUtf8(l_case.fileText));
        EXPECT_EQ(mp_manager->GetDownloadRelativeDownloadFolder(l_entry), l_kept);
        EXPECT_EQ(l_entry["download_entry_status"].AsString(), Queued);
    }
    SetSetting("download_folder", m_dir.path() + "/"); // a doubled separator, as the disk takes it
    EXPECT_EQ(mp_manager->GetDownloadTargetFolder(Download("bob", "A", "e", "0"), false), l_base + "\\\\downloading\\A");
}

TEST_F(DownloadFolders, AFinishedFileIsFoundAndEmptiedFoldersGoOnceTheirLastDownloadIsComplete)
{
    SetSetting("download_folder", m_dir.path());
    const ItemPtr l_mine = Download("bob", "M\\Artist\\Album", "a.mp3", "1", Complete);
    const ItemPtr l_theirs = Download("carl", "M\\Artist\\Album", "b.mp3", "1");
    ASSERT_TRUE(QDir().mkpath(Local("/downloading/Artist/Album")) && QDir().mkpath(Local("/complete/Artist/Album")));
    EXPECT_FALSE(mp_manager->DoesDownloadItemCompleteFilenameExist(l_mine));
    ASSERT_TRUE(QFile(Local("/complete/Artist/Album/a.mp3")).open(QIODevice::WriteOnly));
    EXPECT_TRUE(mp_manager->DoesDownloadItemCompleteFilenameExist(l_mine));
    EXPECT_FALSE(mp_manager->DoesDownloadItemCompleteFilenameExist(l_theirs));

    mp_manager->RemoveDownloadDownloadingFolderIfAppropriate(l_mine);
    EXPECT_TRUE(QDir(Local("/downloading/Artist/Album")).exists()) << "another user's download is open";
    mp_manager->SetDownloadEntryStatus(l_theirs, Complete);
    mp_manager->RemoveDownloadDownloadingFolderIfAppropriate(l_mine);
    EXPECT_FALSE(QDir(Local("/downloading/Artist")).exists());
    EXPECT_TRUE(QDir(Local("/downloading")).exists());
}

TEST_F(DownloadFolders, APathThatStillLeavesTheDownloadFolderIsALocalErrorAndTouchesNothing)
{
    SetSetting("download_folder", m_dir.path() + "/x\\..\\..");
    const ItemPtr l_entry = Download("bob", "M\\Album", "a.mp3", "0", Complete);
    EXPECT_EQ(mp_manager->GetDownloadTargetPath(l_entry, false), QString());
    EXPECT_EQ(l_entry["download_entry_status"].AsString(), LocalError);
    EXPECT_FALSE(mp_manager->DoesDownloadItemCompleteFilenameExist(l_entry));
    mp_manager->RemoveDownloadDownloadingFolderIfAppropriate(l_entry);
    EXPECT_EQ(Logged("lies outside the download folder"), 1);
}
