#include "transfers/TransferThread.h"

#include <QMutexLocker>

TransferThread::TransferThread(QObject* ip_parent) : QThread(ip_parent)
{
}

void TransferThread::SignalExit()
{
    QMutexLocker l_lock(&m_exitMutex);
    m_exitRequested = true;
}

bool TransferThread::IsExitRequested() const
{
    QMutexLocker l_lock(&m_exitMutex);
    return m_exitRequested;
}
