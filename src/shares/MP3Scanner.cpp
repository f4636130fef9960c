#include "shares/MP3Scanner.h"

#include <QFile>
#include <QMutexLocker>

#include <array>
#include <charconv>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
// Every candidate header is counted under the header bits the analysis reads, so that the
// work and memory per file stay fixed however many frames it holds:
//   bits 12-8  the second header byte's low five bits: version (2), layer (2), protection (1)
//   bits 7-2   the third byte's top six bits: bitrate index (4), sampling-rate index (2)
//   bits 1-0   the fourth byte's top two bits: channel mode
// Header bits are numbered here from 0, the lowest bit of a byte.
constexpr std::size_t HeaderKeyCount = 1 << 13;
typedef std::array<quint64, HeaderKeyCount> HeaderCounts;

std::size_t HeaderKey(uchar i_b1, uchar i_b2, uchar i_b3)
{
    return static_cast<std::size_t>(((i_b1 & 0x1f) << 8) | (i_b2 & 0xfc) | (i_b3 >> 6));
}

int VersionBits(std::size_t i_key) { return static_cast<int>(i_key >> 11) & 3; }
int LayerBits(std::size_t i_key) { return static_cast<int>(i_key >> 9) & 3; }
int ProtectionBit(std::size_t i_key) { return static_cast<int>(i_key >> 8) & 1; }
int BitrateIndex(std::size_t i_key) { return static_cast<int>(i_key >> 4) & 15; }
int SamplingIndex(std::size_t i_key) { return static_cast<int>(i_key >> 2) & 3; }
int ChannelMode(std::size_t i_key) { return static_cast<int>(i_key) & 3; }

constexpr int Mpeg25Bits = 0;
constexpr int ReservedVersionBits = 1;
constexpr int Mpeg2Bits = 2;
constexpr int Mpeg1Bits = 3;
constexpr int LayerIIIBits = 1;

// Layer III bitrates in kbit/s by bitrate index; 0 (free format) and 15 (invalid) carry none.
constexpr int Mpeg1LayerIII[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
constexpr int Mpeg2LayerIII[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};

const char* const ChannelModeTexts[4] = {"stereo", "joint stereo", "dual mono", "mono"};

// A frame sync: 0xFF and a byte with its top three bits set.
bool IsSync(uchar i_b0, uchar i_b1)
{
    return (i_b0 & (i_b1 | 0x1f)) == 0xff;
}

void CountHeadersAt(const uchar* ip_block, qint64 i_from, qint64 i_to, HeaderCounts& io_counts)
{
    for (qint64 l_at = i_from; l_at < i_to; ++l_at)
        if (IsSync(ip_block[l_at], ip_block[l_at + 1]))
            ++io_counts[HeaderKey(ip_block[l_at + 1], ip_block[l_at + 2], ip_block[l_at + 3])];
}

#if defined(__x86_64__)
void CountSyncs(const uchar* ip_block, qint64 i_at, quint64 i_syncs, HeaderCounts& io_counts)
{
    for (; i_syncs != 0; i_syncs &= i_syncs - 1)
    {
        const uchar* const lp_header = ip_block + i_at + __builtin_ctzll(i_syncs);
        ++io_counts[HeaderKey(lp_header[1], lp_header[2], lp_header[3])];
    }
}

// Audio data holds few syncs, so 64 positions at a time are tested without branching and
// only the syncs among them are visited. Each returns where the plain loop must go on.
qint64 CountHeadersSse2(const uchar* ip_block, qint64 i_starts, HeaderCounts& io_counts)
{
    const __m128i l_ff = _mm_set1_epi8(static_cast<char>(0xff));
    const __m128i l_low = _mm_set1_epi8(0x1f);
    qint64 l_at = 0;
    for (; l_at + 64 <= i_starts; l_at += 64)
    {
        __m128i l_hits[4];
        for (int l_part = 0; l_part < 4; ++l_part)
        {
            const uchar* const lp_part = ip_block + l_at + 16 * l_part;
            const __m128i l_b0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lp_part));
            const __m128i l_b1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lp_part + 1));
            l_hits[l_part] = _mm_cmpeq_epi8(_mm_and_si128(l_b0, _mm_or_si128(l_b1, l_low)), l_ff);
        }
        const __m128i l_any = _mm_or_si128(_mm_or_si128(l_hits[0], l_hits[1]), _mm_or_si128(l_hits[2], l_hits[3]));
        if (_mm_movemask_epi8(l_any) == 0)
            continue;
        quint64 l_syncs = 0;
        for (int l_part = 0; l_part < 4; ++l_part)
            l_syncs |= static_cast<quint64>(static_cast<unsigned>(_mm_movemask_epi8(l_hits[l_part]))) << (16 * l_part);
        CountSyncs(ip_block, l_at, l_syncs, io_counts);
    }
    return l_at;
}

