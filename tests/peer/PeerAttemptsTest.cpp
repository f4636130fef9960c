#include "PeerLinkFixture.h"

using PeerAttempts = PeerLinkFixture;

TEST_F(PeerAttempts, OneAttemptPerUserAndTypeGoesDirectOnTheAnnouncedPortOnceTheAddressIsKnown)
{
    Listen();
    ASSERT_TRUE(LogIn());
    EXPECT_EQ(Sent(2, 1).value(0).fields, WireFields().Int32(Port(false)).Int32(1).Int32(Port(true)).Bytes());
    QObject::connect(mp_messenger.get(), &PeerMessenger::FileConnectionAccepted,
                     [](QString, QTcpSocket* ip_socket) { ip_socket->deleteLater(); });
    mp_messenger->ConnectToUser("bob", "P");
    mp_messenger->ConnectToUser("bob", "P");
    mp_messenger->RequestFileConnectionToUser("bob");
    mp_messenger->ConnectToUser("carl", "P");
    ASSERT_EQ(Sent(18, 3).size(), 3);
    EXPECT_EQ(Sent(3).size(), 2);
    const quint32 l_token = User("bob")["indirect_connect_to_peer_request"].AsUInt();
    EXPECT_EQ(Sent(18).at(0).fields, WireFields().UInt32(l_token).Text("bob").Text("P").Bytes());
    ASSERT_EQ(Count("connect_to_peer_request"), 3u);

    QTcpServer l_plain, l_obfuscated;
    ASSERT_TRUE(l_plain.listen(QHostAddress::LocalHost) && l_obfuscated.listen(QHostAddress::LocalHost));
    QSignalSpy l_toPlain(&l_plain, &QTcpServer::newConnection);
    QSignalSpy l_toObfuscated(&l_obfuscated, &QTcpServer::newConnection);
    Reachable("bob", l_plain.serverPort(), l_obfuscated.serverPort());
    Reachable("carl", l_plain.serverPort(), 0);
    // Bob's go to his obfuscated port, carl's to his plain one.
    EXPECT_TRUE(QTest::qWaitFor([&] { return l_toPlain.count() == 1 && l_toObfuscated.count() == 2; }, 5000));
}

TEST_F(PeerAttempts, FailureIsReportedOnceWhenTheLastLegEndsAndMayBeRetriedAtOnce)
{
    ASSERT_TRUE(LogIn());
    QSignalSpy l_failed(mp_messenger.get(), &PeerMessenger::ConnectionToUserFailed);
    Reachable("bob", m_closed.Port(), 0);
    mp_messenger->ConnectToUser("bob", "P");
    // The refused direct leg goes; the relayed one keeps the attempt until it expires.
    ASSERT_TRUE(QTest::qWaitFor([] { return Count("connect_to_peer_request_socket") == 0; }, 5000));
    EXPECT_EQ(l_failed.count(), 0);
    Restamp(User("bob")["indirect_connect_to_peer_request"], "send_time", QDateTime::currentDateTime().addSecs(-61));
    Tick(mp_timers->halfMinuteTimer);
    Tick(mp_timers->halfMinuteTimer);
    ASSERT_EQ(l_failed.count(), 1);
    EXPECT_EQ(l_failed.at(0), (QList<QVariant>{"bob", "P"}));
    EXPECT_EQ(Count("connect_to_peer_request"), 0u);

    // The server's word that the other side failed ends an attempt; a retry from the receiver is fresh.
    const auto l_retry = [&](QString i_user) {
        if (l_failed.count() == 2)
            mp_messenger->ConnectToUser(i_user, "F");
    };
    QObject::connect(mp_messenger.get(), &PeerMessenger::ConnectionToUserFailed, mp_messenger.get(), l_retry);
    mp_messenger->RequestFileConnectionToUser("carl");
    ASSERT_EQ(Sent(18, 2).size(), 2);
    const quint32 l_token = User("carl")["indirect_connect_to_peer_request"].AsUInt();
    m_fake.SendFrame(1001, WireFields().UInt32(l_token + 100));
    m_fake.SendFrame(1001, WireFields().UInt32(l_token));
    ASSERT_TRUE(QTest::qWaitFor([&] { return l_failed.count() == 2; }, 5000));
    EXPECT_EQ(l_failed.at(1), (QList<QVariant>{"carl", "F"}));
    EXPECT_EQ(Sent(18, 3).size(), 3);
    EXPECT_EQ(User("carl").GetItems("connect_to_peer_request").Size(), 1u);
}

