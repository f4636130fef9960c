#include "ProgramFixture.h"
#include "peer/PeerMessenger.h"
#include "server/Server.h"
#include "shell/ColorSettings.h"
#include "shell/EventToolBar.h"
#include "shell/ShowIsOver.h"
#include "shell/SizeManager.h"
#include "store/DelayedInvoker.h"
#include "store/ExtendedAsciiTranslator.h"
#include "store/TimerManager.h"
#include "ui_MainWindow.h"

namespace
{
// What a first start leaves, whether there was no store file or one that could not be read.
void ExpectFirstStartState(Ui_MainWindow* ip_ui)
{
    // The colours' own defaults are the colour settings' test's.
    const std::pair<const char*, const char*> l_defaults[] = {
        {"minimize_to_tray", "yes"}, {"expand_new_shares", "yes"}, {"chat_timestamps", "activity_based"},
        {"color_chat_status", "#339933"}, {"log_room_chat", "yes"}, {"log_private_chat", "yes"},
        {"data_version", "1"}, {"use_upnp", "yes"}, {"availability_status", "available"}};
    for (const auto& l_default : l_defaults)
        EXPECT_EQ(GetSetting(l_default.first), l_default.second) << l_default.first;
    EXPECT_NE(GetSettingInt("listening_port"), 0);
    // What start-up registered before the load is still there.
    for (const char* l_set : {"room_list", "login_options", "user", "chat_log", "user_chat"})
        EXPECT_TRUE(d.GetType("toolbar_action_set")->HasItem(l_set)) << l_set;
    EXPECT_TRUE(ip_ui->uPnPCheckBox->isChecked());
    EXPECT_EQ(ip_ui->listeningPortEdit->text(), GetSetting("listening_port"));
}
} // namespace

TEST_F(ProgramFixture, FirstStartWritesEveryDefaultAndAsksForAUserNameBeforeConnecting)
{
    Start();
    Ui_MainWindow* lp_ui = mp_window->Ui();
    ExpectFirstStartState(lp_ui);
    EXPECT_EQ(m_loaded, QStringList({"loaded", "no data"}));
    EXPECT_EQ(m_prompts, 1);
    EXPECT_EQ(m_log.Count("server: Attempting connection"), 0);
    EXPECT_EQ(m_log.Of("Configuration Data"),
              QStringList({"Loading configuration data from " + StorePath(), "Data loaded successfully."}));
    EXPECT_TRUE(m_boxes.isEmpty());
    EXPECT_EQ(mp_window->windowTitle(), "TarnwickQt build 9/15/2012");
    EXPECT_EQ(lp_ui->tabControl->currentIndex(), 1);
    EXPECT_EQ(lp_ui->roomList->headerItem()->text(0), "Room Name");
    EXPECT_EQ(lp_ui->sharedFoldersList->headerItem()->text(1), "Accessible to");
    EXPECT_EQ(lp_ui->codePageBox->itemText(0), "[None]");
    EXPECT_GT(lp_ui->codePageBox->count(), 1);
    EXPECT_NE(eventToolBar, nullptr);
}

TEST_F(ProgramFixture, StoredValuesReplaceTheDefaultsAndTheStoredColoursBecomeThePalette)
{
    FakeCentralServer l_server;
    ASSERT_TRUE(LoggedInStore(l_server.Port())
                    .Setting("chat_timestamps", "per_message_long")
                    .Setting("color_window_background", "#123456")
                    .Setting("extended_ascii_codepage", "No-Such-Code-Page")
                    .Setting("data_version", "7")
                    .WriteTo(StorePath()));
    Start();
    Ui_MainWindow* lp_ui = mp_window->Ui();
    EXPECT_EQ(m_loaded, QStringList({"loaded"}));
    EXPECT_EQ(m_prompts, 0);
    EXPECT_TRUE(l_server.WaitForConnections(1));
    EXPECT_EQ(GetSetting("chat_timestamps") + GetSetting("log_room_chat") + GetSetting("data_version"),
              "per_message_longyes1");
    EXPECT_EQ(lp_ui->chatTimestampsBox->currentIndex(), 2);
    EXPECT_EQ(lp_ui->codePageBox->currentIndex(), 0);
    EXPECT_FALSE(lp_ui->uPnPCheckBox->isChecked());
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), QColor("#123456"));
    // Quitting saves once more, without the periodic save's line.
    SetSetting("chat_timestamps", "no_timestamps");
    mp_window.reset();
    EXPECT_TRUE(StoreBytes().contains("no_timestamps"));
    EXPECT_EQ(m_log.Count("Configuration Data: Saving"), 0);
}

TEST_F(ProgramFixture, DamagedStoreIsKeptAsideAndTheClientStartsAsOnAFirstStart)
{
    const QByteArray l_damaged("\x05\x00\x00\x00\x06\x00\x00\x00global", 14);
    ASSERT_TRUE(WriteFile(StorePath(), l_damaged));
    Start();
    ExpectFirstStartState(mp_window->Ui());
    EXPECT_EQ(m_loaded, QStringList({"loaded", "no data"}));
    EXPECT_EQ(m_prompts, 1);
    EXPECT_EQ(m_boxes, QStringList({"Error loading configuration data: Your client configuration "
                                    "data could not be loaded. Starting from scratch..."}));
    const QStringList l_kept = QDir(Home()).entryList({".Tarnwick.damaged-*"}, QDir::Files | QDir::Hidden);
    ASSERT_EQ(l_kept.size(), 1);
    const QString l_keptPath = Home() + "/" + l_kept[0];
    EXPECT_EQ(m_log.Of("Configuration Data").mid(1),
              QStringList({"Failure to load configuration data.",
                           "Kept the unreadable configuration data as " + l_keptPath}));
    QFile l_keptFile(l_keptPath);
    ASSERT_TRUE(l_keptFile.open(QIODevice::ReadOnly));
    EXPECT_EQ(l_keptFile.readAll(), l_damaged);
    mp_window->EveryFiveMinutes();
    EXPECT_TRUE(StoreBytes().contains("minimize_to_tray"));
    EXPECT_TRUE(QFile::exists(l_keptPath));
}

TEST_F(ProgramFixture, PeriodicSaveAndFailedSavesAreSurvivedThroughShutDown)
{
    Start();
    SetSetting("chat_timestamps", "per_message_long");
    d.GetType("global_value")->NewItem("nobody_keeps_this");
    mp_window->EveryFiveMinutes();
    EXPECT_EQ(m_log.Count("Configuration Data: Saving configuration data to " + StorePath() + "$"), 1);
    EXPECT_TRUE(StoreBytes().contains("per_message_long"));
    EXPECT_FALSE(StoreBytes().contains("nobody_keeps_this"));
    // The home folder goes away: neither the periodic save nor the last one may end the program.
    const QString l_failed = "Configuration Data: Failure to save configuration data.$";
    ASSERT_TRUE(QDir(Home()).removeRecursively());
    mp_window->EveryFiveMinutes();
    EXPECT_EQ(m_log.Count(l_failed), 1);
    mp_window.reset();
    EXPECT_EQ(m_log.Count(l_failed), 2);
    EXPECT_TRUE(g_showIsOver);
    for (const void* lp_global : std::initializer_list<const void*>{gp_server, peerMessenger,
             delayedInvoker, dataSaver, timerManager, extendedAsciiTranslator, sizeManager, mainWindow})
        EXPECT_EQ(lp_global, nullptr);
}
