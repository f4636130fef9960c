#pragma once

#include <QtGlobal>

#include <map>
#include <unordered_map>
#include <vector>

#include "store/ItemPtr.h"

// The uploads that neither wait nor run, in the order their last status change was stamped, so
// that the half-minute clean-up finds those idle for five minutes without reading every upload.
// An entry is filed again whenever its status or its stamp changes; one without a readable stamp
// is not filed.
class IdleUploads
{
public:
    void Note(ItemPtr i_entry);
    void Forget(ItemPtr i_entry);
    // The entries stamped at or before that moment (milliseconds since the epoch).
    std::vector<ItemPtr> StampedBy(qint64 i_msecsSinceEpoch) const;

private:
    std::multimap<qint64, Item*> m_byStamp;
    std::unordered_map<Item*, std::multimap<qint64, Item*>::iterator> m_filed;
};
