#include "PeerLinkFixture.h"

using PeerDelivery = PeerLinkFixture;

TEST_F(PeerDelivery, MessagesGoOnTheNewestConnection)
{
    std::unique_ptr<FakePeer> lp_older = Accepted(false, "bob");
    std::unique_ptr<FakePeer> lp_newer = Accepted(true, "bob");
    const auto l_open = [](int i_secs) {
        ItemPtr(d.GetType("peer_socket")->GetItems().NotConnected("is_obfuscated")) +=
            d.GetType("connection_open_time")->GetItem(LogService::Stamp(QDateTime::currentDateTime().addSecs(i_secs)));
    };
    l_open(-60);
    MemStream l_first = Message(15, 15), l_second = Message(16, 16);
    mp_messenger->SendMessageToUser("bob", l_first);
    mp_messenger->SendMessageToUser("bob", l_second);
    ASSERT_TRUE(lp_newer->WaitForBodies(2));
    EXPECT_EQ(lp_newer->Bodies(), (QList<QByteArray>{Word(15) + Word(15), Word(16) + Word(16)}));
    EXPECT_EQ(Logged("Send PM_USER_INFO_REQUEST message to user bob"), 1);
    EXPECT_EQ(Logged("Found 2 existing messaging connections to user, picking latest"), 2);
    // Made the newest, the older one takes the next message, which the first two would have preceded.
    l_open(60);
    MemStream l_last = Message(17, 17);
    mp_messenger->SendMessageToUser("bob", l_last);
    ASSERT_TRUE(lp_older->WaitForBodies(1));
    EXPECT_EQ(lp_older->Bodies(), QList<QByteArray>{Word(17) + Word(17)});
    EXPECT_EQ(Count("unsent_message"), 0u);
}

TEST_F(PeerDelivery, ParkedMessagesArriveInOrderOnceTheUserIsConnected)
{
    SetSetting("username", "anna");
    for (bool l_ours : {false, true})
    {
        SCOPED_TRACE(l_ours ? "our connection" : "the user's connection");
        const QString l_user = l_ours ? "carl" : "bob";
        // Ours introduces itself first.
        QList<QByteArray> l_expected = QList<QByteArray>{FakePeer::InitBody("anna", "P")}.mid(l_ours ? 0 : 1);
        for (quint32 l_number : {1u, 2u, 3u})
        {
            MemStream l_message = Message(40, l_number);
            mp_messenger->SendMessage(l_user, l_message);
            // The caller may reuse its stream at once.
            l_message.Write(quint32(99));
            l_expected << Word(40) + Word(l_number);
        }
        EXPECT_EQ(Count("unsent_message"), 3u);
        EXPECT_EQ(Count("connect_to_peer_request"), 1u);
        // Once the address arrives, the waiting attempt connects to the obfuscated port.
        std::unique_ptr<FakePeer> lp_peer = l_ours ? std::make_unique<FakePeer>(true) : Accepted(false, l_user);
        if (l_ours)
            Reachable(l_user, 1, lp_peer->Listen());
        ASSERT_TRUE(lp_peer->WaitForBodies(l_expected.size()));
        EXPECT_EQ(lp_peer->Bodies(), l_expected);
        EXPECT_EQ(Logged("Sending 3 pending peer messages to user " + l_user), 1);
        EXPECT_EQ(Count("unsent_message"), 0u);
        // Our own connection settles the attempt; one the user opened leaves it to expire.
        EXPECT_EQ(Count("connect_to_peer_request"), l_ours ? 0u : 1u);
        d.GetType("connect_to_peer_request")->RemoveAllItems();
    }
    EXPECT_EQ(Logged("Did not find messaging connection to user, queueing unsent message"), 6);
}

// When we cannot reach the user, the user reaches us: the server passes on our request and the
// user connects to one of our listeners with its token. What waited goes out on that connection.
TEST_F(PeerDelivery, ParkedMessagesGoOutOnTheConnectionThatAnswersOurRelayedRequest)
{
    Listen();
    ASSERT_TRUE(LogIn());
    QSignalSpy l_failed(mp_messenger.get(), &PeerMessenger::ConnectionToUserFailed);
    const struct
    {
        const char* user;
        bool addressRefused; // else the address request is never answered
        bool obfuscated;     // the listener the user reaches
    } l_cases[] = {{"bob", true, false}, {"carl", false, true}};
    int l_relayed = 0;
    for (const auto& l_case : l_cases)
    {
        SCOPED_TRACE(l_case.user);
        mp_messenger->GetUserInfo(l_case.user);
        mp_messenger->GetUserSharedFiles(l_case.user);
        EXPECT_EQ(User(l_case.user).GetItems("unsent_message").Size(), 2u);
        ASSERT_EQ(Sent(18, ++l_relayed).size(), l_relayed);
        const QByteArray l_request = Sent(18).last().fields;
        const quint32 l_token = qFromLittleEndian<quint32>(l_request.constData());
        EXPECT_EQ(l_request, WireFields().UInt32(l_token).Text(l_case.user).Text("P").Bytes());
        if (l_case.addressRefused)
        {
            m_fake.SendFrame(3, WireFields().Text(l_case.user).UInt32(0x7f000001u).Int32(m_closed.Port()).Int32(0));
            ASSERT_TRUE(QTest::qWaitFor(
                [&] { return Logged(QString("Direct connection of type P to user %1 failed").arg(l_case.user)) == 1; },
                5000));
        }
        EXPECT_EQ(User(l_case.user).GetItems("unsent_message").Size(), 2u) << "nothing to send them on yet";

        FakePeer l_peer(l_case.obfuscated);
        ASSERT_TRUE(l_peer.ConnectTo(Port(l_case.obfuscated)));
        l_peer.SendFrame(FakePeer::PierceBody(l_token));
        ASSERT_TRUE(l_peer.WaitForBodies(2));
        EXPECT_EQ(l_peer.Bodies(), (QList<QByteArray>{Word(15), Word(4)}));
        EXPECT_EQ(User(l_case.user).GetItems("unsent_message").Size(), 0u);
        EXPECT_EQ(User(l_case.user).GetItems("connect_to_peer_request").Size(), 0u) << "the pierce settles the attempt";
    }
    EXPECT_EQ(l_failed.count(), 0);
}

