#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QString>
#include <QTest>

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

    // Sends a request that always goes out and waits for it: every frame before it has been
    // received, so what did not arrive was not sent.
    QList<Frame> FramesUpToFence()
    {
        const int l_fences = m_fake.FramesWithCode(92).size();
        mp_server->GetOwnPrivilegesStatus();
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return m_fake.FramesWithCode(92).size() == l_fences + 1; }, 5000));
        QList<Frame> l_frames;
        for (const Frame& l_frame : m_fake.Frames())
            if (l_frame.code != 1 && l_frame.code != 92)
                l_frames.append(l_frame);
        return l_frames;
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
    mp_server->SetWaitPort(2234, 2235);
    mp_server->GetUserStatus("ben");
    mp_server->SendRoomChat("lobby", "hello all");
    mp_server->EnterRoom("den", true);
    mp_server->EnterRoom("lobby", false);
    mp_server->SendFilesFolders(12, 340);
    mp_server->GetUserStats("ben");
    mp_server->SendDNetHasParent(true);
    mp_server->SendDNetHasParent(false);
    mp_server->SendDNetCanParent(true);
    mp_server->SendUploadSpeed(51200);
    mp_server->GiftPrivileges("ben", 7);
    mp_server->SendDNetLevel(3);
    mp_server->SendDNetGroupLeader("cleo");
    mp_server->SendChildDepth(false);
    mp_server->AddPrivateRoomMember("den", "ben");
    mp_server->RemovePrivateRoomMember("den", "ben");
    mp_server->GiveUpPrivateRoomMembership("den");
    mp_server->GiveUpPrivateRoom("den");
    mp_server->EnablePrivateRoomAdd(true);
    mp_server->AddPrivateRoomOperator("den", "cleo");
    mp_server->RemovePrivateRoomOperator("den", "cleo");
    mp_server->GetSearchCorrelations("blue train");
    mp_server->SendCantConnectToPeer(77, "dora");

    const QList<Frame> l_frames = FramesUpToFence();
    const QList<QByteArray> l_expected = {
        FrameOf(2, WireFields().Int32(2234).Int32(1).Int32(2235)),
        FrameOf(7, WireFields().Text("ben")),
        FrameOf(13, WireFields().Text("lobby").Text("hello all")),
        FrameOf(14, WireFields().Text("den").Int32(1)),
        FrameOf(14, WireFields().Text("lobby").Int32(0)),
        FrameOf(35, WireFields().Int32(12).Int32(340)),
        FrameOf(36, WireFields().Text("ben")),
        FrameOf(71, WireFields().Byte(0)),
        FrameOf(71, WireFields().Byte(1)),
        FrameOf(100, WireFields().Byte(1)),
        FrameOf(121, WireFields().Int32(51200)),
        FrameOf(123, WireFields().Text("ben").Int32(7)),
        FrameOf(126, WireFields().Int32(3)),
        FrameOf(127, WireFields().Text("cleo")),
        FrameOf(129, WireFields().Byte(0)),
        FrameOf(134, WireFields().Text("den").Text("ben")),
        FrameOf(135, WireFields().Text("den").Text("ben")),
        FrameOf(136, WireFields().Text("den")),
        FrameOf(137, WireFields().Text("den")),
        FrameOf(141, WireFields().Byte(1)),
        FrameOf(143, WireFields().Text("den").Text("cleo")),
        FrameOf(144, WireFields().Text("den").Text("cleo")),
        FrameOf(153, WireFields().Text("blue train")),
        FrameOf(1001, WireFields().UInt32(77).Text("dora")),
    };
    ASSERT_EQ(l_frames.size(), l_expected.size());
    for (int l_index = 0; l_index < l_frames.size(); ++l_index)
        EXPECT_EQ(l_frames.at(l_index).raw.toHex(), l_expected.at(l_index).toHex()) << "frame " << l_index;
    EXPECT_EQ(m_fake.Frames().last().raw, FrameOf(92));
}

