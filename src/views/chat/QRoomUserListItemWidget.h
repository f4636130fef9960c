#pragma once

#include <QTreeWidgetItem>

// The columns of a room tab's user list; the first holds nothing of the user.
enum RoomUserColumn
{
    FlagColumn = 1,
    UserColumn = 2,
    NoteColumn = 3,
    FilesColumn = 4,
    SpeedColumn = 5,
};

// A row of a room tab's user list. Its user is the name in the "User" column; sorting by the
// flag, note, file or speed column compares what the store holds for the two users, so counts
// shown with separators and speeds rounded for display still sort by their exact values.
class QRoomUserListItemWidget : public QTreeWidgetItem
{
public:
    explicit QRoomUserListItemWidget(QTreeWidget* ip_list = nullptr) : QTreeWidgetItem(ip_list) {}

    bool operator<(const QTreeWidgetItem& i_other) const override;
};
