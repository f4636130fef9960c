#include "ServerTesting.h"
#include "support/TestSupport.h"

namespace
{
using ServerSchemaTest = ServerMessageFixture;

TEST_F(ServerSchemaTest, TheStoreFileKeepsWhatTheUserChoseAndRelationsHoldTheirSides)
{
    EXPECT_EQ(Setting("availability_status"), "available");
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
    const QString l_path = QString::fromStdString(l_folder.File("store"));
    dataSaver->Save(l_path);
    d.RemoveAllItems();
    dataSaver->Load(l_path);

    // Presence, tracking, the rooms we are in and their counts live for the run only.
    ASSERT_EQ(Names(lp_user->GetItems()) + Names(lp_room->GetItems()), (QStringList{"friend", "pest", "favourite"}));
    ItemPtr l_groupBack = lp_user->HasItem("friend")["in_user_list"]["user_list_group"];
    ASSERT_TRUE(l_groupBack);
    EXPECT_EQ(l_groupBack.AsString() + " " + l_groupBack["group_download_priority"].AsString(), "pals 3");
    EXPECT_TRUE(l_groupBack.IsConnected("accept_uploads"));
    EXPECT_FALSE(lp_user->HasItem("friend").IsConnected("is_online"));
    EXPECT_TRUE(lp_user->HasItem("pest").IsConnected("is_ignored"));
    EXPECT_TRUE(lp_room->HasItem("favourite").IsConnected("room_autojoin"));
    EXPECT_FALSE(lp_room->HasItem("favourite").IsConnected("user_count"));

    const char* const l_relations[][3] = {
        {"user", "is_online", "Many One"}, {"user", "in_user_list", "One One"}, {"in_user_list", "user_list_group", "Many Many"},
        {"room_owner", "user", "Many One"}, {"room", "room_ticker", "One Many"}, {"room_ticker", "user", "Many One"},
        {"user_address_request", "user", "One Many"}};
    for (const auto& l_relation : l_relations)
        EXPECT_EQ(RelationText(l_relation[0], l_relation[1]), l_relation[2]) << l_relation[0] << " " << l_relation[1];
}
} // namespace
