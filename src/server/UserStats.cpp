#include "server/UserStats.h"

#include "server/InputStream.h"
#include "server/OutputStream.h"

bool UserStats::Read(InputStream& stream)
{
    return stream.Read(m_averageSpeed) && stream.Read(m_carriedCount) &&
           stream.Read(m_sharedFileCount) && stream.Read(m_otherCount);
}

bool UserStats::Write(OutputStream& stream) const
{
    return stream.Write(m_averageSpeed) && stream.Write(m_carriedCount) &&
           stream.Write(m_sharedFileCount) && stream.Write(m_otherCount);
}
