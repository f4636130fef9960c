#include <algorithm>
#include <functional>
#include <utility>

#include "ServerTesting.h"

namespace
{
// The search types belong to the peer side; the requests only need them to exist.
class ServerRequestsTest : public ServerFixture
{
protected:
    void SetUp() override
    {
        ServerFixture::SetUp();
        DeclareTypes({{"search_request", Primary, false, false}, {"search_request_text", Primary, false, true},
                      {"wishlist_search", Leaf, true, true}});
        DeclareRelations({{"search_request", "search_request_text", Many, One}, {"search_request", "wishlist_search", Many, One}});
    }

    static ItemPtr User(const char* i_name) { return d.GetType("user")->GetItem(i_name); }
    static ItemPtr SearchRequest(unsigned int i_token) { return d.GetType("search_request")->HasItem(Value(i_token)); }
};

TEST_F(ServerRequestsTest, SearchesCountTheirTokensAndPlainRequestsCarryTheirFieldsInOrder)
{
    // Listed users: ben and cleo online, emil offline; fritz is online but not listed.
    for (const char* l_name : {"ben", "cleo", "emil"})
        User(l_name) += d.GetType("in_user_list")->NewItem();
    for (const char* l_name : {"ben", "cleo", "fritz"})
        User(l_name).NewItem("is_online");
    QSignalSpy l_requested(mp_server.get(), &Server::SearchRequested);
    EXPECT_EQ(mp_server->FileSearch("blue train", false), 1u);
    EXPECT_EQ(mp_server->SearchRoom("lobby", "blue train"), 2u);

    ASSERT_TRUE(LogIn());
    EXPECT_EQ(mp_server->SearchUserList("red car"), 3u);
    EXPECT_EQ(mp_server->SearchRoom("lobby", "green bus"), 4u);
    EXPECT_EQ(mp_server->FileSearch("rare tune", true), 5u);
    EXPECT_EQ(mp_server->FileSearch("common tune", false), 6u);
    EXPECT_EQ(mp_server->SendIndirectConnectionRequest("ben", "P"), 1u) << "a count of its own";
    EXPECT_EQ(mp_server->SendIndirectConnectionRequest("cleo", "F"), 2u);

    QList<QByteArray> l_sent = RawOf(SentFrames());
    ASSERT_GE(l_sent.size(), 2);
    // The listed users come in no particular order.
    std::sort(l_sent.begin(), l_sent.begin() + 2);
    EXPECT_EQ(l_sent, (QList<QByteArray>{
        FrameOf(42, WireFields().Text("ben").UInt32(3).Text("red car")),
        FrameOf(42, WireFields().Text("cleo").UInt32(3).Text("red car")),
        FrameOf(120, WireFields().Text("lobby").UInt32(4).Text("green bus")),
        FrameOf(103, WireFields().UInt32(5).Text("rare tune")),
        FrameOf(26, WireFields().UInt32(6).Text("common tune")),
        FrameOf(18, WireFields().UInt32(1).Text("ben").Text("P")),
        FrameOf(18, WireFields().UInt32(2).Text("cleo").Text("F"))}));
    EXPECT_EQ(SearchRequest(3)["search_request_text"].AsString(), "red car");
    EXPECT_FALSE(SearchRequest(3).IsConnected("wishlist_search"));
    EXPECT_TRUE(SearchRequest(5).IsConnected("wishlist_search"));
    EXPECT_EQ(Emitted(l_requested), (QStringList{"1|blue train|false", "5|rare tune|true", "6|common tune|false"}))
        << "only file searches are announced";

    // Requests that keep no state carry their fields in order.
    const int l_before = SentFrames().size();
    SetSetting("accept_room_list", "no");
    d.GetType("room")->GetItem("lounge").NewItem("in_room");
    Server* lp_s = mp_server.get();
    const std::pair<std::function<void()>, QByteArray> l_requests[] = {
        {[&] { lp_s->SetWaitPort(2234, 2235); }, FrameOf(2, WireFields().Int32(2234).Int32(1).Int32(2235))},
        {[&] { lp_s->GetUserStatus("ben"); }, FrameOf(7, WireFields().Text("ben"))},
        {[&] { lp_s->SendRoomChat("lobby", "hello all"); }, FrameOf(13, WireFields().Text("lobby").Text("hello all"))},
        {[&] { lp_s->EnterRoom("den", true); }, FrameOf(14, WireFields().Text("den").Int32(1))},
        {[&] { lp_s->EnterRoom("lobby", false); }, FrameOf(14, WireFields().Text("lobby").Int32(0))},
        {[&] { lp_s->SendFilesFolders(12, 340); }, FrameOf(35, WireFields().Int32(12).Int32(340))},
        {[&] { lp_s->GetUserStats("ben"); }, FrameOf(36, WireFields().Text("ben"))},
        {[&] { lp_s->SendDNetHasParent(true); }, FrameOf(71, WireFields().Byte(0))},
        {[&] { lp_s->SendDNetHasParent(false); }, FrameOf(71, WireFields().Byte(1))},
        {[&] { lp_s->SendDNetCanParent(true); }, FrameOf(100, WireFields().Byte(1))},
        {[&] { lp_s->SendUploadSpeed(51200); }, FrameOf(121, WireFields().Int32(51200))},
        {[&] { lp_s->GiftPrivileges("ben", 7); }, FrameOf(123, WireFields().Text("ben").Int32(7))},
        {[&] { lp_s->SendDNetLevel(3); }, FrameOf(126, WireFields().Int32(3))},
        {[&] { lp_s->SendDNetGroupLeader("cleo"); }, FrameOf(127, WireFields().Text("cleo"))},
        {[&] { lp_s->SendChildDepth(false); }, FrameOf(129, WireFields().Byte(0))},
        {[&] { lp_s->AddPrivateRoomMember("den", "ben"); }, FrameOf(134, WireFields().Text("den").Text("ben"))},
        {[&] { lp_s->RemovePrivateRoomMember("den", "ben"); }, FrameOf(135, WireFields().Text("den").Text("ben"))},
        {[&] { lp_s->GiveUpPrivateRoomMembership("den"); }, FrameOf(136, WireFields().Text("den"))},
        {[&] { lp_s->GiveUpPrivateRoom("den"); }, FrameOf(137, WireFields().Text("den"))},
        {[&] { lp_s->EnablePrivateRoomAdd(true); }, FrameOf(141, WireFields().Byte(1))},
        {[&] { lp_s->AddPrivateRoomOperator("den", "cleo"); }, FrameOf(143, WireFields().Text("den").Text("cleo"))},
        {[&] { lp_s->RemovePrivateRoomOperator("den", "cleo"); }, FrameOf(144, WireFields().Text("den").Text("cleo"))},
        {[&] { lp_s->GetSearchCorrelations("blue train"); }, FrameOf(153, WireFields().Text("blue train"))},
        {[&] { lp_s->SendCantConnectToPeer(77, "dora"); }, FrameOf(1001, WireFields().UInt32(77).Text("dora"))},
        {[&] { lp_s->SetAvailabilityStatus(false); }, FrameOf(28, WireFields().Int32(1))},
        {[&] { lp_s->SetAvailabilityStatus(true); }, FrameOf(28, WireFields().Int32(2))},
        {[&] { lp_s->LeaveRoom("lobby"); }, QByteArray()},
        {[&] { lp_s->LeaveRoom("lounge"); }, FrameOf(15, WireFields().Text("lounge"))},
        {[&] { lp_s->GetRoomList(); }, FrameOf(64)},
    };
    QList<QByteArray> l_expected;
    for (const auto& [l_request, l_frame] : l_requests)
    {
        l_request();
        if (!l_frame.isEmpty())
            l_expected << l_frame;
    }
    EXPECT_EQ(Setting("availability_status"), "available");
    EXPECT_EQ(Setting("accept_room_list"), "yes");
    EXPECT_TRUE(d.GetType("room")->GetItem("lounge").IsConnected("in_room")) << "the flag goes with the server's confirmation";
    EXPECT_EQ(RawOf(SentFrames()).mid(l_before), l_expected);
}

TEST_F(ServerRequestsTest, PrivateChatIsOneLineTrackingAndAddressesAreAskedOnce)
{
    QSignalSpy l_sent(mp_server.get(), &Server::PrivateChatSent);
    mp_server->SendPrivateChat("ben", "offline\nnote");
    ASSERT_TRUE(LogIn());
    mp_server->SendPrivateChat("ben", "hello\r\nthere");
    mp_server->TrackUser("ben");
    mp_server->TrackUser("ben");
    EXPECT_TRUE(User("ben").IsConnected("is_tracked"));
    mp_server->UntrackUser("cleo");
    mp_server->UntrackUser("ben");
    mp_server->UntrackUser("ben");
    EXPECT_FALSE(User("ben").IsConnected("is_tracked"));
    EXPECT_FALSE(d.GetType("user")->HasItem("cleo")) << "untracking a stranger makes no user";

    mp_server->GetUserAddress("dora");
    mp_server->GetUserAddress("dora");
    EXPECT_EQ(d.GetType("user_address_request")->ItemCount(), 1u);
    EXPECT_EQ(RawOf(SentFrames()), (QList<QByteArray>{FrameOf(22, WireFields().Text("ben").Text("hello  there")),
                                                     FrameOf(5, WireFields().Text("ben")), FrameOf(6, WireFields().Text("ben")),
                                                     FrameOf(3, WireFields().Text("dora"))}));
    EXPECT_EQ(Emitted(l_sent), (QStringList{"ben|offline note", "ben|hello  there"})) << "reported even when nothing could go out";

    // Answered: the next request goes out again.
    User("dora").Disconnect("user_address_request");
    mp_server->GetUserAddress("dora");
    EXPECT_EQ(SentFrames().size(), 5);
}
} // namespace
