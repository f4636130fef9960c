#pragma once

#include <QTreeWidgetItem>

// A row of the room list: the room name in column 0, its user count in column 1. Sorted by
// name, the rooms the user owns come first, then those the user operates, then the private
// rooms the user is a member of, each group by name; sorted by count, the counts compare as
// numbers.
class QRoomListItemWidget : public QTreeWidgetItem
{
public:
    explicit QRoomListItemWidget(QTreeWidget* ip_list) : QTreeWidgetItem(ip_list) {}

    bool operator<(const QTreeWidgetItem& i_other) const override;
};