TEST_F(PeerAttempts, RelayedRequestIsAnsweredOnTheAnnouncedPortAndAFailedAnswerReportedOnce)
{
    ASSERT_TRUE(LogIn());
    QSignalSpy l_token(mp_messenger.get(), &PeerMessenger::FileConnectionRequested);
    FakePeer l_bob(true);
    const auto l_request = [&](const char* i_user, quint32 i_token) {
        return WireFields().Text(i_user).Text("F").UInt32(0x7f000001u).Int32(m_closed.Port())
            .UInt32(i_token).Byte(0);
    };
    m_fake.SendFrame(18, l_request("bob", 5).Int32(1).Int32(l_bob.Listen()));
    // The answer pierces with the server's token; the other side's token follows raw.
    ASSERT_TRUE(l_bob.WaitForBodies(1));
    EXPECT_EQ(l_bob.Bodies().at(0), FakePeer::PierceBody(5));
    l_bob.SendRaw(Word(6));
    ASSERT_TRUE(l_token.wait(5000));
    EXPECT_EQ(l_token.at(0).at(2).toUInt(), 6u);
    delete l_token.at(0).at(1).value<QTcpSocket*>();

    m_fake.SendFrame(18, l_request("dora", 77).Int32(0));
    ASSERT_EQ(Sent(1001, 1).size(), 1);
    EXPECT_EQ(Sent(1001).at(0).fields, WireFields().UInt32(77).Text("dora").Bytes());
    EXPECT_FALSE(User("dora")["peer_connection_request"]);
}

TEST_F(PeerAttempts, EachKindExpiresExactlyAtItsLimit)
{
    ASSERT_TRUE(LogIn());
    QTcpServer l_peer;
    ASSERT_TRUE(l_peer.listen(QHostAddress::LocalHost));
    // Whole seconds, like the time texts, so that the limits fall on exact ages.
    const QDateTime l_now = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch());
    // Silent and tokenless incoming sockets expire; the token's wait counts from when it is first seen.
    std::unique_ptr<FakePeer> lp_tokenless = Accepted(false);
    QTcpSocket* lp_waiting = OnlySocket("uninitialized_socket");
    lp_tokenless->SendFrame(FakePeer::InitBody("zed", "F"));
    ASSERT_TRUE(WaitForCount("uninitialized_socket", 0));
    std::unique_ptr<FakePeer> lp_silent = Accepted(false);
    Restamp(g("uninitialized_socket"), "socket_creation_time", l_now.addSecs(-60));
    ExpireAsOf(l_now.addSecs(-60));

    // Set up with no event loop run after, so that the outgoing legs are still connecting.
    Restamp(d.GetType("unsent_message")->GetItem(Value(new MemStream())), "send_time", l_now.addSecs(-300));
    mp_messenger->ConnectToUser("bob", "P");
    Restamp(User("bob")["indirect_connect_to_peer_request"], "send_time", l_now.addSecs(-60));
    Reachable("carl", l_peer.serverPort(), 0);
    mp_messenger->ConnectToUser("carl", "P");
    Restamp(User("carl")["connect_to_peer_request_socket"], "socket_creation_time", l_now.addSecs(-60));
    ItemPtr l_request = d.GetType("peer_connection_request")->NewItem();
    l_request += d.GetType("peer_connection_request_id")->GetItem(Value(9u));
    l_request += d.GetType("peer_connection_type")->GetItem("P");
    l_request += User("carl");
    Restamp(l_request["peer_connection_request_socket"], "socket_creation_time", l_now.addSecs(-60));
    ItemPtr l_idle = d.GetType("peer_socket")->NewItem(Value(new QTcpSocket()));
    *l_idle["last_activity_time"].AsPointer<QDateTime>() = l_now.addMSecs(-120000);

    const char* const l_kinds[] = {"indirect_connect_to_peer_request", "unsent_message",
                                   "connect_to_peer_request_socket", "peer_connection_request_socket",
                                   "peer_socket", "uninitialized_socket"};
    // Ages of 59999, 119999 and 299999 ms: all stay.
    ExpireAsOf(l_now.addMSecs(-1));
    for (const char* l_kind : l_kinds)
        EXPECT_EQ(Count(l_kind), l_kind == l_kinds[0] ? 2u : 1u) << l_kind;
    EXPECT_TRUE(ReceiveRecord(lp_waiting));
    // One millisecond on, all go but carl's fresh relayed leg.
    ExpireAsOf(l_now);
    for (const char* l_kind : l_kinds)
        EXPECT_EQ(Count(l_kind), l_kind == l_kinds[0] ? 1u : 0u) << l_kind;
    EXPECT_TRUE(lp_silent->WaitForDisconnected());
    EXPECT_TRUE(lp_tokenless->WaitForDisconnected());
    EXPECT_EQ(Count("connect_to_peer_request"), 1u);
    EXPECT_EQ(Sent(1001, 1).size(), 1);
    EXPECT_EQ(Count("peer_connection_request"), 0u);
}

