#include "views/chat/UserMenuOptions.h"

#include <QAction>
#include <QFont>
#include <QIcon>
#include <QMenu>

#include "diagnostics/ItemLogDialog.h"
#include "server/Server.h"
#include "shell/UIFunctions.h"
#include "store/Data.h"
#include "store/Settings.h"
#include "transfers/TransferQueueManager.h"
#include "views/chat/ChatsForm.h"
#include "views/chat/GiftPrivilegesDialog.h"
#include "views/chat/ShareBrowser.h"
#include "views/chat/UserGroupsDialog.h"
#include "views/chat/UserInfoForm.h"
#include "views/chat/UserListForm.h"
#include "views/chat/UserNoteDialog.h"

namespace
{
using Slot = void (UserMenuOptions::*)();

// Whether the user carries the mark. A mark whose type no part has declared yet is carried by
// nobody.
bool Has(ItemPtr i_user, const char* i_type)
{
    return d.HasType(i_type) && i_user.IsConnected(i_type);
}

bool Listed(ItemPtr i_user)
{
    return Has(i_user, "in_user_list");
}

bool Unlisted(ItemPtr i_user)
{
    return !Listed(i_user);
}

// Only a positive number of seconds left; a missing or garbled value is none.
bool Privileged(ItemPtr)
{
    bool l_number = false;
    const qint64 l_seconds = GetSetting("privileges_time_left").toLongLong(&l_number);
    return l_number && l_seconds > 0;
}

// One line of the menu, in the order shown. A null text is a separator. An entry with a mark
// shows its second text and slot instead while the user carries the mark.
struct MenuEntry
{
    const char* text;
    const char* icon;
    // Whether the entry is there for this user; null means always.
    bool (*shown)(ItemPtr i_user);
    Slot slot;
    const char* mark = nullptr;
    const char* markedText = nullptr;
    Slot markedSlot = nullptr;
};

const MenuEntry Entries[] = {
    {"Message user", ":/icons/chat_icon", nullptr, &UserMenuOptions::OnMessageUser},
    {"Set user's groups", ":/icons/users_icon", Listed, &UserMenuOptions::OnSetUserGroups},
    {"Remove user from list", ":/icons/remove_user_icon", Listed, &UserMenuOptions::OnRemoveUser},
    {"Add user to list", ":/icons/add_user_icon", Unlisted, &UserMenuOptions::OnAddUser},
    {"Browse user's files", ":/icons/browse_icon", nullptr, &UserMenuOptions::OnBrowseUser},
    {"Upload to user", ":/icons/browse_icon", nullptr, &UserMenuOptions::OnUploadToUser},
    {"Get User Info", ":/icons/info_icon", nullptr, &UserMenuOptions::OnGetUserInfo},
    {"Add user note", ":/icons/note_icon", nullptr, &UserMenuOptions::OnUserNote, "user_note",
     "Edit user note", &UserMenuOptions::OnUserNote},
    {"Alert when user goes online", ":/icons/alert_icon", nullptr,
     &UserMenuOptions::OnAddRemoveOnlineAlert, "user_online_alert", "Remove online status alert",
     &UserMenuOptions::OnAddRemoveOnlineAlert},
    {"Gift Privileges", nullptr, Privileged, &UserMenuOptions::OnGiftPrivileges},
    {nullptr, nullptr, nullptr, nullptr},
    {"Unshare files from user", ":/icons/browse_icon", nullptr,
     &UserMenuOptions::OnUnshareFilesFromUser, "unshared", "Re-share files with user",
     &UserMenuOptions::OnReshareFilesWithUser},
    {"Ignore chat from user", ":/icons/chat_icon", nullptr, &UserMenuOptions::OnIgnoreUser,
     "is_ignored", "Receive chat from user", &UserMenuOptions::OnUnignoreUser},
};

bool InRoomSet(ItemPtr i_room, const char* i_set, ItemPtr i_user)
{
    const ItemPtr l_set = i_room[i_set];
    return l_set && l_set.IsConnected(i_user);
}
} // namespace

UserMenuOptions::UserMenuOptions(QMenu* ip_menu, QString i_user, QObject* ip_parent)
    : QObject(ip_parent), m_user(std::move(i_user))
{
    // The view's own actions come first, set apart.
    if (!ip_menu->actions().isEmpty())
        ip_menu->addSeparator();
    ItemPtr l_user = d.GetType("user")->GetItem(m_user);
    for (const MenuEntry& l_entry : Entries)
    {
        if (l_entry.shown && !l_entry.shown(l_user))
            continue;
        if (!l_entry.text)
        {
            ip_menu->addSeparator();
            continue;
        }
        const bool l_marked = l_entry.mark && Has(l_user, l_entry.mark);
        QAction* lp_action = ip_menu->addAction(l_entry.icon ? QIcon(l_entry.icon) : QIcon(),
                                                l_marked ? l_entry.markedText : l_entry.text);
        connect(lp_action, &QAction::triggered, this, l_marked ? l_entry.markedSlot : l_entry.slot);
    }
    AddPrivateRooms(ip_menu);
    if (IsSettingYes("user_level_logging"))
    {
        ip_menu->addSeparator();
        QAction* lp_log = ip_menu->addAction("See User Log");
        lp_log->setData(m_user);
        connect(lp_log, &QAction::triggered, this, &UserMenuOptions::OnUserLog);
    }
}

UserMenuOptions::~UserMenuOptions() = default;

