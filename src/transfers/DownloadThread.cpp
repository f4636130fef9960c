#include "transfers/DownloadThread.h"

#include <QElapsedTimer>
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
    QElapsedTimer l_started;
    l_started.start();
    qint64 l_received = 0;
    qint64 l_reported = m_position;
    qint64 l_reportedAt = 0;
    auto l_report = [&] {
        const qint64 l_elapsed = l_started.elapsed();
        const qint64 l_speed = l_elapsed > 0 ? l_received * 1000 / l_elapsed : 0;
        emit DownloadProgress(m_position, static_cast<int>(qMin<qint64>(l_speed, INT_MAX)));
        l_reported = m_position;
        l_reportedAt = l_elapsed;
    };

    char l_block[BlockBytes];
    bool l_ok = true;
    while (m_position != m_fileSize)
    {
        if (IsExitRequested())
        {
            m_error = "Exit requested.";
            l_ok = false;
            break;
        }
        // A partial file longer than the whole: nothing more can be read into it.
        if (m_position > m_fileSize)
        {
            m_error = "Socket read failed. Error string: " + mp_socket->errorString();
            l_ok = false;
            break;
        }
        const qint64 l_length = qMin(BlockBytes, m_fileSize - m_position);
        if (!ReadBlock(l_block, l_length))
        {
            l_ok = false;
            break;
        }
        if (mp_file->write(l_block, l_length) != l_length)
        {
            m_error = "Writing to file failed. Error string: " + mp_file->errorString();
            l_ok = false;
            break;
        }
        m_position += l_length;
        l_received += l_length;
        // Each report is a queued event on the window's thread: a few a second are plenty.
        if (l_started.elapsed() - l_reportedAt >= ProgressIntervalMs)
            l_report();
    }
    // The last position is always reported, so a finished download shows its full size and an
    // aborted one what it kept.
    if (l_ok || l_reported != m_position)
        l_report();
    if (l_ok)
        mp_socket->close();
    return l_ok;
}

bool DownloadThread::ReadBlock(char* op_block, qint64 i_length)
{
    qint64 l_filled = 0;
    while (l_filled < i_length)
    {
        const qint64 l_read = mp_socket->read(op_block + l_filled, i_length - l_filled);
        if (l_read < 0)
        {
            m_error = "Socket read failed. Error string: " + mp_socket->errorString();
            return false;
        }
        l_filled += l_read;
        if (l_filled == i_length)
            break;
        while (mp_socket->bytesAvailable() == 0)
            if (!mp_socket->waitForReadyRead(DataWaitMs))
            {
                m_error = "Waiting for data to read failed. Error string: " + mp_socket->errorString();
                return false;
            }
    }
    return true;
}
