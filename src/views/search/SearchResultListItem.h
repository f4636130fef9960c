#pragma once

#include <QTreeWidgetItem>

// A row of a result tree. Sorted descending, users with a free slot come first, then those with
// the shortest queue, equal queues by highest speed; file rows by name, A to Z. Folder rows
// compare equal and keep the order they came in.
class SearchResultListItem : public QTreeWidgetItem
{
public:
    explicit SearchResultListItem(QTreeWidget* ip_parent);
    explicit SearchResultListItem(QTreeWidgetItem* ip_parent);

    bool operator<(const QTreeWidgetItem& i_other) const override;

    // A user row's speed: KiB/s with one decimal; empty for none, or for a speed below 0, which
    // means nothing and would only sort that user first.
    static QString SpeedText(qint64 i_bytesPerSecond);

    // The columns of a result tree.
    enum Column
    {
        UserColumn,
        FreeColumn,
        SpeedColumn,
        FolderColumn,
        FileColumn,
        SizeColumn,
        AttributesColumn
    };
};
