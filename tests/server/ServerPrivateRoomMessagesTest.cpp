#include <gtest/gtest.h>

#include <QSignalSpy>

#include "server/Server.h"
#include "support/support/ServerMessageFixture.h"

namespace
{
using ServerPrivateRoomMessagesTest = ServerMessageFixture;

TEST_F(ServerPrivateRoomMessagesTest, MemberAndOperatorSetsAreReplacedGrownAndShrunk)
{
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
}

TEST_F(ServerPrivateRoomMessagesTest, OwnStandingAndTheInvitationSetting)
{
    Deliver(139, WireFields().Text("club"));
    ItemPtr l_club = Room("club");
    EXPECT_TRUE(l_club.IsConnected("is_private") && l_club.IsConnected("is_member"));
    EXPECT_EQ(Sent(14), QList<QByteArray>{WireFields().Text("club").Int32(0)}) << "joined at once";
    Deliver(145, WireFields().Text("club"));
    EXPECT_TRUE(l_club.IsConnected("is_operator"));
    l_club.NewItem("is_owner");
    Deliver(140, WireFields().Text("club"));
    for (const char* l_flag : {"is_member", "is_operator", "is_owner"})
        EXPECT_FALSE(l_club.IsConnected(l_flag)) << l_flag;
    EXPECT_TRUE(l_club.IsConnected("is_private"));

    QSignalSpy l_enabled(mp_server.get(), &Server::PrivateRoomAddEnabled);
    Deliver(141, WireFields().Byte(2));
    EXPECT_EQ(Setting("accept_private_room_add"), "yes");
    Deliver(141, WireFields().Byte(0));
    EXPECT_EQ(Setting("accept_private_room_add"), "no");
    ASSERT_EQ(l_enabled.count(), 2);
    EXPECT_TRUE(l_enabled.at(0).at(0).toBool());
    EXPECT_FALSE(l_enabled.at(1).at(0).toBool());
}
} // namespace