void UserMenuOptions::AddPrivateRooms(QMenu* ip_menu)
{
    const ItemSet l_rooms = d.GetType("room")->GetItems();
    const std::vector<ItemPtr> l_owned = l_rooms.Connected("is_owner").SortAlphabetic(true);
    // A room we own and operate is listed once, as owned.
    const std::vector<ItemPtr> l_operated =
        l_rooms.Connected("is_operator").NotConnected("is_owner").SortAlphabetic(true);
    if (l_owned.empty() && l_operated.empty())
        return;
    ip_menu->addSeparator();
    QMenu* lp_rooms = ip_menu->addMenu("Private Rooms");
    const ItemPtr l_user = d.GetType("user")->GetItem(m_user);
    const auto l_add = [&](QMenu* ip_room, ItemPtr i_room, const QString& i_text, Slot i_slot) {
        QAction* lp_action = ip_room->addAction(i_text);
        lp_action->setData(i_room.AsString());
        connect(lp_action, &QAction::triggered, this, i_slot);
    };
    const auto l_addMembership = [&](QMenu* ip_room, ItemPtr i_room) {
        if (InRoomSet(i_room, "room_members", l_user))
            l_add(ip_room, i_room, "Remove User's Membership", &UserMenuOptions::OnRemoveUserMembership);
        else
            l_add(ip_room, i_room, "Give User Membership", &UserMenuOptions::OnAddUserMembership);
    };
    for (ItemPtr l_room : l_owned)
    {
        QMenu* lp_room = lp_rooms->addMenu(QIcon(":/icons/chat_icon"), LiteralAmpersands(l_room.AsString()));
        QFont l_font = lp_room->menuAction()->font();
        l_font.setWeight(QFont::Bold);
        l_font.setUnderline(true);
        lp_room->menuAction()->setFont(l_font);
        l_addMembership(lp_room, l_room);
        const bool l_operator = InRoomSet(l_room, "room_operators", l_user);
        if (l_operator || InRoomSet(l_room, "room_members", l_user))
        {
            lp_room->addSeparator();
            if (l_operator)
                l_add(lp_room, l_room, "Remove User's Operator Status",
                      &UserMenuOptions::OnRemoveUserOperatorship);
            else
                l_add(lp_room, l_room, "Make User Operator", &UserMenuOptions::OnAddUserOperatorship);
        }
    }
    for (ItemPtr l_room : l_operated)
        l_addMembership(lp_rooms->addMenu(LiteralAmpersands(l_room.AsString())), l_room);
}

QString UserMenuOptions::SenderRoom() const
{
    const auto* lp_action = qobject_cast<const QAction*>(sender());
    return lp_action ? lp_action->data().toString() : QString();
}

void UserMenuOptions::OnMessageUser()
{
    if (chatsForm)
        chatsForm->OpenChatForm(m_user);
}

void UserMenuOptions::OnSetUserGroups()
{
    (new UserGroupsDialog(m_user))->show();
}

void UserMenuOptions::OnAddUser()
{
    d.GetType("user")->GetItem(m_user).NewItem("in_user_list");
    if (IsSettingYes("open_groups_on_user_add"))
        OnSetUserGroups();
}

void UserMenuOptions::OnRemoveUser()
{
    // The user's groups hang on this item and go with it.
    d.GetType("user")->GetItem(m_user).Disconnect("in_user_list");
}

void UserMenuOptions::OnBrowseUser()
{
    if (sharesForm)
        sharesForm->OpenShareBrowse(m_user);
}

void UserMenuOptions::OnUploadToUser()
{
    if (sharesForm)
        sharesForm->OpenUploadBrowse(m_user);
}

void UserMenuOptions::OnUserLog()
{
    (new ItemLogDialog(d.GetType("user")->GetItem(m_user)))->show();
}

void UserMenuOptions::OnUnshareFilesFromUser()
{
    if (transferQueueManager)
        transferQueueManager->UnshareUser(m_user);
}

void UserMenuOptions::OnReshareFilesWithUser()
{
    if (transferQueueManager)
        transferQueueManager->ReshareUser(m_user);
}

void UserMenuOptions::OnIgnoreUser()
{
    d.GetType("user")->GetItem(m_user) += d.GetType("is_ignored")->GetGlobalNullItem();
}

void UserMenuOptions::OnUnignoreUser()
{
    d.GetType("user")->GetItem(m_user).Disconnect("is_ignored");
}

void UserMenuOptions::OnAddUserMembership()
{
    if (gp_server)
        gp_server->AddPrivateRoomMember(SenderRoom(), m_user);
}

void UserMenuOptions::OnRemoveUserMembership()
{
    if (gp_server)
        gp_server->RemovePrivateRoomMember(SenderRoom(), m_user);
}

void UserMenuOptions::OnAddUserOperatorship()
{
    if (gp_server)
        gp_server->AddPrivateRoomOperator(SenderRoom(), m_user);
}

void UserMenuOptions::OnRemoveUserOperatorship()
{
    if (gp_server)
        gp_server->RemovePrivateRoomOperator(SenderRoom(), m_user);
}

void UserMenuOptions::OnUserNote()
{
    UserNoteDialog::GetDialog(m_user)->show();
}

void UserMenuOptions::OnGetUserInfo()
{
    if (userListForm)
        FocusWidgetAndParents(userListForm->GetUserInfoForm(m_user));
}

void UserMenuOptions::OnGiftPrivileges()
{
    (new GiftPrivilegesDialog(m_user))->show();
}

void UserMenuOptions::OnAddRemoveOnlineAlert()
{
    const ItemPtr l_user = d.GetType("user")->GetItem(m_user);
    if (l_user.IsConnected("user_online_alert"))
    {
        // The server goes on reporting the user; other parts may still follow it.
        l_user.Disconnect("user_online_alert");
        return;
    }
    l_user += d.GetType("user_online_alert")->GetGlobalNullItem();
    if (gp_server)
        gp_server->TrackUser(m_user);
}
