#include "transfers/UploadThread.h"

#include <QFile>
#include <QTcpSocket>
#include <QtEndian>

#include <climits>

#include "transfers/TransferQueueManager.h"

UploadThread::UploadThread(QTcpSocket* ip_socket, QFile* ip_file, int i_transferReq,
                           TransferQueueManager* ip_limits)
    : mp_socket(ip_socket), mp_file(ip_file), m_transferReq(i_transferReq), mp_limits(ip_limits)
{
}

void UploadThread::run()
{
    const bool l_done = PerformUpload();
    // The manager lives on the thread that made this one.
    mp_socket->moveToThread(thread());
    if (l_done)
        emit UploadComplete();
    else
        emit UploadError(m_error);
}

bool UploadThread::PerformUpload()
{
    // Nothing but the offset is read; whatever else the downloader sends waits in the system's
    // buffers or is dropped, so it cannot make us hold it.
    mp_socket->setReadBufferSize(BlockBytes);
    m_fileSize = mp_file->size();
    uchar l_number[4];
    qToLittleEndian<quint32>(static_cast<quint32>(m_transferReq), l_number);
    qint64 l_offset = 0;
    if (!SendBlock(reinterpret_cast<const char*>(l_number), sizeof l_number) || !ReadOffset(l_offset))
        return false;
    // An offset at the end would send nothing, so a file of no bytes is never sent either.
    if (l_offset < 0 || l_offset >= m_fileSize)
    {
        m_error = QString("Won't seek to offset %1 in file of size %2").arg(l_offset).arg(m_fileSize);
        return false;
    }
    if (!mp_file->seek(l_offset))
    {
        m_error = QString("Seeking to starting offset %1 failed. Error string: ").arg(l_offset) +
                  mp_file->errorString();
        return false;
    }

    m_position = l_offset;
    m_measuredSince.start();
    m_pacingClock.start();
    m_paidUntilNs = 0;
    m_reportClock.start();
    char l_block[BlockBytes];
    int l_previousLimit = 0;
    for (bool l_first = true; m_position < m_fileSize; l_first = false)
    {
        if (IsExitRequested())
        {
            m_error = "Exit requested.";
            return false;
        }
        const int l_limit = mp_limits ? mp_limits->GetPerUploadSpeedLimit() : 0;
        if (!l_first && l_limit != l_previousLimit)
        {
            m_measuredSince.restart();
            m_sentSinceMeasurement = 0;
            // Time spent unlimited earns nothing once limiting starts.
            if (l_previousLimit == 0)
            {
                m_debt = 0;
                m_paidUntilNs = m_pacingClock.nsecsElapsed();
            }
        }
        l_previousLimit = l_limit;
        const qint64 l_length = qMin(BlockBytes, m_fileSize - m_position);
        if (l_limit != 0 && !Pace(l_limit, l_length))
            return false;
        if (mp_file->read(l_block, l_length) != l_length)
        {
            m_error = "Reading from file failed. Error string: " + mp_file->errorString();
            return false;
        }
        if (!SendBlock(l_block, l_length))
            return false;
        m_position += l_length;
        m_sentSinceMeasurement += l_length;
        ReportProgressIfDue();
    }
    ReportProgress();

    // The downloader closes once it has everything; how long it takes does not matter, but a
    // stop request still ends the wait. Whatever it sends meanwhile is dropped unread.
    QElapsedTimer l_waiting;
    l_waiting.start();
    while (mp_socket->state() != QAbstractSocket::UnconnectedState && !IsExitRequested() &&
           l_waiting.elapsed() < m_waitLimitMs)
    {
        while (mp_socket->bytesAvailable() > 0)
            mp_socket->read(l_block, BlockBytes);
        if (mp_socket->waitForDisconnected(WaitSliceMs))
            break;
    }
    return true;
}

bool UploadThread::ReadOffset(qint64& o_offset)
{
    // The eight bytes may come in pieces; they keep their order of arrival.
    char l_bytes[8];
    qint64 l_have = 0;
    while (l_have < 8)
    {
        if (mp_socket->bytesAvailable() == 0 &&
            !WaitInSlices([this](int i_ms) { return mp_socket->waitForReadyRead(i_ms); }, true))
        {
            if (m_error.isEmpty())
                m_error = "Waiting for initialization data to read failed. Error string: " +
                          mp_socket->errorString();
            return false;
        }
        const qint64 l_read = mp_socket->read(l_bytes + l_have, 8 - l_have);
        if (l_read < 0)
        {
            m_error = "Socket read failed. Error string: " + mp_socket->errorString();
            return false;
        }
        l_have += l_read;
    }
    o_offset = qFromLittleEndian<qint64>(l_bytes);
    return true;
}

