#include "peer/AttributeMap.h"

#include <limits>

#include "server/InputStream.h"
#include "server/OutputStream.h"

bool AttributeMap::Read(InputStream& stream)
{
    if (!stream.Read(extension))
        return false;
    // Empties the list first, refuses counts above the limit and stops at the first
    // missing value.
    return stream.Read(attributes);
}

bool AttributeMap::Write(OutputStream& stream) const
{
    if (attributes.size() > static_cast<std::size_t>(std::numeric_limits<qint32>::max()))
        return false;
    if (!stream.Write(extension) || !stream.Write(static_cast<quint32>(attributes.size())))
        return false;
    for (const std::pair<int, int>& attribute : attributes)
        if (!stream.Write(static_cast<qint32>(attribute.first)) ||
            !stream.Write(static_cast<qint32>(attribute.second)))
            return false;
    return true;
}
