#include "TransfersFixture.h"

class TransferStatus : public TransfersFixture
{
protected:
    void SetUp() override
    {
        TransfersFixture::SetUp();
        Load();
    }
    // The folder row of an entry, collapsed so that it shows its aggregate.
    static QTreeWidgetItem* ClosedFolder(ItemPtr i_entry)
    {
        QTreeWidgetItem* lp_folder = RowOf(i_entry)->parent();
        lp_folder->setExpanded(false);
        return lp_folder;
    }
};

TEST_F(TransferStatus, FileRowsShowTheirStatusInItsColourAndADenialItsReason)
{
    const ItemPtr l_entry = Add("bob", "Music\\Album", "a.mp3");
    EXPECT_EQ(RowOf(l_entry)->text(3), "queued");
    EXPECT_EQ(ColorOf(RowOf(l_entry), 7), "queued");
    emit mp_messenger->UploadDenied("bob", "Music\\Album\\a.mp3", "File Not Shared.");
    EXPECT_EQ(RowOf(l_entry)->text(3), "file not shared.");
    EXPECT_EQ(ColorOf(RowOf(l_entry), 2), "failed");

    // Uploads: a connection under way is in progress, the other hand-shake steps are not.
    Share({{"up.mp3", 5000}});
    const ItemPtr l_upload = Upload("bob", "up.mp3");
    const std::pair<const char*, const char*> l_uploads[] = {
        {Requesting, "other"}, {Connecting, "in_progress"}, {WaitingForOffset, "other"},
        {Uploading, "in_progress"}, {Complete, "complete"}, {LocalError, "failed"}};
    for (const auto& [l_status, l_color] : l_uploads)
    {
        SetStatus(l_upload, true, l_status);
        EXPECT_EQ(RowOf(l_upload, true)->text(3), l_status);
        EXPECT_EQ(ColorOf(RowOf(l_upload, true), 2), l_color) << l_status;
    }
}

TEST_F(TransferStatus, GroupRowsShowTheAggregateOfTheirEntries)
{
    // The statuses of a folder's downloads, the aggregate its collapsed row shows and its colour.
    const std::tuple<std::vector<const char*>, const char*, const char*> l_cases[] = {
        {{Downloading, Denied}, "downloading", "in_progress"},
        {{Queued, Complete}, "queued", "queued"},
        {{Complete, Complete}, "complete", "complete"},
        {{Complete, Aborted}, "aborted", "failed"},
        {{Denied, Aborted}, "denied", "failed"},
        {{Complete, LocalError}, "", "other"},
        {{LocalError}, "", "other"},
    };
    int l_folder = 0;
    for (const auto& [l_statuses, l_aggregate, l_color] : l_cases)
    {
        SCOPED_TRACE(l_folder);
        const std::string l_name = "Folder" + std::to_string(++l_folder);
        std::vector<ItemPtr> l_entries;
        for (std::size_t l_file = 0; l_file < l_statuses.size(); ++l_file)
            l_entries.push_back(Add("bob", l_name, "f" + std::to_string(l_file)));
        QTreeWidgetItem* lp_folder = ClosedFolder(l_entries[0]);
        for (std::size_t l_file = 0; l_file < l_statuses.size(); ++l_file)
            SetStatus(l_entries[l_file], false, l_statuses[l_file]);
        EXPECT_EQ(lp_folder->text(3), l_aggregate);
        EXPECT_EQ(ColorOf(lp_folder, 1), l_color);
    }
    // No entry missing from none: an empty group counts as complete.
    EXPECT_EQ(TransfersForm::GetDownloadEntriesAggregateStatus(ItemSet()), "complete");
    EXPECT_EQ(TransfersForm::GetUploadEntriesAggregateStatus(ItemSet()), "complete");
    // The open user row leaves its status column alone, yet takes the colour of all its files.
    QTreeWidgetItem* lp_user = mp_downloads->topLevelItem(0);
    EXPECT_EQ(lp_user->text(3), "");
    EXPECT_EQ(ColorOf(lp_user), "in_progress");
    lp_user->setExpanded(false);
    EXPECT_EQ(lp_user->text(3), "downloading");
    // A removed download no longer counts: its folder and user rows show what is left.
    const ItemPtr l_denied = Add("carl", "Gone", "denied.mp3");
    const ItemPtr l_done = Add("carl", "Gone", "done.mp3");
    QTreeWidgetItem* lp_gone = ClosedFolder(l_denied);
    SetStatus(l_denied, false, Denied);
    SetStatus(l_done, false, Complete);
    QTreeWidgetItem* lp_carl = lp_gone->parent();
    lp_carl->setExpanded(false);
    EXPECT_EQ(lp_gone->text(3), "denied");
    mp_manager->RemoveDownload(l_denied);
    Settle();
    EXPECT_EQ(lp_gone->text(3), "complete");
    EXPECT_EQ(ColorOf(lp_gone, 1), "complete");
    EXPECT_EQ(lp_carl->text(3), "complete");
}

TEST_F(TransferStatus, NewColoursRepaintEveryRowAndRefreshCollapsedGroups)
{
    const ItemPtr l_entry = Add("bob", "Music\\Album", "a.mp3");
    Share({{"up.mp3", 5000}});
    const ItemPtr l_upload = Upload("carl", "up.mp3");
    QTreeWidgetItem* lp_folder = ClosedFolder(l_entry);
    lp_folder->setText(3, "stale");
    SetSetting("color_transfer_queued", "#123456");
    // As the colour dialog does once it has saved the colours.
    ColorSettings::RecolorTransfers();
    for (QTreeWidgetItem* lp_row : {RowOf(l_entry), lp_folder, mp_downloads->topLevelItem(0), RowOf(l_upload, true),
                                    mp_uploads->topLevelItem(0)})
        EXPECT_EQ(lp_row->foreground(0).color().name(), "#123456");
    EXPECT_EQ(lp_folder->text(3), "queued");
}

using LoadedTransfers = TransfersFixture;

TEST_F(LoadedTransfers, AFinishedDownloadIsAnnouncedAlsoWhenItsRowComesWithTheLoad)
{
    const ItemPtr l_done = Add("bob", "Music", "old.mp3", 10);
    SetStatus(l_done, false, Complete);
    const ItemPtr l_waiting = Add("bob", "Music", "new.mp3", 10);
    QSignalSpy l_announced(mp_form, &TransfersForm::DownloadComplete);
    Load();
    ASSERT_EQ(l_announced.size(), 1);
    EXPECT_EQ(l_announced[0][0].value<ItemPtr>(), l_done);
    EXPECT_EQ(RowOf(l_done)->text(3), "complete");
    EXPECT_EQ(ColorOf(RowOf(l_done), 2), "complete");
    // The group rows are summed once the load is done.
    EXPECT_EQ(ColorOf(RowOf(l_done)->parent(), 1), "queued");
    SetStatus(l_waiting, false, Complete);
    ASSERT_EQ(l_announced.size(), 2);
    EXPECT_EQ(l_announced[1][0].value<ItemPtr>(), l_waiting);
    EXPECT_EQ(ColorOf(mp_downloads->topLevelItem(0)), "complete");
}
