#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QTabWidget>
#include <QTreeWidget>

#include "ProgramFixture.h"
#include "diagnostics/DiagnosticsForm.h"
#include "peer/PeerMessenger.h"
#include "server/Server.h"
#include "shell/ActionSetToolBar.h"
#include "shell/ColorSettings.h"
#include "shell/EventToolBar.h"
#include "shell/ShowIsOver.h"
#include "shell/SizeManager.h"
#include "store/Data.h"
#include "store/DelayedInvoker.h"
#include "store/ExtendedAsciiTranslator.h"
#include "store/TimerManager.h"
#include "store/Type.h"
#include "support/support/FakeCentralServer.h"
#include "support/support/StoreFile.h"
#include "ui_MainWindow.h"

namespace
{
QStringList TabTexts(const QTabWidget* ip_tabs)
{
    QStringList l_texts;
    for (int l_tab = 0; l_tab < ip_tabs->count(); ++l_tab)
        l_texts << ip_tabs->tabText(l_tab);
    return l_texts;
}

QStringList HeaderTexts(const QTreeWidget* ip_tree)
{
    return {ip_tree->headerItem()->text(0), ip_tree->headerItem()->text(1)};
}

// What a first start leaves, whether there was no store file or one that could not be read.
void ExpectFirstStartState(Ui_MainWindow* ip_ui)
{
    const std::pair<const char*, const char*> l_defaults[] = {
        {"minimize_to_tray", "yes"},          {"expand_new_shares", "yes"},
        {"chat_timestamps", "activity_based"}, {"color_transfer_queued", "#3366ff"},
        {"color_transfer_complete", "#006400"}, {"color_transfer_in_progress", "#0000ff"},
        {"color_transfer_failed", "#ff0a47"}, {"color_transfer_other", "#000000"},
        {"color_chat_username", "#0033ff"},   {"color_chat_timestamp", "#0066ff"},
        {"color_chat_status", "#339933"},     {"log_room_chat", "yes"},
        {"log_private_chat", "yes"},          {"data_version", "1"},
        {"use_upnp", "yes"},                  {"availability_status", "available"},
    };
    for (const auto& l_default : l_defaults)
        EXPECT_EQ(GetSetting(l_default.first), l_default.second) << l_default.first;
    for (const ColorSettings::Entry& l_entry : ColorSettings::Entries())
    {
        if (l_entry.role == QPalette::NoRole)
            continue;
        EXPECT_EQ(GetSetting(l_entry.key), defaultPalette.color(l_entry.role).name()) << l_entry.key;
    }
    EXPECT_NE(GetSettingInt("listening_port"), 0);
    // What start-up registered before the load is still there.
    for (const char* l_set : {"room_list", "login_options", "user", "chat_log", "user_chat"})
        EXPECT_TRUE(d.GetType("toolbar_action_set")->HasItem(l_set)) << l_set;
    EXPECT_EQ(ip_ui->chatTimestampsBox->currentIndex(), 0);
    EXPECT_TRUE(ip_ui->logRoomChatCheckBox->isChecked());
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
    EXPECT_EQ(ConfigurationLines(), QStringList({"Loading configuration data from " + StorePath(),
                                                 "Data loaded successfully."}));
    EXPECT_TRUE(m_boxes.isEmpty());

    EXPECT_EQ(mp_window->windowTitle(), "TarnwickQt build 9/15/2012");
    EXPECT_EQ(TabTexts(lp_ui->tabControl),
              QStringList({"Transfers", "Rooms", "Chat", "Search", "Users", "Browse", "Options",
                           "Diagnostics"}));
    EXPECT_EQ(lp_ui->tabControl->currentIndex(), 1);
    EXPECT_EQ(TabTexts(lp_ui->optionsTabControl),
              QStringList({"Login", "File Sharing", "General", "User Info"}));
    EXPECT_EQ(HeaderTexts(lp_ui->roomList), QStringList({"Room Name", "Users"}));
    EXPECT_EQ(HeaderTexts(lp_ui->sharedFoldersList), QStringList({"Shared folder", "Accessible to"}));
    EXPECT_EQ(lp_ui->codePageBox->itemText(0), "[None]");
    EXPECT_GT(lp_ui->codePageBox->count(), 1);
    EXPECT_EQ(lp_ui->usernameEdit->geometry(), QRect(150, 30, 191, 20));
    EXPECT_EQ(lp_ui->diagnosticsForm, diagnosticsForm);
    EXPECT_EQ(lp_ui->mainToolBar, actionBar);
    ASSERT_NE(eventToolBar, nullptr);
    EXPECT_EQ(mp_window->toolBarArea(eventToolBar), Qt::TopToolBarArea);
    EXPECT_TRUE(mp_window->toolBarBreak(eventToolBar));
}

TEST_F(ProgramFixture, StoredValuesReplaceTheDefaultsAndTheStoredColoursBecomeThePalette)
{
    FakeCentralServer l_server;
    ASSERT_TRUE(StoreFile()
                    .Setting("chat_timestamps", "per_message_long")
                    .Setting("color_window_background", "#123456")
                    .Setting("extended_ascii_codepage", "No-Such-Code-Page")
                    .Setting("data_version", "7")
                    .Setting("username", "alice")
                    .Setting("password", "secret")
                    .Setting("server_host", "127.0.0.1")
                    .Setting("server_port", QString::number(l_server.Port()))
                    .Setting("use_upnp", "no")
                    .WriteTo(StorePath()));
    Start();
    Ui_MainWindow* lp_ui = mp_window->Ui();

    EXPECT_EQ(m_loaded, QStringList({"loaded"}));
    EXPECT_EQ(m_prompts, 0);
    EXPECT_TRUE(l_server.WaitForConnections(1));
    EXPECT_EQ(GetSetting("chat_timestamps"), "per_message_long");
    EXPECT_EQ(lp_ui->chatTimestampsBox->currentIndex(), 2);
    EXPECT_EQ(GetSetting("log_room_chat"), "yes");
    EXPECT_EQ(GetSetting("data_version"), "1");
    EXPECT_EQ(lp_ui->codePageBox->currentIndex(), 0);
    EXPECT_FALSE(lp_ui->uPnPCheckBox->isChecked());
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), QColor("#123456"));
    EXPECT_NE(defaultPalette.color(QPalette::Window), QColor("#123456"));

    // Quitting saves once more, without the periodic save's line.
    SetSetting("chat_timestamps", "no_timestamps");
    mp_window.reset();
    EXPECT_TRUE(StoreBytes().contains("no_timestamps"));
    EXPECT_EQ(m_log.Count("Configuration Data: Saving"), 0);
}

