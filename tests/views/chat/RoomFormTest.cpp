#include <QFile>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTextBrowser>

#include "RoomFixture.h"
#include "shell/ShowIsOver.h"
#include "views/chat/ChatLog.h"

namespace
{
class RoomFormTest : public RoomFixture
{
protected:
    QTreeWidgetItem* Row(RoomForm* ip_form, const QString& i_user)
    {
        const auto l_rows = List(ip_form)->findItems(i_user, Qt::MatchExactly, 2);
        return l_rows.isEmpty() ? nullptr : l_rows.first();
    }

    // One of the four things a row waits for.
    static void Link(const QString& i_user, const QString& i_what, const QString& i_value = "")
    {
        ItemPtr l_user = d.GetType("user")->GetItem(i_user);
        if (i_what == "room")
            Room("lobby") += l_user;
        else
            l_user += d.GetType(i_what.toStdString())->GetItem(i_value);
    }
    static void Arrive(const QString& i_user, int i_speed, int i_files, const QString& i_country)
    {
        Link(i_user, "average_download_speed", QString::number(i_speed));
        Link(i_user, "shared_files_count", QString::number(i_files));
        Link(i_user, "country_code", i_country);
        Link(i_user, "room");
    }

    QStringList ViewLines(RoomForm* ip_form)
    {
        return ip_form->findChild<QTextBrowser*>("chatView")->toPlainText().split('\n');
    }
};
} // namespace

TEST_F(RoomFormTest, ARowWaitsForTheRoomItsFiguresAndItsCountryAndIsNeverRefreshed)
{
    Join("lobby");
    RoomForm* lp_form = Form();
    const char* l_orders[][4] = {
        {"room", "average_download_speed", "shared_files_count", "country_code"},
        {"average_download_speed", "shared_files_count", "country_code", "room"},
        {"country_code", "room", "shared_files_count", "average_download_speed"},
    };
    int l_users = 0;
    for (const auto& l_order : l_orders)
    {
        const QString l_user = QString("u%1").arg(++l_users);
        for (const char* l_what : l_order)
        {
            EXPECT_FALSE(Row(lp_form, l_user)) << l_order[0] << " before " << l_what;
            Link(l_user, l_what, l_what == QString("country_code") ? "DE" : "1536");
        }
        ASSERT_TRUE(Row(lp_form, l_user)) << l_order[0];
        EXPECT_EQ(Row(lp_form, l_user)->text(5), "1.5");
        EXPECT_EQ(Room("lobby")["user_count"].AsString(), QString::number(l_users));
    }
    Link("u1", "average_download_speed", "4096");
    Link("u1", "shared_files_count", "7");
    EXPECT_EQ(Row(lp_form, "u1")->text(4), "1,536");
    EXPECT_EQ(Row(lp_form, "u1")->text(5), "1.5");

    Room("lobby").Disconnect(d.GetType("user")->GetItem("u2"));
    EXPECT_FALSE(Row(lp_form, "u2"));
    EXPECT_EQ(Room("lobby")["user_count"].AsString(), "2");
}

TEST_F(RoomFormTest, CellsShowCommafiedFilesOneDecimalSpeedFlagsAndTheNote)
{
    ASSERT_TRUE(QFile::exists(":/resources/flags/de.png"));
    Join("lobby");
    RoomForm* lp_form = Form();
    const struct
    {
        const char* user;
        int speed, files;
        const char* country;
        const char* filesText;
        const char* speedText;
        bool flag;
    } l_cases[] = {{"ann", 1536, 1234, "DE", "1,234", "1.5", true},
                   {"ben", 0, 0, "", "", "", false},
                   {"cy", 1024, 1234567, "de", "1,234,567", "1.0", true},
                   {"di", 51, 999, "qq", "999", "0.0", false}};
    d.GetType("user")->GetItem("ben") += d.GetType("user_note")->GetItem("owes me");
    for (const auto& l_case : l_cases)
    {
        Arrive(l_case.user, l_case.speed, l_case.files, l_case.country);
        QTreeWidgetItem* lp_row = Row(lp_form, l_case.user);
        ASSERT_TRUE(lp_row) << l_case.user;
        EXPECT_EQ(lp_row->text(4), l_case.filesText);
        EXPECT_EQ(lp_row->text(5), l_case.speedText);
        EXPECT_EQ(!lp_row->icon(1).isNull(), l_case.flag) << l_case.user;
        EXPECT_EQ(!lp_row->icon(3).isNull(), l_case.user == QString("ben"));
    }

    ItemPtr l_note = d.GetType("user_note")->GetItem("nice");
    d.GetType("user")->GetItem("ann") += l_note;
    d.GetType("user")->GetItem("ben").Disconnect("user_note");
    d.GetType("user")->GetItem("nobody") += l_note;
    EXPECT_FALSE(Row(lp_form, "ann")->icon(3).isNull());
    EXPECT_TRUE(Row(lp_form, "ben")->icon(3).isNull());
}

