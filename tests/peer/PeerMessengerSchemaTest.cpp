#include <QDateTime>

#include "PeerLinkFixture.h"

namespace
{
using PeerMessengerSchema = PeerLinkFixture;

ItemPtr NewPeerSocket(QTcpSocket* ip_socket)
{
    return d.GetType("peer_socket")->NewItem(Value(ip_socket));
}
} // namespace

TEST_F(PeerMessengerSchema, RelationsHoldTheirSidesTheRightWayRound)
{
    const char* const l_relations[][3] = {
        {"peer_socket", "user", "Many One"},
        {"search_request", "search_results", "One Many owns"},
        {"search_request_text", "search_correlation", "One Many"},
        {"unsent_message", "send_order", "One One"},
        {"uninitialized_socket", "socket_creation_time", "Many One"},
        {"connect_to_peer_request", "connect_to_peer_request_socket", "One One"},
    };
    for (const auto& l_relation : l_relations)
        EXPECT_EQ(RelationText(l_relation[0], l_relation[1]), l_relation[2])
            << l_relation[0] << " " << l_relation[1];
}

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
