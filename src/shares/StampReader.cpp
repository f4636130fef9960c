#include "shares/StampReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "shares/MP3Scanner.h"

namespace
{
void ReadStamps(StampReader::Batch& io_batch)
{
    io_batch.stamps.resize(io_batch.names.size());
    const int l_folder = ::open(io_batch.folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (std::size_t l_at = 0; l_at < io_batch.names.size(); ++l_at)
    {
        struct stat l_stat;
        const int l_result =
            l_folder >= 0 ? ::fstatat(l_folder, io_batch.names[l_at].c_str(), &l_stat, 0)
                          : ::stat((io_batch.folder + '/' + io_batch.names[l_at].c_str()).constData(), &l_stat);
        if (l_result == 0)
            io_batch.stamps[l_at] = MP3Scanner::StampText(l_stat);
    }
    if (l_folder >= 0)
        ::close(l_folder);
}
} // namespace

const StampReader::Batch* StampReader::Read(const QByteArray& i_folder, std::vector<std::string> i_names)
{
    Batch& l_batch = m_batches.emplace_back();
    l_batch.folder = i_folder;
    l_batch.names = std::move(i_names);
    m_jobs.Start([&l_batch] { ReadStamps(l_batch); });
    return &l_batch;
}
