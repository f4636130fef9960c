#include <QCoreApplication>
#include <QDateTime>
#include <QSignalSpy>
#include <QTcpSocket>
#include <gtest/gtest.h>

#include <memory>

#include "peer/InFunction.h"
#include "peer/PeerMessenger.h"
#include "store/Data.h"
#include "support/support/ServerFixture.h"

namespace
{
class PeerMessengerSchema : public ServerFixture
{
protected:
    void SetUp() override
    {
        ServerFixture::SetUp();
        mp_messenger = std::make_unique<PeerMessenger>();
    }

    void TearDown() override
    {
        mp_messenger.reset();
        ServerFixture::TearDown();
    }

    static ItemPtr NewPeerSocket(QTcpSocket* ip_socket)
    {
        return d.GetType("peer_socket")->NewItem(Value(ip_socket));
    }

    static ItemPtr User(const char* i_name) { return d.GetType("user")->GetItem(i_name); }

    static std::size_t Count(const char* i_type) { return d.GetType(i_type)->ItemCount(); }

    std::unique_ptr<PeerMessenger> mp_messenger;
};
} // namespace

TEST_F(PeerMessengerSchema, PeerSocketIsStampedAndItsStampGoesWithIt)
{
    QTcpSocket l_first;
    QTcpSocket l_second;
    const QDateTime l_before = QDateTime::currentDateTime();
    ItemPtr l_item = NewPeerSocket(&l_first);
    ItemPtr l_other = NewPeerSocket(&l_second);
    const QDateTime l_after = QDateTime::currentDateTime();

    // The key finds the socket again, and each socket has a stamp of its own, taken now.
    EXPECT_EQ(l_item.AsPointer<QTcpSocket>(), &l_first);
    ItemPtr l_stamp = l_item["last_activity_time"];
    ASSERT_TRUE(l_stamp);
    EXPECT_NE(l_stamp, l_other["last_activity_time"]);
    const QDateTime* lp_time = l_stamp.AsPointer<QDateTime>();
    EXPECT_GE(*lp_time, l_before);
    EXPECT_LE(*lp_time, l_after);

    // The stamp item and its object go with the socket item (the sanitizer sees the object).
    l_item.Remove();
    EXPECT_EQ(Count("last_activity_time"), 1u);
    l_other.Remove();
    EXPECT_EQ(Count("last_activity_time"), 0u);

    // The stamp's handlers die with the messenger, and so does the global.
    EXPECT_EQ(peerMessenger, mp_messenger.get());
    mp_messenger.reset();
    EXPECT_EQ(peerMessenger, nullptr);
    EXPECT_TRUE(g_peerMessengerDeleted);
    l_item = NewPeerSocket(&l_first);
    EXPECT_FALSE(l_item["last_activity_time"]);
    l_item.Remove();
}

TEST_F(PeerMessengerSchema, RelationsHoldWhatTheConnectionWorkNeeds)
{
    ItemPtr l_user = User("bob");

    // Removing an attempt leaves both of its legs to run on.
    ItemPtr l_attempt = d.GetType("connect_to_peer_request")->NewItem();
    ItemPtr l_leg = d.GetType("connect_to_peer_request_socket")->GetItem("12345");
    ItemPtr l_indirect = d.GetType("indirect_connect_to_peer_request")->GetItem("7");
    l_attempt += l_user;
    l_attempt += l_leg;
    l_attempt += l_indirect;
    l_attempt.Remove();
    EXPECT_EQ(Count("connect_to_peer_request_socket"), 1u);
    EXPECT_EQ(Count("indirect_connect_to_peer_request"), 1u);

    // A search owns its replies, and a reply its files: they are collected once it is gone,
    // although a reply is primary and still holds its user.
    ItemPtr l_search = d.GetType("search_request")->NewItem(Value(3u));
    ItemPtr l_results = l_search.NewItem("search_results");
    l_results += l_user;
    l_results.NewItem("search_result") += d.GetType("file_size")->GetItem(Value(10));
    d.RemoveDisconnectedItems();
    EXPECT_EQ(Count("search_result"), 1u);
    l_search.Remove();
    d.RemoveDisconnectedItems();
    EXPECT_EQ(Count("search_results"), 0u);
    EXPECT_EQ(Count("search_result"), 0u);

    // One address per user: a new one replaces the old one.
    l_user += d.GetType("user_address")->GetItem(Value(1u));
    l_user += d.GetType("user_address")->GetItem(Value(2u));
    EXPECT_EQ(l_user.GetItems("user_address").Size(), 1u);
    EXPECT_EQ(l_user["user_address"].AsUInt(), 2u);

}