// A flush the system refuses, as after the downloader's reset or close, closes the socket without
// a word and drops what waited: a closed socket takes no further write, and the block counts as
// not sent.
bool UploadThread::SendBlock(const char* ip_block, qint64 i_length)
{
    for (qint64 l_sent = 0; l_sent < i_length;)
    {
        qint64 l_written = -1;
        if (Connected())
        {
            l_written = mp_socket->write(ip_block + l_sent, i_length - l_sent);
            mp_socket->flush();
        }
        if (l_written < 0 || !Connected())
        {
            m_error = "Writing to socket failed. Error string: " + mp_socket->errorString();
            return false;
        }
        l_sent += l_written;
        while (mp_socket->bytesToWrite() > 0)
            if (!WaitInSlices([this](int i_ms) { return mp_socket->waitForBytesWritten(i_ms); }, true))
            {
                if (m_error.isEmpty())
                    m_error = "Waiting for bytes to be written to socket failed. Error string: " +
                              mp_socket->errorString();
                return false;
            }
    }
    while (mp_socket->bytesAvailable() > 0)
    {
        char l_discard[512];
        mp_socket->read(l_discard, sizeof l_discard);
    }
    return true;
}

bool UploadThread::Pace(int i_limit, qint64 i_block)
{
    // A block is paid for before it goes, so what has been sent never runs ahead of the time
    // spent: first from what other uploads left in the pool, the rest by waiting until it is
    // earned. The clock is read in nanoseconds and nothing owed is dropped, however small.
    m_debt = mp_limits->PayFromBytePool(m_debt + i_block);
    const qint64 l_bytesPerSecond = qint64(i_limit) * 1024;
    const qint64 l_dueNs = m_paidUntilNs + m_debt * 1000000000 / l_bytesPerSecond;
    for (qint64 l_leftNs = l_dueNs - m_pacingClock.nsecsElapsed(); l_leftNs > 0;
         l_leftNs = l_dueNs - m_pacingClock.nsecsElapsed())
    {
        if (IsExitRequested())
        {
            m_error = "Exit requested.";
            return false;
        }
        usleep(static_cast<unsigned long>(qMin<qint64>(l_leftNs / 1000 + 1, WaitSliceMs * 1000)));
    }
    // Everything earned since the last step, the sending of the last block included, pays the
    // debt; what is left over goes to the other uploads (and to this one's next block). The
    // stretch counted stops at ten seconds, more than a block takes at any limit, so the
    // product stays in range.
    const qint64 l_nowNs = m_pacingClock.nsecsElapsed();
    const qint64 l_spentNs = qMin<qint64>(l_nowNs - m_paidUntilNs, qint64(10) * 1000000000);
    const auto l_earned = static_cast<qint64>(double(l_bytesPerSecond) * double(l_spentNs) / 1e9);
    m_paidUntilNs = l_nowNs;
    m_debt -= l_earned;
    if (m_debt < 0)
    {
        mp_limits->AddToBytePool(-m_debt);
        m_debt = 0;
    }
    return true;
}

bool UploadThread::WaitInSlices(const std::function<bool(int)>& i_wait, bool i_needsConnection)
{
    QElapsedTimer l_waiting;
    l_waiting.start();
    for (;;)
    {
        if (IsExitRequested())
        {
            m_error = "Exit requested.";
            return false;
        }
        const qint64 l_left = m_waitLimitMs - l_waiting.elapsed();
        if (l_left <= 0 || (i_needsConnection && !Connected()))
            return false;
        if (i_wait(static_cast<int>(qMin<qint64>(l_left, WaitSliceMs))))
            return true;
    }
}

bool UploadThread::Connected() const
{
    return mp_socket->isOpen() && mp_socket->state() == QAbstractSocket::ConnectedState;
}

// Each report is a queued event on the window's thread: a few a second are plenty.
void UploadThread::ReportProgressIfDue()
{
    if (m_reportClock.elapsed() - m_reportedAt >= ProgressIntervalMs)
        ReportProgress();
}

void UploadThread::ReportProgress()
{
    const qint64 l_elapsed = m_measuredSince.elapsed();
    const qint64 l_speed = l_elapsed > 0 ? m_sentSinceMeasurement * 1000 / l_elapsed : 0;
    emit UploadProgress(m_position, static_cast<int>(qMin<qint64>(l_speed, INT_MAX)));
    m_reportedAt = m_reportClock.elapsed();
}
