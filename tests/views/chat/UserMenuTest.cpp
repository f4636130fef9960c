#include "views/chat/UserMenuOptions.h"

#include <map>

#include "UsersFixture.h"
#include "transfers/TransferQueueManager.h"
#include "views/chat/ShareBrowser.h"

namespace
{
struct FakeShareBrowser : ShareBrowser
{
    FakeShareBrowser() { sharesForm = this; }
    ~FakeShareBrowser() override { sharesForm = nullptr; }
    ShareForm* OpenShareBrowse(QString i_user) override { return m_calls << "browse " + i_user, nullptr; }
    UploadForm* OpenUploadBrowse(QString i_user) override { return m_calls << "upload " + i_user, nullptr; }
    QStringList m_calls;
};

// Each line of a menu: "" for a separator, else the text, "*" when bold and underlined, "@" and
// the icon's name, and a submenu's lines in braces.
QStringList Lines(const QMenu* ip_menu)
{
    QStringList l_lines;
    for (QAction* lp_action : ip_menu->actions())
    {
        const QFont l_font = lp_action->font();
        const QString l_icon = IconName(lp_action->icon());
        const QString l_line = lp_action->text() + (l_font.bold() && l_font.underline() ? "*" : "") +
                               (l_icon.isEmpty() ? "" : "@" + l_icon);
        l_lines << (lp_action->menu() ? l_line + "{" + Lines(lp_action->menu()).join('|') + "}" : l_line);
    }
    return l_lines;
}

// The menu a view builds for the user after its own entries.
QStringList Menu(const QString& i_user, const QStringList& i_own = {})
{
    QMenu l_menu;
    for (const QString& l_text : i_own)
        l_menu.addAction(l_text);
    UserMenuOptions l_options(&l_menu, i_user);
    return Lines(&l_menu);
}

// The visible windows as "class: title".
QStringList Windows()
{
    QStringList l_windows;
    for (QWidget* lp_window : QApplication::topLevelWidgets())
        if (qobject_cast<QDialog*>(lp_window) && lp_window->isVisible())
            l_windows << lp_window->metaObject()->className() + QString(": ") + lp_window->windowTitle();
    l_windows.sort();
    return l_windows;
}

// The action at a path of texts such as "Private Rooms/jazz/Make User Operator".
QAction* Find(const QMenu* ip_menu, const QString& i_path)
{
    for (QAction* lp_action : ip_menu ? ip_menu->actions() : QList<QAction*>())
        if (lp_action->text() == i_path.section('/', 0, 0))
            return i_path.contains('/') ? Find(lp_action->menu(), i_path.section('/', 1)) : lp_action;
    return nullptr;
}

// The users views beside the transfer queues, logged in.
class UserMenuTest : public UsersFixture
{
protected:
    void SetUp() override
    {
        UsersFixture::SetUp();
        UserNoteDialog::Init();
        DeclareSharedFileTypes();
        mp_transfers = std::make_unique<TransferQueueManager>();
        mp_users->DataLoaded();
        ASSERT_TRUE(LogIn());
    }
    void TearDown() override
    {
        for (QWidget* lp_window : QApplication::topLevelWidgets())
            if (qobject_cast<QDialog*>(lp_window))
                delete lp_window;
        mp_transfers.reset();
        UsersFixture::TearDown();
    }

    static void Trigger(const QString& i_path)
    {
        QMenu l_menu;
        UserMenuOptions l_options(&l_menu, "bob");
        QAction* lp_action = Find(&l_menu, i_path);
        ASSERT_TRUE(lp_action) << i_path.toStdString() << " in " << Lines(&l_menu).join(", ").toStdString();
        lp_action->trigger();
    }

    std::unique_ptr<TransferQueueManager> mp_transfers;
};

// The menu of a user we know nothing about.
const QStringList Plain = {"Message user@chat", "Add user to list@add_user", "Browse user's files@browse",
                           "Upload to user@browse", "Get User Info@info", "Add user note@note",
                           "Alert when user goes online@alert", "", "Unshare files from user@browse",
                           "Ignore chat from user@chat"};
} // namespace

