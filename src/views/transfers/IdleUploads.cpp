#include "views/transfers/IdleUploads.h"

#include <QDateTime>

#include "store/Item.h"
#include "transfers/TransferStatus.h"

void IdleUploads::Note(ItemPtr i_entry)
{
    Forget(i_entry);
    const ItemPtr l_status = i_entry["upload_entry_status"];
    if (l_status && (l_status.AsStdString() == transfer_status::Queued || l_status.IsConnected("is_active")))
        return;
    const QDateTime l_stamp = QDateTime::fromString(i_entry["last_status_change_time"].AsString(), Qt::TextDate);
    if (l_stamp.isValid())
        m_filed.emplace(i_entry.Get(), m_byStamp.emplace(l_stamp.toMSecsSinceEpoch(), i_entry.Get()));
}

void IdleUploads::Forget(ItemPtr i_entry)
{
    const auto l_filed = m_filed.find(i_entry.Get());
    if (l_filed == m_filed.end())
        return;
    m_byStamp.erase(l_filed->second);
    m_filed.erase(l_filed);
}

std::vector<ItemPtr> IdleUploads::StampedBy(qint64 i_msecsSinceEpoch) const
{
    std::vector<ItemPtr> l_entries;
    for (auto l_at = m_byStamp.begin(); l_at != m_byStamp.end() && l_at->first <= i_msecsSinceEpoch; ++l_at)
        l_entries.push_back(l_at->second);
    return l_entries;
}
