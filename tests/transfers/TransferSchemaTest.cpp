#include <QDir>

#include <tuple>

#include "TransferFixture.h"

namespace
{
// Key, default and whether it is written over a value the store already holds.
const std::tuple<const char*, QString, bool> Defaults[] = {
    {"download_folder", QDir::homePath() + "/Tarnwick Downloads", false},
    {"transfer_order_counter", "1", false},
    {"transfer_req_counter", "1", true},
    {"upload_speed_limit", "0", false},
    {"upload_speed_limit_enabled", "no", false},
    {"upload_slots", "1", true},
    {"check_for_empty_shares", "no", true},
    {"empty_share_message", "It looks like you're not sharing any files. Please share something before "
                            "downloading anything from my own shares. Thanks.", true},
    {"max_queued_uploads_per_user", "200", true}};
} // namespace

using TransferSchema = TransferFixture;

struct TransferOverEarlierValues : TransferFixture
{
    TransferOverEarlierValues() { m_buildManager = false; }
};

TEST_F(TransferSchema, AFirstStartWritesEveryDefaultAndExcludesOnlyIniFiles)
{
    dataSaver->Load(m_dir.filePath("no store"));
    for (const auto& [l_key, l_value, l_always] : Defaults)
        EXPECT_EQ(GetSetting(l_key), l_value) << l_key;
    ASSERT_EQ(g("excluded_download_extension").Size(), 1u);
    EXPECT_EQ(ItemPtr(g("excluded_download_extension")).AsString(), ".ini");
}

// The constructor runs over a store that already holds a value for every key.
TEST_F(TransferOverEarlierValues, OnlyTheAlwaysWrittenDefaultsReplaceStoredValues)
{
    for (const auto& [l_key, l_value, l_always] : Defaults)
        SetSetting(l_key, "stored");
    Build();
    for (const auto& [l_key, l_value, l_always] : Defaults)
        EXPECT_EQ(GetSetting(l_key), l_always ? l_value : "stored") << l_key;
}

TEST_F(TransferSchema, TheStoreFileKeepsDownloadsFinishedDownloadsAndExclusionsButNothingOfARun)
{
    const ItemPtr l_download = NewEntry(false, transfer_status::Downloading);
    const ItemPtr l_finished = d.GetType("complete_download")->NewItem();
    const QStringList l_kept = {"download_entry_status=downloading", "download_order=4", "file_name=a",
                                "file_size=9", "remote_folder=M\\A", "subfolder_save_level=1", "user=bob"};
    const QStringList l_finishedParts = {"complete_download_completion_time=T", "complete_download_file_size=7",
                                         "complete_download_filename=b", "complete_download_folder=F",
                                         "complete_download_relative_folder=R", "user=carl"};
    for (const QString& l_part : l_kept.mid(1, 5) + QStringList{"place_in_line=3", "remote_transfer_req=8"})
        l_download += d.GetType(l_part.section('=', 0, 0).toStdString())->GetItem(l_part.section('=', 1));
    for (const QString& l_part : l_finishedParts)
        l_finished += d.GetType(l_part.section('=', 0, 0).toStdString())->GetItem(l_part.section('=', 1));
    NewEntry(true, transfer_status::Queued);
    d.GetType("excluded_download_extension")->GetItem(".txt");

    dataSaver->Save(m_dir.filePath("store"));
    d.RemoveAllItems();
    dataSaver->Load(m_dir.filePath("store"));
    // Stored as it was; the load puts an unfinished download back in the queue.
    EXPECT_EQ(Parts(g("download_entry")), QStringList{"download_entry_status=queued"} + l_kept.mid(1));
    EXPECT_EQ(Parts(g("complete_download")), l_finishedParts);
    EXPECT_TRUE(g("upload_entry").Empty());
    EXPECT_EQ(ItemPtr(g("excluded_download_extension")).AsString(), ".txt");
}
