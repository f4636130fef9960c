#include "views/chat/UserMenuOptions.h"

#include <QApplication>
#include <QMenu>
#include <QPointer>

#include <functional>
#include <map>

#include "RoomFixture.h"
#include "diagnostics/ItemLogDialog.h"
#include "resources/Resources.h"
#include "support/support/QtPrinters.h"
#include "transfers/TransferQueueManager.h"
#include "views/chat/GiftPrivilegesDialog.h"
#include "views/chat/ShareBrowser.h"

namespace
{
// The browse view as the menu reaches it, recording what was asked.
class FakeShareBrowser : public ShareBrowser
{
public:
    FakeShareBrowser() { sharesForm = this; }
    ~FakeShareBrowser() override { sharesForm = nullptr; }
    void OpenShareBrowse(QString i_user) override { m_calls << "browse " + i_user; }
    void OpenUploadBrowse(QString i_user) override { m_calls << "upload " + i_user; }
    QStringList m_calls;
};

QMenu* Filled(QMenu* ip_menu, const QStringList& i_own)
{
    for (const QString& l_text : i_own)
        ip_menu->addAction(l_text);
    return ip_menu;
}

// A menu as a view builds it, alive while its actions are triggered.
struct UserMenu
{
    explicit UserMenu(const QString& i_user, const QStringList& i_own = {})
        : options(Filled(&menu, i_own), i_user)
    {
    }
    QMenu menu;
    UserMenuOptions options;
};

// The menu's lines: "" for a separator, the title for a submenu.
QStringList Texts(const QMenu* ip_menu)
{
    QStringList l_texts;
    for (QAction* lp_action : ip_menu->actions())
        l_texts << lp_action->text();
    return l_texts;
}

// The action at a path of texts such as "Private Rooms/jazz/Make User Operator".
QAction* Find(const QMenu* ip_menu, const QString& i_path)
{
    const QString l_first = i_path.section('/', 0, 0);
    const QString l_rest = i_path.section('/', 1);
    for (QAction* lp_action : ip_menu->actions())
        if (lp_action->text() == l_first)
            return l_rest.isEmpty() ? lp_action : Find(lp_action->menu(), l_rest);
    return nullptr;
}

// Each room of "Private Rooms": title, "*" when bold and underlined, "@" with the chat icon,
// then its entries.
QStringList Rooms(const QMenu* ip_menu)
{
    QStringList l_rooms;
    QAction* lp_rooms = Find(ip_menu, "Private Rooms");
    if (!lp_rooms || !lp_rooms->menu())
        return l_rooms;
    const QImage l_chatIcon = QIcon(":/icons/chat_icon").pixmap(16).toImage();
    for (QAction* lp_room : lp_rooms->menu()->actions())
    {
        const QFont l_font = lp_room->font();
        l_rooms << lp_room->text() + (l_font.bold() && l_font.underline() ? " *" : "") +
                       (lp_room->icon().pixmap(16).toImage() == l_chatIcon ? " @" : "") + ": " +
                       Texts(lp_room->menu()).join('|');
    }
    return l_rooms;
}

QStringList RoomsOfBob()
{
    UserMenu l_menu("bob");
    return Rooms(&l_menu.menu);
}

class UserMenuTest : public ServerMessageFixture
{
protected:
    void SetUp() override
    {
        ServerMessageFixture::SetUp();
        InitResources();
        DeclareChatViewTypes();
        DeclareRoomViewTypes();
        DeclareTypes({{"user_online_alert", Leaf, true}, {"unshared", Leaf, true}});
        DeclareRelations({{"user", "user_online_alert", Many, One}, {"user", "unshared", Many, One}});
        DeclareSharedFileTypes();
        DeclarePeerFileTypes();
        mp_transfers = std::make_unique<TransferQueueManager>();
    }
    void TearDown() override
    {
        for (QWidget* lp_window : QApplication::topLevelWidgets())
            if (qobject_cast<QDialog*>(lp_window))
                delete lp_window;
        mp_transfers.reset();
        ServerMessageFixture::TearDown();
    }

