#include "ProgramFixture.h"
#include "peer/PeerMessenger.h"
#include "shell/ShowIsOver.h"
#include "shell/SizeManager.h"
#include "store/DelayedInvoker.h"
#include "store/ExtendedAsciiTranslator.h"
#include "store/TimerManager.h"

// Without a store file, or with one that cannot be read: a first start either way.
class FirstStart : public ProgramFixture, public ::testing::WithParamInterface<bool>
{
};
INSTANTIATE_TEST_SUITE_P(WithoutOrWithADamagedStore, FirstStart, ::testing::Bool());

TEST_P(FirstStart, WritesEveryDefaultAsksForAUserNameAndSurvivesFailedSaves)
{
    const bool l_damaged = GetParam();
    const QByteArray l_bytes("\x05\x00\x00\x00\x06\x00\x00\x00global", 14);
    ASSERT_TRUE(!l_damaged || WriteFile(StorePath(), l_bytes));
    // Saves killed before their rename left numbered files; a copy kept by hand is no save's.
    const std::pair<const char*, bool> l_leftovers[] = {{"/.Tarnwick.3", false}, {"/.Tarnwick.17", false}, {"/.Tarnwick.bak", true}};
    for (const auto& l_file : l_leftovers)
        ASSERT_TRUE(WriteFile(Home() + l_file.first, "left"));
    Start();
    for (const auto& l_file : l_leftovers)
        EXPECT_EQ(QFile::exists(Home() + l_file.first), l_file.second) << l_file.first;
    // The colours' own defaults are the colour settings' test's.
    const std::pair<const char*, const char*> l_defaults[] = {
        {"minimize_to_tray", "yes"}, {"expand_new_shares", "yes"}, {"chat_timestamps", "activity_based"},
        {"color_chat_status", "#339933"}, {"log_room_chat", "yes"}, {"log_private_chat", "yes"},
        {"data_version", "1"}, {"availability_status", "available"}};
    for (const auto& l_default : l_defaults)
        EXPECT_EQ(GetSetting(l_default.first), l_default.second) << l_default.first;
    EXPECT_NE(GetSettingInt("listening_port"), 0);
    EXPECT_EQ(mp_ui->listeningPortEdit->text(), GetSetting("listening_port"));
    // What start-up registered before the load is still there.
    for (const char* l_set : {"room_list", "login_options", "user", "chat_log", "user_chat", "diagnostics"})
        EXPECT_TRUE(d.GetType("toolbar_action_set")->HasItem(l_set)) << l_set;
    EXPECT_EQ(m_loaded, QStringList({"loaded", "no data"}));
    EXPECT_EQ(m_prompts, 1);
    EXPECT_EQ(m_log.Count("server: Attempting connection"), 0);
    QStringList l_lines{"Loading configuration data from " + StorePath(), "Data loaded successfully."};
    EXPECT_EQ(m_boxes, l_damaged ? QStringList("Error loading configuration data: Your client configuration "
                                               "data could not be loaded. Starting from scratch...")
                                 : QStringList());
    if (l_damaged)
    {
        const QStringList l_kept = QDir(Home()).entryList({".Tarnwick.damaged-*"}, QDir::Files | QDir::Hidden);
        ASSERT_EQ(l_kept.size(), 1);
        QFile l_keptFile(Home() + "/" + l_kept[0]);
        ASSERT_TRUE(l_keptFile.open(QIODevice::ReadOnly));
        EXPECT_EQ(l_keptFile.readAll(), l_bytes);
        l_lines = QStringList{l_lines[0], "Failure to load configuration data.",
                              "Kept the unreadable configuration data as " + l_keptFile.fileName()};
    }
    EXPECT_EQ(m_log.Of("Configuration Data"), l_lines);
    // The periodic save drops what nothing holds.
    SetSetting("chat_timestamps", "per_message_long");
    d.GetType("global_value")->NewItem("nobody_keeps_this");
    mp_window->EveryFiveMinutes();
    EXPECT_EQ(m_log.Count("Configuration Data: Saving configuration data to " + StorePath() + "$"), 1);
    EXPECT_TRUE(StoreBytes().contains("per_message_long"));
    EXPECT_FALSE(d.GetType("global_value")->HasItem("nobody_keeps_this"));
    // The home folder goes away: neither the periodic save nor the last one may end the program.
    const QString l_failed = "Configuration Data: Failure to save configuration data.$";
    ASSERT_TRUE(QDir(Home()).removeRecursively());
    mp_window->EveryFiveMinutes();
    EXPECT_EQ(m_log.Count(l_failed), 1);
    mp_window.reset();
    EXPECT_EQ(m_log.Count(l_failed), 2);
    EXPECT_EQ(m_log.Count("Configuration Data: Saving"), 2) << "the last save has no line of its own";
    EXPECT_TRUE(g_showIsOver);
    for (const void* lp_global : std::initializer_list<const void*>{gp_server, peerMessenger,
             delayedInvoker, dataSaver, timerManager, extendedAsciiTranslator, sizeManager, mainWindow})
        EXPECT_EQ(lp_global, nullptr);
}
