#include "resources/Resources.h"
#include "shell/QuitRequests.h"
#include "shell/SettingsSnapshot.h"

#include <csignal>
#include <functional>

#include "ShellFixture.h"

// Every icon name the views ask for, including the one written without the slash, and the flags
// by lower-case country code.
TEST(Resources, IconsAndFlagsLoadAsSixteenPixelImages)
{
    InitResources();
    for (const char* l_name :
         {"add_user", "alert", "away", "back", "browse", "chat", "download", "downloads", "empty_note",
          "forward", "info", "note", "offline", "online", "pause", "remove_user", "room", "search",
          "stop", "transfer", "upload", "users", "wishlist"})
        EXPECT_EQ(QPixmap(QString(":/icons/%1_icon").arg(l_name)).size(), QSize(16, 16)) << l_name;
    EXPECT_EQ(QPixmap(":icons/online_icon").size(), QSize(16, 16));
    for (const char* l_code : {"de", "br"})
        EXPECT_EQ(QPixmap(QString(":/resources/flags/%1.png").arg(l_code)).width(), 16) << l_code;
}

// Settings taken, the store emptied as a failed load leaves it, and every setting back.
TEST(SettingsSnapshotTest, WritesEverySavedAndUnsavedSettingBack)
{
    DeclareSettingsTypes();
    SetSetting("log_room_chat", "yes");
    SetSetting("listening_port", 2234);
    SetSetting("accept_room_list", "no", SettingScope::Unsaved);
    const SettingsSnapshot l_snapshot = SettingsSnapshot::Take();
    EXPECT_EQ(l_snapshot.Size(), 3u);
    d.RemoveAllItems();
    SetSetting("log_room_chat", "no");
    l_snapshot.Restore();
    EXPECT_EQ(GetSetting("log_room_chat") + GetSetting("listening_port"), "yes2234");
    EXPECT_EQ(GetSetting("accept_room_list", SettingScope::Unsaved) + "|" + GetSetting("accept_room_list"), "no|");
}

// Each way of asking ends the event loop, also while a dialog without a parent stays open; a
// loop that did not end is cut off with status 1.
TEST(QuitRequestsTest, ClosingTheWindowOrAStopSignalEndsTheEventLoop)
{
    const std::pair<const char*, std::function<void(QWidget&)>> l_requests[] = {
        {"window closed", [](QWidget& io_window) { io_window.close(); }},
        {"SIGINT", [](QWidget&) { std::raise(SIGINT); }}};
    for (const auto& l_request : l_requests)
    {
        QWidget l_window;
        QDialog l_dialog;
        QuitRequests l_quit(&l_window);
        l_window.show();
        l_dialog.show();
        QTimer::singleShot(0, [&] { l_request.second(l_window); });
        QTimer::singleShot(20000, &l_window, [] { QCoreApplication::exit(1); });
        EXPECT_EQ(QCoreApplication::exec(), 0) << l_request.first;
        EXPECT_TRUE(l_quit.Requested()) << l_request.first;
    }
}