// A messaging connection's silence counts from its last message, an instant, whatever the local
// time zone: at exactly the idle limit it stays, a millisecond later the half-minute closes it.
TEST_F(PeerAttempts, AConnectionExpiresOnceSilentForTheIdleLimitWhateverTheLocalZone)
{
    const QByteArray l_zoneBefore = qgetenv("TZ");
    struct RestoreZone
    {
        QByteArray zone;
        bool wasSet;
        ~RestoreZone()
        {
            if (wasSet)
                qputenv("TZ", zone);
            else
                qunsetenv("TZ");
            tzset();
        }
    } l_restore{l_zoneBefore, qEnvironmentVariableIsSet("TZ")};
    // Written out, so that no zone file is read: ahead of UTC, behind it, and one with summer time.
    for (const char* l_zone : {"UTC0", "IST-5:30", "HST10", "CET-1CEST,M3.5.0,M10.5.0/3"})
    {
        SCOPED_TRACE(l_zone);
        qputenv("TZ", l_zone);
        tzset();
        std::unique_ptr<FakePeer> lp_peer = Accepted(false, "bob");
        QTcpSocket* lp_socket = OnlySocket("peer_socket");
        const QDateTime* lp_stamp = ItemPtr(g("peer_socket"))["last_activity_time"].AsPointer<QDateTime>();
        ASSERT_NE(lp_stamp, nullptr);
        const qint64 l_before = QDateTime::currentMSecsSinceEpoch();
        lp_peer->SendFrame(Word(52));
        ASSERT_TRUE(QTest::qWaitFor([&] { return Logged("Received PM_NOTHING") > 0; }, 5000));
        const qint64 l_stamped = lp_stamp->toMSecsSinceEpoch();
        EXPECT_GE(l_stamped, l_before);
        EXPECT_LE(l_stamped, QDateTime::currentMSecsSinceEpoch());

        // The half-minute reads the local clock.
        ExpireAsOf(QDateTime::fromMSecsSinceEpoch(l_stamped + PeerMessenger::IdleLimit, Qt::LocalTime));
        EXPECT_EQ(OnlySocket("peer_socket"), lp_socket);
        ExpireAsOf(QDateTime::fromMSecsSinceEpoch(l_stamped + PeerMessenger::IdleLimit + 1, Qt::LocalTime));
        EXPECT_EQ(Count("peer_socket"), 0u);
        EXPECT_TRUE(lp_peer->WaitForDisconnected());
        m_lines.clear();
    }
}

// Without a server link there is no relayed leg and no address to ask for.
TEST_F(PeerAttempts, WithoutAServerLinkAKnownAddressIsTriedAndAnUnknownOneFailsOnceTheCallerIsDone)
{
    SetSetting("username", "anna");
    struct Restore
    {
        Server* server = gp_server;
        ~Restore() { gp_server = server; }
    } l_restore;
    gp_server = nullptr;
    QSignalSpy l_failed(mp_messenger.get(), &PeerMessenger::ConnectionToUserFailed);
    FakePeer l_carl;
    Reachable("carl", l_carl.Listen(), 0);
    mp_messenger->ConnectToUser("bob", "P");
    mp_messenger->ConnectToUser("carl", "P");
    EXPECT_EQ(l_failed.count(), 0) << "reported inside the request";
    ASSERT_TRUE(QTest::qWaitFor([&] { return l_failed.count() == 1; }, 5000));
    EXPECT_EQ(l_failed.at(0), (QList<QVariant>{"bob", "P"}));
    ASSERT_TRUE(l_carl.WaitForBodies(1));
    EXPECT_EQ(l_carl.Bodies().at(0), FakePeer::InitBody("anna", "P"));
    EXPECT_EQ(Count("connect_to_peer_request"), 0u);
    EXPECT_EQ(Count("indirect_connect_to_peer_request"), 0u);
}
