#include <gtest/gtest.h>

#include <QFile>
#include <QThread>
#include <QtTest/QTest>

#include <algorithm>
#include <cstring>
#include <limits>

#include <sys/stat.h>

#include "shares/MP3Scanner.h"
#include "support/TestSupport.h"
#include "support/support/Mp3Stream.h"

namespace
{
typedef Mp3Stream S;

std::string Describe(int i_version, const QString& i_mode, int i_frequency, bool i_isVBR, int i_bitrate)
{
    return QString("%1/%2/%3/%4/%5").arg(i_version).arg(i_mode).arg(i_frequency).arg(i_isVBR ? "vbr" : "cbr").arg(i_bitrate).toStdString();
}

// The file's analysis, or with a device that of the device.
std::string Scan(MP3Scanner& io_scanner, const QString& i_file, QIODevice* ip_device = nullptr)
{
    int l_version = 0, l_frequency = 0, l_bitrate = 0;
    QString l_mode;
    bool l_isVBR = false;
    const bool l_ok = ip_device ? io_scanner.ScanDevice(*ip_device, l_version, l_mode, l_frequency, l_isVBR, l_bitrate)
                                : io_scanner.ScanMP3(i_file, l_version, l_mode, l_frequency, l_isVBR, l_bitrate);
    return l_ok ? Describe(l_version, l_mode, l_frequency, l_isVBR, l_bitrate) : "fail";
}

QString Write(const TemporaryFolder& i_folder, const char* i_name, const QByteArray& i_bytes)
{
    QFile l_file(QString::fromStdString(i_folder.File(i_name)));
    EXPECT_TRUE(l_file.open(QIODevice::WriteOnly) && l_file.write(i_bytes) == i_bytes.size());
    return l_file.fileName();
}

// Back-to-back headers up to a length, without a file; told, it has the scanner quit on its third read.
class Headers : public QIODevice
{
public:
    explicit Headers(qint64 i_length, MP3Scanner* ip_quitter = nullptr) : m_left(i_length), mp_quitter(ip_quitter)
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }
    qint64 readData(char* op_data, qint64 i_size) override
    {
        if (++m_reads == 3 && mp_quitter)
            mp_quitter->Quit();
        i_size = std::min({i_size, m_left, qint64(m_block.size())});
        std::memcpy(op_data, m_block.constData(), std::size_t(i_size));
        m_left -= i_size;
        return i_size;
    }
    qint64 writeData(const char*, qint64) override { return -1; }
    const QByteArray m_block = Mp3Stream::Header({}).repeated(MP3Scanner::BlockSize / 4);
    qint64 m_left;
    MP3Scanner* mp_quitter;
    int m_reads = 0;
};

qint64 PeakResidentKiB()
{
    QFile l_status("/proc/self/status");
    l_status.open(QIODevice::ReadOnly);
    const QByteArray l_text = l_status.readAll();
    // "VmHWM:\t  1234 kB"
    return l_text.mid(l_text.indexOf("VmHWM:") + 6).trimmed().split(' ').value(0).toLongLong();
}
} // namespace

