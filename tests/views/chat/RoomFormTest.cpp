#include <memory>

#include "ChatFixture.h"
#include "shell/ActionSetToolBar.h"
#include "shell/ShowIsOver.h"
#include "shell/SizeManager.h"
#include "support/support/ServerMessageFixture.h"
#include "views/chat/ChatLog.h"
#include "views/chat/ChatsForm.h"
#include "views/chat/QRoomListItemWidget.h"
#include "views/chat/QRoomUserListItemWidget.h"
#include "views/chat/RoomForm.h"

namespace
{
// A logged-in link with the main window's share of the room views in place.
class RoomFormTest : public ServerMessageFixture
{
protected:
    void SetUp() override
    {
        qputenv("HOME", QByteArray::fromStdString(m_home.Path()));
        ServerMessageFixture::SetUp();
        DeclareChatViewTypes();
        DeclareRoomViewTypes();
        ::SetSetting("chat_timestamps", "no_timestamps");
        ::SetSetting("log_room_chat", "yes");
        mp_bar = std::make_unique<ActionSetToolBar>();
        for (const char* l_id : {"toggle_room_autojoin", "room_chat_log", "give_up_membership", "give_up_ownership"})
            mp_bar->AddSetAction("room", l_id, l_id, ":/icons/room_icon", false);
        mp_sizes = std::make_unique<SizeManager>();
        mp_tabs = std::make_unique<QTabWidget>();
    }
    // The server's answer to a join, without users; the main window then opens a tab for the
    // room unless its `room_form` shows one open.
    void Join(const QString& i_room)
    {
        Deliver(14, WireFields().Text(i_room).Texts({}).Int32s({}).Int32(0).Int32s({}).Texts({}));
        if (!Node("room", i_room).IsConnected("room_form"))
        {
            auto* lp_form = new RoomForm(i_room);
            mp_tabs->addTab(lp_form, i_room);
            lp_form->Init();
        }
    }
    RoomForm* Form(int i_index = 0) { return qobject_cast<RoomForm*>(mp_tabs->widget(i_index)); }
    QTreeWidgetItem* Row(const QString& i_user)
    {
        return Form()->findChild<QTreeWidget*>("userList")->findItems(i_user, Qt::MatchExactly, 2).value(0);
    }
    // The room set's actions as the toolbar shows them for the form.
    QStringList Actions(RoomForm* ip_form)
    {
        mp_bar->ChangeSet(ip_form, "room");
        QStringList l_shown;
        for (QAction* lp_action : mp_bar->actions())
            if (!qobject_cast<QWidgetAction*>(lp_action) && !lp_action->text().isEmpty())
                l_shown << (lp_action->isVisible() ? "" : "hidden ") + lp_action->text();
        return l_shown;
    }

    TemporaryFolder m_home;
    std::unique_ptr<ActionSetToolBar> mp_bar;
    std::unique_ptr<SizeManager> mp_sizes;
    // Destroyed first, once the link is gone: the tabs then send nothing as they close.
    std::unique_ptr<QTabWidget> mp_tabs;
};

using RoomViewTest = ChatFixture;

const char* const Links[] = {"room", "average_download_speed", "shared_files_count", "country_code"};

// The rows sorted by the column, as the names in the name column.
QStringList Sorted(QTreeWidget& io_list, int i_column, Qt::SortOrder i_order, int i_nameColumn)
{
    io_list.setColumnCount(6);
    io_list.sortItems(i_column, i_order);
    QStringList l_names;
    for (int l_row = 0; l_row < io_list.topLevelItemCount(); ++l_row)
        l_names << io_list.topLevelItem(l_row)->text(i_nameColumn);
    return l_names;
}
} // namespace

