#include <QCheckBox>

#include "TransfersFixture.h"

class CompletionAlerts : public TransfersFixture
{
protected:
    void SetUp() override
    {
        TransfersFixture::SetUp();
        Load();
    }
    void Arm(ItemPtr i_entry, const char* i_alert)
    {
        DownloadsMenu({RowOf(i_entry)}, QString("Notify me when.../") + i_alert + " download" +
                                            (QString(i_alert) == "All" ? "s from user complete" : " completes"));
    }
    void Finish(ItemPtr i_entry)
    {
        SetStatus(i_entry, false, Complete);
        Settle();
    }
};

TEST_F(CompletionAlerts, FileFolderAndUserAlertsFireOnceEachWhenTheirLastDownloadCompletes)
{
    const ItemPtr l_first = Add("bob", "Music\\Album", "a.mp3");
    const ItemPtr l_second = Add("bob", "Music\\Album", "b.mp3");
    const ItemPtr l_other = Add("bob", "Music\\Other", "c.mp3");
    Arm(l_first, "File");
    Arm(l_first, "Folder");
    Arm(l_other, "Folder");
    Arm(l_other, "All");
    QTreeWidgetItem* lp_album = RowOf(l_first)->parent();

    // The file alert at once; the folder waits for its second file, the user for the other folder.
    Finish(l_first);
    EXPECT_EQ(Notices(), (QStringList{"a.mp3", "Download of file a.mp3 complete"}));
    EXPECT_EQ(IconName(RowOf(l_first)->icon(2)), "");
    EXPECT_EQ(IconName(lp_album->icon(1)), "alert");
    Finish(l_second);
    EXPECT_EQ(Notices().mid(1, 1), QStringList{"Album"});
    EXPECT_EQ(IconName(lp_album->icon(1)), "");
    // The last folder's alert, then the user's, in one call.
    Finish(l_other);
    EXPECT_EQ(Notices(), (QStringList{"a.mp3", "Album", "Other", "bob", "Download of file a.mp3 complete",
                                      "Download of folder Album complete", "Download of folder Other complete",
                                      "All download from user bob complete"}));
    EXPECT_EQ(IconName(mp_downloads->topLevelItem(0)->icon(0)), "offline");
    EXPECT_EQ(g("complete_download_alert").Size(), 0u);
    // Each fires once.
    SetStatus(l_other, false, Queued);
    Finish(l_other);
    EXPECT_EQ(Notices().size(), 8);
}

TEST_F(CompletionAlerts, AnUnfinishedDownloadOfTheFolderOrUserHoldsItsAlertBack)
{
    const ItemPtr l_done = Add("bob", "Music\\Album", "a.mp3");
    const ItemPtr l_denied = Add("bob", "Music\\Album", "b.mp3");
    const ItemPtr l_queued = Add("bob", "Music\\Other", "c.mp3");
    Arm(l_done, "Folder");
    Arm(l_done, "All");
    SetStatus(l_denied, false, Denied);
    Finish(l_done);
    EXPECT_EQ(Notices(), QStringList());
    // Removing the last unfinished one fires nothing: alerts are looked at on completions only.
    mp_manager->RemoveDownload(l_denied);
    Settle();
    EXPECT_EQ(Notices(), QStringList());
    EXPECT_EQ(IconName(RowOf(l_done)->parent()->icon(1)), "alert");
    Finish(l_queued);
    EXPECT_EQ(Notices(), (QStringList{"bob", "All download from user bob complete"}));
    EXPECT_EQ(g("complete_download_alert").Size(), 1u);
}

TEST_F(CompletionAlerts, WithClearingOnTheNoticeComesFirstAndThenTheRowGoes)
{
    const ItemPtr l_entry = Add("bob", "Music\\Album", "a.mp3");
    Add("bob", "Music\\Album", "b.mp3");
    Arm(l_entry, "File");
    Child<QCheckBox>(mp_form, "clearDownloadsCheckBox")->click();
    Finish(l_entry);
    EXPECT_EQ(Notices(), (QStringList{"a.mp3", "Download of file a.mp3 complete"}));
    EXPECT_EQ(Rows(mp_downloads, 2), (QStringList{"+", "  +", "    2=b.mp3 3=queued 7=2,097,152"}));
}

// A shown list gets no notice, yet the alert and its mark go. A completion waits in the event
// loop, and the download may be gone by the time it is handled.
TEST_F(CompletionAlerts, AShownListGetsNoNoticeAndARemovedDownloadsCompletionDoesNothing)
{
    const ItemPtr l_shown = Add("bob", "Music\\Album", "a.mp3");
    const ItemPtr l_removed = Add("bob", "Music\\Other", "b.mp3");
    Arm(l_shown, "File");
    Arm(l_removed, "File");
    mp_pages->setCurrentIndex(1);
    Finish(l_shown);
    EXPECT_EQ(IconName(RowOf(l_shown)->icon(2)), "");
    EXPECT_EQ(g("complete_download_alert").Size(), 1u);
    mp_pages->setCurrentIndex(0);
    SetStatus(l_removed, false, Complete);
    mp_manager->RemoveDownload(l_removed);
    Settle();
    EXPECT_EQ(Notices(), QStringList());
    EXPECT_EQ(Rows(mp_downloads).size(), 3);
}

class ClearedAtStartUp : public TransfersFixture
{
protected:
    void StoredSettings() override { SetSetting("clear_complete_downloads", "yes"); }
};

TEST_F(ClearedAtStartUp, CompleteDownloadsGoOnceTheirRowsAreMade)
{
    SetStatus(Add("bob", "Music", "old.mp3"), false, Complete);
    Add("bob", "Music", "new.mp3");
    Load();
    Settle();
    EXPECT_EQ(Rows(mp_downloads, 2), (QStringList{"+", "  +", "    2=new.mp3 3=queued 7=2,097,152"}));
    EXPECT_EQ(g("download_entry").Size(), 1u);
}
