#include "peer/PeerLinkFixture.h"
#include "shares/DNetManager.h"
#include "shares/WishListSearcher.h"
#include "store/Settings.h"
#include "support/support/QtPrinters.h"

// The silence check at a chosen time, the last search time, the child ceiling and the server's values.
class DNetManagerTesting
{
public:
    static void DropSilentParentAsOf(DNetManager& io_manager, const QDateTime& i_now) { io_manager.DropSilentParentAsOf(i_now); }
    static void DropStalledFramesAsOf(DNetManager& io_manager, const QDateTime& i_now) { io_manager.DropStalledFramesAsOf(i_now); }
    static QDateTime LastSearch(const DNetManager& i_manager) { return i_manager.m_lastSearchRequestTime; }
    static void SetChildCeiling(DNetManager& io_manager, qint64 i_bytes) { io_manager.m_maxChildUnsentBytes = i_bytes; }
    static void SetServerValues(DNetManager& io_manager, int i_minSpeed, int i_ratio)
    {
        io_manager.m_parentMinSpeed = i_minSpeed;
        io_manager.m_parentSpeedConnectionRatio = i_ratio;
    }
};

namespace
{
// Logged in; loopback connections to fake peers, handed to the manager as the messenger hands them.
class DNet : public PeerLinkFixture
{
protected:
    struct Link
    {
        std::unique_ptr<FakePeer> peer;
        QPointer<QTcpSocket> socket; // our end
    };

    void SetUp() override
    {
        PeerLinkFixture::SetUp();
        mp_dnet = std::make_unique<DNetManager>();
        // Stands in for the shares manager's answer, which must come before any relay.
        QObject::connect(mp_dnet.get(), &DNetManager::DNetSearchRequest, [this](QString i_user, quint32 i_req, QString i_text) {
            qint64 l_relayed = 0;
            for (const Link* lp_child : m_children)
                l_relayed += lp_child->socket->bytesToWrite() + lp_child->peer->Raw().size();
            m_answers << QString("%1|%2|%3|%4").arg(i_user).arg(i_req).arg(i_text).arg(l_relayed);
        });
        ASSERT_TRUE(LogIn());
    }

    void TearDown() override
    {
        mp_dnet.reset();
        PeerLinkFixture::TearDown();
    }

    // Our own connection (a candidate) or one opened to us (a child); without a user, not handed over.
    Link HandedOver(const QString& i_user, bool i_child)
    {
        Link l_link{std::make_unique<FakePeer>(), nullptr};
        l_link.socket = l_link.peer->Linked();
        if (!i_user.isEmpty())
            emit(mp_messenger.get()->*(i_child ? &PeerMessenger::DNetConnectionRequested
                                               : &PeerMessenger::DNetConnectionAccepted))(i_user, l_link.socket);
        return l_link;
    }
    Link Child(const QString& i_user) { return HandedOver(i_user, true); }
    // bob adopted as parent through a first search request.
    Link Parent()
    {
        Link l_bob = HandedOver("bob", false);
        l_bob.peer->SendFrame(Search("alice", 1, "first"));
        EXPECT_TRUE(QTest::qWaitFor([] { return Key("dnet_parent_user") == "bob"; }, 5000));
        return l_bob;
    }

    static QByteArray Search(const QString& i_user, quint32 i_req, const QString& i_text, quint32 i_kind = 49)
    {
        return WireFields().Byte(3).UInt32(i_kind).Text(i_user).UInt32(i_req).Text(i_text);
    }
    static QByteArray Level(qint32 i_level) { return WireFields().Byte(4).Int32(i_level); }
    static QByteArray Leader(const QString& i_name) { return WireFields().Byte(5).Text(i_name); }
    static QByteArray Depth(qint32 i_depth) { return WireFields().Byte(7).Int32(i_depth); }
    static QString Key(const char* i_key) { return d.GetType("dnet_global")->HasItem(i_key)["dnet_value"].AsString(); }

