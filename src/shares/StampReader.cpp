#include "shares/StampReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "shares/MP3Scanner.h"

namespace
{
void ReadStamps(StampReader::Batch& io_batch)
{
    io_batch.stamps.resize(io_batch.starts.size());
    const int l_folder = ::open(io_batch.encodedFolder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (std::size_t l_at = 0; l_at < io_batch.starts.size(); ++l_at)
    {
        struct stat l_stat;
        const int l_result =
            l_folder >= 0 ? ::fstatat(l_folder, io_batch.Name(l_at), &l_stat, 0)
                          : ::stat((io_batch.encodedFolder + '/' + io_batch.Name(l_at)).constData(), &l_stat);
        if (l_result == 0)
            io_batch.stamps[l_at] = {qint64(l_stat.st_size), MP3Scanner::ModifiedNanoseconds(l_stat), true};
    }
    if (l_folder >= 0)
        ::close(l_folder);
}
} // namespace

std::string StampReader::Batch::StampText(std::size_t i_at) const
{
    const Stamp& l_stamp = stamps[i_at];
    if (!l_stamp.read)
        return std::string();
    char l_text[MP3Scanner::StampSize];
    return std::string(l_text, MP3Scanner::WriteStamp(l_stamp.size, l_stamp.nanoseconds, l_text));
}

bool StampReader::Batch::HasStamp(std::size_t i_at, std::string_view i_stamp) const
{
    const Stamp& l_stamp = stamps[i_at];
    if (!l_stamp.read)
        return i_stamp.empty();
    char l_text[MP3Scanner::StampSize];
    return std::string_view(l_text, MP3Scanner::WriteStamp(l_stamp.size, l_stamp.nanoseconds, l_text)) == i_stamp;
}

const StampReader::Batch* StampReader::Read(Batch&& i_batch)
{
    Batch& l_batch = m_batches.emplace_back(std::move(i_batch));
    m_jobs.Start([&l_batch] { ReadStamps(l_batch); });
    return &l_batch;
}
