#include "views/transfers/TransferGroupTally.h"

#include <limits>
#include <string>
#include <string_view>

#include "store/Data.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferStatus.h"

namespace
{
// Sizes come from other users: none counts below 0, and a sum stops at the largest number
// rather than wrap round.
qint64 NotNegative(qint64 i_bytes)
{
    return i_bytes < 0 ? 0 : i_bytes;
}

void AddUpTo(qint64& io_sum, qint64 i_bytes)
{
    if (__builtin_add_overflow(io_sum, NotNegative(i_bytes), &io_sum))
        io_sum = std::numeric_limits<qint64>::max();
}

// The value bytes of the entry's item of that type; empty when it has none.
std::string_view PartBytes(Item* ip_entry, Type* ip_type)
{
    const Item* lp_part = ip_entry->FirstOf(ip_type);
    return lp_part ? lp_part->GetValue().Bytes() : std::string_view();
}
} // namespace

TransferGroupTally::TransferGroupTally(bool i_upload)
    : m_upload(i_upload),
      mp_status(d.GetType(i_upload ? "upload_entry_status" : "download_entry_status")),
      mp_position(d.GetType(i_upload ? "read_position" : "write_position")),
      mp_size(i_upload ? nullptr : d.GetType("file_size")),
      m_running(i_upload ? transfer_status::Uploading : transfer_status::Downloading)
{
}

qint64 TransferGroupTally::EntrySize(ItemPtr i_entry, bool i_upload)
{
    return NotNegative(i_upload ? i_entry["shared_file"]["shared_file_size"].AsInt64()
                                : i_entry["file_size"].AsInt64());
}

bool TransferGroupTally::AllComplete(const ItemSet& i_downloads)
{
    for (ItemPtr l_entry : i_downloads)
        if (l_entry["download_entry_status"].AsStdString() != transfer_status::Complete)
            return false;
    return true;
}

void TransferGroupTally::Add(ItemPtr i_entry)
{
    using namespace transfer_status;
    ++m_entries;
    const std::string_view l_status = PartBytes(i_entry.Get(), mp_status);
    const bool l_running = l_status == m_running;
    const bool l_queued = l_status == Queued;
    const bool l_aborted = l_status == Aborted;
    const bool l_complete = l_status == Complete;
    m_anyRunning |= l_running;
    m_anyQueued |= l_queued;
    m_anyDenied |= l_status == Denied;
    m_anyAborted |= l_aborted;
    m_complete += l_complete;
    if (!l_complete && !l_running && !l_queued && !l_aborted)
        return;
    const qint64 l_size = NotNegative(mp_size ? ItemPtr(i_entry->FirstOf(mp_size)).AsInt64()
                                              : EntrySize(i_entry, m_upload));
    AddUpTo(m_total, l_size);
    if (l_complete)
    {
        AddUpTo(m_done, l_size);
        return;
    }
    const ItemPtr l_position = i_entry->FirstOf(mp_position);
    const qint64* lp_done =
        l_position && transferQueueManager ? transferQueueManager->PeekObject<qint64>(l_position) : nullptr;
    const qint64 l_done = lp_done ? NotNegative(*lp_done) : 0;
    AddUpTo(m_done, l_done);
    AddUpTo(m_left, l_size - l_done);
}

QString TransferGroupTally::Status() const
{
    using namespace transfer_status;
    if (m_anyRunning)
        return m_running;
    if (m_anyQueued)
        return Queued;
    if (m_complete == m_entries)
        return Complete;
    if (m_anyDenied)
        return Denied;
    if (m_anyAborted)
        return Aborted;
    return QString();
}