TEST_F(ServerRequestsTest, SearchTokensCountUpWhateverTheKindOfSearch)
{
    ASSERT_TRUE(LogIn());
    const unsigned int l_first = mp_server->FileSearch("blue train", false);
    const unsigned int l_second = mp_server->SearchUserList("red car");
    const unsigned int l_third = mp_server->SearchRoom("lobby", "green bus");
    EXPECT_EQ(l_first, 1u);
    EXPECT_EQ(l_second, 2u);
    EXPECT_EQ(l_third, 3u);

    const QList<Frame> l_frames = FramesUpToFence();
    ASSERT_EQ(l_frames.size(), 2) << "no listed user is online, so the list search sends nothing";
    EXPECT_EQ(l_frames.at(0).raw, FrameOf(26, WireFields().UInt32(1).Text("blue train")));
    EXPECT_EQ(l_frames.at(1).raw, FrameOf(120, WireFields().Text("lobby").UInt32(3).Text("green bus")));

    EXPECT_EQ(SearchRequest(1)["search_request_text"].AsString(), "blue train");
    EXPECT_EQ(SearchRequest(2)["search_request_text"].AsString(), "red car");
    EXPECT_EQ(SearchRequest(3)["search_request_text"].AsString(), "green bus");
}

TEST_F(ServerRequestsTest, SearchesOfflineSendNothingButStillRecordAndAdvance)
{
    QSignalSpy l_requested(mp_server.get(), &Server::SearchRequested);
    EXPECT_EQ(mp_server->FileSearch("blue train", false), 1u);
    EXPECT_EQ(mp_server->SearchRoom("lobby", "blue train"), 2u);
    EXPECT_EQ(l_requested.count(), 1);
    ASSERT_TRUE(SearchRequest(1));
    ASSERT_TRUE(SearchRequest(2));
    EXPECT_EQ(SearchRequest(1)["search_request_text"], SearchRequest(2)["search_request_text"])
        << "one text item per search text";

    ASSERT_TRUE(LogIn());
    EXPECT_EQ(mp_server->FileSearch("red car", false), 3u);
    const QList<Frame> l_frames = FramesUpToFence();
    ASSERT_EQ(l_frames.size(), 1);
    EXPECT_EQ(l_frames.at(0).raw, FrameOf(26, WireFields().UInt32(3).Text("red car")));
}

TEST_F(ServerRequestsTest, AWishListSearchIsMarkedAndAnnounced)
{
    ASSERT_TRUE(LogIn());
    QSignalSpy l_requested(mp_server.get(), &Server::SearchRequested);
    const unsigned int l_wish = mp_server->FileSearch("rare tune", true);
    const unsigned int l_plain = mp_server->FileSearch("common tune", false);

    const QList<Frame> l_frames = FramesUpToFence();
    ASSERT_EQ(l_frames.size(), 2);
    EXPECT_EQ(l_frames.at(0).raw, FrameOf(103, WireFields().UInt32(l_wish).Text("rare tune")));
    EXPECT_EQ(l_frames.at(1).raw, FrameOf(26, WireFields().UInt32(l_plain).Text("common tune")));
    EXPECT_TRUE(SearchRequest(l_wish).IsConnected("wishlist_search"));
    EXPECT_FALSE(SearchRequest(l_plain).IsConnected("wishlist_search"));
    EXPECT_EQ(d.GetType("wishlist_search")->ItemCount(), 1u);

    ASSERT_EQ(l_requested.count(), 2);
    EXPECT_EQ(l_requested.at(0).at(0).toUInt(), l_wish);
    EXPECT_EQ(l_requested.at(0).at(1).toString(), "rare tune");
    EXPECT_TRUE(l_requested.at(0).at(2).toBool());
    EXPECT_FALSE(l_requested.at(1).at(2).toBool());
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
    const QList<Frame> l_frames = FramesUpToFence();
    ASSERT_EQ(l_frames.size(), 3) << "emil is offline and fritz is not in the list";
    QStringList l_targets;
    for (const Frame& l_frame : l_frames)
    {
        EXPECT_EQ(l_frame.code, 42);
        const QByteArray l_fields = l_frame.fields;
        // Name as raw bytes, then the shared token and the text.
        const QByteArray l_name = l_fields.mid(4, l_fields.at(0));
        l_targets.append(QString::fromUtf8(l_name));
        EXPECT_EQ(l_fields.mid(4 + l_name.size()),
                  QByteArray(WireFields().UInt32(l_token).Text("blue train")));
    }
    l_targets.sort();
    EXPECT_EQ(l_targets, (QStringList{"ben", "cleo", "dora"}));
    EXPECT_TRUE(SearchRequest(l_token));
    EXPECT_FALSE(SearchRequest(l_token).IsConnected("wishlist_search"));
}

