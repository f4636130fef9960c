#include "PeerLinkFixture.h"

using PeerHandshake = PeerLinkFixture;

TEST_F(PeerHandshake, PortSettingsTakeTheirDefaultsAndANewlyChosenPort)
{
    // Plain, obfuscated and newly chosen port stored; plain and obfuscated port used.
    const QStringList l_cases[] = {{"0", "9000", "", "2235", "2236"}, {"5000", "", "", "5000", "5001"},
                                   {"5000", "7000", "", "5000", "7000"}, {"5000", "7000", "6000", "6000", "6001"}};
    const char* const l_keys[] = {"listening_port", "obfuscated_listening_port", "new_listening_port"};
    for (const QStringList& l_case : l_cases)
    {
        d.GetType("global")->RemoveAllItems();
        for (int l_n = 0; l_n < 3; ++l_n)
            if (!l_case[l_n].isEmpty())
                SetSetting(l_keys[l_n], l_case[l_n]);
        PeerMessengerTesting::ApplyListeningPortSettings();
        EXPECT_EQ(QStringList({Setting(l_keys[0]), Setting(l_keys[1])}), l_case.mid(3));
        EXPECT_FALSE(d.GetType("global")->HasItem("new_listening_port"));
    }
}

TEST_F(PeerHandshake, FirstFramesOpenMessagingConnectionsOrEndTheirSocket)
{
    const QString l_longest(131072, 'n');
    const std::tuple<QByteArray, bool, QString> l_cases[] = {
        {FakePeer::InitBody("bob", "P"), true, "Peer %1connection of type P opened from user bob"},
        {FakePeer::InitBody("bob", "P", 7), true, "Accepted %1messaging connection to user bob"},
        {FakePeer::InitBody(l_longest, "P"), true, "Accepted %1messaging connection"},
        {FakePeer::InitBody(l_longest + "n", "P"), false, "Failure initializing %1peer"},
        {FakePeer::InitBody("eve", "X"), false, "Failure initializing %1peer"},
        {FakePeer::InitBody("bob", "P").left(12), false, "Failure initializing %1peer"},
        {QByteArray(), false, "Failed to read direction from new %1peer connection"},
        {QByteArray(3, '\0'), false, "Failed to read req from %1indirect peer connection"},
        {FakePeer::PierceBody(99), false, "Req sent on %1indirect peer connection not found"}};
    for (bool l_obfuscated : {false, true})
        for (const auto& [l_body, l_kept, l_logged] : l_cases)
        {
            SCOPED_TRACE(l_body.left(20).toHex().toStdString() + (l_obfuscated ? " (o)" : ""));
            m_lines.clear();
            const std::size_t l_users = Count("user");
            std::unique_ptr<FakePeer> lp_peer = Accepted(l_obfuscated);
            // An empty frame waits for whatever comes after it.
            lp_peer->SendFrame(l_body);
            lp_peer->SendRaw("?");
            if (l_kept)
            {
                ASSERT_TRUE(WaitForCount("peer_socket", 1));
                ItemPtr l_item = g("peer_socket");
                EXPECT_EQ(l_item["user"].AsString().size(), l_body.size() - 14);
                EXPECT_TRUE(l_item["connection_open_time"]);
                EXPECT_EQ(l_item.IsConnected("is_obfuscated"), l_obfuscated);
                lp_peer->Close();
            }
            EXPECT_TRUE(lp_peer->WaitForDisconnected());
            EXPECT_TRUE(WaitForCount("peer_socket", 0));
            EXPECT_EQ(Count("uninitialized_socket"), 0u);
            // An init leaves nothing behind once its connection has ended, not even its user.
            EXPECT_TRUE(QTest::qWaitFor([&] { return Count("user") == l_users; }, 5000));
            EXPECT_EQ(Logged(QString(l_logged).arg(l_obfuscated ? "obfuscated " : "")), 1);
        }
}

TEST_F(PeerHandshake, PiercesSettleTheirAttemptAndHandOversLeaveTheSocketUnhooked)
{
    QSignalSpy l_file(mp_messenger.get(), &PeerMessenger::FileConnectionAccepted);
    QSignalSpy l_dnet(mp_messenger.get(), &PeerMessenger::DNetConnectionAccepted);
    QSignalSpy l_dnetAsked(mp_messenger.get(), &PeerMessenger::DNetConnectionRequested);
    const std::tuple<const char*, QByteArray, QSignalSpy*> l_cases[] = {
        {"P", FakePeer::PierceBody(1), nullptr}, {"F", FakePeer::PierceBody(2), &l_file},
        {"D", FakePeer::PierceBody(3), &l_dnet}, {"D", FakePeer::InitBody("bob", "D"), &l_dnetAsked}};
    quint32 l_token = 1;
    for (const auto& [l_typeName, l_body, lp_handedOver] : l_cases)
    {
        SCOPED_TRACE(l_body.toHex().toStdString());
        // The attempt whose relayed leg the pierce answers.
        ItemPtr l_user = User("bob");
        ItemPtr l_type = d.GetType("peer_connection_type")->GetItem(l_typeName);
        ItemPtr l_leg = d.GetType("indirect_connect_to_peer_request")->GetItem(Value(l_token++));
        ItemPtr l_attempt = d.GetType("connect_to_peer_request")->NewItem();
        for (ItemPtr l_item : {l_attempt, l_leg})
            l_item += l_user, l_item += l_type;
        l_attempt += l_leg;

        std::unique_ptr<FakePeer> lp_peer = Accepted(true);
        QPointer<QTcpSocket> lp_socket = OnlySocket("uninitialized_socket");
        lp_peer->SendFrame(l_body + "trailing");
        if (!lp_handedOver)
        {
            ASSERT_TRUE(WaitForCount("peer_socket", 1));
            EXPECT_EQ(ItemPtr(g("peer_socket"))["user"], l_user);
        }
        else
        {
            ASSERT_TRUE(lp_handedOver->count() == 1 || lp_handedOver->wait(5000));
            EXPECT_EQ(lp_handedOver->takeFirst(), (QList<QVariant>{"bob", QVariant::fromValue(lp_socket.data())}));
        }
        // A pierce settles the attempt and its leg; an init leaves them be.
        EXPECT_EQ(Count("connect_to_peer_request") + Count("indirect_connect_to_peer_request"),
                  l_body.size() == 5 ? 0u : 2u);
        d.GetType("connect_to_peer_request")->RemoveAllItems();
        d.GetType("indirect_connect_to_peer_request")->RemoveAllItems();
        lp_peer->Close();
        // By the time the close is reported, only a messaging connection is the messenger's to end.
        EXPECT_EQ(LeftToItsOwner(lp_socket), bool(lp_handedOver));
    }
}

TEST_F(PeerHandshake, OwnFileConnectionsIntroduceThemselvesAndAreHandedOver)
{
    SetSetting("username", "anna");
    QSignalSpy l_file(mp_messenger.get(), &PeerMessenger::FileConnectionAccepted);
    FakePeer l_peer(true);
    Reachable("bob", 1, l_peer.Listen());
    mp_messenger->ConnectToUser("bob", "F");
    ASSERT_TRUE(l_peer.WaitForBodies(1));
    EXPECT_EQ(l_peer.Bodies().at(0), FakePeer::InitBody("anna", "F"));
    ASSERT_TRUE(l_file.count() == 1 || l_file.wait(5000));
    EXPECT_EQ(l_file.at(0).at(0).toString(), "bob");
    delete l_file.at(0).at(1).value<QTcpSocket*>();
}