    // The distributed-network reports the server has had since the login's own.
    QStringList Reports()
    {
        QStringList l_reports;
        for (const FakeCentralServer::Frame& l_frame : SentFrames())
            if (QList<int>{71, 100, 126, 127, 129}.contains(l_frame.code))
                l_reports << Report(l_frame.code, l_frame.fields);
        return l_reports.mid(1);
    }
    static QString Report(int i_code, const QByteArray& i_fields) { return QString::number(i_code) + ":" + i_fields.toHex(); }

    std::unique_ptr<DNetManager> mp_dnet;
    QStringList m_answers;
    QList<const Link*> m_children;
};
} // namespace

TEST_F(DNet, AnEmptyOrOutOfBoundsFrameClosesItsConnection)
{
    for (bool l_child : {false, true})
        for (quint32 l_length : {0u, 10485761u, 0x80000000u, 0xffffffffu})
        {
            SCOPED_TRACE(QString("%1 %2").arg(l_child).arg(l_length).toStdString());
            Link l_link = HandedOver(l_child ? "kid" : "bob", l_child);
            // A whole depth report first: the frames before a bad one are handled.
            l_link.peer->SendRaw(FakePeer::Frame(Depth(0)) + WireFields().UInt32(l_length).Bytes());
            EXPECT_TRUE(l_link.peer->WaitForDisconnected());
            const QString l_error = l_length ? QString("Message length %1 out of bounds").arg(l_length) : "Error reading message code";
            EXPECT_EQ(Logged(l_error + ", closing " + (l_child ? "child" : "parent/candidate") + " connection"), 1);
            EXPECT_EQ(Logged("Received child depth 0 from kid"), l_child ? 1 : 0);
            EXPECT_EQ(Count("dnet_child") + Count("dnet_parent_candidate"), 0u);
            m_lines.clear();
        }
}

TEST_F(DNet, AChildThatStopsReadingIsClosedAtItsCapOrTheSharedOneWhileTheOthersKeepReceiving)
{
    // Its own cap, or the one all connections share, lowered: the system's buffers fill quickly.
    const struct { bool shared; const char* logged; } l_cases[] = {
        {false, "Child stalled leaves more than 262144 bytes unread"},
        {true, "Peer connections leave more than 262144 bytes unsent, closing the connection with the most"}};
    for (const auto& l_case : l_cases)
    {
        SCOPED_TRACE(l_case.logged);
        Link l_bob = Parent();
        Link l_kids[] = {Child("kid"), Child("lad"), Child("stalled")};
        PeerMessengerTesting::SetCeilings(*mp_messenger, PeerMessenger::MaxUnsentBytes, PeerMessenger::MaxHeldFrameBytes,
                                          l_case.shared ? 256 * 1024 : PeerMessenger::MaxTotalUnsentBytes);
        DNetManagerTesting::SetChildCeiling(*mp_dnet, l_case.shared ? DNetManager::MaxChildUnsentBytes : 256 * 1024);
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
        EXPECT_EQ(Logged(l_case.logged), 1);
        EXPECT_EQ(Logged("Child socket closed"), 1);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(l_kids[2].socket.isNull());
        // The cap, with what the system buffers of a stalled loopback connection hold.
        EXPECT_LT(l_sent * l_search.size(), 4 << 20);
        // The next case starts without a parent or children.
        l_bob.peer->Close();
        for (Link& l_kid : l_kids)
            if (l_kid.peer)
                l_kid.peer->Close();
        ASSERT_TRUE(QTest::qWaitFor([] { return Count("dnet_child") == 0 && Key("dnet_parent_user").isEmpty(); }, 5000));
        m_lines.clear();
    }
}