TEST_F(RoomFormTest, ARowWaitsForTheRoomItsFiguresAndCountryShowsThemOnceAndFollowsRolesAndNotes)
{
    ASSERT_TRUE(QFile::exists(":/resources/flags/de.png"));
    Node("user", "ben") += Node("user_note", "owes me");
    Node("room", "lobby").NewItem("room_owner") += Node("user", "olga");
    ItemPtr l_operators = Node("room", "lobby").NewItem("room_operators");
    l_operators += Node("user", "olga");
    l_operators += Node("user", "ann");
    Join("lobby");
    // The order the room (0), speed, files and country (3) come in; files, K/s, whether a flag and
    // a note show and the name's font; then after the changes below.
    const std::tuple<const char*, QString, int, int, const char*, QString, QString> l_cases[] = {
        {"ann", "0123", 1536, 1234, "DE", "1,234 1.5 flag - bold", "1,234 1.5 flag note normal"},
        {"ben", "1230", 0, 0, "", "  - note normal", "  - - normal"},
        {"cy", "3021", 1024, 1234567, "de", "1,234,567 1.0 flag - normal", "1,234,567 1.0 flag - bold"},
        {"olga", "2103", 51, 999, "qq", "999 0.0 - - bold underlined", "999 0.0 - - normal underlined"}};
    const auto l_cells = [&](const char* i_user) {
        QTreeWidgetItem* lp_row = Row(i_user);
        return QStringList{lp_row->text(4), lp_row->text(5), lp_row->icon(1).isNull() ? "-" : "flag",
                           lp_row->icon(3).isNull() ? "-" : "note", lp_row->font(2).bold() ? "bold" : "normal"}
                   .join(' ') + (lp_row->font(2).underline() ? " underlined" : "");
    };
    for (const auto& [l_user, l_order, l_speed, l_files, l_country, l_shown, l_after] : l_cases)
    {
        const QString l_values[] = {"", QString::number(l_speed), QString::number(l_files), l_country};
        for (const QChar l_link : l_order)
        {
            EXPECT_FALSE(Row(l_user)) << l_user << " before " << l_link.toLatin1();
            if (l_link == '0')
                Node("room", "lobby") += Node("user", l_user);
            else
                Node("user", l_user) += Node(Links[l_link.digitValue()], l_values[l_link.digitValue()]);
        }
        EXPECT_EQ(l_cells(l_user), l_shown);
    }
    EXPECT_EQ(Room("lobby")["user_count"].AsString(), "4");
    // Later figures are not shown; roles and notes are.
    Node("user", "ann") += Node("shared_files_count", "7");
    Node("user", "ann") += Node("average_download_speed", "4096");
    l_operators += Node("user", "cy");
    l_operators.Disconnect(Node("user", "olga"));
    l_operators.Disconnect(Node("user", "ann"));
    Node("user", "ann") += Node("user_note", "nice");
    Node("user", "ben").Disconnect("user_note");
    for (const auto& [l_user, l_order, l_speed, l_files, l_country, l_shown, l_after] : l_cases)
        EXPECT_EQ(l_cells(l_user), l_after);

    // The note column opens the note of a user who has one; a double click opens the chat.
    for (const auto& [l_user, l_column] : {std::pair("ann", 3), std::pair("ben", 3), std::pair("cy", 2)})
        Form()->OnUserItemClicked(Row(l_user), l_column);
    EXPECT_EQ(Names(g("user_note_dialog").GetItems("user")), QStringList{"ann"});
    delete UserNoteDialog::GetDialog("ann");
    ChatsForm l_chats;
    Form()->OnUserItemDoubleClicked(Row("cy"), 1);
    EXPECT_EQ(Names(g("user_chat_widget").GetItems("user")), QStringList{"cy"});
    Room("lobby").Disconnect(Node("user", "ben"));
    EXPECT_FALSE(Row("ben"));
    EXPECT_EQ(Room("lobby")["user_count"].AsString(), "3");
}

TEST_F(RoomFormTest, ShowsItsOwnRoomsLinesSendsWhatIsTypedAndJoinsAgainAfterANewLogin)
{
    Join("lobby");
    Join("Lobby");
    Deliver(13, WireFields().Text("lobby").Text("ann").Text("  hi there \n"));
    Deliver(13, WireFields().Text("Lobby").Text("ben").Text("other room"));
    Deliver(13, WireFields().Text("jazz").Text("cy").Text("not joined"));
    EXPECT_EQ(ViewLines(Form()), QStringList{"[ann] hi there"});
    EXPECT_EQ(ViewLines(Form(1)), QStringList{"[ben] other room"});
    EXPECT_TRUE(FileBytes(ChatLog::Path(ChatLog::Kind::Room, "lobby")).endsWith("][ann] hi there\n"));
    for (const char* l_typed : {"  as typed ", "", "   "})
        EXPECT_EQ(PressReturn(Form(), l_typed), "");
    EXPECT_EQ(Sent(13), (QList<QByteArray>{WireFields().Text("lobby").Text("  as typed "),
                                           WireFields().Text("lobby").Text("   ")}));
    // Its splitter and columns keep their sizes.
    EXPECT_TRUE(d.GetType("sizer_splitter")->HasItem("room_splitter"));
    EXPECT_TRUE(d.GetType("sizer_tree")->HasItem("room_user_list"));

    // Own lines wait for the server's echo; a new login is noted and joins in the same tab.
    emit mp_server->Disconnected();
    emit mp_server->Connected();
    Join("lobby");
    EXPECT_EQ(mp_tabs->count(), 2);
    EXPECT_EQ(ViewLines(Form()).replaceInStrings(QRegularExpression(" \\d{1,2}:\\d\\d:\\d\\d\\.$"), " h:mm:ss."),
              (QStringList{"[ann] hi there", "* Disconnected at h:mm:ss.", "* Reconnected at h:mm:ss."}));
    EXPECT_EQ(Sent(14), (QList<QByteArray>{WireFields().Text("lobby").Int32(0), WireFields().Text("Lobby").Int32(0)}));
}