__attribute__((target("avx2")))
qint64 CountHeadersAvx2(const uchar* ip_block, qint64 i_starts, HeaderCounts& io_counts)
{
    const __m256i l_ff = _mm256_set1_epi8(static_cast<char>(0xff));
    const __m256i l_low = _mm256_set1_epi8(0x1f);
    qint64 l_at = 0;
    for (; l_at + 64 <= i_starts; l_at += 64)
    {
        __m256i l_hits[2];
        for (int l_part = 0; l_part < 2; ++l_part)
        {
            const uchar* const lp_part = ip_block + l_at + 32 * l_part;
            const __m256i l_b0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lp_part));
            const __m256i l_b1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lp_part + 1));
            l_hits[l_part] = _mm256_cmpeq_epi8(_mm256_and_si256(l_b0, _mm256_or_si256(l_b1, l_low)), l_ff);
        }
        if (_mm256_testz_si256(_mm256_or_si256(l_hits[0], l_hits[1]), l_ff))
            continue;
        const quint64 l_syncs = static_cast<quint64>(static_cast<unsigned>(_mm256_movemask_epi8(l_hits[0]))) |
                                static_cast<quint64>(static_cast<unsigned>(_mm256_movemask_epi8(l_hits[1]))) << 32;
        CountSyncs(ip_block, l_at, l_syncs, io_counts);
    }
    return l_at;
}
#endif

// Every position with at least one byte of the block after its four header bytes is a
// candidate; candidates may overlap.
void CountHeaders(const uchar* ip_block, qint64 i_size, HeaderCounts& io_counts)
{
    const qint64 l_starts = i_size - 4;
    qint64 l_at = 0;
#if defined(__x86_64__)
    static const bool s_avx2 = __builtin_cpu_supports("avx2");
    l_at = s_avx2 ? CountHeadersAvx2(ip_block, l_starts, io_counts)
                  : CountHeadersSse2(ip_block, l_starts, io_counts);
#endif
    CountHeadersAt(ip_block, l_at, l_starts, io_counts);
}

// The index with the most votes; a tie goes to the higher index.
template <std::size_t N>
int Majority(const std::array<quint64, N>& i_votes)
{
    int l_best = 0;
    for (int l_index = 1; l_index < static_cast<int>(N); ++l_index)
        if (i_votes[l_index] >= i_votes[l_best])
            l_best = l_index;
    return l_best;
}

// Fills the block unless the stream ends first; -1 on a read error.
qint64 ReadBlock(QIODevice& io_device, std::vector<char>& io_block)
{
    qint64 l_filled = 0;
    const qint64 l_size = static_cast<qint64>(io_block.size());
    while (l_filled < l_size)
    {
        const qint64 l_read = io_device.read(io_block.data() + l_filled, l_size - l_filled);
        if (l_read < 0)
            return -1;
        if (l_read == 0)
            break;
        l_filled += l_read;
    }
    return l_filled;
}

QString Stamp(const struct stat& i_stat)
{
    return QString::fromStdString(MP3Scanner::StampText(i_stat));
}