TEST_F(DNet, UnfinishedFramesCountTowardTheCeilingSharedWithMessagingConnectionsAndTheOldestGoes)
{
    // Each connection holds 512 KiB of a frame it has not finished: two fit, a third does not.
    PeerMessengerTesting::SetCeilings(*mp_messenger, PeerMessenger::MaxUnsentBytes, 1280 * 1024);
    const QByteArray l_childStart = Word(PeerMessenger::MaxFrameLength) + QByteArray(512 * 1024 - 4, 'x');
    const QByteArray l_peerStart = Word(PeerMessenger::MaxFrameLength) + Word(52) + QByteArray(300 * 1024 - 4, 'x');
    // Who comes in next, as a child or as a messaging connection, and whose connection that ends.
    const struct { const char* user; bool child; const char* closed; } l_steps[] = {
        {"kid", true, nullptr}, {"lad", true, nullptr}, {"tot", true, "kid"},
        {"pia", false, "lad"},  {"ned", true, "tot"},   {"ova", true, "pia"}};
    std::map<QString, std::unique_ptr<FakePeer>> l_peers;
    std::map<QString, QPointer<QTcpSocket>> l_sockets;
    for (const auto& l_step : l_steps)
    {
        SCOPED_TRACE(l_step.user);
        if (l_step.child)
        {
            Link l_link = Child(l_step.user);
            l_peers[l_step.user] = std::move(l_link.peer);
            l_sockets[l_step.user] = l_link.socket;
            l_peers[l_step.user]->SendRaw(l_childStart);
        }
        else
        {
            l_peers[l_step.user] = Accepted(false, l_step.user);
            l_sockets[l_step.user] = ItemPtr(User(l_step.user).GetItems("peer_socket")).AsPointer<QTcpSocket>();
            l_peers[l_step.user]->SendRaw(l_peerStart);
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return mp_messenger->HeldFrames().Held(l_sockets[l_step.user]) == 512 * 1024; }, 5000));
        if (l_step.closed)
        {
            EXPECT_TRUE(l_peers[l_step.closed]->WaitForDisconnected());
        }
        EXPECT_EQ(mp_messenger->HeldFrames().Total(), (l_step.closed || &l_step - l_steps == 1 ? 2 : 1) * 512 * 1024);
    }
    EXPECT_EQ(Logged("Incomplete peer frames hold more than 1310720 bytes, closing the connection with the oldest"), 4);
    EXPECT_EQ(Count("dnet_child"), 2u);
    EXPECT_EQ(Count("peer_socket"), 0u);
    // Whatever ends a connection takes its bytes off the count.
    l_peers["ova"]->Close();
    ASSERT_TRUE(WaitForCount("dnet_child", 1));
    EXPECT_EQ(mp_messenger->HeldFrames().Total(), 512 * 1024);
}

TEST_F(DNet, AFrameLeftUnfinishedAsLongAsAnIdlePeerMayStaySilentClosesItsConnection)
{
    User("lad").NewItem("in_user_list");
    const QByteArray l_depth = FakePeer::Frame(Depth(1));
    // Who sends how much of a depth report; a child of this client sends nothing at all.
    const struct { const char* user; bool child; int sent; bool closed; } l_links[] = {
        {"kid", true, 5, true}, {"lad", true, 0, false}, {"tom", true, 9, false}, {"bob", false, 3, true}};
    std::vector<Link> l_open;
    QDateTime l_first, l_last;
    for (const auto& l_link : l_links)
    {
        l_open.push_back(HandedOver(l_link.user, l_link.child));
        l_open.back().peer->SendRaw(l_depth.left(l_link.sent));
        QTcpSocket* lp_socket = l_open.back().socket;
        const auto l_arrived = [&] {
            if (l_link.sent == l_depth.size())
                return Logged("Received child depth 1 from tom") == 1;
            return l_link.sent == 0 || mp_messenger->HeldFrames().Held(lp_socket) == l_link.sent;
        };
        ASSERT_TRUE(QTest::qWaitFor(l_arrived, 5000));
        const QDateTime l_since = mp_messenger->HeldFrames().HoldingSince(lp_socket);
        EXPECT_EQ(l_since.isValid(), l_link.sent > 0 && l_link.sent < l_depth.size());
        if (l_since.isValid())
        {
            l_first = l_first.isValid() ? std::min(l_first, l_since) : l_since;
            l_last = l_last.isValid() ? std::max(l_last, l_since) : l_since;
        }
    }
    DNetManagerTesting::DropStalledFramesAsOf(*mp_dnet, l_first.addMSecs(PeerMessenger::IdleLimit));
    EXPECT_EQ(Count("dnet_child") + Count("dnet_parent_candidate"), 4u);
    DNetManagerTesting::DropStalledFramesAsOf(*mp_dnet, l_last.addMSecs(PeerMessenger::IdleLimit + 1));
    DNetManagerTesting::DropStalledFramesAsOf(*mp_dnet, l_last.addDays(1));
    for (std::size_t l_index = 0; l_index < l_open.size(); ++l_index)
    {
        SCOPED_TRACE(l_links[l_index].user);
        EXPECT_EQ(l_open[l_index].socket->state() != QAbstractSocket::ConnectedState, l_links[l_index].closed);
        EXPECT_EQ(Logged(QString("Connection of %1 left a message unfinished for too long, closing it").arg(l_links[l_index].user)), l_links[l_index].closed);
    }
    EXPECT_EQ(Count("dnet_child") + Count("dnet_parent_candidate"), 2u);
    // The user made for a child goes with it; a listed one stays.
    for (Link& l_link : l_open)
        l_link.peer->Close();
    ASSERT_TRUE(WaitForCount("dnet_child", 0));
    EXPECT_TRUE(QTest::qWaitFor([] { return !d.GetType("user")->HasItem("kid") && !d.GetType("user")->HasItem("tom"); }, 5000));
    EXPECT_TRUE(d.GetType("user")->HasItem("lad"));
}

