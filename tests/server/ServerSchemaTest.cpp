#include <gtest/gtest.h>

#include <QString>

#include "server/Server.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "support/TestSupport.h"
#include "support/support/ServerFixture.h"

namespace
{
using ServerSchemaTest = ServerFixture;

// Keeps the settings as the shell does, saves to a file, empties the store and loads it back.
void SaveAndReload(const TemporaryFolder& i_folder)
{
    const QString l_path = QString::fromStdString(i_folder.File("store"));
    dataSaver->Save(l_path);
    d.RemoveAllItems();
    dataSaver->Load(l_path);
}

TEST_F(ServerSchemaTest, EveryTypeLooksItemsUpByValueOrSharesOneFlag)
{
    for (const char* lp_valued : {"user", "room", "user_count", "average_download_speed",
                                  "shared_files_count", "country_code", "user_list_group",
                                  "group_download_priority", "room_ticker_text",
                                  "room_ticker_order", "ticker_order_counter"})
    {
        Type* lp_type = d.GetType(lp_valued);
        EXPECT_TRUE(lp_type->GetItem("x")) << lp_valued << " creates a missing item on lookup";
    }

    ItemPtr l_anna = d.GetType("user")->GetItem("anna");
    ItemPtr l_ben = d.GetType("user")->GetItem("ben");
    ItemPtr l_online = l_anna.NewItem("is_online");
    EXPECT_EQ(l_ben.NewItem("is_online"), l_online) << "flag users share the one flag item";
    EXPECT_EQ(l_anna.NewItem("is_online"), l_online) << "setting a set flag changes nothing";
    EXPECT_EQ(d.GetType("is_online")->ItemCount(), 1u);
    l_anna.Disconnect("is_online");
    EXPECT_FALSE(l_anna.IsConnected("is_online"));
    EXPECT_TRUE(l_ben.IsConnected("is_online"));

    // The per-room link items are one per room, not shared.
    ItemPtr l_lobby = d.GetType("room")->GetItem("lobby");
    ItemPtr l_attic = d.GetType("room")->GetItem("attic");
    EXPECT_NE(l_lobby.NewItem("room_operators"), l_attic.NewItem("room_operators"));
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

TEST_F(ServerSchemaTest, OneSidesReplaceAndManySidesAdd)
{
    ItemPtr l_anna = d.GetType("user")->GetItem("anna");
    ItemPtr l_ben = d.GetType("user")->GetItem("ben");

    l_anna += d.GetType("country_code")->GetItem("SE");
    l_anna += d.GetType("country_code")->GetItem("NO");
    EXPECT_EQ(l_anna["country_code"].AsString(), "NO");
    EXPECT_EQ(l_anna.GetItems("country_code").Size(), 1u);
    l_ben += d.GetType("country_code")->GetItem("NO");
    EXPECT_EQ(d.GetType("country_code")->GetItem("NO").GetItems("user").Size(), 2u);

    ItemPtr l_room = d.GetType("room")->GetItem("lobby");
    l_room += l_anna;
    l_room += l_ben;
    EXPECT_EQ(l_room.GetItems("user").Size(), 2u);
    EXPECT_EQ(l_anna.GetItems("room").Size(), 1u);

    // One pending address request per user.
    ItemPtr l_first = d.GetType("user_address_request")->NewItem();
    ItemPtr l_second = d.GetType("user_address_request")->NewItem();
    l_first += l_anna;
    l_second += l_anna;
    EXPECT_EQ(l_anna.GetItems("user_address_request").Size(), 1u);
    EXPECT_EQ(l_anna["user_address_request"], l_second);
    EXPECT_FALSE(l_first.IsConnected("user"));
    l_first += l_ben;
    l_first += l_anna;
    EXPECT_EQ(l_first.GetItems("user").Size(), 2u);
    EXPECT_FALSE(l_second.IsConnected("user"));

    // One entry in the user list per user, and one user per entry.
    ItemPtr l_entry = l_anna.NewItem("in_user_list");
    EXPECT_EQ(l_anna.NewItem("in_user_list"), l_entry);
    EXPECT_NE(l_ben.NewItem("in_user_list"), l_entry);

    // A ticker line belongs to one room; a room has many lines.
    ItemPtr l_line1 = d.GetType("room_ticker")->NewItem();
    ItemPtr l_line2 = d.GetType("room_ticker")->NewItem();
    l_room += l_line1;
    l_room += l_line2;
    d.GetType("room")->GetItem("attic") += l_line2;
    EXPECT_EQ(l_room.GetItems("room_ticker").Size(), 1u);
    EXPECT_EQ(l_line2["room"].AsString(), "attic");
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

    ItemPtr l_pestBack = lp_user->HasItem("pest");
    ASSERT_TRUE(l_pestBack);
    EXPECT_TRUE(l_pestBack.IsConnected("is_ignored"));

    ItemPtr l_favouriteBack = lp_room->HasItem("favourite");
    ASSERT_TRUE(l_favouriteBack);
    EXPECT_TRUE(l_favouriteBack.IsConnected("room_autojoin"));
    EXPECT_FALSE(l_favouriteBack.IsConnected("user_count"));
}

TEST_F(ServerSchemaTest, DeclaringTheSchemaTwiceIsRefused)
{
    EXPECT_THROWS_PTR(Server::CreateData(), TypeAlreadyExistsException);
}

TEST(ServerSchemaOrderTest, TheSettingsTypesMustComeFirst)
{
    DataSaver l_saver;
    EXPECT_THROWS_PTR(Server::CreateData(), TypeNotFoundException);
}
} // namespace