TEST_F(PeerDelivery, AFailedFlushKeepsTheRestParked)
{
    QTcpSocket l_closed;
    MemStream l_message = Message(40, 1);
    mp_messenger->SendMessage("bob", l_message);
    d.GetType("peer_socket")->NewItem(Value(&l_closed)) += d.GetType("user")->GetItem("bob");
    mp_messenger->SendUnsentMessages("bob");
    EXPECT_EQ(Count("unsent_message"), 1u);
    EXPECT_EQ(Logged("Error writing message to socket: "), 1);
    d.GetType("peer_socket")->RemoveAllItems();
}

TEST_F(PeerDelivery, RelationsHoldTheirSidesTheRightWayRound)
{
    const char* const l_relations[][3] = {
        {"peer_socket", "user", "Many One"}, {"search_request", "search_results", "One Many owns"},
        {"search_request_text", "search_correlation", "One Many"}, {"unsent_message", "send_order", "One One"},
        {"uninitialized_socket", "socket_creation_time", "Many One"},
        {"connect_to_peer_request", "connect_to_peer_request_socket", "One One"}};
    for (const auto& l_relation : l_relations)
        EXPECT_EQ(RelationText(l_relation[0], l_relation[1]), l_relation[2]) << l_relation[0] << " " << l_relation[1];
}

TEST_F(PeerDelivery, PeerSocketsAreStampedWhileTheMessengerLives)
{
    QTcpSocket l_socket;
    const QDateTime l_before = QDateTime::currentDateTime();
    ItemPtr l_item = d.GetType("peer_socket")->NewItem(Value(&l_socket));
    ASSERT_TRUE(l_item["last_activity_time"]);
    EXPECT_GE(*l_item["last_activity_time"].AsPointer<QDateTime>(), l_before);
    // The stamp and its object go with their socket item (the sanitizer sees the object).
    l_item.Remove();
    EXPECT_EQ(Count("last_activity_time"), 0u);

    EXPECT_EQ(peerMessenger, mp_messenger.get());
    mp_messenger.reset();
    EXPECT_EQ(peerMessenger, nullptr);
    EXPECT_TRUE(g_peerMessengerDeleted);
    l_item = d.GetType("peer_socket")->NewItem(Value(&l_socket));
    EXPECT_FALSE(l_item["last_activity_time"]);
    l_item.Remove();
}

// No event loop runs after the messenger goes: what live connections and parked messages hold
// goes with it, and our own sockets, which no listener owns, are deleted, also one that answered
// a relayed file connection and waits for its token.
TEST_F(PeerDelivery, TheMessengerTakesWhatItsConnectionsAndParkedMessagesHoldWithIt)
{
    ASSERT_TRUE(LogIn());
    FakePeer l_erin;
    m_fake.SendFrame(18, WireFields().Text("erin").Text("F").UInt32(0x7f000001u).Int32(l_erin.Listen())
                             .UInt32(5).Byte(0).Int32(0));
    ASSERT_TRUE(l_erin.WaitForBodies(1));
    std::unique_ptr<FakePeer> lp_bob = Accepted(false, "bob");
    auto lp_carl = std::make_unique<FakePeer>();
    Reachable("carl", lp_carl->Listen(), 0);
    MemStream l_message = Message(40, 1);
    mp_messenger->SendMessage("carl", l_message);
    ASSERT_TRUE(lp_carl->WaitForBodies(2));
    mp_messenger->SendMessage("dora", l_message);
    ASSERT_EQ(Count("peer_socket"), 2u);
    ASSERT_EQ(Count("last_activity_time"), 2u);
    ASSERT_EQ(Count("unsent_message"), 1u);
    QPointer<QTcpSocket> lp_ours;
    for (ItemPtr l_socket : g("peer_socket"))
        if (!l_socket.AsPointer<QTcpSocket>()->parent())
            lp_ours = l_socket.AsPointer<QTcpSocket>();
    ASSERT_TRUE(lp_ours);

    mp_messenger.reset();
    for (const char* l_type : {"peer_socket", "last_activity_time", "unsent_message", "connect_to_peer_request_socket"})
        EXPECT_EQ(Count(l_type), 0u) << l_type;
    EXPECT_FALSE(lp_ours);
    EXPECT_TRUE(lp_carl->WaitForDisconnected());
    EXPECT_TRUE(l_erin.WaitForDisconnected());
}
