#include "views/search/SearchResultListItem.h"

#include <QTreeWidget>

namespace
{
double Speed(const QTreeWidgetItem& i_row)
{
    return i_row.text(SearchResultListItem::SpeedColumn).toDouble();
}
} // namespace

SearchResultListItem::SearchResultListItem(QTreeWidget* ip_parent) : QTreeWidgetItem(ip_parent)
{
}

SearchResultListItem::SearchResultListItem(QTreeWidgetItem* ip_parent) : QTreeWidgetItem(ip_parent)
{
}

QString SearchResultListItem::SpeedText(qint64 i_bytesPerSecond)
{
    return i_bytesPerSecond <= 0 ? QString() : QString::number(i_bytesPerSecond / 1024.0, 'f', 1);
}

bool SearchResultListItem::operator<(const QTreeWidgetItem& i_other) const
{
    const int l_column = treeWidget() ? treeWidget()->sortColumn() : FileColumn;
    if (l_column == FreeColumn)
    {
        const QString l_free = text(FreeColumn);
        const QString l_otherFree = i_other.text(FreeColumn);
        if (l_free != l_otherFree)
        {
            // "Y" is a free slot; otherwise the longer queue is the smaller row.
            if (l_free == QLatin1String("Y"))
                return false;
            if (l_otherFree == QLatin1String("Y"))
                return true;
            return l_otherFree.toInt() < l_free.toInt();
        }
    }
    if (l_column == FreeColumn || l_column == SpeedColumn)
    {
        const double l_speed = Speed(*this);
        const double l_otherSpeed = Speed(i_other);
        if (l_speed != l_otherSpeed)
            return l_speed < l_otherSpeed;
    }
    // Reversed, so that a descending sort lists names from A to Z.
    return i_other.text(FileColumn) < text(FileColumn);
}
