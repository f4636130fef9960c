#include "ServerTesting.h"
#include "support/TestSupport.h"

namespace
{
using ServerSchemaTest = ServerFixture;

// Saves to a file, empties the store and loads it back.
void SaveAndReload(const TemporaryFolder& i_folder)
{
    const QString l_path = QString::fromStdString(i_folder.File("store"));
    dataSaver->Save(l_path);
    d.RemoveAllItems();
    dataSaver->Load(l_path);
}

TEST_F(ServerSchemaTest, AvailabilityStartsAvailableAndAStoredValueWins)
{
    EXPECT_EQ(Setting("availability_status"), "available");

    dataSaver->AddSavedType("global");
    dataSaver->AddSavedByConnectionType("global_value", "global");
    SetSetting("availability_status", "away");
    TemporaryFolder l_folder;
    dataSaver->Save(QString::fromStdString(l_folder.File("store")));
    SetSetting("availability_status", "available");
    dataSaver->Load(QString::fromStdString(l_folder.File("store")));
    EXPECT_EQ(Setting("availability_status"), "away");
}

TEST_F(ServerSchemaTest, TheStoreFileKeepsListedIgnoredAndAutojoinOnly)
{
    Type* lp_user = d.GetType("user");
    Type* lp_room = d.GetType("room");
    lp_user->GetItem("online").NewItem("is_online");
    lp_user->GetItem("tracked").NewItem("is_tracked");
    lp_room->GetItem("lobby") += lp_user->GetItem("visitor");
    lp_room->GetItem("lobby").NewItem("in_room");

    ItemPtr l_friend = lp_user->GetItem("friend");
    ItemPtr l_group = d.GetType("user_list_group")->GetItem("pals");
    l_friend.NewItem("in_user_list") += l_group;
    l_group += d.GetType("group_download_priority")->GetItem("3");
    l_group.NewItem("accept_uploads");
    l_friend.NewItem("is_online");
    lp_user->GetItem("pest").NewItem("is_ignored");
    ItemPtr l_favourite = lp_room->GetItem("favourite");
    l_favourite.NewItem("room_autojoin");
    l_favourite += d.GetType("user_count")->GetItem("12");

    TemporaryFolder l_folder;
    SaveAndReload(l_folder);

    for (const char* lp_gone : {"online", "tracked", "visitor"})
        EXPECT_FALSE(lp_user->HasItem(lp_gone)) << lp_gone;
    EXPECT_FALSE(lp_room->HasItem("lobby"));

    ItemPtr l_friendBack = lp_user->HasItem("friend");
    ASSERT_TRUE(l_friendBack);
    ItemPtr l_groupBack = l_friendBack["in_user_list"]["user_list_group"];
    ASSERT_TRUE(l_groupBack);
    EXPECT_EQ(l_groupBack.AsString(), "pals");
    EXPECT_EQ(l_groupBack["group_download_priority"].AsString(), "3");
    EXPECT_TRUE(l_groupBack.IsConnected("accept_uploads"));
    EXPECT_FALSE(l_friendBack.IsConnected("is_online")) << "online state lives for the run only";

    EXPECT_TRUE(lp_user->HasItem("pest").IsConnected("is_ignored"));

    ItemPtr l_favouriteBack = lp_room->HasItem("favourite");
    ASSERT_TRUE(l_favouriteBack);
    EXPECT_TRUE(l_favouriteBack.IsConnected("room_autojoin"));
    EXPECT_FALSE(l_favouriteBack.IsConnected("user_count"));
}

TEST_F(ServerSchemaTest, RelationsHoldTheirSidesTheRightWayRound)
{
    const char* const l_relations[][3] = {
        {"user", "is_online", "Many One"},         {"user", "in_user_list", "One One"},
        {"in_user_list", "user_list_group", "Many Many"},
        {"room_owner", "user", "Many One"},        {"room", "room_ticker", "One Many"},
        {"room_ticker", "user", "Many One"},      {"user_address_request", "user", "One Many"},
    };
    for (const auto& l_relation : l_relations)
        EXPECT_EQ(RelationText(l_relation[0], l_relation[1]), l_relation[2]) << l_relation[0] << " " << l_relation[1];
}

} // namespace