// Every header field is read from its own bits: version, layer, protection, bitrate index,
// sampling index and channel mode each decide one of these.
TEST(MP3Scanner, AnalysesSyntheticStreams)
{
    const S::Frame l_128 = {9}, l_320 = {14}, l_v2 = {9, S::Mpeg2}, l_v25 = {9, S::Mpeg25};
    const S::Frame l_stereo = {9, S::Mpeg1, S::LayerIII, 0, S::Stereo}, l_layerII = {9, S::Mpeg1, S::LayerII};
    const S::Frame l_free = {0, S::Mpeg1, S::LayerIII, 0, S::Stereo}, l_bad = {15, S::Mpeg1, S::LayerIII, 0, S::Stereo};
    const S::Frame l_crc = {9, S::Mpeg1, S::LayerIII, 0, S::JointStereo, 0}, l_sampling1 = {14, S::Mpeg1, S::LayerIII, 1};
    const char *const l_joint128 = "1/joint stereo/0/cbr/128", *const l_joint320 = "1/joint stereo/0/cbr/320";
    const int l_block = MP3Scanner::BlockSize;
    const QByteArray l_zeros(l_block, '\0'), l_header = S().Add(l_128).Bytes();
    QByteArray l_junky;
    for (int l_frame = 0; l_frame < 20; ++l_frame)
        l_junky += QByteArray("ID3\x03\xff\x00TAG\xff\xe8\x10\x20\xff", 14) + l_header;
    const struct { const char* name; QByteArray bytes; const char* result; } l_cases[] = {
        {"cbr 128", S().Add(l_128, 100).Bytes(), l_joint128},
        {"98 % at one bitrate", S().Add(l_128, 98).Add(l_320, 2).Bytes(), "1/joint stereo/0/vbr/131"},
        {"99 % at one bitrate", S().Add(l_128, 99).Add(l_320, 1).Bytes(), l_joint128},
        {"mpeg-1 and mpeg-2 tie", S().Add(l_128, 50).Add(l_v2, 50).Bytes(), "2/joint stereo/0/cbr/80"},
        {"mpeg-1 ahead", S().Add(l_128, 51).Add(l_v2, 50).Bytes(), l_joint128},
        {"mostly mpeg-2.5", S().Add(l_v25, 60).Add(l_v2, 40).Bytes(), "fail"},
        {"mpeg-2.5 outvoted", S().Add(l_v25, 40).Add({14, S::Mpeg2}, 60).Bytes(), "2/joint stereo/0/cbr/160"},
        {"reserved version", S().Add({9, S::ReservedVersion}, 90).Add(l_320, 1).Bytes(), l_joint320},
        {"layer II", S().Add(l_layerII, 100).Bytes(), "fail"},
        {"layer II votes", S().Add(l_layerII, 60).Add(l_v2, 50).Bytes(), "fail"},
        {"index 0 and 15 vote", S().Add(l_free, 60).Add(l_bad, 50).Add(l_128, 100).Bytes(), "fail"},
        {"index 0 has no bitrate", S().Add(l_free, 100).Add(l_stereo, 1).Bytes(), "1/stereo/0/cbr/128"},
        {"mpeg-2 mono", S().Add({14, S::Mpeg2, S::LayerIII, 2, S::SingleChannel}, 3).Bytes(), "2/mono/2/cbr/160"},
        {"dual mono", S().Add({1, S::Mpeg1, S::LayerIII, 1, S::DualChannel}, 3).Bytes(), "1/dual mono/1/cbr/32"},
        {"reserved sampling", S().Add({9, S::Mpeg1, S::LayerIII, 3}, 90).Add(l_320, 1).Bytes(), l_joint320},
        {"protection majority", S().Add(l_crc, 40).Add(l_320, 60).Bytes(), l_joint320},
        {"protection tie", S().Add(l_crc, 50).Add(l_320, 50).Bytes(), l_joint128},
        {"sampling tie", S().Add(l_128, 50).Add(l_sampling1, 50).Bytes(), "1/joint stereo/1/cbr/320"},
        {"channel tie", S().Add(l_stereo, 50).Add(l_320, 50).Bytes(), l_joint320},
        {"junk between frames", l_junky, l_joint128},
        {"audio data with stray syncs", S(true).Add(l_128, 99).Add(l_320, 1).Bytes(), l_joint128},
        {"no frames", QByteArray(4096, '\x7f'), "fail"},
        {"empty", QByteArray(), "fail"},
        {"header and a byte end the block", l_zeros.left(l_block - 5) + l_header, l_joint128},
        {"eleven sync bits but one", l_zeros.left(l_block - 5) + QByteArray(l_header).replace(1, 1, QByteArray(1, char(l_header[1] & ~0x20))), "fail"},
        {"header ends the block", l_zeros.left(l_block - 4) + l_header, "fail"},
        {"header cut by the block", l_zeros.left(l_block - 2) + l_header, "fail"},
        {"header starts a block", l_zeros + l_header, l_joint128},
    };
    TemporaryFolder l_folder;
    MP3Scanner l_scanner;
    for (const auto& l_case : l_cases)
        EXPECT_EQ(Scan(l_scanner, Write(l_folder, "a.mp3", l_case.bytes)), l_case.result) << l_case.name;
}

