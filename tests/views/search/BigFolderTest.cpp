#include <QtEndian>

#include <ostream>

#include "SearchFixture.h"
#include "shell/program/ColorChoiceFixture.h"
#include "peer/AttributeTranslationTable.h"
#include "peer/FileInfoMap.h"
#include "server/MemStream.h"
#include "support/support/WireFields.h"
#include "transfers/TransferQueueManager.h"
#include "views/search/ShareForm.h"
#include "views/transfers/TransfersForm.h"

// How "Download Folder" on bob's folder goes: the slices its download work is cut into (0: as
// many steps as a slice's time allows), whether bob is online when it is chosen, and what happens
// while the work goes on.
struct BigFolderCase
{
    const char* name;
    int stepsPerSlice;
    bool onlineAtClick;
    enum
    {
        Nothing,
        ServerSaysOnline,
        GoesOffline,
        TabClosed,
        HalfMinuteTick
    } meanwhile;
};

void PrintTo(const BigFolderCase& i_case, std::ostream* op_out)
{
    *op_out << i_case.name;
}

namespace
{
const BigFolderCase Cases[] = {
    {"OnlineInOnePiece", 0, true, BigFolderCase::Nothing},
    {"OfflineThenTheServerSaysOnline", 0, false, BigFolderCase::ServerSaysOnline},
    {"SlicesOf3TheServerSaysOnlineMeanwhile", 3, false, BigFolderCase::ServerSaysOnline},
    {"SlicesOf7OnlineThenOffline", 7, true, BigFolderCase::GoesOffline},
    {"SlicesOf5TheTabClosedMeanwhile", 5, true, BigFolderCase::TabClosed},
    {"SlicesOf4OnlineAHalfMinuteTickMeanwhile", 4, true, BigFolderCase::HalfMinuteTick},
};

// bob's list: Music with 30 files, one of them excluded, a sub-folder of 8 and one below it of 2.
FileInfoMap BobsList()
{
    FileInfoMap l_list;
    const auto l_add = [&](const std::string& i_folder, const std::string& i_name, qint64 i_size) {
        FileInfo l_file;
        l_file.name = i_name;
        l_file.size = i_size;
        l_list[i_folder].insert(l_file);
    };
    for (int l_index = 0; l_index < 30; ++l_index)
        l_add("Music", "track" + std::to_string(l_index) + (l_index == 17 ? ".ini" : ".mp3"), 1000 + l_index);
    for (int l_index = 0; l_index < 8; ++l_index)
        l_add("Music\\Live", "live" + std::to_string(l_index) + ".mp3", 2000 + l_index);
    l_add("Music\\Live\\Encore", "a.mp3", 1);
    l_add("Music\\Live\\Encore", "b.mp3", 2);
    l_add("Other", "c.mp3", 3);
    return l_list;
}

// What a folder's download asks for, in its order, walked afresh as the browse view's download
// of a folder is defined: the folder's own files in the order of its set at level 0 but the
// excluded endings, then each sub-folder in the order of its set, everything below at level 1.
void Walk(ItemPtr i_folder, int i_level, QStringList& o_files)
{
    for (ItemPtr l_file : i_folder.GetItems("user_share_file"))
    {
        const QString l_name = l_file["user_share_file_name"].AsString();
        if (!l_name.endsWith(".ini"))
            o_files << QString("%1\\%2 %3").arg(i_folder["user_share_folder_name"].AsString(), l_name).arg(i_level);
    }
    for (ItemPtr l_child : i_folder.GetItems("user_share_folder_child"))
        if (ItemPtr l_sub = l_child["user_share_folder_parent"]["user_share_folder"])
            Walk(l_sub, 1, o_files);
}

// The queue requests parked for bob in the order they were sent.
QStringList QueueRequests()
{
    QStringList l_paths;
    for (ItemPtr l_parked : d.GetType("user")->GetItem("bob").GetItems("unsent_message").SortNumericBy("send_order", true))
    {
        const MemStream* lp_message = l_parked.AsPointer<MemStream>();
        const QByteArray l_bytes(lp_message->GetBuffer(), lp_message->GetWriteIndex());
        if (qFromLittleEndian<quint32>(l_bytes.constData()) == 43)
            l_paths << QString::fromUtf8(l_bytes.mid(8));
    }
    return l_paths;
}

// The downloads in queue order, as "folder\file level".
QStringList DownloadsInOrder()
{
    QStringList l_entries;
    for (ItemPtr l_entry : g("download_entry").SortNumericBy("download_order", true))
        l_entries << QString("%1\\%2 %3").arg(l_entry["remote_folder"].AsString(), l_entry["file_name"].AsString(),
                                              l_entry["subfolder_save_level"].AsString());
    return l_entries;
}

class BigFolder : public SearchFixture, public ::testing::WithParamInterface<BigFolderCase>
{
protected:
    void TearDown() override
    {
        DownloadWork::SetStepsPerSlice(0);
        SearchFixture::TearDown();
    }
    // The browse tab with its marked rows, then the transfers page with the folder's rows, each
    // kept under the case's name.
    void Pictures(QWidget* ip_tab, const QString& i_name)
    {
        mp_window->resize(1100, 600);
        FocusWidgetAndParents(Child<QTreeWidget>(ip_tab, "fileList"));
        QCoreApplication::processEvents();
        Picture(mp_window.get(), i_name + "-browse.png");
        FocusWidgetAndParents(transfersForm->DownloadsList());
        QCoreApplication::processEvents();
        Picture(mp_window.get(), i_name + "-transfers.png");
    }

