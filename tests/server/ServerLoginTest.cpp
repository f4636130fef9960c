#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QString>
#include <QStringList>
#include <QTest>

#include "diagnostics/LogService.h"
#include "diagnostics/LogSink.h"
#include "server/MemStream.h"
#include "server/Server.h"
#include "store/Data.h"
#include "support/support/ServerFixture.h"

namespace
{
using ServerLoginTest = ServerFixture;

class LineCollector : public LogSink
{
public:
    void LogLine(const QString& i_area, const QString& i_line) override
    {
        m_lines.append(i_area + ": " + i_line);
    }
    QStringList m_lines;
};

// A message with only a code, or a code and a number.
MemStream Message(qint32 i_code)
{
    MemStream l_message;
    l_message.Write(i_code);
    return l_message;
}

QByteArray LoginFields(const QString& i_user, const QString& i_password, const QString& i_digest)
{
    return WireFields().Text(i_user).Text(i_password).Int32(157).Text(i_digest).Int32(100);
}

TEST_F(ServerLoginTest, WithoutAUserNameNothingHappens)
{
    QSignalSpy l_connecting(mp_server.get(), &Server::Connecting);
    mp_server->Connect();
    QTest::qWait(100);
    EXPECT_EQ(l_connecting.count(), 0);
    EXPECT_EQ(mp_server->GetState(), Server::StateDisconnected);
    EXPECT_EQ(m_fake.ConnectionCount(), 0);
}

TEST_F(ServerLoginTest, TheLoginFrameCarriesNamePasswordVersionDigest)
{
    SetSetting("username", "anna");
    SetSetting("password", "secret");
    LineCollector l_log;
    logService.InstallSink(&l_log);
    QSignalSpy l_connecting(mp_server.get(), &Server::Connecting);

    mp_server->Connect();
    EXPECT_EQ(l_connecting.count(), 1);
    EXPECT_EQ(mp_server->GetState(), Server::StateConnecting);
    ASSERT_TRUE(m_fake.WaitForFrames(1));

    const QByteArray l_expected = FakeCentralServer::MakeFrame(
        1, LoginFields("anna", "secret", "967b854441792f28b781e40c53cc63be"));
    EXPECT_EQ(m_fake.Frames().at(0).raw.toHex(), l_expected.toHex());
    ASSERT_EQ(l_log.m_lines.size(), 1);
    EXPECT_TRUE(l_log.m_lines.at(0).startsWith("server: "));
    EXPECT_TRUE(l_log.m_lines.at(0).endsWith(
        QString("Attempting connection on port %1").arg(m_fake.Port())));
    logService.RemoveSink(&l_log);
}

TEST_F(ServerLoginTest, TheDigestCoversTheUtf8BytesOfNameAndPassword)
{
    SetSetting("username", QString::fromUtf8("jörg"));
    SetSetting("password", QString::fromUtf8("pässwort"));
    mp_server->Connect();
    ASSERT_TRUE(m_fake.WaitForFrames(1));
    EXPECT_EQ(m_fake.Frames().at(0).fields,
              LoginFields(QString::fromUtf8("jörg"), QString::fromUtf8("pässwort"),
                          "aa658b14f94108854f24c54a41d2071e"));
}

TEST_F(ServerLoginTest, AMissingPasswordBringsInTheDefaultAccount)
{
    SetSetting("username", "anna");
    mp_server->Connect();
    ASSERT_TRUE(m_fake.WaitForFrames(1));
    EXPECT_EQ(m_fake.Frames().at(0).fields,
              LoginFields("TarnwickQT", "QuorvelMintLedgeXy", "4e6d281693713b60c75621544b5932f6"));
    EXPECT_EQ(Setting("username"), "TarnwickQT");
    EXPECT_EQ(Setting("password"), "QuorvelMintLedgeXy");
}

TEST_F(ServerLoginTest, AnAcceptedLoginAnnouncesTheLink)
{
    SetSetting("accept_room_list", "no");
    QSignalSpy l_failed(mp_server.get(), &Server::ConnectionFailed);
    ASSERT_TRUE(LogIn());
    EXPECT_TRUE(mp_server->IsConnected());
    EXPECT_EQ(mp_server->GetState(), Server::StateLoggedIn);
    EXPECT_EQ(Setting("accept_room_list"), "yes");
    EXPECT_EQ(l_failed.count(), 0);
}

TEST_F(ServerLoginTest, ARefusedLoginReportsTheReasonAndIsNotRetried)
{
    SetSetting("username", "anna");
    SetSetting("password", "wrong");
    m_fake.RefuseLogins("INVALIDPASS");
    QSignalSpy l_failed(mp_server.get(), &Server::ConnectionFailed);
    QSignalSpy l_connected(mp_server.get(), &Server::Connected);
    QSignalSpy l_disconnected(mp_server.get(), &Server::Disconnected);

    mp_server->Connect();
    ASSERT_TRUE(QTest::qWaitFor([&] { return l_failed.count() >= 1; }, 5000));
    EXPECT_EQ(l_failed.at(0).at(0).toString(), "INVALIDPASS");
    EXPECT_EQ(mp_server->GetState(), Server::StateDisconnected);
    EXPECT_TRUE(m_fake.WaitForClientGone());
    QTest::qWait(50);
    EXPECT_EQ(l_failed.count(), 1) << "the close that follows reports nothing more";
    EXPECT_EQ(l_connected.count(), 0);
    EXPECT_EQ(l_disconnected.count(), 0);
    EXPECT_FALSE(mp_server->IsAbruptlyDisconnected());

    Tick(timerManager->halfMinuteTimer);
    QTest::qWait(100);
    EXPECT_EQ(m_fake.ConnectionCount(), 1);
}

TEST_F(ServerLoginTest, AReplyTooShortForItsVerdictIsIgnored)
{
    SetSetting("username", "anna");
    SetSetting("password", "secret");
    QSignalSpy l_failed(mp_server.get(), &Server::ConnectionFailed);
    QSignalSpy l_connected(mp_server.get(), &Server::Connected);
    mp_server->Connect();
    ASSERT_TRUE(m_fake.WaitForFrames(1));

    m_fake.SendFrame(1);
    QTest::qWait(100);
    EXPECT_EQ(l_failed.count(), 0);
    EXPECT_EQ(l_connected.count(), 0);
    EXPECT_EQ(mp_server->GetState(), Server::StateConnecting);

    m_fake.SendFrame(1, WireFields().Byte(1).Text("hi").UInt32(0).Text("x"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return l_connected.count() == 1; }, 5000));
}

