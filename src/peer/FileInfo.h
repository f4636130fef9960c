#pragma once

#include <QtGlobal>

#include <string>

#include "peer/AttributeMap.h"
#include "server/Persistent.h"

// One shared file as it travels between peers: its name (or full path with backslashes), its
// size and its attributes.
class FileInfo final : public Persistent
{
public:
    bool Read(InputStream& stream) override;
    bool Write(OutputStream& stream) const override;

    std::string name;
    qint64 size = 0;
    AttributeMap attributeMap;
};

// Sets of records order by the name's bytes (unsigned, a proper prefix first), then by size;
// the attributes take no part, so one record is kept per name and size.
inline bool operator<(const FileInfo& a, const FileInfo& b)
{
    const int order = a.name.compare(b.name);
    if (order != 0)
        return order < 0;
    return a.size < b.size;
}
