#include <limits>

#include "TransfersFixture.h"

class TransferProgress : public TransfersFixture
{
protected:
    void SetUp() override
    {
        TransfersFixture::SetUp();
        Load();
    }
    // Time left, speed and bar of a row.
    static QString Figures(QTreeWidgetItem* ip_row)
    {
        return QString("%1|%2|%3|%4").arg(ip_row->text(3), ip_row->text(5), ip_row->text(6), BarText(ip_row));
    }
};

TEST_F(TransferProgress, AFileRowShowsItsBytesPercentageTimeLeftAndSpeed)
{
    // Size, bytes done, bytes per second, then the bar, the time left and the speed shown.
    const std::tuple<qint64, qint64, qint32, const char*, const char*, const char*> l_cases[] = {
        {2097152, 1048576, 1024, "1,048,576 (50.0%) [50]", "   17m:4s", "1.0"},
        {3725 * 12800LL, 0, 12800, " (0.0%) [0]", "   1h:2m:5s", "12.5"},
        {90000000, 0, 1000, " (0.0%) [0]", "   25h:0m:0s", "1.0"},
        {3000, 1000, 0, "1,000 (33.3%) [33]", "   0s", "0.0"},
        {1000, 999, 1, "999 (99.9%) [99]", "   1s", "0.0"},
        // Sizes come from the uploader: none, or fewer bytes than were sent.
        {0, 0, 100, " (100.0%) [100]", "   0s", "0.1"},
        {100, 150, 100, "150 (100.0%) [100]", "   0s", "0.1"},
        {-5, 10, 100, "10 (100.0%) [100]", "   0s", "0.1"},
    };
    int l_case = 0;
    for (const auto& [l_size, l_done, l_speed, l_bar, l_left, l_kbs] : l_cases)
    {
        SCOPED_TRACE(l_case);
        const ItemPtr l_entry = Add("bob", "Folder" + std::to_string(++l_case), "f.mp3", l_size);
        Run(l_entry, 0, 0);
        Report(l_entry, l_done, l_speed);
        EXPECT_EQ(BarText(RowOf(l_entry)), l_bar);
        EXPECT_EQ(RowOf(l_entry)->text(5), l_left);
        EXPECT_EQ(RowOf(l_entry)->text(6), l_kbs);
    }
}

TEST_F(TransferProgress, GroupRowsSumTheirFilesAndTheSpeedGoesToTheInnermostVisibleRow)
{
    const ItemPtr l_running = Add("bob", "Music\\Album", "a.mp3", 2097152);
    const ItemPtr l_aborted = Add("bob", "Music\\Album", "b.mp3", 1048576);
    const ItemPtr l_done = Add("bob", "Music\\Album", "c.mp3", 1048576);
    for (const auto& [l_status, l_size] : {std::pair{Denied, 4}, {LocalError, 8}})
        SetStatus(Add("bob", "Music\\Album", std::string(l_status) + ".mp3", l_size << 20), false, l_status);
    SetStatus(l_aborted, false, Aborted);
    SetStatus(l_done, false, Complete);
    Run(l_running, 0, 0);
    QTreeWidgetItem* lp_file = RowOf(l_running);
    QTreeWidgetItem* lp_folder = lp_file->parent();
    QTreeWidgetItem* lp_user = lp_folder->parent();

    // The user row, open over one folder, is left alone; the folder row sums the failed files out
    // and the aborted one in with what it has, the time left at the reporting transfer's speed.
    Report(l_running, 1048576, 1024);
    EXPECT_EQ(Figures(lp_user), "|||no bar");
    EXPECT_EQ(Figures(lp_folder), "|   34m:8s||2,097,152 (50.0%) [50]");
    EXPECT_EQ(Figures(lp_file), "downloading|   17m:4s|1.0|1,048,576 (50.0%) [50]");

    // Where the speed shows: the file row while both rows above are open, else the innermost
    // open row's child; the others keep what they showed.
    lp_folder->setExpanded(false);
    Report(l_running, 1048576, 2048);
    EXPECT_EQ(lp_folder->text(6), "2.0");
    EXPECT_EQ(lp_file->text(6), "1.0");
    lp_user->setExpanded(false);
    Report(l_running, 1048576, 4096);
    EXPECT_EQ(lp_user->text(6), "4.0");
    EXPECT_EQ(lp_folder->text(6), "2.0");
    EXPECT_EQ(Figures(lp_user), "downloading|   8m:32s|4.0|2,097,152 (50.0%) [50]");

    // A second transfer of the user in another folder: the collapsed user row shows the speed of
    // whichever reported last, not their sum.
    const ItemPtr l_other = Add("bob", "Music\\Other", "d.mp3", 1048576);
    Run(l_other, 0, 0);
    Report(l_other, 0, 10240);
    EXPECT_EQ(lp_user->text(6), "10.0");
    Report(l_running, 1048576, 4096);
    EXPECT_EQ(lp_user->text(6), "4.0");
    // Open over two folders, the user row gets its bar back with the next report.
    lp_user->setExpanded(true);
    EXPECT_EQ(BarText(lp_user), "no bar");
    Report(l_other, 524288, 10240);
    EXPECT_EQ(BarText(lp_user), "2,621,440 (50.0%) [50]");
}

