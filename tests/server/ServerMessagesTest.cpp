#include "ServerTesting.h"

namespace
{
using ServerMessagesTest = ServerMessageFixture;

QString Address(ItemPtr i_user)
{
    return i_user["user_address"].AsString() + ":" + i_user["user_port"].AsString() + "/" +
           i_user["user_obfuscated_port"].AsString();
}

TEST_F(ServerMessagesTest, UserMessagesSetAddressesFlagsAndPrivilegesPrivateMessagesAreAcknowledged)
{
    mp_server->GetUserAddress("ben");
    const QByteArray l_ben = WireFields().Text("ben").UInt32(0xC0A80001).Int32(2234);
    Deliver(3, WireFields().Raw(l_ben).Int32(1).Raw(QByteArray("\x40\x9c\x01\x00", 4)));
    EXPECT_EQ(Address(User("ben")), "3232235521:2234/40000");
    EXPECT_FALSE(User("ben").IsConnected("user_address_request"));
    Deliver(3, WireFields().Raw(l_ben).Int32(0).Raw(QByteArray("\x40\x9c", 2)));
    EXPECT_EQ(Address(User("ben")), "3232235521:2234/0");

    const QByteArray l_cleo = WireFields().Text("cleo").Text("F").UInt32(0x0100007F).Int32(5000);
    Deliver(18, WireFields().Raw(l_cleo).UInt32(77).Byte(0).Int32(1).Int32(70000));
    EXPECT_EQ(Address(User("cleo")), "16777343:5000/70000");
    EXPECT_FALSE(User("cleo").IsConnected("is_privileged"));
    Deliver(18, WireFields().Raw(l_cleo).UInt32(78).Byte(1).Int32(0).Int32(70000));
    EXPECT_EQ(Address(User("cleo")), "16777343:5000/0");
    EXPECT_TRUE(User("cleo").IsConnected("is_privileged"));
    const ItemSet l_requests = d.GetType("peer_connection_request")->GetItems();
    EXPECT_EQ(Names(l_requests.GetItems("peer_connection_request_id")), (QStringList{"77", "78"})) << "one each time";
    EXPECT_EQ(Names(l_requests.GetItems("user")), QStringList{"cleo"});

    User("ben").NewItem("is_online");
    QStringList l_seen;
    QObject::connect(mp_server.get(), &Server::AddUserResponse, [&](QString i_user, bool i_added) {
        const ItemPtr l_user = d.GetType("user")->HasItem(i_user);
        const bool l_online = l_user && l_user.IsConnected("is_online");
        l_seen << QString("%1 %2 %3").arg(i_user).arg(i_added).arg(l_online);
    });
    const QByteArray l_stats(20, '\0');
    Deliver(5, WireFields().Text("ghost").Byte(0).Int32(2));
    Deliver(5, WireFields().Text("ben").Byte(1).Int32(0).Raw(l_stats).Text("NL"));
    EXPECT_FALSE(User("ben")["country_code"]) << "an offline answer has no country";
    Deliver(5, WireFields().Text("ben").Byte(1).Int32(2).Raw(l_stats).Text("NL"));
    EXPECT_EQ(l_seen, (QStringList{"ghost 0 0", "ben 1 1", "ben 1 0"})) << "before any change";
    EXPECT_FALSE(d.GetType("user")->HasItem("ghost"));
    EXPECT_EQ(User("ben")["country_code"].AsString(), "NL");

    // Status, privileged -> online, away, privileged; the privileged flag is never cleared.
    const int l_steps[][5] = {{1, 0, 1, 1, 0}, {2, 1, 1, 0, 1}, {0, 0, 0, 0, 1}};
    for (const auto& l_step : l_steps)
    {
        Deliver(7, WireFields().Text("ben").Int32(l_step[0]).Byte(quint8(l_step[1])));
        EXPECT_EQ(User("ben").IsConnected("is_online"), l_step[2] != 0) << l_step[0];
        EXPECT_EQ(User("ben").IsConnected("is_away"), l_step[3] != 0) << l_step[0];
        EXPECT_EQ(User("ben").IsConnected("is_privileged"), l_step[4] != 0) << l_step[0];
    }
    Deliver(69, WireFields().Int32(2).Text("zed").Text("ada"));
    EXPECT_EQ(Names(d.GetType("user")->GetItems().Connected("is_privileged")), (QStringList{"ada", "ben", "cleo", "zed"}));

    User("troll").NewItem("is_ignored");
    qRegisterMetaType<time_t>("time_t");
    QSignalSpy l_chats(mp_server.get(), &Server::PrivateChat);
    QSignalSpy l_privileges(mp_server.get(), &Server::ReceivedOwnPrivilegesStatus);
    const auto l_message = [](qint32 i_id, const char* i_user, const char* i_text) {
        return WireFields().Int32(i_id).Int32(1700000000).Text(i_user).Text(i_text).Byte(1);
    };
    Deliver(22, l_message(11, "ben", "hello"));
    Deliver(22, l_message(12, "troll", "my privileges ran out"));
    Deliver(22, l_message(13, "ben", "Privileges?"));
    Deliver(92, WireFields().Int32(86400));
    EXPECT_EQ(Emitted(l_chats), (QStringList{"ben|hello|1700000000|true", "ben|Privileges?|1700000000|true"}));
    EXPECT_EQ(Emitted(l_privileges), QStringList{"86400"});
    EXPECT_EQ(Setting("privileges_time_left"), "86400");
    EXPECT_EQ(Sent(23), (QList<QByteArray>{WireFields().Int32(11), WireFields().Int32(12), WireFields().Int32(13)}));
    EXPECT_EQ(Sent(92).size(), 1) << "only the lower-case word asks for the privilege time";
}

TEST_F(ServerMessagesTest, NoticesAndRelatedTermsAreReadAsFarAsTheBodyGoes)
{
    QStringList l_seen;
    const auto l_record = [&](const char* i_name) {
        return [&l_seen, i_name](auto... i_args) {
            QStringList l_args{i_name};
            (l_args.append(QVariant::fromValue(i_args).toString()), ...);
            l_seen.append(l_args.join(' '));
        };
    };
    Server* lp_server = mp_server.get();
    QObject::connect(lp_server, &Server::DirectFileSearch, l_record("search"));
    QObject::connect(lp_server, &Server::AdminMessage, l_record("admin"));
    QObject::connect(lp_server, &Server::DNetParentMinSpeed, l_record("speed"));
    QObject::connect(lp_server, &Server::WishListWait, l_record("wait"));
    QObject::connect(lp_server, &Server::DNetReset, l_record("reset"));
    QObject::connect(lp_server, &Server::IndirectPeerConnectionFailure, l_record("failed"));
    QObject::connect(lp_server, &Server::DNetPossibleParents, [&](std::list<std::pair<QString, TCPAddress>>& i_list) {
        QStringList l_entries{"parents"};
        for (const auto& l_entry : i_list)
            l_entries << QString("%1@%2:%3").arg(l_entry.first).arg(l_entry.second.address).arg(l_entry.second.port);
        l_seen << l_entries.join(' ');
    });
    Deliver(26, WireFields().Text("ben").UInt32(4000000000u).Text("blue train"));
    Deliver(66, WireFields().Text("Maintenance at noon"));
    Deliver(83, WireFields().Int32(-5));
    Deliver(104, WireFields().UInt32(720));
    Deliver(130, WireFields().Int32(99));
    Deliver(1001, WireFields().UInt32(4242));
    Deliver(104, QByteArray("\x01", 1));
    const QByteArray l_two = WireFields().Text("ben").UInt32(16777343).Int32(2234).Text("cleo").UInt32(1).Int32(2);
    Deliver(102, WireFields().Int32(3).Raw(l_two).Text("dora").UInt32(5));
    Deliver(102, WireFields().Int32(1).Raw(l_two));
    Deliver(102, WireFields().Int32(-1).Raw(l_two));
    Deliver(102, WireFields().Int32(131073).Raw(l_two));
    const QString l_both = "parents ben@16777343:2234 cleo@1:2";
    EXPECT_EQ(l_seen, (QStringList{"search ben 4000000000 blue train", "admin Maintenance at noon", "speed -5", "wait 720",
                                   "reset", "failed 4242", "wait 0", l_both, "parents ben@16777343:2234", l_both,
                                   "parents"}));

    QSignalSpy l_updated(mp_server.get(), &Server::SearchCorrelations);
    const auto l_terms = [](const char* i_search) {
        QStringList l_pairs;
        ItemPtr l_text = d.GetType("search_request_text")->HasItem(i_search);
        for (ItemPtr l_item : l_text.GetItems("search_correlation"))
            l_pairs << l_item["correlation_text"].AsString() + "=" + l_item["correlation_rank"].AsString();
        l_pairs.sort();
        return l_pairs;
    };
    Deliver(153, WireFields().Text("jazz").Int32(2).Text("swing").Int32(9).Text("bebop").Int32(4));
    EXPECT_EQ(l_terms("jazz"), (QStringList{"bebop=4", "swing=9"}));
    Deliver(153, WireFields().Text("jazz").Int32(2).Text("blues").Int32(1).Raw("\x05"));
    EXPECT_EQ(l_terms("jazz"), QStringList{"blues=1"}) << "a cut entry is dropped";
    EXPECT_EQ(d.GetType("search_correlation")->ItemCount(), 1u) << "old terms are removed";
    Deliver(153, WireFields().Text("jazz").Int32(0));
    EXPECT_TRUE(l_terms("jazz").isEmpty());
    EXPECT_EQ(l_updated.count(), 3);
}
} // namespace
