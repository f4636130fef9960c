// Feeds arbitrary bytes to the container and record readers of the wire streams. The first
// byte picks the reader; whatever is read successfully must encode to bytes that read back to
// the same encoding.
#include <list>
#include <set>

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
void ReadAndRoundTrip(MemStream& stream, std::size_t size)
{
    T value{};
    const bool ok = stream.Read(value);
    Check(stream.GetPendingReadLength() >= 0 && std::size_t(stream.GetPendingReadLength()) <= size);
    if (!ok)
        return;
    const std::string first = Encode(value);
    MemStream again = StreamOf(first);
    T back{};
    Check(again.Read(back) && again.GetPendingReadLength() == 0 && Encode(back) == first);
}

// A shared-file list body as a peer sends it: the folders, then an optional table.
void ReadShare(MemStream& stream, std::size_t)
{
    FileInfoMap share;
    AttributeTranslationTable table;
    if (stream.Read(share) && !stream.Read(table))
        table.clear();
}

void (*const Readers[])(MemStream&, std::size_t) = {
    ReadAndRoundTrip<FileInfoMap>,       ReadAndRoundTrip<AttributeTranslationTable>,
    ReadAndRoundTrip<std::set<FileInfo>>, ReadAndRoundTrip<std::list<int>>,
    ReadAndRoundTrip<std::list<QString>>, ReadAndRoundTrip<std::set<QString>>,
    ReadAndRoundTrip<FileInfo>,          ReadAndRoundTrip<UserStats>,
    ReadAndRoundTrip<std::list<std::pair<unsigned int, int>>>, ReadShare};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    MemStream l_stream = Body(data, size);
    Readers[data[0] % 10](l_stream, size - 1);
    return 0;
}
