#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <functional>

#include "PeerLinkFixture.h"
#include "peer/Obfuscation.h"

using PeerFraming = PeerLinkFixture;

namespace
{
// The messenger hands on frames in slices of a fixed number while it lives.
struct FrameSlices
{
    explicit FrameSlices(int i_frames) { PeerMessenger::SetFramesPerSlice(i_frames); }
    ~FrameSlices() { PeerMessenger::SetFramesPerSlice(0); }
    FrameSlices(const FrameSlices&) = delete;
    FrameSlices& operator=(const FrameSlices&) = delete;
};

// The uploader's answer with our place in line for one file.
QByteArray PlaceAnswer(int i_place)
{
    return WireFields().UInt32(44).Text(QString("Music\\f%1.mp3").arg(i_place)).Int32(i_place);
}

// The answers for the places from i_first to i_last, framed one after the other.
QByteArray PlaceAnswers(int i_first, int i_last)
{
    QByteArray l_burst;
    for (int l_place = i_first; l_place <= i_last; ++l_place)
        l_burst += FakePeer::Frame(PlaceAnswer(l_place));
    return l_burst;
}

// Turns the event loop with no pause between turns until the condition holds, or for at most
// i_ms milliseconds: whether it came to hold.
bool TurnUntil(const std::function<bool()>& i_done, int i_ms)
{
    QEventLoop l_loop;
    QTimer l_check;
    l_check.setInterval(0);
    QObject::connect(&l_check, &QTimer::timeout, [&] {
        if (i_done())
            l_loop.quit();
    });
    QTimer::singleShot(i_ms, &l_loop, &QEventLoop::quit);
    l_check.start();
    l_loop.exec();
    return i_done();
}

// The signals the user's answers for those places give, in their order.
QStringList PlaceSignals(const QString& i_user, int i_first, int i_last)
{
    QStringList l_lines;
    for (int l_place = i_first; l_place <= i_last; ++l_place)
        l_lines << QString("DownloadPlaceInLine|%1|Music\\f%2.mp3|%2").arg(i_user).arg(l_place);
    return l_lines;
}
} // namespace

TEST(PeerObfuscationCodec, MatchesTheFixedVectorAndTheByteWiseRule)
{
    // Whole, or length and body apart; past 128 bytes whole blocks take another path.
    for (quint32 l_key : {0x80000001u, 0xdeadbeefu, 0xffffffffu})
        for (int l_length = 0; l_length < 300; ++l_length)
        {
            QByteArray l_run(l_length + 4, '\0');
            for (int l_n = 0; l_n < l_run.size(); ++l_n)
                l_run[l_n] = static_cast<char>(l_n * 37 + l_length);
            const QByteArray l_expected = FakePeer::Xor(l_run, l_key);
            QByteArray l_whole = l_run;
            Obfuscation::Apply(l_whole.data(), std::size_t(l_whole.size()), l_key);
            const quint32 l_bodyKey = Obfuscation::Apply(l_run.data(), 4, l_key);
            Obfuscation::Apply(l_run.data() + 4, std::size_t(l_length), l_bodyKey);
            ASSERT_EQ(l_whole, l_expected) << l_length;
            ASSERT_EQ(l_run, l_expected) << l_length;
        }
}

TEST_F(PeerFraming, FramesAreReassembledWhateverTheirCut)
{
    for (bool l_obfuscated : {false, true})
    {
        std::unique_ptr<FakePeer> lp_peer = Accepted(l_obfuscated, "bob");
        const int l_before = Logged("message from user bob");
        const auto l_received = [&] { return Logged("message from user bob") - l_before; };
        // The fixed vector as it comes over the wire, then two frames in one segment.
        lp_peer->SendRaw(l_obfuscated ? QByteArray::fromHex("010000800700000009000000") : FakePeer::Frame(Word(15)));
        lp_peer->SendRaw(FakePeer::Frame(Word(52), l_obfuscated, 1) + FakePeer::Frame(Word(2), l_obfuscated, 2));
        ASSERT_TRUE(QTest::qWaitFor([&] { return l_received() == 3; }, 5000));
        EXPECT_EQ(Logged("Received PM_USER_INFO_REQUEST message from user bob"), l_obfuscated + 1);

        // Cut in three, the first a header byte short: each piece read in, nothing handled before the last.
        const QByteArray l_frame = FakePeer::Frame(Word(60) + Word(7), l_obfuscated, 3);
        const int l_header = l_obfuscated ? 8 : 4;
        QTcpSocket* lp_socket = OnlySocket("peer_socket");
        lp_peer->SendRaw(l_frame.left(l_header - 1));
        ASSERT_TRUE(QTest::qWaitFor([&] { return lp_socket->bytesAvailable() == l_header - 1; }, 5000));
        lp_peer->SendRaw(l_frame.mid(l_header - 1, 4));
        ASSERT_TRUE(QTest::qWaitFor([&] { return lp_socket->bytesAvailable() == 0; }, 5000));
        EXPECT_EQ(l_received(), 3);
        lp_peer->SendRaw(l_frame.mid(l_header + 3));
        ASSERT_TRUE(QTest::qWaitFor([&] { return l_received() == 4; }, 5000));
        lp_peer->Close();
        ASSERT_TRUE(WaitForCount("peer_socket", 0));
    }
    EXPECT_EQ(Logged("Received 60 (unknown) message"), 2);
}

