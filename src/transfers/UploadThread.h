#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QtGlobal>

#include <functional>

#include "transfers/TransferThread.h"

class QFile;
class QTcpSocket;
class TransferQueueManager;

// The worker of one running upload: writes the transfer number, reads the downloader's start
// offset and sends the rest of the file, paced by the manager's speed limit. The socket and the
// file belong to the upload's entry; the thread only uses them, and gives the socket back to
// the manager's thread before its last report. Of the manager it touches only the limit fields,
// through calls that take the manager's mutex.
class UploadThread : public TransferThread
{
    Q_OBJECT

public:
    static constexpr qint64 BlockBytes = 8192;
    // Progress reports are spaced at least this far apart; the last one always goes.
    static constexpr qint64 ProgressIntervalMs = 100;
    static constexpr int WaitMs = 30000;
    // Every wait goes in slices this long, so a stop request is heard within one.
    static constexpr int WaitSliceMs = 50;

    UploadThread(QTcpSocket* ip_socket, QFile* ip_file, int i_transferReq,
                 TransferQueueManager* ip_limits);
    // Shorter waits, for tests of a silent downloader.
    void SetWaitLimit(int i_milliseconds) { m_waitLimitMs = i_milliseconds; }

signals:
    void UploadProgress(qint64 i_offset, int i_bytesPerSecond);
    void UploadComplete();
    void UploadError(QString i_reason);

protected:
    void run() override;

private:
    bool PerformUpload();
    bool ReadOffset(qint64& o_offset);
    bool SendBlock(const char* ip_block, qint64 i_length);
    // Sleeps until the debt and the coming block are earned at the per-upload rate (in KiB/s);
    // false on a stop request.
    bool Pace(int i_limit, qint64 i_block);
    // Calls the wait in slices until it succeeds, the total limit passes or a stop is asked;
    // with i_needsConnection a closed socket ends it at once.
    bool WaitInSlices(const std::function<bool(int)>& i_wait, bool i_needsConnection);
    // Open and connected: a socket closed by a failed write is left alone.
    bool Connected() const;
    void ReportProgress();
    void ReportProgressIfDue();

    QTcpSocket* mp_socket;
    QFile* mp_file;
    int m_transferReq;
    TransferQueueManager* mp_limits;
    int m_waitLimitMs = WaitMs;
    QString m_error;

    qint64 m_position = 0;
    qint64 m_fileSize = 0;
    // Speed since the last change of the per-upload limit.
    QElapsedTimer m_measuredSince;
    qint64 m_sentSinceMeasurement = 0;
    // Pacing: bytes owed (sent or about to be sent, not yet earned), the clock, and the time on
    // it up to which the allowance has been counted.
    qint64 m_debt = 0;
    QElapsedTimer m_pacingClock;
    qint64 m_paidUntilNs = 0;
    QElapsedTimer m_reportClock;
    qint64 m_reportedAt = 0;
};