TEST_F(ProgramFixture, DamagedStoreIsKeptAsideAndTheClientStartsAsOnAFirstStart)
{
    const QByteArray l_damaged("\x05\x00\x00\x00\x06\x00\x00\x00global", 14);
    {
        QFile l_file(StorePath());
        ASSERT_TRUE(l_file.open(QIODevice::WriteOnly));
        l_file.write(l_damaged);
    }
    Start();

    ExpectFirstStartState(mp_window->Ui());
    EXPECT_EQ(m_loaded, QStringList({"loaded", "no data"}));
    EXPECT_EQ(m_prompts, 1);
    EXPECT_EQ(m_boxes, QStringList({"Error loading configuration data: Your client configuration "
                                    "data could not be loaded. Starting from scratch..."}));
    const QStringList l_kept =
        QDir(QString::fromStdString(m_home.Path()))
            .entryList({".Tarnwick.damaged-*"}, QDir::Files | QDir::Hidden);
    ASSERT_EQ(l_kept.size(), 1);
    const QString l_keptPath = QString::fromStdString(m_home.File(l_kept[0].toStdString()));
    EXPECT_EQ(ConfigurationLines().mid(1),
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
    ASSERT_TRUE(QDir(QString::fromStdString(m_home.Path())).removeRecursively());
    mp_window->EveryFiveMinutes();
    EXPECT_EQ(m_log.Count("Configuration Data: Failure to save configuration data.$"), 1);
    mp_window.reset();
    EXPECT_EQ(m_log.Count("Configuration Data: Failure to save configuration data.$"), 2);

    EXPECT_TRUE(g_showIsOver);
    for (const void* lp_global :
         {static_cast<const void*>(gp_server), static_cast<const void*>(peerMessenger),
          static_cast<const void*>(delayedInvoker), static_cast<const void*>(dataSaver),
          static_cast<const void*>(timerManager), static_cast<const void*>(extendedAsciiTranslator),
          static_cast<const void*>(sizeManager), static_cast<const void*>(mainWindow)})
        EXPECT_EQ(lp_global, nullptr);
}