TEST_F(PeerFraming, BodiesUpToTheLimitAreTakenAndGrowOnlyWithWhatArrives)
{
    std::unique_ptr<FakePeer> lp_peer = Accepted(false, "bob");
    QTcpSocket* lp_socket = OnlySocket("peer_socket");
    QDateTime* lp_activity = ItemPtr(g("peer_socket"))["last_activity_time"].AsPointer<QDateTime>();
    const auto l_idle = [&] { return lp_activity->secsTo(QDateTime::currentDateTime()); };
    *lp_activity = QDateTime::currentDateTime().addSecs(-100);

    // An announced length alone costs nothing; a long body keeps its connection alive.
    const QByteArray l_body = Word(52) + QByteArray(PeerMessenger::MaxFrameLength - 4, 'x');
    lp_peer->SendRaw(Word(PeerMessenger::MaxFrameLength) + l_body.left(1000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return ReceiveRecord(lp_socket)->buffer.GetWriteIndex() == 1000; }, 5000));
    EXPECT_LT(ReceiveRecord(lp_socket)->buffer.GetBufferSize(), 4096);
    EXPECT_GE(l_idle(), 100);
    lp_peer->SendRaw(l_body.mid(1000, 200000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return l_idle() < 100; }, 5000));
    lp_peer->SendRaw(l_body.mid(201000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Logged("Received PM_NOTHING") == 1; }, 20000));

    // One byte more ends the connection.
    lp_peer->SendRaw(Word(PeerMessenger::MaxFrameLength + 1) + QByteArray(100, 'x'));
    EXPECT_TRUE(lp_peer->WaitForDisconnected());
    EXPECT_EQ(Count("peer_socket"), 0u);
    EXPECT_EQ(ReceiveRecord(lp_socket), nullptr);
}

TEST_F(PeerFraming, AFileTokenInTheFirstFramesSegmentIsReadRawAndHandedOn)
{
    QSignalSpy l_requested(mp_messenger.get(), &PeerMessenger::FileConnectionRequested);
    for (bool l_obfuscated : {false, true})
    {
        std::unique_ptr<FakePeer> lp_peer = Accepted(l_obfuscated);
        QPointer<QTcpSocket> lp_socket = OnlySocket("uninitialized_socket");
        lp_peer->SendRaw(FakePeer::Frame(FakePeer::InitBody("bob", "F"), l_obfuscated) + Word(0x01020304u) + "data");
        ASSERT_TRUE(l_requested.wait(5000));
        EXPECT_EQ(l_requested.takeFirst(),
                  QVariantList({"bob", QVariant::fromValue(lp_socket.data()), 0x01020304u}));
        // What follows the token, and the socket's end, are the new owner's.
        EXPECT_EQ(ReceiveRecord(lp_socket), nullptr);
        ASSERT_TRUE(QTest::qWaitFor([&] { return lp_socket->bytesAvailable() == 4; }, 5000));
        lp_peer->Close();
        EXPECT_TRUE(LeftToItsOwner(lp_socket));
    }
}

TEST_F(PeerFraming, ReadingStopsWhenAHandlerHasTheSocketDisposedOf)
{
    std::unique_ptr<FakePeer> lp_peer = Accepted(false, "bob");
    QTcpSocket* lp_socket = OnlySocket("peer_socket");
    // A receiver that, within the first of two messages, runs the event loop and disposes of it.
    QObject::connect(mp_messenger.get(), &PeerMessenger::UserInfoRequested, [&] {
        QCoreApplication::processEvents();
        mp_messenger->DisposeOfSocket(lp_socket);
    });
    lp_peer->SendRaw(FakePeer::Frame(Word(15)) + FakePeer::Frame(Word(15)));
    // The second would be read, if at all, before the event loop could report the close.
    EXPECT_TRUE(lp_peer->WaitForDisconnected());
    EXPECT_EQ(m_signals, QStringList{"UserInfoRequested|bob"});
    EXPECT_EQ(ReceiveRecord(lp_socket), nullptr);
}

