#include "server/OutputStream.h"

#include <QByteArray>
#include <QString>

#include <cstring>

bool OutputStream::Write(const bool& value)
{
    return Write(static_cast<quint8>(value ? 1 : 0));
}

bool OutputStream::Write(const std::string& value)
{
    if (value.size() > std::numeric_limits<quint32>::max())
        return false;
    if (!Write(static_cast<quint32>(value.size())))
        return false;
    return value.empty() || WriteBuffer(value.data(), value.size());
}

bool OutputStream::Write(const QString& value)
{
    const QByteArray bytes = value.toUtf8();
    const void* zero = std::memchr(bytes.constData(), 0, static_cast<std::size_t>(bytes.size()));
    const quint32 count = zero ? static_cast<quint32>(static_cast<const char*>(zero) - bytes.constData())
                               : static_cast<quint32>(bytes.size());
    if (!Write(count))
        return false;
    return count == 0 || WriteBuffer(bytes.constData(), count);
}