// Opens without blocking and keeps the file only when it is a regular one: a pipe or a
// device would stall the scanner or never end. The stamp is that of what was opened, or of
// what lies at the path when it could not be opened.
bool OpenRegularFile(const QString& i_file, QFile& io_file, QString* op_stamp)
{
    const QByteArray l_path = QFile::encodeName(i_file);
    const int l_fd = ::open(l_path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat l_stat;
    if (l_fd < 0)
    {
        if (op_stamp)
            *op_stamp = ::stat(l_path.constData(), &l_stat) == 0 ? Stamp(l_stat) : QString();
        return false;
    }
    const bool l_stated = ::fstat(l_fd, &l_stat) == 0;
    if (op_stamp)
        *op_stamp = l_stated ? Stamp(l_stat) : QString();
    if (!l_stated || !S_ISREG(l_stat.st_mode) || l_stat.st_size == 0 ||
        !io_file.open(l_fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle))
    {
        ::close(l_fd);
        return false;
    }
    return true;
}
} // namespace

MP3Scanner::MP3Scanner() = default;

void MP3Scanner::Quit()
{
    QMutexLocker l_lock(&m_mutex);
    m_stopped = true;
}

bool MP3Scanner::IsStopped()
{
    QMutexLocker l_lock(&m_mutex);
    return m_stopped;
}

std::string MP3Scanner::StampText(const struct stat& i_stat)
{
    char l_text[StampSize];
    return std::string(l_text, WriteStamp(qint64(i_stat.st_size), ModifiedNanoseconds(i_stat), l_text));
}

qint64 MP3Scanner::ModifiedNanoseconds(const struct stat& i_stat)
{
    return qint64(i_stat.st_mtim.tv_sec) * 1000000000 + i_stat.st_mtim.tv_nsec;
}

std::size_t MP3Scanner::WriteStamp(qint64 i_size, qint64 i_nanoseconds, char* op_text)
{
    // Two numbers of at most 20 characters each and the colon.
    char* lp_end = std::to_chars(op_text, op_text + 21, i_size).ptr;
    *lp_end++ = ':';
    lp_end = std::to_chars(lp_end, lp_end + 21, i_nanoseconds).ptr;
    return std::size_t(lp_end - op_text);
}

QString MP3Scanner::FileStamp(const QString& i_file)
{
    struct stat l_stat;
    return ::stat(QFile::encodeName(i_file).constData(), &l_stat) == 0 ? Stamp(l_stat) : QString();
}

// A failure that only the stop flag caused is no answer: the file was never read to its end.
// Failures wait for the next success or the end of the request, so that the answers keep the
// order of the request and a batch of unreadable files costs the owner one event, not one each.
void MP3Scanner::OnMP3ScanRequired(QStringList i_files)
{
    QStringList l_failed;
    QStringList l_stamps;
    const auto l_answerFailures = [&] {
        if (l_failed.isEmpty())
            return;
        emit MP3ScanFailed(l_failed, l_stamps);
        l_failed.clear();
        l_stamps.clear();
    };
    for (const QString& l_file : i_files)
    {
        int l_mpegVersion = 0;
        QString l_channelMode;
        int l_frequency = 0;
        bool l_isVBR = false;
        int l_bitrate = -1;
        QString l_stamp;
        if (Scan(l_file, l_mpegVersion, l_channelMode, l_frequency, l_isVBR, l_bitrate, &l_stamp))
        {
            l_answerFailures();
            emit MP3Scanned(l_file, l_mpegVersion, l_channelMode, l_frequency, l_isVBR, l_bitrate);
            continue;
        }
        if (IsStopped())
            break;
        l_failed << l_file;
        l_stamps << l_stamp;
        if (l_failed.size() >= FailureBatch)
            l_answerFailures();
    }
    l_answerFailures();
}

bool MP3Scanner::ScanMP3(QString i_file, int& o_mpegVersion, QString& o_channelMode,
                         int& o_frequency, bool& o_isVBR, int& o_bitrate)
{
    return Scan(i_file, o_mpegVersion, o_channelMode, o_frequency, o_isVBR, o_bitrate, nullptr);
}

bool MP3Scanner::Scan(const QString& i_file, int& o_mpegVersion, QString& o_channelMode,
                      int& o_frequency, bool& o_isVBR, int& o_bitrate, QString* op_stamp)
{
    o_bitrate = -1;
    if (IsStopped())
        return false;
    QFile l_file;
    if (!OpenRegularFile(i_file, l_file, op_stamp))
        return false;
    return ScanDevice(l_file, o_mpegVersion, o_channelMode, o_frequency, o_isVBR, o_bitrate);
}

