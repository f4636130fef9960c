#include "DNetFixture.h"

#include "store/Settings.h"

using DNetTree = DNetFixture;

TEST_F(DNetTree, TheFirstWholeSearchAdoptsItsCandidateClosesTheOthersAndIsAnsweredBeforeItIsRelayed)
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
    EXPECT_EQ(Reports(), QStringList({Report(126, WireFields().Int32(4)), Report(127, WireFields().Text("lea")),
                                      Report(71, WireFields().Byte(0))}));
    EXPECT_EQ(Logged("Received possible parents list, but already have a parent"), 1);
}

TEST_F(DNetTree, TheParentsMessagesAndTheServersSearchesGoDownToEveryChild)
{
    Link l_bob = Parent();
    Link l_kids[] = {Child("kid"), Child("lad")};
    const QByteArray l_other = Search("x", 1, "not for us", 50);
    const struct
    {
        QByteArray body;
        bool fromServer;
        QList<QByteArray> relayed;
        QString state; // own level and leader
        QString answer;
    } l_cases[] = {
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

TEST_F(DNetTree, TheChildDepthFollowsTheDeepestReportAndFallsBackWhenTheChildrenGo)
{
    Link l_kids[] = {Child("kid"), Child("lad")};
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
    ASSERT_TRUE(QTest::qWaitFor([] { return Count("dnet_child") == 0; }, 5000));
    const QString l_yes = Report(129, WireFields().Byte(1));
    EXPECT_EQ(Reports(), QStringList({l_yes, l_yes, l_yes, Report(129, WireFields().Byte(0))}));
}

TEST_F(DNetTree, ASilentParentIsKeptSixtySecondsAndDroppedAtSixtyOne)
{
    Link l_bob = Parent();
    const QDateTime l_heard = DNetManagerTesting::LastSearch(*mp_dnet);
    DNetManagerTesting::DropSilentParentAsOf(*mp_dnet, l_heard.addSecs(60));
    EXPECT_EQ(Key("dnet_parent_user"), "bob");
    DNetManagerTesting::DropSilentParentAsOf(*mp_dnet, l_heard.addSecs(61));
    EXPECT_TRUE(l_bob.peer->WaitForDisconnected());
    EXPECT_TRUE(Key("dnet_parent_user").isEmpty() && Key("dnet_parent_socket").isEmpty());
    EXPECT_EQ(Reports().mid(2), QStringList({Report(71, WireFields().Byte(1)), Report(127, WireFields().Text("")),
                                             Report(126, WireFields().Int32(-1))}));
}

TEST_F(DNetTree, TheCapacityForChildrenComesFromTheOwnSpeedAndTheServersValues)
{
    // Nothing is decided before both server values and the own speed are known.
    mp_dnet->OnDNetParentMinSpeed(2);
    SetSetting("upload_speed", "2048");
    EXPECT_EQ(Logged("Determining"), 0);
    mp_dnet->OnDNetParentSpeedConnectionRatio(4);
    EXPECT_EQ(Logged("Currently have 0 child connections, max capacity 5"), 1);

    const QString l_below = "Below minimum parent speed", l_have = "Currently have %1 child connections, max capacity %2$";
    const struct
    {
        int speed, minimum, ratio, children;
        QString logged;
    } l_cases[] = {{2048, 2, 4, 4, l_have.arg(4).arg(5)}, {2048, 2, 4, 5, l_have.arg(5).arg(5)},
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
        m_log.m_lines.clear();
        mp_dnet->DetermineCanParent();
        EXPECT_EQ(Logged(l_case.logged), 1);
    }
    const QString l_yes = Report(100, WireFields().Byte(1)), l_no = Report(100, WireFields().Byte(0));
    EXPECT_EQ(Reports(), QStringList({l_yes, l_no, l_yes, l_no, l_yes, l_no}));
}
