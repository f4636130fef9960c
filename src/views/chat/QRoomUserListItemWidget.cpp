#include "views/chat/QRoomUserListItemWidget.h"

#include "store/Data.h"

namespace
{
// Never creates a user: sorting must not add to the store.
ItemPtr UserOf(const QTreeWidgetItem& i_row)
{
    Type* lp_users = d.HasType("user");
    return lp_users ? lp_users->HasItem(i_row.text(UserColumn)) : ItemPtr();
}

bool HasNote(ItemPtr i_user)
{
    return d.HasType("user_note") && i_user && i_user.IsConnected("user_note");
}
} // namespace

// Files and speed put the greater value first, so that the first click on their header shows
// the largest sharers and the fastest users at the top.
bool QRoomUserListItemWidget::operator<(const QTreeWidgetItem& i_other) const
{
    const QTreeWidget* lp_list = treeWidget();
    const int l_column = lp_list ? lp_list->sortColumn() : UserColumn;
    // Only the stored figures need the store; names sort by themselves.
    if (l_column == UserColumn || l_column < FlagColumn || l_column > SpeedColumn)
        return QString::compare(text(UserColumn), i_other.text(UserColumn), Qt::CaseInsensitive) < 0;

    const ItemPtr l_mine = UserOf(*this);
    const ItemPtr l_theirs = UserOf(i_other);
    switch (l_column)
    {
    case FlagColumn:
        return QString::compare(l_mine["country_code"].AsString(),
                                l_theirs["country_code"].AsString(), Qt::CaseInsensitive) < 0;
    case NoteColumn:
        return HasNote(l_mine) && !HasNote(l_theirs);
    case FilesColumn:
        return l_mine["shared_files_count"].AsInt() > l_theirs["shared_files_count"].AsInt();
    default: // SpeedColumn
        return l_mine["average_download_speed"].AsInt() >
               l_theirs["average_download_speed"].AsInt();
    }
}
