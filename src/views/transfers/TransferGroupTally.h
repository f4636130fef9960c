#pragma once

#include <QString>

#include <cstddef>

#include "store/ItemPtr.h"
#include "store/ItemSet.h"

// The aggregate status and the summed bytes of a group row's entries. A tally is kept for each
// group row and changed entry by entry as entries come, change state and go, so that no report
// walks the group; a set of entries can still be tallied in one walk. Sums are kept wider than
// any sum of 64-bit sizes, so taking an entry out again is exact, and they show as the largest
// 64-bit number at most.
class TransferGroupTally
{
public:
    // What an entry's status counts as in the aggregate and in the bytes.
    enum class Standing : unsigned char
    {
        Other,
        Running,
        Queued,
        Complete,
        Denied,
        Aborted
    };
    // What one entry brings to its groups, as the store held it when last read.
    struct Share
    {
        Standing standing = Standing::Other;
        qint64 size = 0;
    };

    // The entry's share now; an upload's size is that of its shared file.
    static Share ShareOf(ItemPtr i_entry, bool i_upload);
    // The bytes the entry's running transfer has moved; 0 when it has none.
    static qint64 Moved(ItemPtr i_entry, bool i_upload);
    // Running, queued and aborted entries count with the bytes they have moved.
    static bool CountsMoved(Standing i_standing);
    static qint64 EntrySize(ItemPtr i_entry, bool i_upload);
    // Whether every download of the set is complete (also for none), read up to the first that
    // is not.
    static bool AllComplete(const ItemSet& i_downloads);

    // One walk over a set of entries, their moved bytes included.
    static TransferGroupTally Of(const ItemSet& i_entries, bool i_upload);

    // Finished entries count whole; running, queued and aborted ones as not begun, until their
    // moved bytes are added; failed ones not at all.
    void Add(const Share& i_share);
    void Take(const Share& i_share);
    void AddMoved(const Share& i_share, qint64 i_moved);

    // The first that holds: any running, any queued, all complete (also for none), any denied,
    // any aborted; else the empty text.
    QString Status(bool i_upload) const;
    bool AllComplete() const { return m_complete == m_entries; }
    bool AnyRunning() const { return m_running > 0; }
    std::size_t Entries() const { return m_entries; }
    qint64 Done() const { return Shown(m_done); }
    qint64 Left() const { return Shown(m_left); }
    qint64 Total() const { return Shown(m_total); }

private:
    // Wide enough that no sum of 64-bit sizes fills it.
    __extension__ typedef __int128 Wide;

    void Count(const Share& i_share, int i_sign);
    static qint64 Shown(Wide i_sum);

    std::size_t m_entries = 0;
    std::size_t m_running = 0;
    std::size_t m_queued = 0;
    std::size_t m_complete = 0;
    std::size_t m_denied = 0;
    std::size_t m_aborted = 0;
    Wide m_done = 0;
    Wide m_left = 0;
    Wide m_total = 0;
};