    PlatformPalette m_platform;
    // The server's answer to the client's request to follow bob: online.
    void ServerSaysBobIsOnline()
    {
        m_server.SendFrame(5, WireFields().Text("bob").Byte(1).Int32(2).Int32(0).UInt32(0).UInt32(0).Int32(0).Int32(0).Text("NO").Bytes());
    }
};
} // namespace

// The download work may be cut into slices, but what is sent and logged, and in which order, is
// what the folder's download, done in one piece before anything else, would send and log: every
// file of the walk queued in its order, bob asked for each while he counted as online when the
// folder was chosen, and asked for all of them again once the server says he has come online, or
// by a half-minute tick that finds him never asked.
TEST_P(BigFolder, DownloadFolderQueuesTheWalkInOrderWithWhatItSendsAndLogsWhateverComesMeanwhile)
{
    const BigFolderCase& l_case = GetParam();
    // One case is looked at in dark colours.
    const bool l_dark = l_case.meanwhile == BigFolderCase::HalfMinuteTick;
    if (l_dark)
        for (int l_i = 0; l_i < ColorSettings::PaletteCount; ++l_i)
            m_store.Setting(ColorSettings::Entries()[l_i].key, g_darkColors[l_i]);
    Open();
    d.GetType("excluded_download_extension")->GetItem(".ini");
    DownloadWork::SetStepsPerSlice(l_case.stepsPerSlice);
    ItemPtr l_bob = d.GetType("user")->GetItem("bob");
    if (l_case.onlineAtClick)
        l_bob.NewItem("is_online");

    ShareForm* lp_tab = mp_ui->sharesForm->OpenShareBrowse("bob");
    FileInfoMap l_list = BobsList();
    AttributeTranslationTable l_names;
    emit peerMessenger->UserShare("bob", l_list, l_names);
    auto* lp_tree = Child<QTreeWidget>(lp_tab, "folderTree");
    auto* lp_files = Child<QTreeWidget>(lp_tab, "fileList");
    QTreeWidgetItem* lp_music = lp_tree->findItems("Music", Qt::MatchExactly).value(0);
    ASSERT_TRUE(lp_music);
    lp_tree->setCurrentItem(lp_music);
    ASSERT_EQ(lp_files->topLevelItemCount(), 30);

    QStringList l_walk;
    Walk(d.GetType("user_share_folder_name")->HasItem(std::string("Music"))["user_share_folder"], 0, l_walk);
    ASSERT_EQ(l_walk.size(), 39);
    const int l_firstOrder = GetSetting("transfer_order_counter").toInt();
    m_log.m_lines.clear();

    TakeMenuChoices();
    EXPECT_EQ(RightClick(lp_music, "Download Folder"), QStringList("Download Folder"));
    // The click returns after the first slice; the files listed show at once that they are queued.
    if (l_case.stepsPerSlice > 0)
    {
        EXPECT_EQ(g("download_entry").Size(), std::size_t(l_case.stepsPerSlice));
        EXPECT_TRUE(transferQueueManager->IsDownloadWorkPending());
    }
    int l_marked = 0;
    for (int l_row = 0; l_row < lp_files->topLevelItemCount(); ++l_row)
        l_marked += ShowsIcon(lp_files->topLevelItem(l_row)->icon(0), ":/icons/download_icon");
    EXPECT_EQ(l_marked, 29);

    switch (l_case.meanwhile)
    {
    case BigFolderCase::Nothing:
        break;
    case BigFolderCase::ServerSaysOnline:
        ServerSaysBobIsOnline();
        ASSERT_TRUE(QTest::qWaitFor([&] { return l_bob.IsConnected("is_online"); }, 5000));
        break;
    case BigFolderCase::GoesOffline:
        l_bob.Disconnect("is_online");
        break;
    case BigFolderCase::TabClosed:
        mp_ui->sharesForm->OnTabCloseRequested(mp_ui->sharesForm->TabControl()->indexOf(lp_tab));
        FlushDeletes();
        break;
    case BigFolderCase::HalfMinuteTick:
        transferQueueManager->EveryHalfMinute();
        break;
    }
    ASSERT_TRUE(QTest::qWaitFor([] { return !transferQueueManager->IsDownloadWorkPending(); }, 20000));

    EXPECT_EQ(DownloadsInOrder(), l_walk);
    EXPECT_EQ(g("download_entry").SortNumericBy("download_order", true).front()["download_order"].AsInt(), l_firstOrder);
    EXPECT_EQ(GetSetting("transfer_order_counter").toInt(), l_firstOrder + 39);
    QStringList l_paths = l_walk;
    l_paths.replaceInStrings(QRegExp(" [01]$"), QString());
    QStringList l_requests, l_lines;
    if (l_case.onlineAtClick)
        l_requests << l_paths;
    // Coming online, or never asked for them before the tick, bob is asked for all of them again.
    const bool l_again = l_case.meanwhile == BigFolderCase::ServerSaysOnline || l_case.meanwhile == BigFolderCase::HalfMinuteTick;
    if (l_case.meanwhile == BigFolderCase::ServerSaysOnline)
        l_lines << "User bob went online";
    if (l_again)
    {
        l_requests << l_paths;
        l_lines << "Requeueing downloads from user bob";
        for (const QString& l_path : l_paths)
            l_lines << "Queueing " + l_path.section('\\', -1);
    }
    EXPECT_EQ(QueueRequests(), l_requests);
    // Lines of the second level come indented.
    EXPECT_EQ(m_log.Of("Transfer Queue").replaceInStrings(QRegExp("^ +"), QString()), l_lines);
    EXPECT_EQ(bool(l_bob["last_queue_request_time"]), l_again);
    if (l_case.meanwhile != BigFolderCase::TabClosed)
        Pictures(lp_tab, QString("big-folder-") + l_case.name);
}

INSTANTIATE_TEST_SUITE_P(Cases, BigFolder, ::testing::ValuesIn(Cases),
                         [](const ::testing::TestParamInfo<BigFolderCase>& i_info) { return std::string(i_info.param.name); });
