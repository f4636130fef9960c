#include "transfers/DownloadThread.h"

#include <QFile>
#include <QTcpSocket>

#include <climits>

DownloadThread::DownloadThread(QTcpSocket* ip_socket, QFile* ip_file, qint64 i_fileSize,
                               qint64 i_startOffset)
    : mp_socket(ip_socket), mp_file(ip_file), m_fileSize(i_fileSize), m_position(i_startOffset)
{
}

void DownloadThread::run()
{
    const bool l_done = PerformDownload();
    // The manager lives on the thread that made this one.
    mp_socket->moveToThread(thread());
    mp_file->close();
    if (l_done)
        emit DownloadComplete();
    else
        emit DownloadError(m_error);
}

bool DownloadThread::PerformDownload()
{
    m_clock.start();
    m_reportedPosition = m_position;
    char l_block[BlockBytes];
    while (m_position != m_fileSize)
    {
        if (IsExitRequested())
        {
            m_error = "Exit requested.";
            break;
        }
        // A partial file longer than the whole: nothing more can be read into it.
        if (m_position > m_fileSize)
        {
            m_error = "Socket read failed. Error string: " + mp_socket->errorString();
            break;
        }
        const qint64 l_length = qMin(BlockBytes, m_fileSize - m_position);
        qint64 l_filled = 0;
        const bool l_whole = ReadBlock(l_block, l_length, l_filled);
        // What came before a failure is kept too: a resumed download need not fetch it again.
        if (mp_file->write(l_block, l_filled) != l_filled)
        {
            m_error = "Writing to file failed. Error string: " + mp_file->errorString();
            break;
        }
        m_position += l_filled;
        m_received += l_filled;
        if (!l_whole)
            break;
        ReportProgressIfDue();
    }
    const bool l_done = m_position == m_fileSize;
    // The last position is always reported, so a finished download shows its full size and an
    // aborted one what it kept.
    if (l_done || m_reportedPosition != m_position)
        ReportProgress();
    if (l_done)
        mp_socket->close();
    return l_done;
}

// The wait for data goes in slices, so a stalled transfer still shows what it has and still
// hears a stop request.
bool DownloadThread::ReadBlock(char* op_block, qint64 i_length, qint64& o_filled)
{
    qint64& l_filled = o_filled;
    while (l_filled < i_length)
    {
        // Our flush of the offset closes the socket when the uploader has already reset it: a
        // closed socket is not read.
        const qint64 l_read =
            mp_socket->isOpen() ? mp_socket->read(op_block + l_filled, i_length - l_filled) : -1;
        if (l_read < 0)
        {
            m_error = "Socket read failed. Error string: " + mp_socket->errorString();
            return false;
        }
        l_filled += l_read;
        QElapsedTimer l_waiting;
        l_waiting.start();
        while (l_filled < i_length && mp_socket->bytesAvailable() == 0)
        {
            const qint64 l_left = DataWaitMs - l_waiting.elapsed();
            const bool l_arrived =
                l_left > 0 && mp_socket->waitForReadyRead(static_cast<int>(qMin(l_left, ProgressIntervalMs)));
            if (!l_arrived && mp_socket->bytesAvailable() == 0 &&
                (l_left <= 0 || mp_socket->state() != QAbstractSocket::ConnectedState))
            {
                m_error = "Waiting for data to read failed. Error string: " + mp_socket->errorString();
                return false;
            }
            // A stop request need not sit out a silent uploader.
            if (IsExitRequested())
            {
                m_error = "Exit requested.";
                return false;
            }
            ReportProgressIfDue();
        }
    }
    return true;
}

// Each report is a queued event on the window's thread: a few a second are plenty.
void DownloadThread::ReportProgressIfDue()
{
    if (m_position != m_reportedPosition && m_clock.elapsed() - m_reportedAt >= ProgressIntervalMs)
        ReportProgress();
}

void DownloadThread::ReportProgress()
{
    const qint64 l_elapsed = m_clock.elapsed();
    const qint64 l_speed = l_elapsed > 0 ? m_received * 1000 / l_elapsed : 0;
    emit DownloadProgress(m_position, static_cast<int>(qMin<qint64>(l_speed, INT_MAX)));
    m_reportedPosition = m_position;
    m_reportedAt = l_elapsed;
}
