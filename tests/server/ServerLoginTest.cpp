#include "ServerTesting.h"
#include "support/support/LogLines.h"

namespace
{
using ServerLoginTest = ServerFixture;

void Send(Server& io_server, qint32 i_code, bool i_forced = false)
{
    MemStream l_message;
    l_message.Write(i_code);
    l_message.Write(qint32(5));
    io_server.SendMessage(l_message, i_forced);
}

TEST_F(ServerLoginTest, LoginFramesAreByteExactTheDefaultAccountStandsInARefusalIsNotRetried)
{
    QSignalSpy l_connecting(mp_server.get(), &Server::Connecting);
    mp_server->Connect();
    EXPECT_EQ(l_connecting.count(), 0) << "nothing happens without a user name";

    LogLines l_log;
    QSignalSpy l_failed(mp_server.get(), &Server::ConnectionFailed);
    m_fake.AcceptLogins();
    const struct
    {
        const char *user, *password, *sentUser, *sentPassword, *digest;
    } l_cases[] = {
        {"anna", nullptr, "TarnwickQT", "QuorvelMintLedgeXy", "4e6d281693713b60c75621544b5932f6"},
        {"anna", "secret", "anna", "secret", "967b854441792f28b781e40c53cc63be"},
        {"jörg", "pässwort", "jörg", "pässwort", "aa658b14f94108854f24c54a41d2071e"},
    };
    for (const auto& l_case : l_cases)
    {
        SCOPED_TRACE(l_case.sentUser);
        SetSetting("username", QString::fromUtf8(l_case.user));
        if (l_case.password)
            SetSetting("password", QString::fromUtf8(l_case.password));
        SetSetting("accept_room_list", "no");
        mp_server->Connect();
        EXPECT_EQ(mp_server->GetState(), Server::StateConnecting);
        ASSERT_TRUE(QTest::qWaitFor([&] { return mp_server->IsConnected(); }, 5000));
        const QString l_user = QString::fromUtf8(l_case.sentUser), l_password = QString::fromUtf8(l_case.sentPassword);
        const WireFields l_login = WireFields().Text(l_user).Text(l_password).Int32(157).Text(l_case.digest).Int32(100);
        EXPECT_EQ(m_fake.FramesWithCode(1).last().raw.toHex(), FrameOf(1, l_login).toHex());
        EXPECT_EQ(Setting("username") + " " + Setting("password"), l_user + " " + l_password);
        EXPECT_EQ(Setting("accept_room_list"), "yes");
        m_fake.DropClient();
        ASSERT_TRUE(QTest::qWaitFor([&] { return mp_server->GetState() == Server::StateDisconnected; }, 5000));
    }
    EXPECT_TRUE(l_log.m_lines.contains(QString("server: Attempting connection on port %1").arg(m_fake.Port())));
    EXPECT_EQ(m_fake.ConnectionCount(), 3);
    EXPECT_EQ(l_failed.count(), 0);

    // A refusal reports its reason and is not retried.
    SetSetting("password", "wrong");
    m_fake.RefuseLogins("INVALIDPASS");
    QSignalSpy l_disconnected(mp_server.get(), &Server::Disconnected);
    mp_server->Connect();
    ASSERT_TRUE(QTest::qWaitFor([&] { return l_failed.count() >= 1; }, 5000));
    EXPECT_EQ(mp_server->GetState(), Server::StateDisconnected);
    // The link closed on our side, so its close has been reported by the time the fake sees it.
    EXPECT_TRUE(m_fake.WaitForClientGone());
    EXPECT_EQ(Emitted(l_failed), QStringList{"INVALIDPASS"}) << "the close that follows reports nothing more";
    EXPECT_EQ(l_disconnected.count(), 0);
    EXPECT_FALSE(mp_server->IsAbruptlyDisconnected());
    Tick(timerManager->halfMinuteTimer);
    EXPECT_EQ(mp_server->GetState(), Server::StateDisconnected) << "a retry starts at once";
}

TEST_F(ServerLoginTest, SendsAndKeepAlivesGoOutOnlyWhileLoggedInUnlessForced)
{
    SetSetting("username", "anna");
    mp_server->Connect();
    ASSERT_TRUE(m_fake.WaitForFrames(1));
    Send(*mp_server, 78);
    Send(*mp_server, 79, true);
    Tick(timerManager->fiveMinuteTimer);
    m_fake.SendFrame(1, WireFields().Byte(1).Text("hi").UInt32(0).Text("x"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return mp_server->IsConnected(); }, 5000));
    Send(*mp_server, 80);
    Tick(timerManager->fiveMinuteTimer);
    mp_server->Disconnect();
    Send(*mp_server, 81, true);
    Tick(timerManager->fiveMinuteTimer);
    // Whatever went out before our close has been read once the fake sees the close.
    ASSERT_TRUE(m_fake.WaitForClientGone());
    EXPECT_EQ(m_fake.ConnectionCount(), 1);
    EXPECT_EQ(RawOf(m_fake.Frames()).mid(1),
              (QList<QByteArray>{FrameOf(79, WireFields().Int32(5)), FrameOf(80, WireFields().Int32(5)), FrameOf(32)}));
}

