#include "shares/UploadPolicy.h"

#include <limits>

#include "store/Settings.h"

namespace
{
quint32 Clamped(qint64 i_value)
{
    return static_cast<quint32>(qBound<qint64>(0, i_value, std::numeric_limits<quint32>::max()));
}
} // namespace

quint32 UploadPolicy::QueuedUploadCount() const
{
    return queuedUploadCount ? Clamped(queuedUploadCount()) : 0;
}

quint32 UploadPolicy::UploadSpeed() const
{
    return uploadSpeed ? uploadSpeed() : Clamped(GetSettingInt("upload_speed"));
}