TEST_F(DNet, EveryHandedOverSocketIsOwnedAndWhatCameWithTheHandshakeIsReadAtOnce)
{
    Listen();
    QList<QPointer<QTcpSocket>> l_sockets;
    for (auto lp_signal : {&PeerMessenger::DNetConnectionRequested, &PeerMessenger::DNetConnectionAccepted})
        QObject::connect(mp_messenger.get(), lp_signal, [&](QString, QTcpSocket* ip_socket) { l_sockets << ip_socket; });
    // A child whose first report travels in the same segment as its handshake.
    FakePeer l_kid;
    ASSERT_TRUE(l_kid.ConnectTo(Port(false)));
    l_kid.SendRaw(FakePeer::Frame(FakePeer::InitBody("kid", "D")) + FakePeer::Frame(Depth(1)));
    ASSERT_TRUE(QTest::qWaitFor([] { return Key("dnet_child_depth") == "2"; }, 5000));
    // A parent that answers our relayed request and sends its first search right behind.
    for (const char* l_user : {"bob", "carl"})
    {
        ItemPtr l_leg = d.GetType("indirect_connect_to_peer_request")->GetItem(Value(quint32(l_user[0])));
        l_leg += User(l_user);
        l_leg += d.GetType("peer_connection_type")->GetItem("D");
    }
    FakePeer l_bob, l_carl;
    ASSERT_TRUE(l_bob.ConnectTo(Port(false)));
    l_bob.SendRaw(FakePeer::Frame(FakePeer::PierceBody('b')) + FakePeer::Frame(Search("eve", 3, "song")));
    ASSERT_TRUE(QTest::qWaitFor([] { return Key("dnet_parent_user") == "bob"; }, 5000));
    // Once a parent is held, a late candidate is closed at once.
    ASSERT_TRUE(l_carl.ConnectTo(Port(false)));
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

TEST_F(DNet, TheFirstWholeSearchAdoptsItsCandidateWhichIsDroppedAfterSixtyOneSilentSeconds)
{
    Link l_kid = Child("kid");
    m_children << &l_kid;
    FakePeer l_bob, l_carl;
    const quint16 l_ports[] = {l_bob.Listen(), l_carl.Listen()};
    WireFields l_parents = WireFields().Int32(3);
    for (const auto& [l_name, l_port] : {std::pair{"bob", l_ports[0]}, {"carl", l_ports[1]}, {"bob", l_ports[0]}})
        l_parents.Text(l_name).UInt32(0x7f000001u).Int32(l_port);
    m_fake.SendFrame(102, l_parents);
    ASSERT_TRUE(QTest::qWaitFor([] { return Count("dnet_parent_candidate") == 2; }, 5000));
    EXPECT_EQ(Logged("Already attempted parent connection to bob, skipping"), 1);
    ASSERT_TRUE(l_bob.WaitForBodies(1));
    l_bob.SendFrame(Level(3));
    l_bob.SendFrame(Leader("lea"));
    const QByteArray l_search = Search("alice", 7, "blue train");
    for (const QByteArray& l_part : {FakePeer::Frame(l_search).left(9), FakePeer::Frame(l_search).mid(9)})
        l_bob.SendRaw(l_part);
    ASSERT_TRUE(l_kid.peer->WaitForBodies(3));
    EXPECT_EQ(l_kid.peer->Bodies(), (QList<QByteArray>{Level(4), Leader("lea"), l_search}));
    EXPECT_EQ(m_answers, QStringList("alice|7|blue train|0"));
    EXPECT_TRUE(l_carl.WaitForDisconnected());
    EXPECT_EQ(Count("dnet_parent_candidate"), 0u);
    EXPECT_EQ(Key("dnet_parent_user") + Key("dnet_level") + Key("dnet_group_leader"), "bob4lea");
    m_fake.SendFrame(102, l_parents);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Logged("Received possible parents list, but already have a parent") == 1; }, 5000));
    const QDateTime l_heard = DNetManagerTesting::LastSearch(*mp_dnet);
    DNetManagerTesting::DropSilentParentAsOf(*mp_dnet, l_heard.addSecs(60));
    EXPECT_EQ(Key("dnet_parent_user"), "bob");
    DNetManagerTesting::DropSilentParentAsOf(*mp_dnet, l_heard.addSecs(61));
    EXPECT_TRUE(l_bob.WaitForDisconnected());
    EXPECT_EQ(Key("dnet_parent_user") + Key("dnet_parent_socket") + Key("dnet_level") + Key("dnet_group_leader"), "");
    EXPECT_EQ(Reports(), QStringList({Report(126, WireFields().Int32(4)), Report(127, WireFields().Text("lea")), Report(71, WireFields().Byte(0)),
                                      Report(71, WireFields().Byte(1)), Report(127, WireFields().Text("")), Report(126, WireFields().Int32(-1))}));
}