TEST_F(ServerRequestsTest, ConnectionRequestTokensCountUpOnTheirOwn)
{
    ASSERT_TRUE(LogIn());
    mp_server->FileSearch("blue", false);
    EXPECT_EQ(mp_server->SendIndirectConnectionRequest("ben", "P"), 1u);
    EXPECT_EQ(mp_server->SendIndirectConnectionRequest("cleo", "F"), 2u);
    const QList<Frame> l_frames = FramesUpToFence();
    ASSERT_EQ(l_frames.size(), 3);
    EXPECT_EQ(l_frames.at(1).raw, FrameOf(18, WireFields().UInt32(1).Text("ben").Text("P")));
    EXPECT_EQ(l_frames.at(2).raw, FrameOf(18, WireFields().UInt32(2).Text("cleo").Text("F")));
}

TEST_F(ServerRequestsTest, TrackingAUserAsksTheServerOnce)
{
    ASSERT_TRUE(LogIn());
    mp_server->TrackUser("ben");
    mp_server->TrackUser("ben");
    EXPECT_TRUE(User("ben").IsConnected("is_tracked"));
    mp_server->UntrackUser("cleo");
    mp_server->UntrackUser("ben");
    mp_server->UntrackUser("ben");
    EXPECT_FALSE(User("ben").IsConnected("is_tracked"));

    const QList<Frame> l_frames = FramesUpToFence();
    ASSERT_EQ(l_frames.size(), 2);
    EXPECT_EQ(l_frames.at(0).raw, FrameOf(5, WireFields().Text("ben")));
    EXPECT_EQ(l_frames.at(1).raw, FrameOf(6, WireFields().Text("ben")));
    EXPECT_FALSE(d.GetType("user")->HasItem("cleo")) << "untracking a stranger makes no user";
}

TEST_F(ServerRequestsTest, AnAddressIsAskedOnceWhileTheRequestIsOpen)
{
    ASSERT_TRUE(LogIn());
    mp_server->GetUserAddress("ben");
    mp_server->GetUserAddress("ben");
    EXPECT_TRUE(User("ben").IsConnected("user_address_request"));
    EXPECT_EQ(d.GetType("user_address_request")->ItemCount(), 1u);

    const QList<Frame> l_frames = FramesUpToFence();
    ASSERT_EQ(l_frames.size(), 1);
    EXPECT_EQ(l_frames.at(0).raw, FrameOf(3, WireFields().Text("ben")));

    // Answered: the next request goes out again.
    User("ben").Disconnect("user_address_request");
    mp_server->GetUserAddress("ben");
    EXPECT_EQ(FramesUpToFence().size(), 2);
}

TEST_F(ServerRequestsTest, RequestsMadeOfflineAreRenewedAtTheLogin)
{
    mp_server->TrackUser("ben");
    mp_server->GetUserAddress("cleo");
    mp_server->SetAvailabilityStatus(false);
    EXPECT_EQ(Setting("availability_status"), "away");
    EXPECT_TRUE(User("ben").IsConnected("is_tracked"));
    EXPECT_TRUE(User("cleo").IsConnected("user_address_request"));

    ASSERT_TRUE(LogIn());
    const QList<Frame> l_frames = FramesUpToFence();
    ASSERT_EQ(l_frames.size(), 3);
    EXPECT_EQ(l_frames.at(0).raw, FrameOf(28, WireFields().Int32(1)));
    EXPECT_EQ(l_frames.at(1).raw, FrameOf(5, WireFields().Text("ben")));
    EXPECT_EQ(l_frames.at(2).raw, FrameOf(3, WireFields().Text("cleo")));
}

