#pragma once

#include <QMutex>
#include <QObject>
#include <QString>

class QIODevice;

// Finds an MP3 file's MPEG version, channel mode, sampling-rate index and bitrate by reading
// the whole file on a worker thread of its own. It never touches the item store; the stop
// flag is the one thing it shares with the thread that owns it, and it answers by signal.
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

public slots:
    void OnMP3ScanRequired(QString i_file);

signals:
    void MP3Scanned(QString i_file, int i_mpegVersion, QString i_channelMode, int i_frequency,
                    bool i_isVBR, int i_bitrate);

private:
    bool IsStopped();

    QMutex m_mutex;
    bool m_stopped = false;
};