TEST_F(RoomFormTest, AutojoinTextFollowsTheStoreWhileTheGiveUpActionsKeepTheJoiningStanding)
{
    // The room's flags at the join, and the give-up actions then shown.
    const std::pair<QString, QString> l_cases[] = {
        {"", "hidden give_up_membership|hidden give_up_ownership"},
        {"room_autojoin is_member", "give_up_membership|hidden give_up_ownership"},
        {"is_member is_owner", "hidden give_up_membership|give_up_ownership"}};
    const QString l_state[] = {"Auto-Join Room [off]", "Auto-Join Room [on]"};
    for (const auto& [l_flags, l_giveUps] : l_cases)
    {
        ItemPtr l_room = Node("room", "room " + l_flags);
        for (const QString& l_flag : l_flags.split(' ', Qt::SkipEmptyParts))
            l_room.NewItem(l_flag.toUtf8());
        Join(l_room.AsString());
        RoomForm* lp_form = Form(mp_tabs->count() - 1);
        const bool l_on = l_flags.contains("autojoin");
        EXPECT_EQ(Actions(lp_form), QStringList({l_state[l_on], "room_chat_log"}) + l_giveUps.split('|'));
        l_room.Disconnect("is_owner");
        l_room.NewItem("is_member");
        l_on ? l_room.Disconnect("room_autojoin") : void(l_room.NewItem("room_autojoin"));
        EXPECT_EQ(Actions(lp_form), QStringList({l_state[!l_on], "room_chat_log"}) + l_giveUps.split('|'));
    }
}

TEST_F(RoomFormTest, LeavesOnlyWhenTheUserClosesTheTabWhileRunning)
{
    QList<QByteArray> l_expected;
    for (const char* l_room : {"closed", "left by server", "shut down"})
    {
        Join(l_room);
        QPointer<RoomForm> lp_form = Form();
        g_showIsOver = l_room == QString("shut down");
        if (l_room == QString("left by server"))
            Deliver(15, WireFields().Text(l_room));
        else
            delete Form();
        g_showIsOver = false;
        EXPECT_TRUE(lp_form.isNull() && mp_tabs->count() == 0);
        EXPECT_TRUE(d.GetType("room_form")->GetItems().Empty()) << l_room;
        if (l_room == QString("closed"))
            l_expected << WireFields().Text(l_room);
    }
    EXPECT_EQ(Sent(15), l_expected);
}

TEST_F(RoomViewTest, RoomUsersSortByStoredFiguresLargestFirstAndByTextsWithoutCase)
{
    QTreeWidget l_list;
    // Name, files, speed, country, note; only the name shows, so figures must come from the store.
    const std::tuple<const char*, const char*, const char*, const char*, bool> l_users[] = {
        {"alice", "1234", "2048", "fr", true}, {"Bob", "999", "1024", "DE", false},
        {"cy", "0", "0", "", false}, {"dee", "5", "4096", "at", false}};
    for (const auto& [l_name, l_files, l_speed, l_country, l_note] : l_users)
    {
        for (const auto& [l_type, l_value] :
             {std::pair("shared_files_count", l_files), std::pair("average_download_speed", l_speed),
              std::pair("country_code", l_country), std::pair("user_note", l_note ? "a note" : "")})
            if (*l_value)
                Node("user", l_name) += Node(l_type, l_value);
        (new QRoomUserListItemWidget(&l_list))->setText(2, l_name);
    }
    const std::tuple<int, Qt::SortOrder, QStringList> l_cases[] = {
        {4, Qt::AscendingOrder, {"alice", "Bob", "dee", "cy"}}, {4, Qt::DescendingOrder, {"cy", "dee", "Bob", "alice"}},
        {5, Qt::AscendingOrder, {"dee", "alice", "Bob", "cy"}}, {1, Qt::AscendingOrder, {"cy", "dee", "Bob", "alice"}},
        {2, Qt::AscendingOrder, {"alice", "Bob", "cy", "dee"}}, {0, Qt::DescendingOrder, {"dee", "cy", "Bob", "alice"}},
    };
    for (const auto& [l_column, l_order, l_expected] : l_cases)
        EXPECT_EQ(Sorted(l_list, l_column, l_order, 2), l_expected) << l_column;
    EXPECT_EQ(Sorted(l_list, 3, Qt::AscendingOrder, 2).first(), "alice");
}

