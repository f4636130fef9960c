#include <QMutexLocker>

#include <limits>

#include "store/Settings.h"
#include "transfers/TransferQueueManager.h"

void TransferQueueManager::DetermineUploadSpeedLimit()
{
    const qint64 l_limit =
        qMin<qint64>(GetSettingInt("upload_speed_limit"), std::numeric_limits<int>::max());
    const bool l_limiting = l_limit > 0 && IsSettingYes("upload_speed_limit_enabled");
    const int l_active = ActiveUploadCount();

    QMutexLocker l_lock(&m_speedLimitMutex);
    if (!l_limiting)
    {
        m_totalUploadSpeedLimit = 0;
        m_perUploadSpeedLimit = 0;
        return;
    }
    m_totalUploadSpeedLimit = static_cast<int>(l_limit);
    m_perUploadSpeedLimit =
        qMax(1, l_active > 0 ? m_totalUploadSpeedLimit / l_active : m_totalUploadSpeedLimit);
    m_bytePool = 0;
}

int TransferQueueManager::GetUploadSpeed() const
{
    QMutexLocker l_lock(&m_speedLimitMutex);
    return m_totalUploadSpeedLimit;
}

int TransferQueueManager::GetPerUploadSpeedLimit() const
{
    QMutexLocker l_lock(&m_speedLimitMutex);
    return m_perUploadSpeedLimit;
}
