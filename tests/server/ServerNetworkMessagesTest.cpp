#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QStringList>
#include <QTest>
#include <QVariant>

#include "server/Server.h"
#include "support/support/ServerMessageFixture.h"

namespace
{
using ServerNetworkMessagesTest = ServerMessageFixture;

TEST_F(ServerNetworkMessagesTest, NoticesArePassedOnAsTheyCome)
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
    Deliver(26, WireFields().Text("ben").UInt32(4000000000u).Text("blue train"));
    Deliver(66, WireFields().Text("Maintenance at noon"));
    Deliver(83, WireFields().Int32(-5));
    Deliver(104, WireFields().UInt32(720));
    Deliver(130, WireFields().Int32(99));
    Deliver(1001, WireFields().UInt32(4242));
    Deliver(104, QByteArray("\x01", 1));
    EXPECT_EQ(l_seen, (QStringList{"search ben 4000000000 blue train", "admin Maintenance at noon",
                                   "speed -5", "wait 720", "reset", "failed 4242", "wait 0"}));
}

TEST_F(ServerNetworkMessagesTest, PossibleParentsAreReadAsFarAsTheBodyGoes)
{
    QStringList l_lists;
    QObject::connect(mp_server.get(), &Server::DNetPossibleParents,
                     [&](std::list<std::pair<QString, TCPAddress>>& i_list) {
                         QStringList l_entries;
                         for (const auto& l_entry : i_list)
                             l_entries << QString("%1@%2:%3").arg(l_entry.first).arg(
                                 l_entry.second.address).arg(l_entry.second.port);
                         l_lists << l_entries.join(',');
                     });
    const QByteArray l_two =
        WireFields().Text("ben").UInt32(16777343).Int32(2234).Text("cleo").UInt32(1).Int32(2);
    Deliver(102, WireFields().Int32(3).Raw(l_two).Text("dora").UInt32(5));
    Deliver(102, WireFields().Int32(1).Raw(l_two));
    Deliver(102, WireFields().Int32(-1).Raw(l_two));
    Deliver(102, WireFields().Int32(131073).Raw(l_two));
    const QString l_both = "ben@16777343:2234,cleo@1:2";
    EXPECT_EQ(l_lists, (QStringList{l_both, "ben@16777343:2234", l_both, ""}));
}

TEST_F(ServerNetworkMessagesTest, ADistributedMessageEndsWithItsFrame)
{
    QStringList l_read;
    QObject::connect(mp_server.get(), &Server::DNetMessage, [&](MemStream& io_body) {
        qint32 l_first = 0;
        const bool l_gotFirst = io_body.Read(l_first);
        l_read << QString("%1 %2 %3").arg(l_gotFirst).arg(l_first).arg(io_body.Read(l_first));
    });
    QSignalSpy l_chat(mp_server.get(), &Server::RoomChat);
    // Both frames in one write: the first body's receiver must not see the second.
    const QByteArray l_chatFields = WireFields().Text("lobby").Text("ben").Text("hi");
    m_fake.SendRaw(FakeCentralServer::MakeFrame(93, WireFields().Int32(55)) +
                   FakeCentralServer::MakeFrame(13, l_chatFields));
    ASSERT_TRUE(QTest::qWaitFor([&] { return l_chat.count() == 1; }, 5000));
    EXPECT_EQ(l_read, QStringList{"1 55 0"});
    EXPECT_EQ(l_chat.at(0).at(2).toString(), "hi");
}

TEST_F(ServerNetworkMessagesTest, RelatedTermsReplaceThoseOfTheirSearch)
{
    QSignalSpy l_updated(mp_server.get(), &Server::SearchCorrelations);
    const auto l_terms = [](const char* i_search) {
        QStringList l_pairs;
        ItemPtr l_text = d.GetType("search_request_text")->HasItem(i_search);
        for (ItemPtr l_item : l_text.GetItems("search_correlation"))
            l_pairs << l_item["correlation_text"].AsString() + "=" +
                           l_item["correlation_rank"].AsString();
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