TEST_F(RoomViewTest, RoomsSortOwnedOperatedAndMemberFirstThenByNameAndCountsAsNumbers)
{
    QTreeWidget l_list;
    const std::tuple<const char*, const char*, QString> l_rooms[] = {
        {"zoo", "12", "is_owner"}, {"abc", "", "is_operator is_member"}, {"aaa", "7", "is_member"},
        {"aa", "3", ""}, {"Music", "2", ""}, {"movies", "1", ""},
        {"yak", "100", "is_owner is_operator"}, {"xen", "20", "is_owner is_member"}};
    for (const auto& [l_name, l_count, l_flags] : l_rooms)
    {
        for (const QString& l_flag : l_flags.split(' ', Qt::SkipEmptyParts))
            Node("room", l_name).NewItem(l_flag.toUtf8());
        auto* lp_row = new QRoomListItemWidget(&l_list);
        lp_row->setText(0, l_name);
        lp_row->setText(1, l_count);
    }
    EXPECT_EQ(Sorted(l_list, 0, Qt::AscendingOrder, 0),
              (QStringList{"yak", "xen", "zoo", "abc", "aaa", "aa", "movies", "Music"}));
    EXPECT_EQ(Sorted(l_list, 1, Qt::AscendingOrder, 0),
              (QStringList{"abc", "movies", "Music", "aa", "aaa", "zoo", "xen", "yak"}));
}

TEST_F(RoomViewTest, SavesTrimmedSharedPlainNotesAndBlankOrClearedSavesRemoveThem)
{
    // Who, what is typed (none: as loaded), whether it is cleared and closed unsaved, then both notes.
    const std::tuple<const char*, const char*, bool, const char*, const char*> l_steps[] = {
        {"ann", "  \n hello \n\n", false, "hello", ""},
        {"ben", "hello", false, "hello", "hello"},
        {"ben", "<b>bye</b> &amp;", false, "hello", "<b>bye</b> &amp;"},
        {"ann", nullptr, true, "hello", "<b>bye</b> &amp;"},
        {"ann", " \n\t ", false, "", "<b>bye</b> &amp;"}};
    for (const auto& [l_user, l_typed, l_clear, l_ann, l_ben] : l_steps)
    {
        const QString l_stored = Node("user", l_user)["user_note"].AsString();
        QPointer<UserNoteDialog> lp_dialog = UserNoteDialog::GetDialog(l_user);
        EXPECT_EQ(UserNoteDialog::GetDialog(l_user), lp_dialog.data());
        lp_dialog->show();
        auto* lp_edit = lp_dialog->findChild<QTextEdit*>("noteEdit");
        EXPECT_EQ(lp_edit->toPlainText(), l_stored);
        if (l_typed)
            lp_edit->setPlainText(l_typed);
        if (l_clear)
            lp_dialog->findChild<QPushButton*>("clearButton")->click();
        if (l_clear)
            lp_dialog->close();
        else
            lp_dialog->findChild<QPushButton*>("saveButton")->click();
        FlushDeletes();
        EXPECT_TRUE(lp_dialog.isNull());
        EXPECT_EQ(Node("user", "ann")["user_note"].AsString(), l_ann) << l_typed;
        EXPECT_EQ(Node("user", "ben")["user_note"].AsString(), l_ben) << l_typed;
        // One text is one item, held by every user with that note.
        EXPECT_EQ(Node("user", "ann")["user_note"] == Node("user", "ben")["user_note"], l_ann == QString(l_ben));
    }
}
