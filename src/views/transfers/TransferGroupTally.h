#pragma once

#include <QString>

#include <cstddef>

#include "store/ItemPtr.h"
#include "store/ItemSet.h"

class Type;

// The summed bytes and the aggregate status of a group row's entries, gathered entry by entry
// in one walk. Every report of a running transfer walks all of its user's entries, so the
// types are looked up once per walk.
class TransferGroupTally
{
public:
    explicit TransferGroupTally(bool i_upload);

    // Finished entries count whole; running, queued and aborted ones with the bytes they have;
    // failed ones not at all.
    void Add(ItemPtr i_entry);
    // The first that holds: any running, any queued, all complete (also for none), any denied,
    // any aborted; else the empty text.
    QString Status() const;
    // An upload's size is that of its shared file.
    static qint64 EntrySize(ItemPtr i_entry, bool i_upload);
    // Whether every download of the set is complete (also for none), read up to the first that
    // is not.
    static bool AllComplete(const ItemSet& i_downloads);

    qint64 m_done = 0;
    qint64 m_left = 0;
    qint64 m_total = 0;

private:
    bool m_upload;
    Type* mp_status;
    Type* mp_position;
    Type* mp_size;
    const char* m_running;
    std::size_t m_entries = 0;
    std::size_t m_complete = 0;
    bool m_anyRunning = false;
    bool m_anyQueued = false;
    bool m_anyDenied = false;
    bool m_anyAborted = false;
};