TEST_F(DNet, TheParentsMessagesAndTheServersSearchesGoDownToEveryChild)
{
    Link l_bob = Parent();
    Link l_kids[] = {Child("kid"), Child("lad")};
    const QByteArray l_other = Search("x", 1, "not for us", 50);
    // State: our own level and leader afterwards.
    const struct { QByteArray body; bool fromServer; QList<QByteArray> relayed; QString state, answer; } l_cases[] = {
        {Level(3), false, {Level(4)}, "4 ", ""},
        {Level(3), false, {}, "4 ", ""},
        {Leader("zed"), false, {Leader("zed")}, "4 zed", ""},
        {Leader("zed"), false, {}, "4 zed", ""},
        {Search("eve", 9, "song"), false, {Search("eve", 9, "song")}, "4 zed", "eve|9|song"},
        {l_other, false, {l_other}, "4 zed", ""},
        {WireFields().Byte(9).Int32(1), false, {}, "4 zed", ""},
        {Depth(1), false, {}, "4 zed", ""},
        {Search("sam", 2, "tune"), true, {Search("sam", 2, "tune")}, "4 zed", "sam|2|tune"},
        {Level(8), true, {}, "4 zed", ""},
        {Level(-1), false, {Level(-1)}, " zed", ""},
    };
    const QByteArray l_probe = Search("probe", 0, "", 51);
    // A child accepted under a parent hears of the level and leader we have.
    int l_seen = 1;
    for (Link& l_kid : l_kids)
    {
        m_children << &l_kid;
        ASSERT_TRUE(l_kid.peer->WaitForBodies(1));
        EXPECT_EQ(l_kid.peer->Bodies(), QList<QByteArray>{Leader("")});
    }
    for (const auto& l_case : l_cases)
    {
        SCOPED_TRACE(l_case.body.toHex().toStdString());
        m_answers.clear();
        const int l_before = l_kids[0].peer->Raw().size() + l_kids[1].peer->Raw().size();
        // The probe comes the same way, so it is handled after the case.
        for (const QByteArray& l_body : {l_case.body, l_probe})
            if (l_case.fromServer)
                m_fake.SendFrame(93, l_body);
            else
                l_bob.peer->SendFrame(l_body);
        const QList<QByteArray> l_expected = l_case.relayed + QList<QByteArray>{l_probe};
        for (Link& l_kid : l_kids)
        {
            ASSERT_TRUE(l_kid.peer->WaitForBodies(l_seen + l_expected.size()));
            EXPECT_EQ(l_kid.peer->Bodies().mid(l_seen), l_expected);
        }
        l_seen += l_expected.size();
        EXPECT_EQ(Key("dnet_level") + " " + Key("dnet_group_leader"), l_case.state);
        // Answered while nothing of it had been written to any child.
        EXPECT_EQ(m_answers.join(""), l_case.answer.isEmpty() ? "" : l_case.answer + "|" + QString::number(l_before));
    }
    EXPECT_EQ(Reports(), QStringList({Report(127, WireFields().Text("")), Report(71, WireFields().Byte(0)),
                                      Report(126, WireFields().Int32(4)), Report(127, WireFields().Text("zed")),
                                      Report(126, WireFields().Int32(-1))}));
}