// Sizes are what other users say: below 0 counts as none, and a sum too large for a number stops
// at the largest rather than wrap round.
TEST_F(TransferProgress, AGroupOfHugeAndNegativeSizesKeepsItsBarWithinItsRange)
{
    const qint64 l_huge = std::numeric_limits<qint64>::max();
    const ItemPtr l_running = Add("bob", "Music\\Album", "a.mp3", 2097152);
    for (const char* l_name : {"huge.mp3", "larger.mp3"})
        Add("bob", "Music\\Album", l_name, l_huge);
    Add("bob", "Music\\Album", "negative.mp3", std::numeric_limits<qint64>::min());
    SetStatus(Add("bob", "Music\\Album", "done.mp3", l_huge), false, Complete);
    Run(l_running, 0, 0);
    Report(l_running, 1048576, 1024);
    EXPECT_EQ(Figures(RowOf(l_running)->parent()),
              "|   2501999792983h:36m:31s||9,223,372,036,854,775,807 (100.0%) [100]");
    EXPECT_EQ(Figures(RowOf(l_running)), "downloading|   17m:4s|1.0|1,048,576 (50.0%) [50]");
}

TEST_F(TransferProgress, OpeningAGroupRowBlanksItsFiguresAndClosingItBringsBackOnlyItsStatus)
{
    const ItemPtr l_entry = Add("bob", "Music\\Album", "a.mp3", 2097152);
    Run(l_entry, 0, 0);
    QTreeWidgetItem* lp_folder = RowOf(l_entry)->parent();
    lp_folder->setExpanded(false);
    Report(l_entry, 1048576, 1024);
    EXPECT_EQ(Figures(lp_folder), "downloading|   17m:4s|1.0|1,048,576 (50.0%) [50]");
    lp_folder->setExpanded(true);
    EXPECT_EQ(Figures(lp_folder), "|||no bar");
    lp_folder->setExpanded(false);
    EXPECT_EQ(Figures(lp_folder), "downloading|||no bar");

    // A report after the transfer stopped finds its figures gone and changes nothing.
    Report(l_entry, 1572864, 1024);
    SetStatus(l_entry, false, Aborted);
    const QStringList l_before = Rows(mp_downloads);
    emit mp_manager->DownloadProgressed(l_entry);
    EXPECT_EQ(Rows(mp_downloads), l_before);
    EXPECT_EQ(BarText(RowOf(l_entry)), "1,572,864 (75.0%) [75]");
}

TEST_F(TransferProgress, UploadsShowTheirProgressAlike)
{
    Share({{"up.mp3", 4096}});
    const ItemPtr l_upload = Upload("bob", "up.mp3");
    Run(l_upload, 0, 0, true);
    Report(l_upload, 1024, 512, true);
    QTreeWidgetItem* lp_file = RowOf(l_upload, true);
    EXPECT_EQ(Figures(lp_file), "uploading|   6s|0.5|1,024 (25.0%) [25]");
    mp_uploads->topLevelItem(0)->setExpanded(false);
    Report(l_upload, 2048, 512, true);
    EXPECT_EQ(Figures(mp_uploads->topLevelItem(0)), "uploading|   4s|0.5|2,048 (50.0%) [50]");
}

// Both pages as the user sees them, saved as pictures where TARNWICK_SCREENSHOTS names a folder.
TEST_F(TransferProgress, BothPagesShowTheirRowsWithStatusProgressAndColours)
{
    Online("bob");
    const ItemPtr l_running = Add("bob", "Music\\Jazz\\Live", "01 - Intro.mp3", 8388608);
    SetStatus(Add("bob", "Music\\Jazz\\Live", "02 - Theme.mp3", 6291456), false, Complete);
    Add("bob", "Music\\Jazz\\Live", "03 - Blues.mp3", 7340032);
    emit mp_messenger->UploadDenied("bob", "Music\\Jazz\\Live\\03 - Blues.mp3", "File not shared.");
    const ItemPtr l_second = Add("carl", "Shared\\Podcasts", "episode 12.ogg", 31457280);
    Add("carl", "Shared\\Podcasts", "episode 13.ogg", 29360128);
    Run(l_running, 0, 0);
    Report(l_running, 4194304, 153600);
    Run(l_second, 0, 0);
    mp_downloads->topLevelItem(1)->setExpanded(false);
    Report(l_second, 7864320, 65536);
    Share({{"holiday.avi", 70000000}, {"notes.txt", 4200}, {"song.flac", 25000000}});
    const ItemPtr l_upload = Upload("dave", "holiday.avi");
    Run(l_upload, 0, 0, true);
    Report(l_upload, 21000000, 204800, true);
    SetStatus(Upload("erin", "notes.txt"), true, Complete);
    Upload("erin", "song.flac");

    const QString l_folder = qEnvironmentVariable("TARNWICK_SCREENSHOTS");
    mp_pages->setCurrentIndex(1);
    mp_pages->resize(1150, 420);
    for (const char* l_page : {"downloads", "uploads"})
    {
        Child<QTabWidget>(mp_form, "transfersTabControl")->setCurrentIndex(l_page[0] == 'u');
        QCoreApplication::processEvents();
        if (!l_folder.isEmpty())
        {
            EXPECT_TRUE(mp_pages->grab().save(l_folder + "/transfers-" + l_page + ".png"));
        }
    }
}
