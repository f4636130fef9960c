#include "views/chat/QRoomListItemWidget.h"

#include "store/Data.h"

namespace
{
const char* const RoleFlags[] = {"is_owner", "is_operator", "is_member"};

// Never creates a room: sorting must not add to the store.
ItemPtr RoomOf(const QTreeWidgetItem& i_row)
{
    Type* lp_rooms = d.HasType("room");
    return lp_rooms ? lp_rooms->HasItem(i_row.text(0)) : ItemPtr();
}

bool HasFlag(ItemPtr i_room, const char* i_flag)
{
    return i_room && i_room.IsConnected(i_flag);
}
} // namespace

bool QRoomListItemWidget::operator<(const QTreeWidgetItem& i_other) const
{
    const QTreeWidget* lp_list = treeWidget();
    if (lp_list && lp_list->sortColumn() != 0)
        return text(1).toInt() < i_other.text(1).toInt();

    const ItemPtr l_mine = RoomOf(*this);
    const ItemPtr l_theirs = RoomOf(i_other);
    for (const char* l_flag : RoleFlags)
    {
        const bool l_mineHas = HasFlag(l_mine, l_flag);
        if (l_mineHas != HasFlag(l_theirs, l_flag))
            return l_mineHas;
    }
    return QString::compare(text(0), i_other.text(0), Qt::CaseInsensitive) < 0;
}
