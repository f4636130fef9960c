#pragma once

#include <QString>
#include <QTreeWidgetItem>

// One row of the completed downloads: newest completion first. The completion time is read
// once, when the row is filled, and kept in the row as its sort key, so ordering thousands of
// rows parses no dates.
class CompleteDownloadItem : public QTreeWidgetItem
{
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    ~CompleteDownloadItem() override;

    // A time that cannot be read sorts before every readable one.
    void SetCompletionTime(const QString& i_text);
    qint64 SortKey() const;

    bool operator<(const QTreeWidgetItem& i_other) const override;
};
