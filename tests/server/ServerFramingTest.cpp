#include <QTcpSocket>

#include "ServerTesting.h"

namespace
{
using ServerFramingTest = ServerFixture;

QByteArray LengthHeader(quint32 i_length) { return WireFields().UInt32(i_length); }
bool WaitFor(const QSignalSpy& i_spy, int i_count) { return QTest::qWaitFor([&] { return i_spy.count() == i_count; }, 5000); }

TEST_F(ServerFramingTest, FramesAreCutFromAnySplitOfReadsAndAnAbsurdLengthDropsTheLink)
{
    SetSetting("username", "anna");
    QSignalSpy l_connected(mp_server.get(), &Server::Connected), l_failed(mp_server.get(), &Server::ConnectionFailed),
        l_disconnected(mp_server.get(), &Server::Disconnected), l_chats(mp_server.get(), &Server::RoomChat);
    mp_server->Connect();
    ASSERT_TRUE(m_fake.WaitForFrames(1));
    m_fake.SendRaw(LengthHeader(0xFFFFFFF0u) + QByteArray(64, 'x'));
    ASSERT_TRUE(WaitFor(l_failed, 1));
    EXPECT_EQ(mp_server->GetState(), Server::StateDisconnected);
    EXPECT_TRUE(m_fake.WaitForClientGone());
    EXPECT_EQ(Emitted(l_failed), QStringList{"socket error"});

    // Nothing more arrives: the reply is seen only if the reader goes on past the odd frames
    // before it, and the refusal behind it comes when logged in and changes nothing.
    mp_server->Connect();
    ASSERT_TRUE(m_fake.WaitForFrames(2));
    m_fake.SendRaw(FrameOf(9999, WireFields().Int32(7)) + LengthHeader(0) + LengthHeader(2) + QByteArray("\x01\x00", 2) +
                   FrameOf(1) + FrameOf(1, WireFields().Byte(1).Text("hi").UInt32(0).Text("x")) +
                   FrameOf(1, WireFields().Byte(0).Text("INVALIDPASS")));
    ASSERT_TRUE(WaitFor(l_connected, 1));
    // One read holds them all: the refusal has been handled by the time the login is seen.
    EXPECT_EQ(l_failed.count(), 1);
    EXPECT_TRUE(mp_server->IsConnected());

    // The header over three reads, then the body. The link's reader, connected before the spy,
    // has read each piece when the spy sees it.
    const QByteArray l_chat = FrameOf(13, WireFields().Text("lobby").Text("ben").Text(QString(120000, QChar('g'))));
    QSignalSpy l_arrived(mp_server->findChild<QTcpSocket*>(), &QTcpSocket::readyRead);
    for (const auto& [l_from, l_length] : {std::pair{0, 1}, {1, 2}, {3, 3}})
    {
        m_fake.SendRaw(l_chat.mid(l_from, l_length));
        ASSERT_TRUE(l_arrived.wait(5000));
    }
    EXPECT_EQ(l_chats.count(), 0);
    m_fake.SendRaw(l_chat.mid(6));
    ASSERT_TRUE(WaitFor(l_chats, 1));
    EXPECT_EQ(l_chats.at(0).at(2).toString().size(), 120000);

    // Announced at the cap and never delivered: the client waits. The chat ahead of it in the
    // same read shows when the header has been looked at.
    m_fake.SendRaw(FrameOf(13, WireFields().Text("lobby").Text("ben").Text("hi")) + LengthHeader(Server::MaxFrameLength) +
                   QByteArray(100, 'x'));
    ASSERT_TRUE(WaitFor(l_chats, 2));
    EXPECT_TRUE(mp_server->IsConnected());
    m_fake.DropClient();
    ASSERT_TRUE(WaitFor(l_disconnected, 1));

    // The half frame must not leak into the fresh link's login reply.
    m_fake.AcceptLogins();
    Tick(timerManager->halfMinuteTimer);
    ASSERT_TRUE(WaitFor(l_connected, 2));
    m_fake.SendRaw(LengthHeader(Server::MaxFrameLength + 1));
    ASSERT_TRUE(WaitFor(l_disconnected, 2));
    EXPECT_TRUE(mp_server->IsAbruptlyDisconnected());
    EXPECT_EQ(l_failed.count(), 1);
}

// Some messages are their code and nothing more, a body of 4 bytes: each is acted on whether it
// comes alone or among other frames.
TEST_F(ServerFramingTest, AFrameOfItsCodeAloneIsActedOn)
{
    ASSERT_TRUE(LogIn());
    QStringList l_seen;
    Server* lp_server = mp_server.get();
    QObject::connect(lp_server, &Server::DNetReset, [&] { l_seen << "reset"; });
    QObject::connect(lp_server, &Server::DNetMessage,
                     [&](MemStream& i_body) { l_seen << QString("distributed %1").arg(i_body.GetPendingReadLength()); });
    QObject::connect(lp_server, &Server::DNetPossibleParents,
                     [&](std::list<std::pair<QString, TCPAddress>>& i_parents) {
                         l_seen << QString("parents %1").arg(i_parents.size());
                     });
    QSignalSpy l_chats(lp_server, &Server::RoomChat);
    const QByteArray l_chat = FrameOf(13, WireFields().Text("lobby").Text("ben").Text("after"));

    const std::pair<qint32, const char*> l_cases[] = {{130, "reset"}, {93, "distributed 0"}, {102, "parents 0"}};
    QByteArray l_all;
    QStringList l_expected;
    for (const auto& [l_code, l_effect] : l_cases)
    {
        SCOPED_TRACE(l_code);
        const QByteArray l_frame = FrameOf(l_code);
        ASSERT_EQ(l_frame, WireFields().UInt32(4).Int32(l_code).Bytes());
        l_seen.clear();
        m_fake.SendRaw(l_frame);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !l_seen.isEmpty(); }, 5000));
        EXPECT_EQ(l_seen, QStringList{l_effect});
        l_all += l_frame;
        l_expected << l_effect;
    }

    // Sent in one write, between frames with fields: the last chat shows that all ahead of it were read.
    l_seen.clear();
    m_fake.SendRaw(l_chat + l_all + l_chat);
    ASSERT_TRUE(WaitFor(l_chats, 2));
    EXPECT_EQ(l_seen, l_expected);
    EXPECT_TRUE(mp_server->IsConnected());
}
} // namespace