TEST_F(PeerFraming, APeerThatNeverReadsIsClosedOnceItsUnsentBytesPassTheCap)
{
    PeerMessengerTesting::SetCeilings(*mp_messenger, 2 << 20, PeerMessenger::MaxHeldFrameBytes);
    ConnectBob();
    QPointer<QTcpSocket> lp_socket = OnlySocket("peer_socket");
    mp_bob->StopReading();
    MemStream l_answer = Message(5);
    l_answer.WriteBuffer(QByteArray(512 * 1024, 'x').constData(), 512 * 1024);
    // The system's buffers take the first answers; the rest pile up until the cap is passed.
    int l_sent = 0;
    for (; Count("peer_socket") == 1 && l_sent < 200; ++l_sent)
    {
        mp_messenger->SendMessage("bob", l_answer);
        QCoreApplication::processEvents();
    }
    EXPECT_GT(l_sent, 4);
    EXPECT_EQ(Logged("Peer connection to user bob holds more than 2097152 unsent bytes, closing"), 1);
    EXPECT_EQ(Count("peer_socket"), 0u);
    // Deleted, and with it every byte it held.
    EXPECT_TRUE(QTest::qWaitFor([&] { return lp_socket.isNull(); }, 5000));
}

// Past the ceiling the connection whose frame began first goes, also when that frame has since
// come to wait for a slice behind another connection's: waiting does not make what it holds new.
TEST_F(PeerFraming, IncompleteFramesShareOneCeilingAndTheOldestGoesPastIt)
{
    // Two frames of 300 KiB so far fit, each in a buffer of 512 KiB; a third does not.
    PeerMessengerTesting::SetCeilings(*mp_messenger, PeerMessenger::MaxUnsentBytes, 1400 * 1024);
    const FrameSlices l_slices(1);
    const QByteArray l_start = Word(PeerMessenger::MaxFrameLength) + Word(52) + QByteArray(300 * 1024 - 4, 'x');
    const QByteArray l_more(1000, 'x');
    for (bool l_bobWaits : {false, true})
    {
        SCOPED_TRACE(l_bobWaits ? "bob's frame waits before dora's starts" : "bob's frame is read at once");
        m_lines.clear();
        m_signals.clear();
        std::vector<std::unique_ptr<FakePeer>> l_peers;
        std::vector<QTcpSocket*> l_sockets;
        const auto l_readIn = [&](std::size_t i_peer, int i_bytes) {
            return TurnUntil([&] {
                const auto* lp_record = ReceiveRecord(l_sockets[i_peer]);
                return !lp_record || lp_record->buffer.GetWriteIndex() == i_bytes;
            }, 5000);
        };
        for (const char* l_user : {"bob", "carl", "dora"})
        {
            l_peers.push_back(Accepted(false, l_user));
            l_sockets.push_back(ItemPtr(User(l_user).GetItems("peer_socket")).AsPointer<QTcpSocket>());
            if (l_bobWaits && l_sockets.size() == 3)
            {
                // Dora's answers wait for their slices, one a turn; bob's next bytes come behind them.
                l_peers[2]->SendRaw(PlaceAnswers(1, 300));
                ASSERT_TRUE(TurnUntil([&] {
                    const auto* lp_record = ReceiveRecord(l_sockets[2]);
                    return lp_record && lp_record->waiting;
                }, 5000));
                l_peers[0]->SendRaw(l_more);
                ASSERT_TRUE(l_readIn(0, l_start.size() - 4 + l_more.size()));
                // Dora had answers left when they were read in, so they came while hers waited.
                ASSERT_LT(m_signals.size(), 300);
            }
            l_peers.back()->SendRaw(l_start);
            ASSERT_TRUE(l_readIn(l_sockets.size() - 1, l_start.size() - 4));
        }
        EXPECT_TRUE(l_peers[0]->WaitForDisconnected());
        EXPECT_EQ(Logged("Incomplete peer frames hold more than 1433600 bytes, closing the connection with the oldest"), 1);
        EXPECT_TRUE(User("bob").GetItems("peer_socket").Empty());
        EXPECT_EQ(Count("peer_socket"), 2u);
        l_peers.clear();
        ASSERT_TRUE(WaitForCount("peer_socket", 0));
        EXPECT_EQ(mp_messenger->HeldFrames().Total(), 0);
    }
}