TEST_F(ServerLoginTest, ADroppedLinkComesBackAtEveryHalfMinuteRenewingRequestsADisconnectStaysDown)
{
    Type* lp_user = d.GetType("user");
    d.GetType("room")->GetItem("lobby").NewItem("room_autojoin");
    d.GetType("room")->GetItem("lounge");
    lp_user->GetItem("ben").NewItem("is_tracked");
    d.GetType("user_address_request")->NewItem() += lp_user->GetItem("cleo");
    ItemPtr l_dora = lp_user->GetItem("dora");
    SetSetting("availability_status", "away");
    QList<QByteArray> l_expected = {FrameOf(14, WireFields().Text("lobby").Int32(0)), FrameOf(28, WireFields().Int32(1)),
                                    FrameOf(5, WireFields().Text("ben")), FrameOf(3, WireFields().Text("cleo"))};
    ASSERT_TRUE(LogIn());
    EXPECT_EQ(RawOf(SentFrames()), l_expected);

    l_dora.NewItem("is_online");
    SetSetting("availability_status", "available");
    QSignalSpy l_disconnected(mp_server.get(), &Server::Disconnected);
    QSignalSpy l_connected(mp_server.get(), &Server::Connected);
    m_fake.DropClient();
    ASSERT_TRUE(QTest::qWaitFor([&] { return l_disconnected.count() == 1; }, 5000));
    EXPECT_TRUE(mp_server->IsAbruptlyDisconnected());
    EXPECT_FALSE(l_dora.IsConnected("is_online"));
    EXPECT_EQ(m_fake.ConnectionCount(), 1) << "nothing before the tick";
    Tick(timerManager->halfMinuteTimer);
    ASSERT_TRUE(QTest::qWaitFor([&] { return l_connected.count() == 1; }, 5000));
    EXPECT_EQ(l_disconnected.count(), 1) << "error and close of one link count once";
    EXPECT_FALSE(mp_server->IsAbruptlyDisconnected());
    // The second login leaves the rooms alone; an available user says nothing.
    EXPECT_EQ(RawOf(SentFrames()), l_expected << l_expected.at(2) << l_expected.at(3));

    mp_server->Disconnect();
    EXPECT_EQ(l_disconnected.count(), 2);
    EXPECT_TRUE(m_fake.WaitForClientGone());
    Tick(timerManager->halfMinuteTimer);
    EXPECT_EQ(mp_server->GetState(), Server::StateDisconnected) << "a retry starts at once";
    EXPECT_EQ(m_fake.ConnectionCount(), 2);

    // A server that is gone is a socket error, tried again at every tick.
    ASSERT_TRUE(LogIn());
    m_fake.StopListening();
    m_fake.DropClient();
    ASSERT_TRUE(QTest::qWaitFor([&] { return l_disconnected.count() == 3; }, 5000));
    QSignalSpy l_failed(mp_server.get(), &Server::ConnectionFailed);
    Tick(timerManager->halfMinuteTimer);
    ASSERT_TRUE(QTest::qWaitFor([&] { return l_failed.count() == 1; }, 5000));
    EXPECT_EQ(Emitted(l_failed), QStringList{"socket error"});
    EXPECT_EQ(mp_server->GetState(), Server::StateDisconnected);
    EXPECT_TRUE(mp_server->IsAbruptlyDisconnected());
    Tick(timerManager->halfMinuteTimer);
    ASSERT_TRUE(QTest::qWaitFor([&] { return l_failed.count() == 2; }, 5000));
}
} // namespace
