#include "peer/FileInfo.h"

#include "server/InputStream.h"
#include "server/OutputStream.h"

bool FileInfo::Read(InputStream& stream)
{
    quint8 present;
    if (!stream.Read(present))
        return false;
    // An absent record is one byte and leaves this one as it was.
    if (present == 0)
        return true;
    return stream.Read(name) && stream.Read(size) && stream.Read(attributeMap);
}

bool FileInfo::Write(OutputStream& stream) const
{
    return stream.Write(quint8(1)) && stream.Write(name) && stream.Write(size) &&
           stream.Write(attributeMap);
}