TEST_F(ServerRequestsTest, AutojoinRoomsAreEnteredAtTheFirstLoginOnly)
{
    d.GetType("room")->GetItem("lobby").NewItem("room_autojoin");
    ASSERT_TRUE(LogIn());
    mp_server->TrackUser("ben");
    QList<Frame> l_frames = FramesUpToFence();
    ASSERT_EQ(l_frames.size(), 2);
    EXPECT_EQ(l_frames.at(0).raw, FrameOf(14, WireFields().Text("lobby").Int32(0)));

    m_fake.DropClient();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !mp_server->IsConnected(); }, 5000));
    QSignalSpy l_connected(mp_server.get(), &Server::Connected);
    Tick(timerManager->halfMinuteTimer);
    ASSERT_TRUE(QTest::qWaitFor([&] { return l_connected.count() == 1; }, 5000));
    l_frames = FramesUpToFence();
    ASSERT_EQ(l_frames.size(), 3);
    EXPECT_EQ(l_frames.at(2).raw, FrameOf(5, WireFields().Text("ben"))) << "tracking is renewed, rooms are not";
}

TEST_F(ServerRequestsTest, PrivateChatIsOneLineAndReportedAsSent)
{
    QSignalSpy l_sent(mp_server.get(), &Server::PrivateChatSent);
    mp_server->SendPrivateChat("ben", "offline\nnote");
    ASSERT_EQ(l_sent.count(), 1) << "reported even when nothing could go out";
    EXPECT_EQ(l_sent.at(0).at(1).toString(), "offline note");

    ASSERT_TRUE(LogIn());
    mp_server->SendPrivateChat("ben", "hello\r\nthere");
    const QList<Frame> l_frames = FramesUpToFence();
    ASSERT_EQ(l_frames.size(), 1);
    EXPECT_EQ(l_frames.at(0).raw, FrameOf(22, WireFields().Text("ben").Text("hello  there")));
    ASSERT_EQ(l_sent.count(), 2);
    EXPECT_EQ(l_sent.at(1).at(0).toString(), "ben");
    EXPECT_EQ(l_sent.at(1).at(1).toString(), "hello  there");
}

TEST_F(ServerRequestsTest, StatusRoomsAndRoomListRequests)
{
    ASSERT_TRUE(LogIn());
    SetSetting("accept_room_list", "no");
    mp_server->SetAvailabilityStatus(false);
    EXPECT_EQ(Setting("availability_status"), "away");
    mp_server->SetAvailabilityStatus(true);
    EXPECT_EQ(Setting("availability_status"), "available");
    mp_server->LeaveRoom("lobby");
    d.GetType("room")->GetItem("den");
    mp_server->LeaveRoom("den");
    d.GetType("room")->GetItem("lounge").NewItem("in_room");
    mp_server->LeaveRoom("lounge");
    EXPECT_TRUE(d.GetType("room")->GetItem("lounge").IsConnected("in_room"))
        << "the flag goes with the server's confirmation";
    mp_server->GetRoomList();
    EXPECT_EQ(Setting("accept_room_list"), "yes");

    const QList<Frame> l_frames = FramesUpToFence();
    ASSERT_EQ(l_frames.size(), 4);
    EXPECT_EQ(l_frames.at(0).raw, FrameOf(28, WireFields().Int32(1)));
    EXPECT_EQ(l_frames.at(1).raw, FrameOf(28, WireFields().Int32(2)));
    EXPECT_EQ(l_frames.at(2).raw, FrameOf(15, WireFields().Text("lounge")));
    EXPECT_EQ(l_frames.at(3).raw, FrameOf(64));
}
} // namespace
