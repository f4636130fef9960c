#include "DNetFixture.h"

#include "store/Settings.h"

using DNetFraming = DNetFixture;

TEST_F(DNetFraming, AnEmptyOrOutOfBoundsFrameClosesItsConnection)
{
    const std::pair<quint32, QString> l_cases[] = {{0, "Error reading message code"},
                                                   {10485761, "Message length 10485761 out of bounds"},
                                                   {0x80000000u, "Message length 2147483648 out of bounds"},
                                                   {0xffffffffu, "Message length 4294967295 out of bounds"}};
    for (bool l_child : {false, true})
        for (const auto& l_case : l_cases)
        {
            SCOPED_TRACE(QString("%1 %2").arg(l_child).arg(l_case.first).toStdString());
            Link l_link = HandedOver(l_child ? "kid" : "bob", l_child);
            // A whole depth report first: the frames before a bad one are handled.
            l_link.peer->SendRaw(FakePeer::Frame(Depth(0)) + WireFields().UInt32(l_case.first).Bytes());
            EXPECT_TRUE(l_link.peer->WaitForDisconnected());
            EXPECT_EQ(Logged(l_case.second + ", closing " + (l_child ? "child" : "parent/candidate") + " connection"), 1);
            EXPECT_EQ(Logged("Received child depth 0 from kid"), l_child ? 1 : 0);
            EXPECT_EQ(Count("dnet_child") + Count("dnet_parent_candidate"), 0u);
            m_log.m_lines.clear();
        }
}

TEST_F(DNetFraming, AChildThatStopsReadingIsClosedAtTheCapWhileTheOthersKeepReceiving)
{
    Link l_bob = Parent();
    Link l_kids[] = {Child("kid"), Child("lad"), Child("stalled")};
    // A small ceiling and send buffer: the system's buffers fill quickly and the cap is reached.
    DNetManagerTesting::SetChildCeiling(*mp_dnet, 256 * 1024);
    l_kids[2].socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, 4096);
    l_kids[2].peer->StopReading();
    const QByteArray l_search = Search("x", 1, QString(16384, 'a'), 50);
    int l_sent = 0;
    while (Count("dnet_child") == 3 && l_sent < 1024)
    {
        for (int l_frame = 0; l_frame < 8; ++l_frame, ++l_sent)
            l_bob.peer->SendFrame(l_search);
        for (int l_kid = 0; l_kid < 2; ++l_kid)
            ASSERT_TRUE(l_kids[l_kid].peer->WaitForBodies(1 + l_sent));
    }
    EXPECT_EQ(Logged("Child stalled leaves more than 262144 bytes unread"), 1);
    EXPECT_EQ(Logged("Child socket closed"), 1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(l_kids[2].socket.isNull());
    // The cap, with what the system buffers of a stalled loopback connection hold.
    EXPECT_LT(l_sent * l_search.size(), 4 << 20);
}

TEST_F(DNetFraming, EveryHandedOverSocketIsOwnedAndWhatCameWithTheHandshakeIsReadAtOnce)
{
    SetSetting("listening_port", QString::number(FakePeer::FreePort()));
    SetSetting("obfuscated_listening_port", QString::number(FakePeer::FreePort()));
    mp_messenger->DataLoaded();
    const quint16 l_port = GetSetting("listening_port").toUShort();
    QList<QPointer<QTcpSocket>> l_sockets;
    for (auto lp_signal : {&PeerMessenger::DNetConnectionRequested, &PeerMessenger::DNetConnectionAccepted})
        QObject::connect(mp_messenger.get(), lp_signal, [&](QString, QTcpSocket* ip_socket) { l_sockets << ip_socket; });

    // A child whose first report travels in the same segment as its handshake.
    FakePeer l_kid;
    ASSERT_TRUE(l_kid.ConnectTo(l_port));
    l_kid.SendRaw(FakePeer::Frame(FakePeer::InitBody("kid", "D")) + FakePeer::Frame(Depth(1)));
    ASSERT_TRUE(QTest::qWaitFor([] { return Key("dnet_child_depth") == "2"; }, 5000));

    // A parent that answers our relayed request and sends its first search right behind.
    for (const char* l_user : {"bob", "carl"})
    {
        ItemPtr l_leg = d.GetType("indirect_connect_to_peer_request")->GetItem(Value(quint32(l_user[0])));
        l_leg += d.GetType("user")->GetItem(l_user);
        l_leg += d.GetType("peer_connection_type")->GetItem("D");
    }
    FakePeer l_bob, l_carl;
    ASSERT_TRUE(l_bob.ConnectTo(l_port));
    l_bob.SendRaw(FakePeer::Frame(FakePeer::PierceBody('b')) + FakePeer::Frame(Search("eve", 3, "song")));
    ASSERT_TRUE(QTest::qWaitFor([] { return Key("dnet_parent_user") == "bob"; }, 5000));
    // Once a parent is held, a late candidate is closed at once.
    ASSERT_TRUE(l_carl.ConnectTo(l_port));
    l_carl.SendRaw(FakePeer::Frame(FakePeer::PierceBody('c')) + FakePeer::Frame(Level(1)));
    EXPECT_TRUE(l_carl.WaitForDisconnected());
    EXPECT_EQ(Logged("Rejecting, already have parent"), 1);
    EXPECT_EQ(m_answers, QStringList("eve|3|song|0"));

    // A socket that is none of ours is closed on its first message.
    Link l_stray = HandedOver("", false);
    MemStream l_message;
    l_message.WriteBuffer(Level(1).constData(), 5);
    mp_dnet->HandleMessage(l_stray.socket, l_message);
    EXPECT_TRUE(l_stray.peer->WaitForDisconnected());
    l_sockets << l_stray.socket;

    ASSERT_EQ(l_sockets.size(), 4);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    for (const QPointer<QTcpSocket>& lp_socket : l_sockets)
        EXPECT_TRUE(lp_socket.isNull() || lp_socket->parent() == mp_dnet.get());
    EXPECT_TRUE(l_sockets[2].isNull() && l_sockets[3].isNull());
    mp_dnet.reset();
    for (const QPointer<QTcpSocket>& lp_socket : l_sockets)
        EXPECT_TRUE(lp_socket.isNull());
}
