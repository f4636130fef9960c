#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QtGlobal>

#include "transfers/TransferThread.h"

class QFile;
class QTcpSocket;

// The worker of one running download: appends what the uploader sends to the partial file until
// the file has its full size, then closes the connection. The socket and the file belong to the
// download's entry; the thread only uses them, and gives the socket back to the manager's
// thread before its last report.
class DownloadThread : public TransferThread
{
    Q_OBJECT

public:
    static constexpr qint64 BlockBytes = 8192;
    // Progress reports are spaced at least this far apart; the last one always goes.
    static constexpr qint64 ProgressIntervalMs = 100;
    static constexpr int DataWaitMs = 30000;

    DownloadThread(QTcpSocket* ip_socket, QFile* ip_file, qint64 i_fileSize, qint64 i_startOffset);

signals:
    void DownloadError(QString i_reason);
    void DownloadProgress(qint64 i_offset, int i_bytesPerSecond);
    void DownloadComplete();

protected:
    void run() override;

private:
    bool PerformDownload();
    // Fills the block from the socket; false, with the error text set, when it cannot. The
    // bytes that did come are counted either way.
    bool ReadBlock(char* op_block, qint64 i_length, qint64& o_filled);
    void ReportProgress();
    // A report when the last one is at least the interval old and bytes came since.
    void ReportProgressIfDue();

    QTcpSocket* mp_socket;
    QFile* mp_file;
    qint64 m_fileSize;
    qint64 m_position;
    QString m_error;
    QElapsedTimer m_clock;
    qint64 m_received = 0;
    qint64 m_reportedPosition = 0;
    qint64 m_reportedAt = 0;
};