bool MP3Scanner::ScanDevice(QIODevice& io_device, int& o_mpegVersion, QString& o_channelMode,
                            int& o_frequency, bool& o_isVBR, int& o_bitrate)
{
    o_bitrate = -1;
    std::vector<char> l_block(BlockSize);
    HeaderCounts l_counts{};
    for (;;)
    {
        if (IsStopped())
            return false;
        const qint64 l_size = ReadBlock(io_device, l_block);
        if (l_size < 0)
            return false;
        if (l_size == 0)
            break;
        CountHeaders(reinterpret_cast<const uchar*>(l_block.data()), l_size, l_counts);
    }

    // The votes, in the order a candidate meets its tests: a reserved version drops it before
    // any vote, every layer votes on the version, and only Layer III goes on.
    std::array<quint64, 4> l_versionVotes{};
    std::array<quint64, 2> l_protectionVotes{};
    std::array<quint64, 3> l_samplingVotes{};
    std::array<quint64, 4> l_channelVotes{};
    for (std::size_t l_key = 0; l_key < HeaderKeyCount; ++l_key)
    {
        const quint64 l_count = l_counts[l_key];
        if (l_count == 0 || VersionBits(l_key) == ReservedVersionBits)
            continue;
        l_versionVotes[VersionBits(l_key)] += l_count;
        if (LayerBits(l_key) != LayerIIIBits)
            continue;
        l_protectionVotes[ProtectionBit(l_key)] += l_count;
        if (SamplingIndex(l_key) == 3)
            continue;
        l_samplingVotes[SamplingIndex(l_key)] += l_count;
        l_channelVotes[ChannelMode(l_key)] += l_count;
    }

    // A tie between MPEG-1 and MPEG-2 goes to MPEG-2, and MPEG-2.5 must be outvoted.
    const int l_version = l_versionVotes[Mpeg1Bits] > l_versionVotes[Mpeg2Bits] ? Mpeg1Bits : Mpeg2Bits;
    if (l_versionVotes[l_version] <= l_versionVotes[Mpeg25Bits])
        return false;
    const int l_protection = l_protectionVotes[1] > l_protectionVotes[0] ? 1 : 0;
    const int l_sampling = Majority(l_samplingVotes);
    const int l_channel = Majority(l_channelVotes);

    // Only frames that agree with every majority tell the bitrate.
    const int* const lp_table = l_version == Mpeg1Bits ? Mpeg1LayerIII : Mpeg2LayerIII;
    std::array<quint64, 16> l_framesAt{};
    quint64 l_kept = 0;
    quint64 l_sum = 0;
    for (std::size_t l_key = 0; l_key < HeaderKeyCount; ++l_key)
    {
        const quint64 l_count = l_counts[l_key];
        const int l_index = BitrateIndex(l_key);
        if (l_count == 0 || VersionBits(l_key) != l_version || LayerBits(l_key) != LayerIIIBits ||
            ProtectionBit(l_key) != l_protection || SamplingIndex(l_key) != l_sampling ||
            ChannelMode(l_key) != l_channel || lp_table[l_index] == 0)
            continue;
        l_framesAt[l_index] += l_count;
        l_kept += l_count;
        l_sum += l_count * static_cast<quint64>(lp_table[l_index]);
    }
    if (l_kept == 0)
        return false;

    o_mpegVersion = l_version == Mpeg1Bits ? 1 : 2;
    o_channelMode = QString::fromLatin1(ChannelModeTexts[l_channel]);
    o_frequency = l_sampling;
    o_isVBR = true;
    o_bitrate = static_cast<int>(l_sum / l_kept);
    // Constant bitrate when at least 99 % of the kept frames share one bitrate. The table
    // rises with the index, so this walks the bitrates in ascending order.
    for (int l_index = 1; l_index < 15; ++l_index)
        if (l_framesAt[l_index] * 100 / l_kept > 98)
        {
            o_isVBR = false;
            o_bitrate = lp_table[l_index];
            break;
        }
    return true;
}