TEST_F(PeerFraming, UnsentBytesOfAllConnectionsShareOneCeilingAndTheConnectionWithTheMostGoes)
{
    // Each peer stays far below its own cap; together they pass the shared ceiling.
    PeerMessengerTesting::SetCeilings(*mp_messenger, PeerMessenger::MaxUnsentBytes, PeerMessenger::MaxHeldFrameBytes, 3 << 20);
    std::map<QString, std::unique_ptr<FakePeer>> l_peers;
    std::map<QString, QPointer<QTcpSocket>> l_sockets;
    for (const char* l_user : {"bob", "carl", "dora"})
    {
        l_peers[l_user] = Accepted(false, l_user);
        l_sockets[l_user] = ItemPtr(User(l_user).GetItems("peer_socket")).AsPointer<QTcpSocket>();
        l_sockets[l_user]->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, 4096);
        l_peers[l_user]->StopReading();
    }
    MemStream l_answer = Message(5);
    l_answer.WriteBuffer(QByteArray(256 * 1024, 'x').constData(), 256 * 1024);
    // bob asks twice as often as the others.
    int l_sent = 0;
    while (Count("peer_socket") == 3 && l_sent < 400)
    {
        for (const char* l_user : {"bob", "carl", "bob", "dora"})
            if (Count("peer_socket") == 3)
                mp_messenger->SendMessage(l_user, l_answer), ++l_sent;
        QCoreApplication::processEvents();
    }
    EXPECT_GT(l_sent, 12);
    EXPECT_EQ(Logged("Peer connections leave more than 3145728 bytes unsent, closing the connection with the most"), 1);
    EXPECT_EQ(Logged("unsent bytes, closing"), 0);
    EXPECT_TRUE(User("bob").GetItems("peer_socket").Empty());
    EXPECT_EQ(Count("peer_socket"), 2u);
    // Deleted, and with it every byte it held.
    EXPECT_TRUE(QTest::qWaitFor([&] { return l_sockets["bob"].isNull(); }, 5000));
    // What the others hold counts until their connections end.
    EXPECT_GT(mp_messenger->UnsentBytes().Total(), 0);
    l_peers.clear();
    ASSERT_TRUE(WaitForCount("peer_socket", 0));
    EXPECT_EQ(mp_messenger->UnsentBytes().Total(), 0);
}

// Thousands of frames at once, on one connection or many, are handed on a slice at a time over
// all of them together, each connection's in its order, with the event loop turning in between.
TEST_F(PeerFraming, FramesOfAllConnectionsAreHandedOnASliceAtATimeEachConnectionInItsOrder)
{
    const FrameSlices l_slices(3);
    const QStringList l_users{"bob", "carl", "dora"};
    std::vector<std::unique_ptr<FakePeer>> l_peers;
    for (const QString& l_user : l_users)
        l_peers.push_back(Accepted(false, l_user));
    m_signals.clear();
    std::vector<int> l_turns;
    QTimer l_turn;
    l_turn.setInterval(0);
    QObject::connect(&l_turn, &QTimer::timeout, [&] { l_turns.push_back(m_signals.size()); });
    l_turn.start();
    for (auto& lp_peer : l_peers)
        lp_peer->SendRaw(PlaceAnswers(1, 8));
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_signals.size() == 24; }, 5000));
    l_turn.stop();

    for (const QString& l_user : l_users)
        EXPECT_EQ(m_signals.filter("|" + l_user + "|"), PlaceSignals(l_user, 1, 8));
    int l_before = 0;
    std::vector<int> l_perTurn;
    for (int l_handed : l_turns)
    {
        if (l_handed != l_before)
            l_perTurn.push_back(l_handed - l_before);
        l_before = l_handed;
    }
    EXPECT_GE(l_perTurn.size(), 8u);
    EXPECT_LE(*std::max_element(l_perTurn.begin(), l_perTurn.end()), 3);
    EXPECT_EQ(Count("peer_socket"), 3u);
    EXPECT_EQ(Logged("Received PM_UPLOAD_PLACE_IN_LINE message"), 24);
}

