#include "views/transfers/TransferGroupTally.h"

#include <limits>
#include <string_view>

#include "store/Data.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferStatus.h"

namespace
{
// Sizes and positions come from other users: none counts below 0.
qint64 NotNegative(qint64 i_bytes)
{
    return i_bytes < 0 ? 0 : i_bytes;
}

TransferGroupTally::Standing StandingOf(std::string_view i_status, bool i_upload)
{
    using namespace transfer_status;
    using Standing = TransferGroupTally::Standing;
    if (i_status == (i_upload ? Uploading : Downloading))
        return Standing::Running;
    if (i_status == Queued)
        return Standing::Queued;
    if (i_status == Complete)
        return Standing::Complete;
    if (i_status == Denied)
        return Standing::Denied;
    if (i_status == Aborted)
        return Standing::Aborted;
    return Standing::Other;
}
} // namespace

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

TransferGroupTally::Share TransferGroupTally::ShareOf(ItemPtr i_entry, bool i_upload)
{
    Share l_share;
    const ItemPtr l_status = i_entry[i_upload ? "upload_entry_status" : "download_entry_status"];
    if (l_status)
        l_share.standing = StandingOf(l_status->GetValue().Bytes(), i_upload);
    if (l_share.standing == Standing::Complete || CountsMoved(l_share.standing))
        l_share.size = EntrySize(i_entry, i_upload);
    return l_share;
}

qint64 TransferGroupTally::Moved(ItemPtr i_entry, bool i_upload)
{
    const ItemPtr l_position = i_entry[i_upload ? "read_position" : "write_position"];
    const qint64* lp_moved =
        l_position && transferQueueManager ? transferQueueManager->PeekObject<qint64>(l_position) : nullptr;
    return lp_moved ? NotNegative(*lp_moved) : 0;
}

bool TransferGroupTally::CountsMoved(Standing i_standing)
{
    return i_standing == Standing::Running || i_standing == Standing::Queued ||
           i_standing == Standing::Aborted;
}

TransferGroupTally TransferGroupTally::Of(const ItemSet& i_entries, bool i_upload)
{
    TransferGroupTally l_tally;
    for (ItemPtr l_entry : i_entries)
    {
        const Share l_share = ShareOf(l_entry, i_upload);
        l_tally.Add(l_share);
        if (CountsMoved(l_share.standing))
            l_tally.AddMoved(l_share, Moved(l_entry, i_upload));
    }
    return l_tally;
}

void TransferGroupTally::Count(const Share& i_share, int i_sign)
{
    const auto l_step = [i_sign](std::size_t& io_count) { io_count = i_sign > 0 ? io_count + 1 : io_count - 1; };
    const Wide l_size = Wide(i_sign) * i_share.size;
    l_step(m_entries);
    switch (i_share.standing)
    {
    case Standing::Running:
        l_step(m_running);
        break;
    case Standing::Queued:
        l_step(m_queued);
        break;
    case Standing::Complete:
        l_step(m_complete);
        m_done += l_size;
        m_total += l_size;
        return;
    case Standing::Denied:
        l_step(m_denied);
        return;
    case Standing::Aborted:
        l_step(m_aborted);
        break;
    case Standing::Other:
        return;
    }
    m_left += l_size;
    m_total += l_size;
}

void TransferGroupTally::Add(const Share& i_share)
{
    Count(i_share, 1);
}

void TransferGroupTally::Take(const Share& i_share)
{
    Count(i_share, -1);
}

// A transfer that has moved more than its size, as its sender tells it, has nothing left.
void TransferGroupTally::AddMoved(const Share& i_share, qint64 i_moved)
{
    m_done += i_moved;
    m_left += NotNegative(i_share.size - i_moved) - i_share.size;
}

qint64 TransferGroupTally::Shown(Wide i_sum)
{
    constexpr qint64 l_largest = std::numeric_limits<qint64>::max();
    return i_sum < 0 ? 0 : (i_sum > l_largest ? l_largest : qint64(i_sum));
}

QString TransferGroupTally::Status(bool i_upload) const
{
    using namespace transfer_status;
    if (m_running)
        return i_upload ? Uploading : Downloading;
    if (m_queued)
        return Queued;
    if (m_complete == m_entries)
        return Complete;
    if (m_denied)
        return Denied;
    if (m_aborted)
        return Aborted;
    return QString();
}
