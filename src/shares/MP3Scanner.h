#pragma once

#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>

#include <string>

class QIODevice;
struct stat;

// Finds an MP3 file's MPEG version, channel mode, sampling-rate index and bitrate by reading
// the whole file on a worker thread of its own. It never touches the item store; the stop
// flag is the one thing it shares with the thread that owns it, and it answers by signal:
// a file it could analyse alone, the files it could not in batches, each with the stamp of
// what it found at that path, so that the owner asks again only once the file has changed.
class MP3Scanner : public QObject
{
    Q_OBJECT

public:
    static constexpr int BlockSize = 65536;

    MP3Scanner();

    // Opens a regular, non-empty file and scans it. The outputs hold only on true; the bitrate
    // is -1 on every failure.
    bool ScanMP3(QString i_file, int& o_mpegVersion, QString& o_channelMode, int& o_frequency,
                 bool& o_isVBR, int& o_bitrate);
    // The same analysis of an open stream, read from where it stands to its end.
    bool ScanDevice(QIODevice& io_device, int& o_mpegVersion, QString& o_channelMode,
                    int& o_frequency, bool& o_isVBR, int& o_bitrate);
    // Ends a scan under way after the block in hand, and fails every later request at once.
    void Quit();

    // The size and modification time of what lies at a path, as text; empty when nothing does.
    // Two stamps differ once the file was written, replaced or resized.
    static QString FileStamp(const QString& i_file);
    // The same text of what stat told.
    static std::string StampText(const struct stat& i_stat);
    // The text of a size and a modification time in nanoseconds, written into a buffer of
    // StampSize bytes; its length.
    static constexpr std::size_t StampSize = 48;
    static std::size_t WriteStamp(qint64 i_size, qint64 i_nanoseconds, char* op_text);
    // The modification time a stamp holds.
    static qint64 ModifiedNanoseconds(const struct stat& i_stat);

    // At most this many failures wait for one answer.
    static constexpr int FailureBatch = 256;

public slots:
    // Scans the files in order; once stopped it answers none of those left.
    void OnMP3ScanRequired(QStringList i_files);

signals:
    void MP3Scanned(QString i_file, int i_mpegVersion, QString i_channelMode, int i_frequency,
                    bool i_isVBR, int i_bitrate);
    // Files in the order asked, with their stamps at the time of the scan.
    void MP3ScanFailed(QStringList i_files, QStringList i_stamps);

private:
    bool IsStopped();
    bool Scan(const QString& i_file, int& o_mpegVersion, QString& o_channelMode, int& o_frequency,
              bool& o_isVBR, int& o_bitrate, QString* op_stamp);

    QMutex m_mutex;
    bool m_stopped = false;
};
