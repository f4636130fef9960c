#include "shell/SettingsSnapshot.h"

#include "ShellFixture.h"

// Settings taken, the store emptied as a failed load leaves it, and every setting back.
TEST(SettingsSnapshotTest, WritesEverySavedAndUnsavedSettingBack)
{
    DeclareSettingsTypes();
    SetSetting("use_upnp", "yes");
    SetSetting("listening_port", 2234);
    SetSetting("accept_room_list", "no", SettingScope::Unsaved);
    const SettingsSnapshot l_snapshot = SettingsSnapshot::Take();
    EXPECT_EQ(l_snapshot.Size(), 3u);
    d.RemoveAllItems();
    SetSetting("use_upnp", "no");
    l_snapshot.Restore();
    EXPECT_EQ(GetSetting("use_upnp") + GetSetting("listening_port"), "yes2234");
    EXPECT_EQ(GetSetting("accept_room_list", SettingScope::Unsaved), "no");
    EXPECT_EQ(GetSetting("accept_room_list"), "");
}
