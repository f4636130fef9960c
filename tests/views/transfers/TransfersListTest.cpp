#include "TransfersFixture.h"

#include <QCheckBox>
#include <QSpinBox>

#include "store/GeneralFunctions.h"

using TransfersList = TransfersFixture;

TEST_F(TransfersList, DownloadRowsComeWithTheLoadInQueueOrderGroupedByUserAndFolder)
{
    // Made before the queues have loaded, as the store file's entries are: no rows yet.
    const ItemPtr l_late = Add("bob", "Music\\Album", "a.mp3");
    const ItemPtr l_first = Add("bob", "Music\\Album", "b.mp3", 1234567);
    const ItemPtr l_carl = Add("carl", "Music\\Album", "c.mp3");
    const ItemPtr l_flat = Add("carl", "Flat", "d.mp3", 0);
    EXPECT_EQ(Rows(mp_downloads), QStringList());
    // The store file keeps no order of its own: the queue order decides.
    for (const auto& [l_entry, l_order] : {std::pair{l_late, 40}, {l_first, 10}, {l_carl, 20}, {l_flat, 30}})
        l_entry += d.GetType("download_order")->GetItem(Value(l_order));
    Load();
    EXPECT_EQ(Rows(mp_downloads), (QStringList{
        "+0=bob(offline)", "  +1=Album/Music",
        "    2=b.mp3 3=queued 7=1,234,567", "    2=a.mp3 3=queued 7=2,097,152",
        "+0=carl(offline)", "  +1=Album/Music", "    2=c.mp3 3=queued 7=2,097,152",
        "  +1=Flat", "    2=d.mp3 3=queued"}));

    // Later downloads get their rows at once, a second folder of a user beside the first.
    const ItemPtr l_other = Add("bob", "Music\\Other", "e.mp3");
    EXPECT_EQ(Rows(mp_downloads).mid(0, 6), (QStringList{
        "+0=bob(offline)", "  +1=Album/Music", "    2=b.mp3 3=queued 7=1,234,567",
        "    2=a.mp3 3=queued 7=2,097,152", "  +1=Other/Music", "    2=e.mp3 3=queued 7=2,097,152"}));

    // Rows go with their downloads, a folder row with its last file and a user row with its
    // last folder, each with its node.
    const std::tuple<ItemPtr, int, std::size_t, std::size_t, std::size_t> l_removals[] = {
        {l_first, 10, 4, 4, 2}, {l_late, 8, 3, 3, 2}, {l_other, 5, 2, 2, 1}, {l_carl, 3, 1, 1, 1}, {l_flat, 0, 0, 0, 0}};
    for (const auto& [l_entry, l_rows, l_files, l_folders, l_users] : l_removals)
    {
        mp_manager->RemoveDownload(l_entry);
        EXPECT_EQ(Rows(mp_downloads).size(), l_rows);
        EXPECT_EQ(Nodes("download_list_node"), l_files);
        EXPECT_EQ(Nodes("download_list_folder_node"), l_folders);
        EXPECT_EQ(Nodes("download_list_user_node"), l_users);
    }
}

TEST_F(TransfersList, UploadRowsFollowTheirEntriesFromTheStartAndUserIconsFollowBothLists)
{
    Share({{"up.mp3", 5000}, {"two.mp3", 12}});
    const ItemPtr l_upload = Upload("bob", "up.mp3");
    Upload("carl", "two.mp3");
    Load();
    Add("bob", "Music", "song.mp3");
    const QString l_folder = "1=" + ReversePathname(m_dir.filePath("shared"));
    EXPECT_EQ(Rows(mp_uploads), (QStringList{"+0=bob(offline)", "  +" + l_folder, "    2=up.mp3 3=queued 7=5,000",
                                             "+0=carl(offline)", "  +" + l_folder, "    2=two.mp3 3=queued 7=12"}));
    EXPECT_EQ(Rows(mp_downloads).value(0), "+0=bob(offline)");

    Online("bob");
    EXPECT_EQ(Rows(mp_uploads).value(0), "+0=bob(online)");
    EXPECT_EQ(Rows(mp_downloads).value(0), "+0=bob(online)");
    User("bob").Disconnect("is_online");
    EXPECT_EQ(Rows(mp_uploads).value(0), "+0=bob(offline)");
    EXPECT_EQ(Rows(mp_downloads).value(0), "+0=bob(offline)");

    mp_manager->RemoveUpload(l_upload);
    EXPECT_EQ(Rows(mp_uploads), (QStringList{"+0=carl(offline)", "  +" + l_folder, "    2=two.mp3 3=queued 7=12"}));
}

TEST_F(TransfersList, PlaceInLineShowsUntilTheNextStatusAndTheTitleCountsActiveTransfers)
{
    EXPECT_EQ(Title(), "Transfers [0/0]");
    Load();
    const ItemPtr l_entry = Add("bob", "Music\\Album", "a.mp3");
    emit mp_messenger->DownloadPlaceInLine("bob", "Music\\Album\\a.mp3", 7);
    EXPECT_EQ(RowOf(l_entry)->text(8), "7");
    Run(l_entry, 0, 0);
    EXPECT_EQ(RowOf(l_entry)->text(8), "");
    EXPECT_EQ(Title(), "Transfers [1/0]");
    Share({{"up.mp3", 5000}});
    const ItemPtr l_upload = Upload("bob", "up.mp3");
    SetStatus(l_upload, true, Uploading);
    EXPECT_EQ(Title(), "Transfers [1/1]");
    // A removal is counted once the entry has left the store.
    mp_manager->RemoveDownload(l_entry);
    QCoreApplication::processEvents();
    EXPECT_EQ(Title(), "Transfers [0/1]");
}

class StoredTransferSettings : public TransfersFixture
{
protected:
    void StoredSettings() override
    {
        for (const char* l_pair : {"upload_speed_limit=25", "upload_speed_limit_enabled=no", "upload_slots=3",
                                   "clear_complete_downloads=yes"})
            SetSetting(QString(l_pair).section('=', 0, 0).toUtf8().constData(), QString(l_pair).section('=', 1));
    }
};

// Showing the stored values calls none of the setters: a limit shown in its box would
// otherwise switch limiting on.
TEST_F(StoredTransferSettings, AreShownWithoutBeingWrittenBack)
{
    EXPECT_EQ(Child<QSpinBox>(mp_form, "uploadLimitSpinBox")->value(), 25);
    EXPECT_EQ(Child<QSpinBox>(mp_form, "uploadSlotsSpinBox")->value(), 3);
    EXPECT_FALSE(Child<QCheckBox>(mp_form, "uploadLimitCheckBox")->isChecked());
    EXPECT_TRUE(Child<QCheckBox>(mp_form, "clearDownloadsCheckBox")->isChecked());
    EXPECT_FALSE(Child<QCheckBox>(mp_form, "clearUploadsCheckBox")->isChecked());
    EXPECT_EQ(Setting("upload_speed_limit_enabled"), "no");
    EXPECT_EQ(mp_manager->GetUploadSpeed(), 0);
}