// A connection that closes behind its frames has every one of them handed on first, in order,
// however many slices they take.
TEST_F(PeerFraming, FramesThatCameBeforeTheConnectionClosedAreAllHandedOnFirst)
{
    const FrameSlices l_slices(2);
    std::unique_ptr<FakePeer> lp_peer = Accepted(false, "bob");
    m_signals.clear();
    lp_peer->SendRaw(PlaceAnswers(1, 11));
    lp_peer->Close();
    ASSERT_TRUE(WaitForCount("peer_socket", 0));
    EXPECT_EQ(m_signals, PlaceSignals("bob", 1, 11));
}

// Frames that wait for a slice count toward the ceiling of what incomplete frames may hold: past
// it the connection goes, as one holding a frame that large would.
TEST_F(PeerFraming, FramesThatWaitForASliceCountTowardTheFramesCeiling)
{
    const QByteArray l_burst = PlaceAnswers(1, 100);
    const struct
    {
        qint64 ceiling;
        bool keeps;
    } l_cases[] = {{qint64(l_burst.size()) * 2, true}, {qint64(l_burst.size()) / 2, false}};
    const FrameSlices l_slices(1);
    for (const auto& l_case : l_cases)
    {
        SCOPED_TRACE(l_case.ceiling);
        PeerMessengerTesting::SetCeilings(*mp_messenger, PeerMessenger::MaxUnsentBytes, l_case.ceiling);
        std::unique_ptr<FakePeer> lp_peer = Accepted(false, "bob");
        m_signals.clear();
        m_lines.clear();
        lp_peer->SendRaw(l_burst);
        if (l_case.keeps)
        {
            ASSERT_TRUE(QTest::qWaitFor([&] { return m_signals.size() == 100; }, 5000));
            EXPECT_EQ(Count("peer_socket"), 1u);
            lp_peer->Close();
            ASSERT_TRUE(WaitForCount("peer_socket", 0));
            continue;
        }
        EXPECT_TRUE(lp_peer->WaitForDisconnected());
        EXPECT_EQ(Logged(QString("Incomplete peer frames hold more than %1 bytes").arg(l_case.ceiling)), 1);
        EXPECT_LT(m_signals.size(), 100);
        EXPECT_EQ(Count("peer_socket"), 0u);
    }
}

// Connections take turns: one whose slice ran out goes behind those already waiting, so floods
// alternate a slice at a time, a peer with hundreds of frames read in holds another's message back
// by at most a slice for each connection ahead of it, not by all it has read in, and each
// connection's frames keep their order.
TEST_F(PeerFraming, ConnectionsTakeTurnsSoAFloodHoldsAnothersMessageBackOneSlicePerConnectionAhead)
{
    const int l_burst = 600;
    const struct
    {
        QStringList flooders;
        int slice;
    } l_cases[] = {{{"bob"}, 3}, {{"bob", "dora"}, 3}, {{"bob", "dora"}, 16}};
    const auto l_socketOf = [](const QString& i_user) { return ItemPtr(User(i_user).GetItems("peer_socket")).AsPointer<QTcpSocket>(); };
    for (const auto& l_case : l_cases)
    {
        SCOPED_TRACE(QString("%1 in slices of %2").arg(l_case.flooders.join(", ")).arg(l_case.slice).toStdString());
        const FrameSlices l_slices(l_case.slice);
        std::vector<std::unique_ptr<FakePeer>> l_flooders;
        std::vector<QTcpSocket*> l_flooding;
        for (const QString& l_user : l_case.flooders)
        {
            l_flooders.push_back(Accepted(false, l_user));
            l_flooding.push_back(l_socketOf(l_user));
        }
        std::unique_ptr<FakePeer> lp_carl = Accepted(false, "carl");
        m_signals.clear();

        // Carl's one message goes out once every flooder's burst is in and waits; where it came in
        // among the frames handed on is marked as it comes.
        QObject l_watch;
        int l_arrival = -1;
        QObject::connect(l_socketOf("carl"), &QTcpSocket::readyRead, &l_watch, [&] {
            if (l_arrival < 0)
                l_arrival = m_signals.size();
        });
        const auto l_waits = [&](QTcpSocket* ip_socket) {
            const PeerMessenger::SocketBufferInfo* lp_record = ReceiveRecord(ip_socket);
            return lp_record && lp_record->waiting;
        };
        // The longest run of one user's frames handed on while another flooder waited. A flooder's
        // bytes come in pieces and it may run dry between them, but whoever waits has its turn
        // before that flooder's next slice.
        QString l_runOf;
        int l_run = 0;
        int l_longestRun = 0;
        QObject::connect(mp_messenger.get(), &PeerMessenger::DownloadPlaceInLine, &l_watch, [&](const QString& i_user) {
            bool l_othersWait = false;
            for (int l_flooder = 0; l_flooder < l_case.flooders.size(); ++l_flooder)
                l_othersWait |= l_case.flooders[l_flooder] != i_user && l_waits(l_flooding[std::size_t(l_flooder)]);
            l_run = !l_othersWait ? 0 : i_user == l_runOf ? l_run + 1 : 1;
            l_runOf = i_user;
            l_longestRun = std::max(l_longestRun, l_run);
        });
        QTimer l_turn;
        l_turn.setInterval(0);
        QObject::connect(&l_turn, &QTimer::timeout, [&] {
            if (std::all_of(l_flooding.begin(), l_flooding.end(), l_waits))
            {
                l_turn.stop();
                lp_carl->SendRaw(FakePeer::Frame(PlaceAnswer(0)));
            }
        });
        for (auto& lp_flooder : l_flooders)
            lp_flooder->SendRaw(PlaceAnswers(1, l_burst));
        l_turn.start();
        const int l_total = l_burst * l_case.flooders.size() + 1;
        ASSERT_TRUE(TurnUntil([&] { return m_signals.size() == l_total; }, 30000));

        ASSERT_GE(l_arrival, 0);
        // It came while the flooders still held nearly all they had sent.
        EXPECT_LT(l_arrival, l_total / 4);
        EXPECT_LE(m_signals.indexOf(PlaceSignals("carl", 0, 0).first()) - l_arrival, l_case.slice * l_case.flooders.size());
        for (const QString& l_user : l_case.flooders)
            EXPECT_EQ(m_signals.filter("|" + l_user + "|"), PlaceSignals(l_user, 1, l_burst));
        EXPECT_LE(l_longestRun, l_case.slice);
        EXPECT_EQ(Count("peer_socket"), l_flooders.size() + 1);
        l_flooders.clear();
        lp_carl.reset();
        ASSERT_TRUE(WaitForCount("peer_socket", 0));
    }
}

