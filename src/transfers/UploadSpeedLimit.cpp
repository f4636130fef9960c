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

qint64 TransferQueueManager::PayFromBytePool(qint64 i_debt)
{
    QMutexLocker l_lock(&m_speedLimitMutex);
    const qint64 l_paid = qMin(i_debt, m_bytePool);
    m_bytePool -= l_paid;
    return i_debt - l_paid;
}

void TransferQueueManager::AddToBytePool(qint64 i_bytes)
{
    QMutexLocker l_lock(&m_speedLimitMutex);
    m_bytePool = qMin(m_bytePool + i_bytes, qint64(m_totalUploadSpeedLimit) * 1024);
}

void TransferQueueManager::SetUploadSpeedLimit(int i_kibPerSecond)
{
    SetSetting("upload_speed_limit", Value(i_kibPerSecond));
    DetermineUploadSpeedLimit();
}

void TransferQueueManager::EnableUploadSpeedLimit(bool i_on)
{
    SetFlagSetting("upload_speed_limit_enabled", i_on);
    DetermineUploadSpeedLimit();
}

void TransferQueueManager::SetUploadSlots(int i_slots)
{
    if (i_slots < 1 || i_slots > 99)
        return;
    const qint64 l_old = GetSettingInt("upload_slots");
    SetSetting("upload_slots", Value(i_slots));
    if (i_slots > l_old)
        StartNewUploads();
}
