#pragma once

#include <string>
#include <utility>
#include <vector>

#include "server/Persistent.h"

// A shared file's extension and numbered attributes. Codes known here: 0 bitrate in kbit/s,
// 1 play length in seconds, 2 variable bitrate (any non-zero value); others are carried as is.
class AttributeMap final : public Persistent
{
public:
    enum Code
    {
        Bitrate = 0,
        Length = 1,
        VariableBitrate = 2
    };

    bool Read(InputStream& stream) override;
    bool Write(OutputStream& stream) const override;

    std::string extension;
    // In the order read or added; a code may appear more than once.
    std::vector<std::pair<int, int>> attributes;
};