TEST_F(UserMenuTest, EntriesFollowTheUserStateOneStateAtATime)
{
    const QString l_alert = Plain[6];
    // Each case is a user of its own with one mark or one setting ("key=value"), the view's own
    // entries, and the lines that replace lines of the plain menu.
    const std::tuple<const char*, QString, QStringList, std::map<QString, QStringList>> l_cases[] = {
        {"view's own entries", "", {"Get", "Ban"}, {{Plain[0], {"Get", "Ban", "", Plain[0]}}}},
        {"listed", "in_user_list", {}, {{Plain[1], {"Set user's groups@users", "Remove user from list@remove_user"}}}},
        {"note", "user_note", {}, {{Plain[5], {"Edit user note@note"}}}},
        {"alert", "user_online_alert", {}, {{l_alert, {"Remove online status alert@alert"}}}},
        {"unshared", "unshared", {}, {{Plain[8], {"Re-share files with user@browse"}}}},
        {"ignored", "is_ignored", {}, {{Plain[9], {"Receive chat from user@chat"}}}},
        {"no privileges", "privileges_time_left=0", {}, {}},
        {"privileges", "privileges_time_left=3600", {}, {{l_alert, {l_alert, "Gift Privileges"}}}},
        {"logging", "user_level_logging=yes", {}, {{Plain[9], {Plain[9], "", "See User Log"}}}},
    };
    for (auto [l_user, l_state, l_own, l_changes] : l_cases)
    {
        const QByteArray l_key = l_state.section('=', 0, 0).toUtf8();
        if (l_state.contains('='))
            SetSetting(l_key.constData(), l_state.section('=', 1));
        else if (Type* lp_mark = l_state.isEmpty() ? nullptr : d.GetType(l_key.constData()))
            User(l_user) += lp_mark->IsNull() ? lp_mark->GetGlobalNullItem() : lp_mark->GetItem("hi");
        QStringList l_expected;
        for (const QString& l_line : Plain)
            l_expected << (l_changes.count(l_line) ? l_changes[l_line] : QStringList{l_line});
        EXPECT_EQ(Menu(l_user, l_own), l_expected) << l_user;
        if (l_state.contains('='))
            SetSetting(l_key.constData(), "");
    }
}

TEST_F(UserMenuTest, PrivateRoomsListOwnedThenOperatedOnesAndSendTheTriggeredRoom)
{
    // Each room's flags, then the sets of the room that hold bob.
    const std::tuple<const char*, QStringList, QStringList> l_rooms[] = {
        {"zeta", {"is_owner"}, {}}, {"b&x", {"is_owner", "is_operator"}, {"room_members"}},
        {"alpha", {"is_owner"}, {"room_members", "room_operators"}}, {"odd", {"is_owner"}, {"room_operators"}},
        {"mods", {"is_operator"}, {"room_members", "room_operators"}}, {"lobby", {"is_operator"}, {}},
        {"public", {}, {"room_members"}}};
    for (const auto& [l_name, l_flags, l_sets] : l_rooms)
    {
        for (const QString& l_flag : l_flags)
            Node("room", l_name).NewItem(l_flag.toUtf8().constData());
        for (const QString& l_set : l_sets)
            Node("room", l_name).NewItem(l_set.toUtf8().constData()) += User("bob");
    }
    const QStringList l_lines = Menu("bob");
    EXPECT_EQ(l_lines.mid(0, Plain.size()), Plain);
    EXPECT_EQ(l_lines.mid(Plain.size()).join('\n'),
              "\nPrivate Rooms{"
              "alpha*@chat{Remove User's Membership||Remove User's Operator Status}|"
              "b&&x*@chat{Remove User's Membership||Make User Operator}|"
              "odd*@chat{Give User Membership||Remove User's Operator Status}|zeta*@chat{Give User Membership}|"
              "lobby{Give User Membership}|mods{Remove User's Membership}}");

    for (const char* l_path : {"b&&x/Make User Operator", "lobby/Give User Membership",
                               "odd/Remove User's Operator Status", "b&&x/Remove User's Membership",
                               "mods/Remove User's Membership"})
        Trigger(QString("Private Rooms/") + l_path);
    const auto l_to = [](const char* i_room) { return WireFields().Text(i_room).Text("bob"); };
    EXPECT_EQ(SentFields(143), QList<QByteArray>{l_to("b&x")});
    EXPECT_EQ(SentFields(134), QList<QByteArray>{l_to("lobby")});
    EXPECT_EQ(SentFields(144), QList<QByteArray>{l_to("odd")});
    EXPECT_EQ(SentFields(135), (QList<QByteArray>{l_to("b&x"), l_to("mods")}));
    EXPECT_EQ(Menu("bob"), l_lines);
}