TEST_F(DNet, TheChildDepthFollowsTheDeepestReportAndFallsBackWhenTheChildrenGo)
{
    Link l_kids[] = {Child("kid"), Child("lad")};
    // Which child reports (or, with no report, closes), and our depth afterwards.
    const std::tuple<int, QByteArray, const char*> l_steps[] = {
        {0, Depth(0), "1"}, {1, Depth(2), "3"}, {1, "", "1"}, {0, Depth(-1), ""}, {0, Depth(-1), ""}, {0, "", ""}};
    for (const auto& [l_kid, l_body, l_depth] : l_steps)
    {
        if (l_body.isEmpty())
            l_kids[l_kid].peer->Close();
        else
            l_kids[l_kid].peer->SendFrame(l_body);
        ASSERT_TRUE(QTest::qWaitFor([l_wanted = QString(l_depth)] { return Key("dnet_child_depth") == l_wanted; }, 5000));
    }
    ASSERT_TRUE(WaitForCount("dnet_child", 0));
    const QString l_yes = Report(129, WireFields().Byte(1));
    EXPECT_EQ(Reports(), QStringList({l_yes, l_yes, l_yes, Report(129, WireFields().Byte(0))}));
}

TEST_F(DNet, TheCapacityForChildrenComesFromTheOwnSpeedAndTheServersValues)
{
    // Nothing is decided before both server values and the own speed are known.
    mp_dnet->OnDNetParentMinSpeed(2);
    SetSetting("upload_speed", "2048");
    EXPECT_EQ(Logged("Determining"), 0);
    mp_dnet->OnDNetParentSpeedConnectionRatio(4);
    EXPECT_EQ(Logged("Currently have 0 child connections, max capacity 5"), 1);
    const QString l_below = "Below minimum parent speed", l_have = "Currently have %1 child connections, max capacity %2";
    const struct { int speed, minimum, ratio, children; QString logged; } l_cases[] = {
        {2048, 2, 4, 4, l_have.arg(4).arg(5)}, {2048, 2, 4, 5, l_have.arg(5).arg(5)},
        {2047, 2, 4, 0, l_below},              {2048, 2, 3, 5, l_have.arg(5).arg(6)},
        {2048, 2, 0, 0, l_have.arg(0).arg(0)}, {2147483647, 0, 1, 0, l_have.arg(0).arg(20971519)},
        {2048, 2, -5, 0, l_have.arg(0).arg(0)}, {2048, 2147483647, 1, 0, l_below}};
    for (const auto& l_case : l_cases)
    {
        d.GetType("dnet_child")->RemoveAllItems();
        for (int l_child = 0; l_child < l_case.children; ++l_child)
            d.GetType("dnet_child")->NewItem(Value(l_child + 1));
        ::SetSetting("upload_speed", Value(l_case.speed));
        DNetManagerTesting::SetServerValues(*mp_dnet, l_case.minimum, l_case.ratio);
        m_lines.clear();
        mp_dnet->DetermineCanParent();
        EXPECT_EQ(Logged(l_case.logged), 1);
    }
    const QString l_yes = Report(100, WireFields().Byte(1)), l_no = Report(100, WireFields().Byte(0));
    EXPECT_EQ(Reports(), QStringList({l_yes, l_no, l_yes, l_no, l_yes, l_no}));
}