    static void Trigger(const QString& i_path, const QString& i_user = "bob")
    {
        UserMenu l_menu(i_user);
        QAction* lp_action = Find(&l_menu.menu, i_path);
        ASSERT_TRUE(lp_action) << i_path.toStdString() << " in " << Texts(&l_menu.menu).join(", ").toStdString();
        lp_action->trigger();
    }

    template <typename T>
    static QStringList Titles()
    {
        QStringList l_titles;
        for (QWidget* lp_window : QApplication::topLevelWidgets())
            if (qobject_cast<T*>(lp_window) && lp_window->isVisible())
                l_titles << lp_window->windowTitle();
        return l_titles;
    }

    std::unique_ptr<TransferQueueManager> mp_transfers;

    // The private room `i_room` with its flags and bob's place in it.
    static void MakeRoom(const char* i_room, QStringList i_roomFlags, QStringList i_bobIn)
    {
        const ItemPtr l_room = Room(i_room);
        for (const QString& l_flag : i_roomFlags)
            l_room.NewItem(l_flag.toUtf8().constData());
        for (const QString& l_set : i_bobIn)
            l_room.NewItem(l_set.toUtf8().constData()) += User("bob");
    }
};

// The menu of a user we know nothing about.
const QStringList Plain = {"Message user",
                           "Add user to list",
                           "Browse user's files",
                           "Upload to user",
                           "Get User Info",
                           "Add user note",
                           "Alert when user goes online",
                           "",
                           "Unshare files from user",
                           "Ignore chat from user"};

QStringList Replaced(std::map<QString, QStringList> i_changes)
{
    QStringList l_texts;
    for (const QString& l_text : Plain)
        l_texts << (i_changes.count(l_text) ? i_changes[l_text] : QStringList{l_text});
    return l_texts;
}
} // namespace

TEST_F(UserMenuTest, EntriesFollowTheUserStateOneStateAtATime)
{
    const auto l_set = [this](const char* i_key, const char* i_value) {
        return [=](ItemPtr) { SetSetting(i_key, i_value); };
    };
    const auto l_flag = [](const char* i_type) { return [=](ItemPtr i_user) { i_user.NewItem(i_type); }; };
    const QStringList l_gift = {"Alert when user goes online", "Gift Privileges"};
    const QStringList l_log = {"Ignore chat from user", "", "See User Log"};
    // Each case is a user of its own; the settings are cleared after each.
    const struct
    {
        const char* user;
        std::function<void(ItemPtr)> make;
        QStringList own;
        std::map<QString, QStringList> changes;
    } l_cases[] = {
        {"plain, no privileges setting", [](ItemPtr) {}, {}, {}},
        {"view's own entries", [](ItemPtr) {}, {"Download", "Ban"}, {{"Message user", {"Download", "Ban", "", "Message user"}}}},
        {"listed", l_flag("in_user_list"), {}, {{"Add user to list", {"Set user's groups", "Remove user from list"}}}},
        {"note", [](ItemPtr i_user) { i_user += Node("user_note", "hi"); }, {}, {{"Add user note", {"Edit user note"}}}},
        {"alert", l_flag("user_online_alert"), {}, {{"Alert when user goes online", {"Remove online status alert"}}}},
        {"unshared", l_flag("unshared"), {}, {{"Unshare files from user", {"Re-share files with user"}}}},
        {"ignored", l_flag("is_ignored"), {}, {{"Ignore chat from user", {"Receive chat from user"}}}},
        {"no privileges", l_set("privileges_time_left", "0"), {}, {}},
        {"garbled privileges", l_set("privileges_time_left", "12x"), {}, {}},
        {"privileges", l_set("privileges_time_left", "3600"), {}, {{"Alert when user goes online", l_gift}}},
        {"logging off", l_set("user_level_logging", "no"), {}, {}},
        {"logging", l_set("user_level_logging", "yes"), {}, {{"Ignore chat from user", l_log}}},
    };
    for (const auto& l_case : l_cases)
    {
        l_case.make(User(l_case.user));
        UserMenu l_menu(l_case.user, l_case.own);
        EXPECT_EQ(Texts(&l_menu.menu), Replaced(l_case.changes)) << l_case.user;
        if (QAction* lp_log = Find(&l_menu.menu, "See User Log"))
        {
            EXPECT_EQ(lp_log->data().toString(), l_case.user);
        }
        SetSetting("privileges_time_left", "");
        SetSetting("user_level_logging", "");
    }
}