TEST_F(ServerLoginTest, ALoginReplyWhileLoggedInIsIgnored)
{
    ASSERT_TRUE(LogIn());
    QSignalSpy l_failed(mp_server.get(), &Server::ConnectionFailed);
    QSignalSpy l_connected(mp_server.get(), &Server::Connected);
    m_fake.SendFrame(1, WireFields().Byte(0).Text("INVALIDPASS"));
    m_fake.SendFrame(1, WireFields().Byte(1).Text("hi").UInt32(0).Text("x"));
    QTest::qWait(150);
    EXPECT_EQ(l_failed.count(), 0);
    EXPECT_EQ(l_connected.count(), 0);
    EXPECT_TRUE(mp_server->IsConnected());
}

TEST_F(ServerLoginTest, AnUnreachableServerIsASocketError)
{
    quint16 l_closedPort = 0;
    {
        FakeCentralServer l_gone;
        l_closedPort = l_gone.Port();
    }
    SetSetting("server_port", QString::number(l_closedPort));
    SetSetting("username", "anna");
    QSignalSpy l_failed(mp_server.get(), &Server::ConnectionFailed);
    mp_server->Connect();
    ASSERT_TRUE(QTest::qWaitFor([&] { return l_failed.count() >= 1; }, 5000));
    EXPECT_EQ(l_failed.at(0).at(0).toString(), "socket error");
    EXPECT_EQ(mp_server->GetState(), Server::StateDisconnected);
}

TEST_F(ServerLoginTest, SendsGoOutOnlyWhileLoggedInUnlessForced)
{
    SetSetting("username", "anna");
    SetSetting("password", "secret");
    MemStream l_early = Message(77);
    mp_server->SendMessage(l_early);
    mp_server->Connect();
    ASSERT_TRUE(m_fake.WaitForFrames(1));

    MemStream l_unforced = Message(78);
    mp_server->SendMessage(l_unforced);
    MemStream l_forced = Message(79);
    mp_server->SendMessage(l_forced, true);
    ASSERT_TRUE(m_fake.WaitForFrames(2));

    QSignalSpy l_connected(mp_server.get(), &Server::Connected);
    m_fake.SendFrame(1, WireFields().Byte(1).Text("hi").UInt32(0).Text("x"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return l_connected.count() == 1; }, 5000));
    MemStream l_loggedIn = Message(80);
    l_loggedIn.Write(qint32(5));
    mp_server->SendMessage(l_loggedIn);
    ASSERT_TRUE(m_fake.WaitForFrames(3));

    mp_server->Disconnect();
    MemStream l_late = Message(81);
    mp_server->SendMessage(l_late, true);
    QTest::qWait(100);

    QList<qint32> l_codes;
    for (const FakeCentralServer::Frame& l_frame : m_fake.Frames())
        l_codes.append(l_frame.code);
    EXPECT_EQ(l_codes, (QList<qint32>{1, 79, 80}));
    EXPECT_EQ(m_fake.Frames().at(2).raw.toHex(), FakeCentralServer::MakeFrame(80, WireFields().Int32(5)).toHex());
}

