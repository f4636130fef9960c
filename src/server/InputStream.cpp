#include "server/InputStream.h"

#include <QByteArray>
#include <QString>

#include <cstring>

#include "store/ToQString.h"

bool InputStream::Read(bool& value)
{
    quint8 byte;
    if (!Read(byte))
        return false;
    value = byte != 0;
    return true;
}

bool InputStream::Read(std::string& value)
{
    quint32 count;
    if (!Read(count) || count > MaxCount)
        return false;
    // Allocated only after the limit check; the string keeps its own terminator.
    std::string bytes(count, '\0');
    if (count > 0 && !ReadBuffer(&bytes[0], count))
        return false;
    const std::size_t length = std::strlen(bytes.c_str());
    if (length < bytes.size())
        bytes.resize(length);
    value = std::move(bytes);
    return true;
}

bool InputStream::Read(QString& value)
{
    std::string bytes;
    if (!Read(bytes))
        return false;
    const QString text = QString::fromUtf8(bytes.data(), static_cast<int>(bytes.size()));
    const QByteArray again = text.toUtf8();
    if (static_cast<std::size_t>(again.size()) == bytes.size() &&
        std::memcmp(again.constData(), bytes.data(), bytes.size()) == 0)
        value = text;
    else
        value = ToQString(bytes);
    return true;
}

bool InputStream::ReadCount(qint32& count)
{
    return Read(count) && count >= 0 && static_cast<quint32>(count) <= MaxCount;
}