TEST_F(UserMenuTest, EntriesSetTheirMarksAndOpenTheirWindows)
{
    FakeShareBrowser l_browser;
    const std::pair<const char*, const char*> l_steps[] = {
        {"Add user to list", "in_user_list"},
        {"Ignore chat from user", "in_user_list is_ignored"},
        {"Unshare files from user", "in_user_list is_ignored unshared"},
        {"Alert when user goes online", "in_user_list is_ignored unshared user_online_alert"},
        {"Remove user from list", "is_ignored unshared user_online_alert"},
        {"Receive chat from user", "unshared user_online_alert"},
        {"Re-share files with user", "user_online_alert"},
        {"Remove online status alert", ""},
        {"Alert when user goes online", "user_online_alert"},
    };
    for (const auto& [l_entry, l_expected] : l_steps)
    {
        Trigger(l_entry);
        QStringList l_marks;
        for (const char* l_type : {"in_user_list", "is_ignored", "unshared", "user_online_alert"})
            if (User("bob").IsConnected(l_type))
                l_marks << l_type;
        EXPECT_EQ(l_marks.join(' '), l_expected) << l_entry;
    }
    // The first alert asks the server to follow bob; removing it and alerting again ask nothing.
    EXPECT_EQ(SentFields(5), QList<QByteArray>{WireFields().Text("bob")});
    EXPECT_EQ(Windows(), QStringList());
    // Listed again, bob has lost the groups of his last listing.
    Trigger("Add user to list");
    User("bob")["in_user_list"] += Node("user_list_group", "friends");
    Trigger("Remove user from list");
    Trigger("Add user to list");
    EXPECT_EQ(User("bob")["in_user_list"].GetItems("user_list_group").Size(), 0u);

    SetSetting("privileges_time_left", "60");
    SetSetting("user_level_logging", "yes");
    SetSetting("open_groups_on_user_add", "yes");
    Trigger("Message user");
    EXPECT_EQ(TabTexts(mp_chats->TabWidget()), QStringList{"bob offline *"});
    EXPECT_EQ(mp_pages->currentWidget(), mp_chats);
    for (const char* l_entry : {"Browse user's files", "Upload to user", "Gift Privileges", "Add user note",
                                "See User Log", "Add user note", "Remove user from list", "Add user to list",
                                "Set user's groups", "Get User Info", "Get User Info"})
        Trigger(l_entry);
    EXPECT_EQ(l_browser.m_calls, (QStringList{"browse bob", "upload bob"}));
    EXPECT_EQ(Windows(), (QStringList{"GiftPrivilegesDialog: Gift Privileges to bob", "ItemLogDialog: Item Log",
                                      "UserGroupsDialog: User Groups for [bob]",
                                      "UserGroupsDialog: User Groups for [bob]", "UserNoteDialog: bob"}));
    EXPECT_EQ(mp_pages->currentWidget(), mp_users);
    EXPECT_EQ(TabTexts(mp_users->UserInfoTabs()), QStringList{"bob info *"});
}