// One request for them all, answered in order: the failures before the good file in one batch,
// each with the stamp of what lay at its path, then the good file.
TEST(MP3Scanner, AnswersOnItsThreadOnlyForRegularFilesItCouldRead)
{
    TemporaryFolder l_folder;
    ASSERT_EQ(::mkfifo(l_folder.File("pipe.mp3").c_str(), 0600), 0);
    const QString l_good = Write(l_folder, "good.mp3", S().Add({12}, 10).Bytes());
    const QStringList l_failing = {Write(l_folder, "bad.mp3", S().Add({9, S::Mpeg1, S::LayerII}, 10).Bytes()),
                                   QString::fromStdString(l_folder.Path()), QString::fromStdString(l_folder.File("pipe.mp3")),
                                   "/dev/zero", QString::fromStdString(l_folder.File("gone.mp3"))};
    QThread l_thread;
    MP3Scanner l_scanner;
    l_scanner.moveToThread(&l_thread);
    QObject l_receiver;
    QStringList l_answers;
    QObject::connect(&l_scanner, &MP3Scanner::MP3Scanned, &l_receiver,
                     [&](QString i_file, int i_version, QString i_mode, int i_frequency, bool i_vbr, int i_bitrate) {
                         l_answers << i_file + " " + Describe(i_version, i_mode, i_frequency, i_vbr, i_bitrate).c_str();
                     });
    QObject::connect(&l_scanner, &MP3Scanner::MP3ScanFailed, &l_receiver, [&](QStringList i_files, QStringList i_stamps) {
        QStringList l_failures;
        for (int l_at = 0; l_at < i_files.size(); ++l_at)
            l_failures << i_files[l_at] + (i_stamps[l_at] == MP3Scanner::FileStamp(i_files[l_at]) ? "" : " stamped " + i_stamps[l_at]);
        l_answers << "failed " + l_failures.join(", ");
    });
    l_thread.start();
    QMetaObject::invokeMethod(&l_scanner, "OnMP3ScanRequired", Qt::QueuedConnection, Q_ARG(QStringList, l_failing + QStringList{l_good}));
    EXPECT_TRUE(QTest::qWaitFor([&] { return l_answers.size() == 2; }, 10000));
    l_thread.quit();
    l_thread.wait();
    EXPECT_EQ(l_answers, (QStringList{"failed " + l_failing.join(", "), l_good + " 1/joint stereo/0/cbr/224"}));
    EXPECT_EQ(MP3Scanner::FileStamp(l_failing.last()), "") << "nothing lies there";
    EXPECT_TRUE(MP3Scanner::FileStamp(l_failing.first()).startsWith(QString::number(QFile(l_failing.first()).size()) + ":"));
}

TEST(MP3Scanner, QuitEndsAScanAfterTheBlockInHandAndRefusesLaterOnes)
{
    TemporaryFolder l_folder;
    MP3Scanner l_scanner;
    Headers l_device(std::numeric_limits<qint64>::max(), &l_scanner);
    EXPECT_EQ(Scan(l_scanner, QString(), &l_device), "fail");
    EXPECT_EQ(l_device.m_reads, 3);
    EXPECT_EQ(Scan(l_scanner, Write(l_folder, "good.mp3", S().Add({9}, 10).Bytes())), "fail");
}

// 200 MB of headers: 50 million frames, whose records would take gigabytes if they were kept.
TEST(MP3Scanner, KeepsMemoryFlatOnAHugeFileOfHeaders)
{
    Headers l_device(200000000);
    const qint64 l_before = PeakResidentKiB();
    MP3Scanner l_scanner;
    EXPECT_EQ(Scan(l_scanner, QString(), &l_device), "1/joint stereo/0/cbr/128");
    EXPECT_LT(PeakResidentKiB() - l_before, 8 * 1024);
}
