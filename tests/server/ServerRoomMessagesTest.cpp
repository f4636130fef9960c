#include "ServerTesting.h"

namespace
{
// Statistics records as the server writes them: speed, a 64-bit count, files, and one more.
WireFields& Stats(WireFields& io_fields, qint32 i_speed, qint32 i_files)
{
    return io_fields.Int32(i_speed).UInt32(0).UInt32(0).Int32(i_files).Int32(0);
}

class ServerRoomMessagesTest : public ServerMessageFixture
{
protected:
    static ItemPtr FindRoom(const char* i_name) { return d.GetType("room")->HasItem(i_name); }
    static QStringList RoomUsers(const char* i_room) { return Names(Room(i_room).GetItems("user")); }
    // Speed, shared files and country, "-" for each one missing.
    static QString Details(const char* i_user)
    {
        QStringList l_details;
        for (const char* l_type : {"average_download_speed", "shared_files_count", "country_code"})
            l_details << (User(i_user)[l_type] ? User(i_user)[l_type].AsString() : "-");
        return l_details.join(' ');
    }
    // The private room flags that are set.
    static QString Flags(const char* i_room)
    {
        QStringList l_set;
        for (const char* l_flag : {"is_private", "is_member", "is_owner", "is_operator"})
            if (Room(i_room).IsConnected(l_flag))
                l_set << l_flag;
        return l_set.join(' ');
    }
};

TEST_F(ServerRoomMessagesTest, AJoinSetsUsersDetailsAndPrivateOwnershipAsFarAsTheBodyGoes)
{
    Room("lobby") += User("gone");
    Room("lobby").NewItem("room_owner") += User("olga");
    Room("lobby").NewItem("room_operators") += User("oscar");
    WireFields l_join;
    l_join.Text("lobby").Texts({"ben", "cleo"}).Int32s({2, 2}).Int32(2);
    Deliver(14, Stats(Stats(l_join, 100, 1), 200, 2).Int32s({2, 2}).Texts({"C1", "C2"}));
    ItemPtr l_room = Room("lobby");
    EXPECT_TRUE(l_room.IsConnected("in_room"));
    EXPECT_EQ(RoomUsers("lobby"), (QStringList{"ben", "cleo"})) << "the whole user set is replaced";
    EXPECT_EQ(Details("ben") + ", " + Details("cleo"), "100 1 C1, 200 2 C2");
    EXPECT_EQ(l_room["room_owner"]["user"].AsString(), "olga");
    EXPECT_EQ(Names(l_room["room_operators"].GetItems("user")), (QStringList{"oscar"}));

    WireFields l_private;
    l_private.Text("lobby").Texts({"ben"}).Int32s({2}).Int32(1);
    Deliver(14, Stats(l_private, 100, 1).Int32s({2}).Texts({"C1"}).Text("pia").Int32(2).Text("zed").Text("ada"));
    EXPECT_EQ(l_room["room_owner"]["user"].AsString(), "pia");
    EXPECT_EQ(Names(l_room["room_operators"].GetItems("user")), (QStringList{"ada", "zed"}));
    EXPECT_EQ(RoomUsers("lobby"), (QStringList{"ben"}));

    // Details go as far as the shortest of the lists.
    User("gina") += d.GetType("country_code")->GetItem("XX");
    WireFields l_fields;
    l_fields.Text("hall").Texts({"finn", "gina", "hugo"}).Int32s({1, 1, 1}).Int32(3);
    Stats(Stats(Stats(l_fields, 10, 1), 20, 2), 30, 3).Int32s({}).Texts({"DE"});
    Deliver(14, l_fields);
    EXPECT_EQ(RoomUsers("hall"), (QStringList{"finn", "gina", "hugo"}));
    EXPECT_EQ(Details("finn") + ", " + Details("gina"), "10 1 DE, - - XX");

    // A hostile statistics count ends that list empty instead of allocating for it.
    WireFields l_hostile;
    Stats(l_hostile.Text("attic").Texts({"emil"}).Int32s({1}).Int32(0x7fffffff), 10, 1);
    Deliver(14, l_hostile);
    EXPECT_EQ(RoomUsers("attic"), (QStringList{"emil"}));
    EXPECT_FALSE(User("emil")["average_download_speed"]);

    // The user list stops at the first user that is not all there.
    Deliver(14, WireFields().Text("cellar").Int32(3).Text("ben").UInt32(50).Raw("cl"));
    EXPECT_EQ(RoomUsers("cellar"), (QStringList{"ben"}));
}

TEST_F(ServerRoomMessagesTest, UsersComeAndGoWeLeaveAndChatPassesOnAllButIgnoredUsers)
{
    User("ben") += d.GetType("average_download_speed")->GetItem("5");
    WireFields l_joined;
    Stats(l_joined.Text("lobby").Text("ben").Int32(1), 777, 42).Int32(0).Text("NL");
    Deliver(16, l_joined);
    Deliver(16, WireFields().Text("lobby").Text("cleo").Int32(1));
    EXPECT_EQ(RoomUsers("lobby"), (QStringList{"ben", "cleo"}));
    EXPECT_EQ(Details("ben") + ", " + Details("cleo"), "777 42 NL, 0 0 ");
    Deliver(17, WireFields().Text("lobby").Text("ben"));
    EXPECT_EQ(RoomUsers("lobby"), (QStringList{"cleo"}));
    EXPECT_TRUE(d.GetType("user")->HasItem("ben"));
    Deliver(17, WireFields().Text("attic").Text("nobody"));
    EXPECT_FALSE(FindRoom("attic"));

    // Leaving clears the room only when we were in.
    Deliver(15, WireFields().Text("lobby"));
    EXPECT_EQ(RoomUsers("lobby"), (QStringList{"cleo"}));
    Deliver(15, WireFields().Text("nowhere"));
    EXPECT_FALSE(FindRoom("nowhere"));
    Room("lobby").NewItem("in_room");
    Deliver(15, WireFields().Text("lobby"));
    EXPECT_FALSE(Room("lobby").IsConnected("in_room"));
    EXPECT_TRUE(RoomUsers("lobby").isEmpty());
    EXPECT_TRUE(d.GetType("user")->HasItem("cleo"));

    // Chat passes on all but ignored users, and nothing is handled offline.
    QSignalSpy l_chat(mp_server.get(), &Server::RoomChat);
    User("troll").NewItem("is_ignored");
    Deliver(13, WireFields().Text("foyer").Text("ben").Text("hi there"));
    Deliver(13, WireFields().Text("foyer").Text("troll").Text("noise"));
    Deliver(13, WireFields().Text("foyer").Text("stranger").Text("hello"));
    Deliver(13, WireFields().Text("foyer"));
    EXPECT_EQ(Emitted(l_chat), (QStringList{"foyer|ben|hi there", "foyer|stranger|hello", "foyer||"}));
    EXPECT_FALSE(d.GetType("user")->HasItem("stranger")) << "chat stores nothing";
    EXPECT_FALSE(FindRoom("foyer"));

    mp_server->Disconnect();
    Deliver(13, WireFields().Text("foyer").Text("ben").Text("hi"));
    Deliver(16, WireFields().Text("attic").Text("cleo"));
    EXPECT_EQ(l_chat.count(), 3) << "nothing is handled while disconnected";
    EXPECT_FALSE(FindRoom("attic"));
}

TEST_F(ServerRoomMessagesTest, OnlyAnAskedRoomListCreatesRoomsAndPrivateFlagsFollowTheLatest)
{
    Room("lobby") += d.GetType("user_count")->GetItem("1");
    SetSetting("accept_room_list", "no");
    // Public rooms and their user counts, then owned rooms, member rooms (each with counts) and
    // operated rooms; a list that is not there is empty.
    Deliver(64, WireFields().Texts({"lobby", "attic"}).Int32s({12, 3}));
    EXPECT_EQ(Room("lobby")["user_count"].AsString(), "12");
    EXPECT_FALSE(FindRoom("attic"));
    mp_server->GetRoomList();
    Deliver(64, WireFields().Texts({"lobby", "attic", "cellar"}).Int32s({13, 3}));
    EXPECT_EQ(Room("lobby")["user_count"].AsString() + " " + Room("attic")["user_count"].AsString(), "13 3");
    EXPECT_FALSE(FindRoom("cellar")) << "a name without a count is skipped";
    EXPECT_EQ(Setting("accept_room_list"), "no") << "one list per request";

    const WireFields l_noPublic = WireFields().Texts({}).Int32s({});
    Deliver(64, WireFields(l_noPublic).Texts({"mine", "old"}).Int32s({2, 1}).Texts({"club", "gang"}).Int32s({5, 6}).Texts({"gang"}));
    EXPECT_EQ(Flags("mine"), "is_private is_member is_owner");
    EXPECT_EQ(Flags("club"), "is_private is_member");
    EXPECT_EQ(Flags("gang"), "is_private is_member is_operator");
    EXPECT_EQ(Room("mine")["user_count"].AsString() + " " + Room("gang")["user_count"].AsString(), "2 6");
    Deliver(64, WireFields(l_noPublic).Texts({"mine"}).Int32s({3}).Texts({"gang"}).Int32s({6}));
    EXPECT_EQ(Flags("mine"), "is_private is_member is_owner") << "owned rooms stay member rooms";
    EXPECT_EQ(Flags("old"), "is_private");
    EXPECT_EQ(Flags("club"), "is_private") << "the private flag is never cleared by the list";
    EXPECT_EQ(Flags("gang"), "is_private is_member is_operator") << "nor the operator flag";
}

TEST_F(ServerRoomMessagesTest, TickersAreReplacedAndPrivateSetsAndStandingFollowTheServer)
{
    ItemPtr l_room = Room("lobby");
    l_room += d.GetType("ticker_order_counter")->GetItem("9");
    Deliver(113, WireFields().Text("lobby").Int32(2).Text("ben").Text("old one").Text("cleo").Text("old two"));
    const ItemSet l_old = l_room.GetItems("room_ticker");
    ASSERT_EQ(l_old.Size(), 2u);
    EXPECT_FALSE(d.GetType("ticker_order_counter")->HasItem("9"));

    Deliver(113, WireFields().Text("lobby").Int32(3).Text("ben").Text("first").Text("cleo").Text("second")
                     .Text("dora").Text("third"));
    QStringList l_seen;
    for (ItemPtr l_line : l_room.GetItems("room_ticker"))
        l_seen << l_line["room_ticker_order"].AsString() + ":" + l_line["user"].AsString() + ":" +
                      l_line["room_ticker_text"].AsString();
    l_seen.sort();
    EXPECT_EQ(l_seen, (QStringList{"1:ben:first", "2:cleo:second", "3:dora:third"}));
    for (ItemPtr l_line : l_old)
        EXPECT_FALSE(l_line.IsConnected(l_room)) << "old lines leave the room";

    // Counts beyond the data make only the lines that are there, past the limit none.
    Deliver(113, WireFields().Text("lobby").Int32(131072).Text("ben").Text("only one"));
    EXPECT_EQ(l_room.GetItems("room_ticker").Size(), 1u);
    Deliver(113, WireFields().Text("lobby").Int32(131073).Text("ben").Text("too many"));
    EXPECT_TRUE(l_room.GetItems("room_ticker").Empty());

    const struct
    {
        const char* link;
        qint32 replace, add, remove;
    } l_sets[] = {{"room_members", 133, 134, 135}, {"room_operators", 148, 143, 144}};
    for (const auto& l_set : l_sets)
    {
        SCOPED_TRACE(l_set.link);
        ItemPtr l_link = Room("den").NewItem(l_set.link);
        l_link += User("old");
        Deliver(l_set.replace, WireFields().Text("den").Int32(2).Text("zed").Text("ada"));
        EXPECT_EQ(Names(l_link.GetItems("user")), (QStringList{"ada", "zed"}));
        Deliver(l_set.add, WireFields().Text("den").Text("ben"));
        Deliver(l_set.remove, WireFields().Text("den").Text("ada"));
        EXPECT_EQ(Names(l_link.GetItems("user")), (QStringList{"ben", "zed"}));
        Deliver(l_set.replace, WireFields().Text("den").Int32(0));
        EXPECT_TRUE(l_link.GetItems("user").Empty());
    }

    Deliver(139, WireFields().Text("club"));
    EXPECT_EQ(Flags("club"), "is_private is_member");
    EXPECT_EQ(Sent(14), QList<QByteArray>{WireFields().Text("club").Int32(0)}) << "joined at once";
    Deliver(145, WireFields().Text("club"));
    EXPECT_EQ(Flags("club"), "is_private is_member is_operator");
    Room("club").NewItem("is_owner");
    Deliver(140, WireFields().Text("club"));
    EXPECT_EQ(Flags("club"), "is_private");

    QSignalSpy l_enabled(mp_server.get(), &Server::PrivateRoomAddEnabled);
    Deliver(141, WireFields().Byte(2));
    EXPECT_EQ(Setting("accept_private_room_add"), "yes");
    Deliver(141, WireFields().Byte(0));
    EXPECT_EQ(Setting("accept_private_room_add"), "no");
    EXPECT_EQ(Emitted(l_enabled), (QStringList{"true", "false"}));
}
} // namespace