TEST_F(UserMenuTest, EveryEntryHasItsIcon)
{
    SetSetting("privileges_time_left", "1");
    SetSetting("user_level_logging", "yes");
    const std::map<QString, const char*> l_icons = {
        {"Message user", "chat"},          {"Add user to list", "add_user"},
        {"Browse user's files", "browse"}, {"Upload to user", "browse"},
        {"Get User Info", "info"},         {"Add user note", "note"},
        {"Alert when user goes online", "alert"}, {"Unshare files from user", "browse"},
        {"Ignore chat from user", "chat"}, {"Gift Privileges", nullptr},
        {"See User Log", nullptr}};
    UserMenu l_menu("bob");
    for (const auto& [l_text, l_icon] : l_icons)
    {
        const QImage l_shown = Find(&l_menu.menu, l_text)->icon().pixmap(16).toImage();
        EXPECT_EQ(l_shown, l_icon ? QIcon(QString(":/icons/%1_icon").arg(l_icon)).pixmap(16).toImage() : QImage())
            << l_text.toStdString();
    }
    User("bob").NewItem("in_user_list");
    UserMenu l_listed("bob");
    EXPECT_EQ(Find(&l_listed.menu, "Set user's groups")->icon().pixmap(16).toImage(),
              QIcon(":/icons/users_icon").pixmap(16).toImage());
    EXPECT_EQ(Find(&l_listed.menu, "Remove user from list")->icon().pixmap(16).toImage(),
              QIcon(":/icons/remove_user_icon").pixmap(16).toImage());
}

TEST_F(UserMenuTest, PrivateRoomsListOwnedThenOperatedRoomsWithTheOperatorRules)
{
    {
        UserMenu l_none("bob");
        EXPECT_FALSE(Find(&l_none.menu, "Private Rooms"));
        EXPECT_EQ(Texts(&l_none.menu).last(), "Ignore chat from user");
    }
    MakeRoom("zeta", {"is_owner"}, {});
    MakeRoom("b&x", {"is_owner", "is_operator"}, {"room_members"});
    MakeRoom("alpha", {"is_owner"}, {"room_members", "room_operators"});
    MakeRoom("odd", {"is_owner"}, {"room_operators"});
    MakeRoom("mods", {"is_operator"}, {"room_members", "room_operators"});
    MakeRoom("lobby", {"is_operator"}, {});
    MakeRoom("public", {}, {"room_members"});
    UserMenu l_menu("bob");
    EXPECT_EQ(Texts(&l_menu.menu).mid(Plain.size()), (QStringList{"", "Private Rooms"}));
    EXPECT_EQ(Rooms(&l_menu.menu),
              (QStringList{"alpha * @: Remove User's Membership||Remove User's Operator Status",
                           "b&&x * @: Remove User's Membership||Make User Operator",
                           "odd * @: Give User Membership||Remove User's Operator Status",
                           "zeta * @: Give User Membership", "lobby: Give User Membership",
                           "mods: Remove User's Membership"}));
}

