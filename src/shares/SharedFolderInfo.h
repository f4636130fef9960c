#pragma once

#include <set>

#include "peer/FileInfo.h"
#include "server/Persistent.h"

// One folder's files as they travel in a folder-contents reply: a uint32 count, the records in
// set order and a uint32 end mark of 0.
class SharedFolderInfo final : public Persistent
{
public:
    // False on a count above the readers' limit, or a record or the end mark cut short; the set
    // then holds what was read before.
    bool Read(InputStream& stream) override;
    bool Write(OutputStream& stream) const override;

    std::set<FileInfo> files;
};