TEST_F(ServerLoginTest, TheFirstLoginRejoinsRoomsAndEveryLoginRenewsRequests)
{
    Type* lp_user = d.GetType("user");
    d.GetType("room")->GetItem("lobby").NewItem("room_autojoin");
    d.GetType("room")->GetItem("lounge");
    lp_user->GetItem("ben").NewItem("is_tracked");
    d.GetType("user_address_request")->NewItem() += lp_user->GetItem("cleo");
    lp_user->GetItem("dora");
    SetSetting("availability_status", "away");

    ASSERT_TRUE(LogIn());
    ASSERT_TRUE(m_fake.WaitForFrames(5));
    QTest::qWait(50);
    const QList<FakeCentralServer::Frame> l_first = m_fake.Frames();
    ASSERT_EQ(l_first.size(), 5);
    EXPECT_EQ(l_first.at(1).raw, FakeCentralServer::MakeFrame(14, WireFields().Text("lobby").Int32(0)));
    EXPECT_EQ(l_first.at(2).raw, FakeCentralServer::MakeFrame(28, WireFields().Int32(1)));
    EXPECT_EQ(l_first.at(3).raw, FakeCentralServer::MakeFrame(5, WireFields().Text("ben")));
    EXPECT_EQ(l_first.at(4).raw, FakeCentralServer::MakeFrame(3, WireFields().Text("cleo")));

    // The second login of the run leaves the rooms alone; an available user says nothing.
    SetSetting("availability_status", "available");
    SetSetting("accept_room_list", "no");
    m_fake.DropClient();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !mp_server->IsConnected(); }, 5000));
    QSignalSpy l_connected(mp_server.get(), &Server::Connected);
    Tick(timerManager->halfMinuteTimer);
    ASSERT_TRUE(QTest::qWaitFor([&] { return l_connected.count() == 1; }, 5000));
    ASSERT_TRUE(m_fake.WaitForFrames(8));
    QTest::qWait(50);
    const QList<FakeCentralServer::Frame> l_all = m_fake.Frames();
    ASSERT_EQ(l_all.size(), 8);
    EXPECT_EQ(l_all.at(5).code, 1);
    EXPECT_EQ(l_all.at(6).raw, FakeCentralServer::MakeFrame(5, WireFields().Text("ben")));
    EXPECT_EQ(l_all.at(7).raw, FakeCentralServer::MakeFrame(3, WireFields().Text("cleo")));
    EXPECT_EQ(Setting("accept_room_list"), "yes");
}

TEST_F(ServerLoginTest, TheKeepAliveGoesOutOnlyWhileLoggedIn)
{
    Tick(timerManager->fiveMinuteTimer);
    ASSERT_TRUE(LogIn());
    Tick(timerManager->fiveMinuteTimer);
    ASSERT_TRUE(m_fake.WaitForFrames(2));
    EXPECT_EQ(m_fake.Frames().at(1).raw, FakeCentralServer::MakeFrame(32, QByteArray()));

    mp_server->Disconnect();
    Tick(timerManager->fiveMinuteTimer);
    QTest::qWait(100);
    EXPECT_EQ(m_fake.Frames().size(), 2);
}

