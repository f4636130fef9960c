// Feeds arbitrary bytes to the container and record readers of the wire streams. The first
// byte picks the reader; whatever is read successfully must encode to bytes that read back to
// the same encoding.
#include <list>
#include <map>
#include <set>
#include <string>

#include "FuzzHarness.h"
#include "peer/AttributeTranslationTable.h"
#include "peer/FileInfo.h"
#include "peer/FileInfoMap.h"
#include "server/UserStats.h"
#include "support/StreamBytes.h"

namespace
{
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
// A shared-file list body as a peer sends it: the folders, then an optional table.
void ReadShare(const uint8_t* data, std::size_t size)
{
    MemStream stream;
    Check(stream.WriteBuffer(data, size));
    FileInfoMap share;
    AttributeTranslationTable table;
    if (stream.Read(share) && !stream.Read(table))
        table.clear();
}

void (*const Readers[])(const uint8_t*, std::size_t) = {
    ReadAndRoundTrip<FileInfoMap>,       ReadAndRoundTrip<AttributeTranslationTable>,
    ReadAndRoundTrip<std::set<FileInfo>>, ReadAndRoundTrip<std::list<int>>,
    ReadAndRoundTrip<std::list<QString>>, ReadAndRoundTrip<std::set<QString>>,
    ReadAndRoundTrip<FileInfo>,          ReadAndRoundTrip<UserStats>,
    ReadAndRoundTrip<std::list<std::pair<unsigned int, int>>>, ReadShare};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    if (size > 0)
        Readers[data[0] % 10](data + 1, size - 1);
    return 0;
}
