// Feeds arbitrary bytes to the container and record readers of the wire streams. The first
// byte picks the reader; whatever is read successfully must encode to bytes that read back to
// the same encoding.
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <list>
#include <map>
#include <set>
#include <string>

#include "peer/AttributeTranslationTable.h"
#include "peer/FileInfo.h"
#include "peer/FileInfoMap.h"
#include "server/MemStream.h"
#include "server/UserStats.h"

namespace
{
void Check(bool condition)
{
    if (!condition)
        std::abort();
}

std::string Written(const MemStream& stream)
{
    return std::string(stream.GetBuffer(), static_cast<std::size_t>(stream.GetWriteIndex()));
}

template <class T>
std::string Encode(const T& value)
{
    MemStream stream;
    Check(stream.Write(value));
    return Written(stream);
}

template <class T>
void ReadAndRoundTrip(const uint8_t* data, std::size_t size)
{
    MemStream stream;
    Check(stream.WriteBuffer(data, size));
    T value{};
    const bool ok = stream.Read(value);
    Check(stream.GetPendingReadLength() >= 0);
    Check(static_cast<std::size_t>(stream.GetPendingReadLength()) <= size);
    if (!ok)
        return;

    const std::string first = Encode(value);
    MemStream again;
    Check(again.WriteBuffer(first.data(), first.size()));
    T back{};
    Check(again.Read(back));
    Check(again.GetPendingReadLength() == 0);
    Check(Encode(back) == first);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t* body = data + 1;
    const std::size_t length = size - 1;
    switch (data[0] % 10)
    {
    case 0:
        ReadAndRoundTrip<FileInfoMap>(body, length);
        break;
    case 1:
        ReadAndRoundTrip<AttributeTranslationTable>(body, length);
        break;
    case 2:
        ReadAndRoundTrip<std::set<FileInfo>>(body, length);
        break;
    case 3:
        ReadAndRoundTrip<std::list<int>>(body, length);
        break;
    case 4:
        ReadAndRoundTrip<std::list<QString>>(body, length);
        break;
    case 5:
        ReadAndRoundTrip<std::set<QString>>(body, length);
        break;
    case 6:
        ReadAndRoundTrip<FileInfo>(body, length);
        break;
    case 7:
        ReadAndRoundTrip<UserStats>(body, length);
        break;
    case 8:
        ReadAndRoundTrip<std::list<std::pair<unsigned int, int>>>(body, length);
        break;
    default:
    {
        // A shared-file list body as a peer sends it: the folders, then an optional table.
        MemStream stream;
        Check(stream.WriteBuffer(body, length));
        FileInfoMap share;
        AttributeTranslationTable table;
        if (stream.Read(share) && !stream.Read(table))
            table.clear();
        break;
    }
    }
    return 0;
}
