#include "views/chat/UserListItemWidget.h"

#include "store/Data.h"

namespace
{
bool IsOnline(const QString& i_name)
{
    const ItemPtr l_user = d.GetType("user")->HasItem(i_name);
    return l_user && l_user.IsConnected("is_online");
}
} // namespace

bool UserListItemWidget::operator<(const QTreeWidgetItem& i_other) const
{
    const QString l_name = text(0);
    const QString l_otherName = i_other.text(0);
    const bool l_online = IsOnline(l_name);
    if (l_online != IsOnline(l_otherName))
        return l_online;
    return QString::compare(l_name, l_otherName, Qt::CaseInsensitive) < 0;
}