TEST_F(ServerLoginTest, ADisconnectTakesEveryoneOfflineAndStaysDown)
{
    ASSERT_TRUE(LogIn());
    ItemPtr l_ben = d.GetType("user")->GetItem("ben");
    ItemPtr l_cleo = d.GetType("user")->GetItem("cleo");
    l_ben.NewItem("is_online");
    l_cleo.NewItem("is_online");
    QSignalSpy l_disconnected(mp_server.get(), &Server::Disconnected);
    QSignalSpy l_failed(mp_server.get(), &Server::ConnectionFailed);

    mp_server->Disconnect();
    EXPECT_EQ(l_disconnected.count(), 1);
    EXPECT_FALSE(mp_server->IsConnected());
    EXPECT_FALSE(l_ben.IsConnected("is_online"));
    EXPECT_FALSE(l_cleo.IsConnected("is_online"));
    EXPECT_TRUE(m_fake.WaitForClientGone());

    Tick(timerManager->halfMinuteTimer);
    QTest::qWait(100);
    EXPECT_EQ(m_fake.ConnectionCount(), 1);
    EXPECT_EQ(l_disconnected.count(), 1);
    EXPECT_EQ(l_failed.count(), 0);
    EXPECT_FALSE(mp_server->IsAbruptlyDisconnected());
}

TEST_F(ServerLoginTest, ADroppedLinkComesBackAtTheNextHalfMinute)
{
    ASSERT_TRUE(LogIn());
    d.GetType("user")->GetItem("ben").NewItem("is_online");
    QSignalSpy l_disconnected(mp_server.get(), &Server::Disconnected);
    QSignalSpy l_failed(mp_server.get(), &Server::ConnectionFailed);

    m_fake.DropClient();
    ASSERT_TRUE(QTest::qWaitFor([&] { return l_disconnected.count() == 1; }, 5000));
    QTest::qWait(50);
    EXPECT_EQ(l_disconnected.count(), 1) << "error and close of one link count once";
    EXPECT_EQ(l_failed.count(), 0);
    EXPECT_TRUE(mp_server->IsAbruptlyDisconnected());
    EXPECT_FALSE(d.GetType("user")->GetItem("ben").IsConnected("is_online"));
    EXPECT_EQ(m_fake.ConnectionCount(), 1) << "nothing before the tick";

    QSignalSpy l_connected(mp_server.get(), &Server::Connected);
    Tick(timerManager->halfMinuteTimer);
    ASSERT_TRUE(QTest::qWaitFor([&] { return l_connected.count() == 1; }, 5000));
    EXPECT_EQ(m_fake.ConnectionCount(), 2);
    EXPECT_FALSE(mp_server->IsAbruptlyDisconnected());
}

TEST_F(ServerLoginTest, AFailedReconnectionTriesAgainAtTheNextTick)
{
    ASSERT_TRUE(LogIn());
    QSignalSpy l_disconnected(mp_server.get(), &Server::Disconnected);
    m_fake.StopListening();
    m_fake.DropClient();
    ASSERT_TRUE(QTest::qWaitFor([&] { return l_disconnected.count() == 1; }, 5000));

    QSignalSpy l_connecting(mp_server.get(), &Server::Connecting);
    QSignalSpy l_failed(mp_server.get(), &Server::ConnectionFailed);
    Tick(timerManager->halfMinuteTimer);
    ASSERT_TRUE(QTest::qWaitFor([&] { return l_failed.count() == 1; }, 5000));
    EXPECT_EQ(l_failed.at(0).at(0).toString(), "socket error");
    EXPECT_TRUE(mp_server->IsAbruptlyDisconnected());

    Tick(timerManager->halfMinuteTimer);
    EXPECT_EQ(l_connecting.count(), 2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return l_failed.count() == 2; }, 5000));
}

TEST_F(ServerLoginTest, MessageCodesHaveTheirNames)
{
    EXPECT_EQ(Server::MessageCodeToString(1), "SM_LOGIN");
    EXPECT_EQ(Server::MessageCodeToString(64), "SM_ROOM_LIST");
    EXPECT_EQ(Server::MessageCodeToString(84), "SM_SET_PARENT_SPEED_CONNECTION_RATIO");
    EXPECT_EQ(Server::MessageCodeToString(1001), "SE_CANT_CONNECT_TO_PEER");
    EXPECT_EQ(Server::MessageCodeToString(1002), "SE_CANT_CREATE_ROOM");
    EXPECT_EQ(Server::MessageCodeToString(4), QString());
    EXPECT_EQ(Server::MessageCodeToString(-1), QString());
}

TEST_F(ServerLoginTest, PortForwardingIsOnUnlessTheStoreSaysOtherwise)
{
    mp_saver->EmitDataLoaded();
    EXPECT_EQ(Setting("use_upnp"), "yes");
    SetSetting("use_upnp", "no");
    mp_saver->EmitDataLoaded();
    EXPECT_EQ(Setting("use_upnp"), "no");
}
} // namespace