TEST_F(UserMenuTest, RoomActionsSendTheirRoomAndChangeNothingHere)
{
    MakeRoom("a&b", {"is_owner"}, {"room_members"});
    MakeRoom("jazz", {"is_owner"}, {"room_members", "room_operators"});
    MakeRoom("mods", {"is_operator"}, {});
    const QStringList l_before = RoomsOfBob();
    Trigger("Private Rooms/a&&b/Make User Operator");
    Trigger("Private Rooms/mods/Give User Membership");
    Trigger("Private Rooms/jazz/Remove User's Operator Status");
    Trigger("Private Rooms/a&&b/Remove User's Membership");
    Trigger("Private Rooms/jazz/Remove User's Membership");
    const auto l_fields = [](const char* i_room) { return WireFields().Text(i_room).Text("bob"); };
    EXPECT_EQ(Sent(143), QList<QByteArray>{l_fields("a&b")});
    EXPECT_EQ(Sent(134), QList<QByteArray>{l_fields("mods")});
    EXPECT_EQ(Sent(144), QList<QByteArray>{l_fields("jazz")});
    EXPECT_EQ(Sent(135), (QList<QByteArray>{l_fields("a&b"), l_fields("jazz")}));
    EXPECT_EQ(RoomsOfBob(), l_before);
}

TEST_F(UserMenuTest, FlagEntriesConnectAndDisconnectTheirMarks)
{
    const auto l_marks = [] {
        QStringList l_marks;
        for (const char* l_type : {"in_user_list", "is_ignored", "unshared", "user_online_alert"})
            if (User("bob").IsConnected(l_type))
                l_marks << l_type;
        return l_marks;
    };
    const std::pair<const char*, QStringList> l_steps[] = {
        {"Add user to list", {"in_user_list"}},
        {"Ignore chat from user", {"in_user_list", "is_ignored"}},
        {"Unshare files from user", {"in_user_list", "is_ignored", "unshared"}},
        {"Alert when user goes online", {"in_user_list", "is_ignored", "unshared", "user_online_alert"}},
        {"Remove user from list", {"is_ignored", "unshared", "user_online_alert"}},
        {"Receive chat from user", {"unshared", "user_online_alert"}},
        {"Re-share files with user", {"user_online_alert"}},
        {"Remove online status alert", {}},
        {"Alert when user goes online", {"user_online_alert"}},
    };
    for (const auto& [l_entry, l_expected] : l_steps)
    {
        Trigger(l_entry);
        EXPECT_EQ(l_marks().join(" "), l_expected.join(" ")) << l_entry;
    }
    // The first alert asks the server to follow bob; removing it and alerting again asks nothing.
    EXPECT_EQ(Sent(5), QList<QByteArray>{WireFields().Text("bob")});
}

TEST_F(UserMenuTest, AUserRemovedAndAddedAgainIsInNoGroup)
{
    Trigger("Add user to list");
    User("bob")["in_user_list"] += Node("user_list_group", "friends");
    Trigger("Remove user from list");
    Trigger("Add user to list");
    EXPECT_EQ(User("bob")["in_user_list"].GetItems("user_list_group").Size(), 0u);
}

TEST_F(UserMenuTest, EntriesOpenTheirWindows)
{
    FakeShareBrowser l_browser;
    SetSetting("privileges_time_left", "60");
    SetSetting("user_level_logging", "yes");
    for (const char* l_entry : {"Browse user's files", "Upload to user", "Gift Privileges",
                                "Add user note", "See User Log"})
        Trigger(l_entry);
    EXPECT_EQ(l_browser.m_calls, (QStringList{"browse bob", "upload bob"}));
    EXPECT_EQ(Titles<GiftPrivilegesDialog>(), QStringList{"Gift Privileges to bob"});
    EXPECT_EQ(Titles<UserNoteDialog>(), QStringList{"bob"});
    EXPECT_EQ(Titles<ItemLogDialog>().size(), 1);
    Trigger("Add user note");
    EXPECT_EQ(Titles<UserNoteDialog>().size(), 1);
}
