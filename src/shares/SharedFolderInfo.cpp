#include "shares/SharedFolderInfo.h"

#include "server/InputStream.h"
#include "server/OutputStream.h"

bool SharedFolderInfo::Read(InputStream& stream)
{
    files.clear();
    quint32 l_count = 0;
    if (!stream.Read(l_count) || l_count > InputStream::MaxCount)
        return false;
    for (quint32 l_index = 0; l_index < l_count; ++l_index)
    {
        FileInfo l_file;
        if (!l_file.Read(stream))
            return false;
        files.insert(std::move(l_file));
    }
    quint32 l_endMark = 0;
    return stream.Read(l_endMark);
}

bool SharedFolderInfo::Write(OutputStream& stream) const
{
    if (!stream.Write(static_cast<quint32>(files.size())))
        return false;
    for (const FileInfo& l_file : files)
        if (!l_file.Write(stream))
            return false;
    return stream.Write(quint32(0));
}
