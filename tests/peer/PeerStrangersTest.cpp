#include "PeerLinkFixture.h"

using PeerStrangers = PeerLinkFixture;

namespace
{
std::size_t Users() { return d.GetType("user")->ItemCount(); }
bool Known(const QString& i_user) { return bool(d.GetType("user")->HasItem(i_user)); }
} // namespace

TEST_F(PeerStrangers, AThousandInitsUnderNewNamesLeaveNoUserOnceTheirConnectionsEnd)
{
    Listen();
    User("lena").NewItem("in_user_list");
    const std::size_t l_known = Users();
    const QString l_padding(4000, 'x');
    // In batches, each open all at once: a user stands for each open connection, and only then.
    for (int l_batch = 0; l_batch < 40; ++l_batch)
    {
        std::vector<std::unique_ptr<FakePeer>> l_peers;
        for (int l_peer = 0; l_peer < 25; ++l_peer)
        {
            l_peers.push_back(std::make_unique<FakePeer>());
            ASSERT_TRUE(l_peers.back()->ConnectTo(Port(false)));
            l_peers.back()->SendFrame(FakePeer::InitBody(QString("%1 %2").arg(l_batch * 25 + l_peer).arg(l_padding), "P"));
        }
        // A listed user's own connection, in the last batch.
        if (l_batch == 39)
        {
            l_peers.push_back(std::make_unique<FakePeer>());
            ASSERT_TRUE(l_peers.back()->ConnectTo(Port(false)));
            l_peers.back()->SendFrame(FakePeer::InitBody("lena", "P"));
        }
        ASSERT_TRUE(WaitForCount("peer_socket", l_peers.size()));
        EXPECT_EQ(Users(), l_known + 25);
        l_peers.clear();
        ASSERT_TRUE(WaitForCount("peer_socket", 0));
        ASSERT_TRUE(QTest::qWaitFor([&] { return Users() == l_known; }, 5000)) << Users() - l_known << " left";
    }
    EXPECT_EQ(Logged("Accepted messaging connection to user"), 1001);
    EXPECT_TRUE(Known("lena"));
}

TEST_F(PeerStrangers, AStrangersUserStaysWhileAnythingButItsConnectionsRefersToIt)
{
    // A kind of item the messenger knows nothing of, as a view's row of a user would be.
    d.NewType("result_row", Intermediate, true, true)->RelateToType(d.GetType("user"), Many, One, false);
    User("lena").NewItem("in_user_list");
    // What comes to refer to the user while connected; whether the user outlives the connection.
    const struct { const char* user; const char* referrer; bool kept; } l_cases[] = {
        {"lena", nullptr, true}, {"sam", "result_row", true}, {"tia", "is_ignored", true}, {"eve", nullptr, false}};
    for (const auto& l_case : l_cases)
    {
        SCOPED_TRACE(l_case.user);
        std::unique_ptr<FakePeer> lp_peer = Accepted(false, l_case.user);
        if (l_case.referrer)
            User(l_case.user).NewItem(l_case.referrer);
        lp_peer->Close();
        ASSERT_TRUE(WaitForCount("peer_socket", 0));
        // Told apart by a connection of someone else's that ends after it.
        std::unique_ptr<FakePeer> lp_marker = Accepted(false, "marker");
        lp_marker->Close();
        ASSERT_TRUE(QTest::qWaitFor([] { return !Known("marker"); }, 5000));
        EXPECT_EQ(Known(l_case.user), l_case.kept);
    }
    // Once that goes too, the next half-minute lets the user go; the listed user stays.
    d.GetType("result_row")->RemoveAllItems();
    ExpireAsOf(QDateTime::currentDateTime());
    EXPECT_FALSE(Known("sam"));
    EXPECT_TRUE(Known("tia") && Known("lena"));

    // A user made only to write to stays while the message waits and its attempt runs, and
    // the address the server gave does not hold it.
    ASSERT_TRUE(LogIn());
    MemStream l_message = Message(4);
    mp_messenger->SendMessage("nora", l_message);
    ASSERT_EQ(Sent(3, 1).size(), 1);
    m_fake.SendFrame(3, WireFields().Text("nora").UInt32(0x7f000001u).Int32(m_closed.Port()).Int32(0).Raw(QByteArray(2, '\0')));
    ASSERT_TRUE(QTest::qWaitFor([this] { return Logged("Direct connection of type P to user nora failed") == 1; }, 5000));
    ExpireAsOf(QDateTime::currentDateTime().addSecs(30));
    EXPECT_TRUE(Known("nora"));
    ExpireAsOf(QDateTime::currentDateTime().addSecs(301));
    EXPECT_EQ(Count("unsent_message") + Count("connect_to_peer_request"), 0u);
    EXPECT_FALSE(Known("nora"));
}
