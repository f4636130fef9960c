#include "views/chat/UserMenuOptions.h"

#include <QIcon>
#include <QMenu>

#include "store/Data.h"
#include "views/chat/ChatsForm.h"

namespace
{
// One line of the menu, in the order shown. A null text is a separator.
struct MenuEntry
{
    const char* text;
    const char* icon;
    // Whether the entry is there for this user; null means always.
    bool (*shown)(ItemPtr i_user);
    void (UserMenuOptions::*slot)();
};

const MenuEntry Entries[] = {
    {"Message user", ":/icons/chat_icon", nullptr, &UserMenuOptions::OnMessageUser},
};
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
        QAction* lp_action = ip_menu->addAction(QIcon(l_entry.icon), l_entry.text);
        connect(lp_action, &QAction::triggered, this, l_entry.slot);
    }
}

UserMenuOptions::~UserMenuOptions() = default;

void UserMenuOptions::OnMessageUser()
{
    if (chatsForm)
        chatsForm->OpenChatForm(m_user);
}