TEST_F(RoomFormTest, OperatorsAreBoldAndTheOwnerAlsoUnderlinedForGood)
{
    Join("lobby");
    RoomForm* lp_form = Form();
    ItemPtr l_operators = Room("lobby").NewItem("room_operators");
    Room("lobby").NewItem("room_owner") += d.GetType("user")->GetItem("olga");
    for (const char* l_user : {"olga", "oscar"})
        l_operators += d.GetType("user")->GetItem(l_user);
    // ann becomes an operator after her row is there.
    for (const char* l_user : {"olga", "oscar", "ann", "ben"})
        Arrive(l_user, 0, 0, "");
    l_operators += d.GetType("user")->GetItem("ann");
    auto l_font = [&](const char* i_user) {
        const QFont l_shown = Row(lp_form, i_user)->font(2);
        return QString("%1%2").arg(l_shown.bold() ? "bold" : "normal",
                                   l_shown.underline() ? " underlined" : "");
    };
    const std::pair<const char*, const char*> l_before[] = {
        {"olga", "bold underlined"}, {"oscar", "bold"}, {"ann", "bold"}, {"ben", "normal"}};
    for (const auto& [l_user, l_expected] : l_before)
        EXPECT_EQ(l_font(l_user), l_expected) << l_user;

    l_operators.Disconnect(d.GetType("user")->GetItem("olga"));
    l_operators.Disconnect(d.GetType("user")->GetItem("ann"));
    EXPECT_EQ(l_font("olga"), "normal underlined");
    EXPECT_EQ(l_font("ann"), "normal");
    EXPECT_EQ(l_font("oscar"), "bold");
}