TEST_F(PeerMessengerSchema, AddressPathsAreSubscribedAndEndWithTheMessenger)
{
    Type* lp_user = d.GetType("user");
    Type* lp_request = d.GetType("peer_connection_request");
    for (const char* l_child : {"user_address", "user_port", "user_obfuscated_port"})
        EXPECT_EQ(d.PathSubscriptionCount(lp_user, d.GetType(l_child), true), 2u) << l_child;
    for (const char* l_child : {"peer_connection_request_id", "peer_connection_type", "user"})
        EXPECT_EQ(d.PathSubscriptionCount(lp_request, d.GetType(l_child), true), 1u) << l_child;

    // A complete request with an address is answered: an answer socket goes out.
    ItemPtr l_user = User("bob");
    ItemPtr l_request = d.GetType("peer_connection_request")->NewItem();
    l_request += d.GetType("peer_connection_request_id")->GetItem(Value(9u));
    l_request += d.GetType("peer_connection_type")->GetItem("P");
    l_request += l_user;
    l_user += d.GetType("user_address")->GetItem(Value(0x7f000001u));
    l_user += d.GetType("user_port")->GetItem(Value(2235));
    l_user += d.GetType("user_obfuscated_port")->GetItem(Value(0));
    ASSERT_EQ(Count("peer_connection_request_socket"), 1u);
    ItemPtr l_answer = g("peer_connection_request_socket");
    mp_messenger->DisposeOfSocket(l_answer.AsPointer<QTcpSocket>());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    // Without the messenger, the next change on a pair tears its subscriptions down.
    mp_messenger.reset();
    l_user += d.GetType("user_port")->GetItem(Value(2240));
    EXPECT_EQ(d.PathSubscriptionCount(lp_user, d.GetType("user_port"), true), 0u);
}

TEST_F(PeerMessengerSchema, UserInfoPictureReachesEveryReceiverIntact)
{
    QSignalSpy l_first(mp_messenger.get(), &PeerMessenger::UserInfoReceived);
    QSignalSpy l_second(mp_messenger.get(), &PeerMessenger::UserInfoReceived);
    {
        QByteArray l_picture("\x89PNG\0data", 9);
        emit mp_messenger->UserInfoReceived("bob", "hi", true, l_picture, 2, 0, true);
        l_picture.fill('x');
    }
    ASSERT_EQ(l_first.count(), 1);
    EXPECT_EQ(l_first.at(0).at(3).toByteArray(), QByteArray("\x89PNG\0data", 9));
    EXPECT_EQ(l_second.at(0).at(3).toByteArray(), QByteArray("\x89PNG\0data", 9));
}

TEST(InFunctionMarker, SameNameIsHeldOnceAndFirstDisposalClearsIt)
{
    {
        InFunction l_outer("OnSocketReadyToRead");
        InFunction l_inner("OnSocketReadyToRead");
        EXPECT_TRUE(IsInFunction("OnSocketReadyToRead"));
        EXPECT_EQ(g_inFunctions.size(), 1u);
        l_inner.Dispose();
        EXPECT_FALSE(IsInFunction("OnSocketReadyToRead"));
        InFunction l_other("EveryHalfMinute");
        EXPECT_TRUE(IsInFunction("EveryHalfMinute"));
    }
    EXPECT_TRUE(g_inFunctions.empty());
}
