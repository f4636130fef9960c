#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QString>
#include <QTest>

#include <algorithm>
#include <functional>
#include <utility>

#include "server/Server.h"
#include "store/Data.h"
#include "support/support/ServerFixture.h"

namespace
{
using Frame = FakeCentralServer::Frame;

// The search types belong to the peer side; the requests only need them to exist.
class ServerRequestsTest : public ServerFixture
{
protected:
    void SetUp() override
    {
        ServerFixture::SetUp();
        Type* lp_request = d.NewType("search_request", Primary, false, false);
        Type* lp_text = d.NewType("search_request_text", Primary, false, true);
        Type* lp_wish = d.NewType("wishlist_search", Leaf, true, true);
        lp_request->RelateToType(lp_text, Many, One, false);
        lp_request->RelateToType(lp_wish, Many, One, false);
    }

    static ItemPtr User(const char* i_name) { return d.GetType("user")->GetItem(i_name); }

    static ItemPtr SearchRequest(unsigned int i_token)
    {
        return d.GetType("search_request")->HasItem(Value(i_token));
    }
};

QByteArray FrameOf(qint32 i_code, const QByteArray& i_fields = QByteArray())
{
    return FakeCentralServer::MakeFrame(i_code, i_fields);
}

TEST_F(ServerRequestsTest, PlainRequestsCarryTheirFieldsInOrder)
{
    ASSERT_TRUE(LogIn());
    SetSetting("accept_room_list", "no");
    d.GetType("room")->GetItem("lounge").NewItem("in_room");
    Server* lp_s = mp_server.get();
    // A request that sends nothing expects no frame.
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
    for (const auto& l_request : l_requests)
    {
        l_request.first();
        if (!l_request.second.isEmpty())
            l_expected.append(l_request.second);
    }
    EXPECT_EQ(Setting("availability_status"), "available");
    EXPECT_EQ(Setting("accept_room_list"), "yes");
    EXPECT_TRUE(d.GetType("room")->GetItem("lounge").IsConnected("in_room"))
        << "the flag goes with the server's confirmation";

    const QList<Frame> l_frames = SentFrames();
    ASSERT_EQ(l_frames.size(), l_expected.size());
    for (int l_index = 0; l_index < l_frames.size(); ++l_index)
        EXPECT_EQ(l_frames.at(l_index).raw.toHex(), l_expected.at(l_index).toHex()) << "frame " << l_index;
}

TEST_F(ServerRequestsTest, SearchTokensCountUpAndOfflineSearchesAreOnlyRecorded)
{
    QSignalSpy l_requested(mp_server.get(), &Server::SearchRequested);
    EXPECT_EQ(mp_server->FileSearch("blue train", false), 1u);
    EXPECT_EQ(mp_server->SearchRoom("lobby", "blue train"), 2u);
    EXPECT_EQ(SearchRequest(1)["search_request_text"], SearchRequest(2)["search_request_text"])
        << "one text item per search text";

    ASSERT_TRUE(LogIn());
    EXPECT_EQ(mp_server->SearchUserList("red car"), 3u);
    EXPECT_EQ(mp_server->SearchRoom("lobby", "green bus"), 4u);
    EXPECT_EQ(mp_server->FileSearch("rare tune", true), 5u);
    EXPECT_EQ(mp_server->FileSearch("common tune", false), 6u);
    EXPECT_EQ(mp_server->SendIndirectConnectionRequest("ben", "P"), 1u) << "a count of its own";
    EXPECT_EQ(mp_server->SendIndirectConnectionRequest("cleo", "F"), 2u);

    const QList<Frame> l_frames = SentFrames();
    const QList<QByteArray> l_expected = {
        FrameOf(120, WireFields().Text("lobby").UInt32(4).Text("green bus")),
        FrameOf(103, WireFields().UInt32(5).Text("rare tune")),
        FrameOf(26, WireFields().UInt32(6).Text("common tune")),
        FrameOf(18, WireFields().UInt32(1).Text("ben").Text("P")),
        FrameOf(18, WireFields().UInt32(2).Text("cleo").Text("F")),
    };
    ASSERT_EQ(l_frames.size(), l_expected.size()) << "no listed user is online for the list search";
    for (int l_index = 0; l_index < l_frames.size(); ++l_index)
        EXPECT_EQ(l_frames.at(l_index).raw.toHex(), l_expected.at(l_index).toHex()) << "frame " << l_index;

    EXPECT_EQ(SearchRequest(3)["search_request_text"].AsString(), "red car");
    EXPECT_TRUE(SearchRequest(5).IsConnected("wishlist_search"));
    EXPECT_EQ(d.GetType("wishlist_search")->ItemCount(), 1u);
    ASSERT_EQ(l_requested.count(), 3) << "only file searches are announced";
    EXPECT_EQ(l_requested.at(1).at(0).toUInt(), 5u);
    EXPECT_EQ(l_requested.at(1).at(1).toString(), "rare tune");
    EXPECT_TRUE(l_requested.at(1).at(2).toBool());
    EXPECT_FALSE(l_requested.at(2).at(2).toBool());
}

TEST_F(ServerRequestsTest, AUserListSearchGoesToEveryOnlineListedUser)
{
    for (const char* l_name : {"ben", "cleo", "dora", "emil"})
    {
        ItemPtr l_user = User(l_name);
        l_user += d.GetType("in_user_list")->NewItem();
        if (QString(l_name) != "emil")
            l_user.NewItem("is_online");
    }
    User("fritz").NewItem("is_online");
    ASSERT_TRUE(LogIn());

    const unsigned int l_token = mp_server->SearchUserList("blue train");
    QList<QByteArray> l_sent, l_expected;
    for (const Frame& l_frame : SentFrames())
        l_sent << l_frame.raw;
    for (const char* l_name : {"ben", "cleo", "dora"})
        l_expected << FrameOf(42, WireFields().Text(l_name).UInt32(l_token).Text("blue train"));
    std::sort(l_sent.begin(), l_sent.end());
    EXPECT_EQ(l_sent, l_expected) << "emil is offline and fritz is not in the list";
    EXPECT_TRUE(SearchRequest(l_token));
    EXPECT_FALSE(SearchRequest(l_token).IsConnected("wishlist_search"));
}

TEST_F(ServerRequestsTest, TrackingAndAddressesAreAskedOnce)
{
    ASSERT_TRUE(LogIn());
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
    QList<Frame> l_frames = SentFrames();
    ASSERT_EQ(l_frames.size(), 3);
    EXPECT_EQ(l_frames.at(0).raw, FrameOf(5, WireFields().Text("ben")));
    EXPECT_EQ(l_frames.at(1).raw, FrameOf(6, WireFields().Text("ben")));
    EXPECT_EQ(l_frames.at(2).raw, FrameOf(3, WireFields().Text("dora")));

    // Answered: the next request goes out again.
    User("dora").Disconnect("user_address_request");
    mp_server->GetUserAddress("dora");
    EXPECT_EQ(SentFrames().size(), 4);
}

TEST_F(ServerRequestsTest, PrivateChatIsOneLineAndReportedAsSent)
{
    QSignalSpy l_sent(mp_server.get(), &Server::PrivateChatSent);
    mp_server->SendPrivateChat("ben", "offline\nnote");
    ASSERT_EQ(l_sent.count(), 1) << "reported even when nothing could go out";
    EXPECT_EQ(l_sent.at(0).at(1).toString(), "offline note");

    ASSERT_TRUE(LogIn());
    mp_server->SendPrivateChat("ben", "hello\r\nthere");
    const QList<Frame> l_frames = SentFrames();
    ASSERT_EQ(l_frames.size(), 1);
    EXPECT_EQ(l_frames.at(0).raw, FrameOf(22, WireFields().Text("ben").Text("hello  there")));
    ASSERT_EQ(l_sent.count(), 2);
    EXPECT_EQ(l_sent.at(1).at(0).toString(), "ben");
    EXPECT_EQ(l_sent.at(1).at(1).toString(), "hello  there");
}
} // namespace
