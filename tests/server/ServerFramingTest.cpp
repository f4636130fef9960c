#include "ServerTesting.h"

namespace
{
QByteArray AcceptedReply(const QString& i_greeting = "hi")
{
    return FrameOf(1, WireFields().Byte(1).Text(i_greeting).UInt32(0).Text("x"));
}
QByteArray LengthHeader(quint32 i_length) { return WireFields().UInt32(i_length); }

// Connects as anna and holds the link in the login phase, with the login frame received.
class ServerFramingTest : public ServerFixture
{
protected:
    void SetUp() override
    {
        ServerFixture::SetUp();
        SetSetting("username", "anna");
        SetSetting("password", "secret");
        mp_connected = std::make_unique<QSignalSpy>(mp_server.get(), &Server::Connected);
        mp_failed = std::make_unique<QSignalSpy>(mp_server.get(), &Server::ConnectionFailed);
        mp_disconnected = std::make_unique<QSignalSpy>(mp_server.get(), &Server::Disconnected);
        mp_server->Connect();
        ASSERT_TRUE(m_fake.WaitForFrames(1));
    }

    // Lets the client read what has been sent so far on its own, to cut a frame across reads.
    static void Settle() { QTest::qWait(60); }

    bool WaitConnected() { return QTest::qWaitFor([&] { return mp_connected->count() == 1; }, 5000); }

    std::unique_ptr<QSignalSpy> mp_connected;
    std::unique_ptr<QSignalSpy> mp_failed;
    std::unique_ptr<QSignalSpy> mp_disconnected;
};

TEST_F(ServerFramingTest, AFrameArrivingInFragmentsIsReadWhole)
{
    // The length header split over three reads, then a body that grows across many.
    const QByteArray l_reply = AcceptedReply(QString(300000, QChar('g')));
    for (const auto& [l_from, l_length] : {std::pair{0, 1}, {1, 2}, {3, 3}})
        m_fake.SendRaw(l_reply.mid(l_from, l_length)), Settle();
    EXPECT_EQ(mp_connected->count(), 0);
    for (int l_offset = 6; l_offset < l_reply.size(); l_offset += 65536)
    {
        m_fake.SendRaw(l_reply.mid(l_offset, 65536));
        QTest::qWait(5);
    }
    EXPECT_TRUE(WaitConnected());
}

TEST_F(ServerFramingTest, SeveralFramesInOneReadAreEachHandled)
{
    // Nothing more arrives after these bytes: the reply is seen only if the reader goes on
    // past the frame before it. The refusal behind it comes when logged in and changes nothing.
    m_fake.SendRaw(FrameOf(9999, WireFields().Int32(7)) + AcceptedReply() + FrameOf(1, WireFields().Byte(0).Text("INVALIDPASS")));
    // One read holds all three: the refusal has been handled by the time the login is seen.
    ASSERT_TRUE(WaitConnected());
    EXPECT_EQ(mp_failed->count(), 0);
    EXPECT_TRUE(mp_server->IsConnected());
}

TEST_F(ServerFramingTest, BodiesTooShortForTheirCodeOrVerdictAreSkipped)
{
    const QByteArray l_empty = LengthHeader(0);
    const QByteArray l_twoBytes = LengthHeader(2) + QByteArray("\x01\x00", 2);
    // In one read with the real reply: a verdict taken from the short frames would show as a
    // second login or a failure by the time the first is seen.
    m_fake.SendRaw(l_empty + l_twoBytes + FrameOf(1) + AcceptedReply());
    EXPECT_TRUE(WaitConnected());
    EXPECT_EQ(mp_connected->count(), 1);
    EXPECT_EQ(mp_failed->count(), 0);
}

TEST_F(ServerFramingTest, AnAbsurdLengthWhileLoggingInFailsTheConnection)
{
    m_fake.SendRaw(LengthHeader(0xFFFFFFF0u) + QByteArray(64, 'x'));
    ASSERT_TRUE(QTest::qWaitFor([&] { return mp_failed->count() >= 1; }, 5000));
    EXPECT_EQ(mp_server->GetState(), Server::StateDisconnected);
    EXPECT_TRUE(m_fake.WaitForClientGone());
    EXPECT_EQ(Emitted(*mp_failed), QStringList{"socket error"});
    EXPECT_EQ(mp_connected->count(), 0);
}

TEST_F(ServerFramingTest, TheCapIsAFrameOneByteMoreDropsTheLink)
{
    m_fake.SendRaw(AcceptedReply());
    ASSERT_TRUE(WaitConnected());

    // Announced at the cap and never delivered: the client waits, holding only what came. The
    // chat ahead of it in the same read shows when the header has been looked at.
    QSignalSpy l_chat(mp_server.get(), &Server::RoomChat);
    m_fake.SendRaw(FrameOf(13, WireFields().Text("lobby").Text("ben").Text("hi")) + LengthHeader(Server::MaxFrameLength) +
                   QByteArray(100, 'x'));
    ASSERT_TRUE(l_chat.wait(5000));
    EXPECT_TRUE(mp_server->IsConnected());
    m_fake.DropClient();
    ASSERT_TRUE(QTest::qWaitFor([&] { return mp_disconnected->count() == 1; }, 5000));

    // The half frame must not leak into the fresh link's login reply.
    m_fake.AcceptLogins();
    Tick(timerManager->halfMinuteTimer);
    ASSERT_TRUE(QTest::qWaitFor([&] { return mp_connected->count() == 2; }, 5000));
    m_fake.SendRaw(LengthHeader(Server::MaxFrameLength + 1));
    ASSERT_TRUE(QTest::qWaitFor([&] { return mp_disconnected->count() == 2; }, 5000));
    EXPECT_TRUE(mp_server->IsAbruptlyDisconnected());
    EXPECT_EQ(mp_failed->count(), 0);
    Tick(timerManager->halfMinuteTimer);
    EXPECT_TRUE(QTest::qWaitFor([&] { return mp_connected->count() == 3; }, 5000));
}
} // namespace