// While its frames wait for the next slice a connection reads nothing more from the system:
// what the peer sends meanwhile stays there until the frames already read are used up, so what
// the connection holds never grows past what one read brought in, and all it holds counts toward
// the frames' ceiling.
TEST_F(PeerFraming, AWaitingConnectionReadsNoMoreFromTheSystemAndAllItHoldsCountsTowardTheCeiling)
{
    const FrameSlices l_slices(1);
    std::unique_ptr<FakePeer> lp_peer = Accepted(false, "bob");
    QTcpSocket* lp_socket = OnlySocket("peer_socket");
    m_signals.clear();
    const QByteArray l_second = PlaceAnswers(301, 500);
    // Sampled at each turn of the event loop while the connection waits: what it held when the
    // second burst went out, the most it held, and the most it held beyond what the ceiling counts.
    qint64 l_heldAtSecond = -1;
    qint64 l_mostHeld = 0;
    qint64 l_mostUncounted = 0;
    QTimer l_turn;
    l_turn.setInterval(0);
    QObject::connect(&l_turn, &QTimer::timeout, [&] {
        const PeerMessenger::SocketBufferInfo* lp_record = ReceiveRecord(lp_socket);
        if (!lp_record || !lp_record->waiting)
            return;
        const qint64 l_held = lp_record->buffer.GetBufferSize() + lp_socket->bytesAvailable();
        if (l_heldAtSecond < 0)
        {
            l_heldAtSecond = l_held;
            lp_peer->SendRaw(l_second);
        }
        l_mostHeld = std::max(l_mostHeld, l_held);
        l_mostUncounted = std::max(l_mostUncounted, l_held - mp_messenger->HeldFrames().Held(lp_socket));
    });
    lp_peer->SendRaw(PlaceAnswers(1, 300));
    l_turn.start();
    ASSERT_TRUE(TurnUntil([&] { return m_signals.size() == 500; }, 30000));
    l_turn.stop();

    // The second burst was sent while most of the first still waited, and is smaller than it.
    EXPECT_GT(l_heldAtSecond, l_second.size());
    EXPECT_EQ(l_mostHeld, l_heldAtSecond);
    EXPECT_EQ(l_mostUncounted, 0);
    EXPECT_EQ(m_signals, PlaceSignals("bob", 1, 500));
    EXPECT_EQ(Count("peer_socket"), 1u);
}
