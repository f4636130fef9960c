#pragma once

#include <QTreeWidgetItem>

// A row of the user list. Sorted by its first column, online users come first, then the rest,
// each by name without regard to case; whether a user is online is read from the store.
class UserListItemWidget : public QTreeWidgetItem
{
public:
    using QTreeWidgetItem::QTreeWidgetItem;

    bool operator<(const QTreeWidgetItem& i_other) const override;
};
