#include "views/transfers/CompleteDownloadItem.h"

#include <QDateTime>

#include <limits>

namespace
{
const int SortKeyRole = Qt::UserRole + 1;
const qint64 Unreadable = std::numeric_limits<qint64>::min();
} // namespace

CompleteDownloadItem::~CompleteDownloadItem() = default;

void CompleteDownloadItem::SetCompletionTime(const QString& i_text)
{
    const QDateTime l_time = QDateTime::fromString(i_text, Qt::TextDate);
    setData(0, SortKeyRole, l_time.isValid() ? l_time.toMSecsSinceEpoch() : Unreadable);
}

qint64 CompleteDownloadItem::SortKey() const
{
    const QVariant l_key = data(0, SortKeyRole);
    return l_key.isValid() ? l_key.toLongLong() : Unreadable;
}

bool CompleteDownloadItem::operator<(const QTreeWidgetItem& i_other) const
{
    const QVariant l_other = i_other.data(0, SortKeyRole);
    return SortKey() < (l_other.isValid() ? l_other.toLongLong() : Unreadable);
}