TEST_F(RoomFormTest, ShowsOnlyItsOwnRoomsTrimmedLinesAndSendsWhatIsTypedOnReturn)
{
    Join("lobby");
    Join("Lobby");
    RoomForm* lp_form = Form();
    ASSERT_EQ(lp_form->RoomName(), "lobby");
    Deliver(13, WireFields().Text("lobby").Text("ann").Text("  hi there \n"));
    Deliver(13, WireFields().Text("Lobby").Text("ben").Text("other room"));
    Deliver(13, WireFields().Text("jazz").Text("cy").Text("not joined"));
    EXPECT_EQ(ViewLines(lp_form), QStringList{"[ann] hi there"});
    EXPECT_EQ(ViewLines(Form(1)), QStringList{"[ben] other room"});
    QFile l_log(ChatLog::Path(ChatLog::Kind::Room, "lobby"));
    ASSERT_TRUE(l_log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(l_log.readAll().endsWith("][ann] hi there\n"));

    auto* lp_edit = lp_form->findChild<QLineEdit*>("chatEdit");
    for (const char* l_typed : {"  as typed ", "", "   "})
    {
        lp_edit->setText(l_typed);
        QTest::keyClick(lp_edit, Qt::Key_Return);
        EXPECT_EQ(lp_edit->text(), "");
    }
    EXPECT_EQ(Sent(13), (QList<QByteArray>{WireFields().Text("lobby").Text("  as typed "),
                                           WireFields().Text("lobby").Text("   ")}));
    EXPECT_EQ(ViewLines(lp_form).size(), 1) << "own lines wait for the server's echo";
}

TEST_F(RoomFormTest, AReconnectionIsNotedAndJoinsOnceMoreInTheSameTab)
{
    Join("lobby");
    QSignalSpy l_down(mp_server.get(), &Server::Disconnected);
    m_fake.DropClient();
    ASSERT_TRUE(QTest::qWaitFor([&] { return l_down.count() == 1; }, 5000));
    ASSERT_TRUE(LogIn());
    Join("lobby");

    ASSERT_EQ(mp_tabs->m_tabs.count(), 1);
    const QRegularExpression l_status("^\\* (Dis|Re)connected at \\d{1,2}:\\d\\d:\\d\\d\\.$");
    const QStringList l_lines = ViewLines(Form());
    ASSERT_EQ(l_lines.size(), 2);
    EXPECT_TRUE(l_status.match(l_lines[0]).captured(1) == "Dis") << l_lines[0].toStdString();
    EXPECT_TRUE(l_status.match(l_lines[1]).captured(1) == "Re") << l_lines[1].toStdString();
    EXPECT_EQ(Sent(14), QList<QByteArray>{WireFields().Text("lobby").Int32(0)});
}

TEST_F(RoomFormTest, ToolbarTextFollowsAutojoinAndTheRoomsStandingAtJoiningHides)
{
    const struct
    {
        bool autojoin, member, owner;
        const char* membership;
        const char* ownership;
    } l_cases[] = {{false, false, false, "hidden ", "hidden "},
                   {true, true, false, "", "hidden "},
                   {false, true, true, "hidden ", ""}};
    for (const auto& l_case : l_cases)
    {
        const QString l_name = QString("room%1%2%3").arg(l_case.autojoin).arg(l_case.member).arg(l_case.owner);
        ItemPtr l_room = d.GetType("room")->GetItem(l_name);
        for (const auto& [l_flag, l_set] : {std::pair("room_autojoin", l_case.autojoin),
                                            std::pair("is_member", l_case.member),
                                            std::pair("is_owner", l_case.owner)})
            if (l_set)
                l_room.NewItem(l_flag);
        Join(l_name);
        RoomForm* lp_form = Form(mp_tabs->m_tabs.count() - 1);
        const QString l_on = l_case.autojoin ? "Auto-Join Room [on]" : "Auto-Join Room [off]";
        EXPECT_EQ(Actions(lp_form), (QStringList{l_on, "room_chat_log",
                                                 l_case.membership + QString("give_up_membership"),
                                                 l_case.ownership + QString("give_up_ownership")}));
        l_room.Disconnect("is_owner");
        l_room.NewItem("is_member");
        if (l_case.autojoin)
            l_room.Disconnect("room_autojoin");
        else
            l_room.NewItem("room_autojoin");
        EXPECT_EQ(Actions(lp_form).first(),
                  l_case.autojoin ? "Auto-Join Room [off]" : "Auto-Join Room [on]");
        EXPECT_EQ(Actions(lp_form).mid(2),
                  (QStringList{l_case.membership + QString("give_up_membership"),
                               l_case.ownership + QString("give_up_ownership")}));
    }
}

TEST_F(RoomFormTest, LeavesOnlyWhenTheUserClosesTheTabWhileRunning)
{
    enum class End
    {
        Closed,
        LeftByServer,
        ShutDown
    };
    const std::pair<End, const char*> l_cases[] = {
        {End::Closed, "closed"}, {End::LeftByServer, "left"}, {End::ShutDown, "shutdown"}};
    QList<QByteArray> l_expected;
    for (const auto& [l_end, l_room] : l_cases)
    {
        Join(l_room);
        QPointer<RoomForm> lp_form = Form();
        ASSERT_EQ(lp_form->RoomName(), l_room);
        ItemPtr l_record = Room(l_room)["room_form"];
        ASSERT_TRUE(l_record);
        EXPECT_EQ(l_record.AsPointer<RoomForm>(), lp_form.data());
        if (l_end == End::LeftByServer)
            Deliver(15, WireFields().Text(l_room));
        else
        {
            g_showIsOver = l_end == End::ShutDown;
            delete mp_tabs->m_tabs.widget(0);
            g_showIsOver = false;
        }
        EXPECT_TRUE(lp_form.isNull());
        EXPECT_EQ(mp_tabs->m_tabs.count(), 0);
        EXPECT_FALSE(Room(l_room).IsConnected("room_form")) << l_room;
        EXPECT_TRUE(d.GetType("room_form")->GetItems().Empty());
        if (l_end == End::Closed)
            l_expected << WireFields().Text(l_room);
    }
    EXPECT_EQ(Sent(15), l_expected);
}

TEST_F(RoomFormTest, InitRegistersItsSizesAndPutsTheCursorInTheInputLine)
{
    Join("lobby");
    EXPECT_TRUE(d.GetType("sizer_splitter")->HasItem("room_splitter"));
    EXPECT_TRUE(d.GetType("sizer_tree")->HasItem("room_user_list"));
    EXPECT_EQ(Form()->findChild<QLineEdit*>("chatEdit")->property("get_focus").toInt(), 1);
    QTreeWidget* lp_list = List(Form());
    EXPECT_EQ(lp_list->columnCount(), 6);
    EXPECT_EQ(lp_list->sortColumn(), 2);
    EXPECT_EQ(lp_list->headerItem()->text(2), "User");
    EXPECT_FALSE(lp_list->headerItem()->icon(3).isNull());
}