// beta, alpha and gamma enabled, delta not.
class WishList : public PeerLinkFixture
{
protected:
    void SetUp() override
    {
        PeerLinkFixture::SetUp();
        WishListSearcher::CreateData();
        mp_searcher = std::make_unique<WishListSearcher>();
        for (const char* l_text : {"beta", "alpha", "gamma"})
            d.GetType("wish_list_item")->GetItem(l_text).NewItem("wish_list_item_enabled");
        d.GetType("wish_list_item")->GetItem("delta");
    }

    QTimer* Timer() const { return mp_searcher->findChild<QTimer*>(); }
    static QString Index() { return GetSetting("wish_list_search_index", SettingScope::Unsaved); }

    // Each tick's wish-list search, with the index it leaves behind.
    QStringList Ticks(int i_count, const char* i_index = nullptr)
    {
        if (i_index)
            ::SetSetting("wish_list_search_index", i_index, SettingScope::Unsaved);
        QSignalSpy l_searches(mp_server.get(), &Server::SearchRequested);
        QStringList l_sent;
        for (int l_tick = 0; l_tick < i_count; ++l_tick, l_searches.clear())
        {
            Tick(Timer());
            for (const QList<QVariant>& l_search : l_searches)
                l_sent << l_search.at(1).toString() + (l_search.at(2).toBool() ? " " : "! ") + Index();
        }
        return l_sent;
    }

    std::unique_ptr<WishListSearcher> mp_searcher;
};

TEST_F(WishList, EnabledEntriesGoOutInAlphabeticalOrderOnePerTick)
{
    EXPECT_EQ(Ticks(4), QStringList({"alpha 1", "beta 2", "gamma 0", "alpha 1"}));
    // Two entries were removed since the index was stored.
    EXPECT_EQ(Ticks(1, "7"), QStringList("beta 0"));
    EXPECT_EQ(Ticks(1, "-3"), QStringList("alpha 0"));
    EXPECT_EQ(Logged("Sent wish list search: alpha"), 3);
    d.GetType("wish_list_item_enabled")->GetGlobalNullItem().Remove();
    EXPECT_EQ(Ticks(2, "2"), QStringList());
    EXPECT_EQ(Index(), "2");
}

TEST_F(WishList, TheServersWaitSetsThePeriodAndAZeroWaitStopsTheSearches)
{
    ASSERT_TRUE(LogIn());
    EXPECT_FALSE(Timer()->isActive());
    m_fake.SendFrame(104, WireFields().UInt32(120));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Timer()->isActive(); }, 5000));
    const struct { uint wait; int interval; const char* logged; } l_cases[] = { // interval 0: stopped
        {120, 120000, "Wish list wait period set to 120000 milliseconds"},
        {0, 0, "Wish list wait period of 0 ignored"},
        {4294967295u, 2147483000, "Wish list wait period set to 2147483000 milliseconds"},
        {1, 1000, "Wish list wait period set to 1000 milliseconds"}};
    for (const auto& l_case : l_cases)
    {
        m_lines.clear();
        mp_searcher->OnWishListWait(l_case.wait);
        EXPECT_EQ(GetSetting("wish_list_wait", SettingScope::Unsaved), QString::number(l_case.wait));
        EXPECT_EQ(Timer()->isActive() ? Timer()->interval() : 0, l_case.interval);
        EXPECT_EQ(Logged(l_case.logged), 1);
    }
}
