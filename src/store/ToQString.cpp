#include "store/ToQString.h"

#include <cstring>

namespace
{
QString Latin1UpToNul(const std::string& bytes)
{
    const std::size_t length = strnlen(bytes.data(), bytes.size());
    return QString::fromLatin1(bytes.data(), static_cast<int>(length));
}
} // namespace

QString ToQString(const std::string& bytes)
{
    const std::size_t length = strnlen(bytes.data(), bytes.size());
    const QString candidate = QString::fromUtf8(bytes.data(), static_cast<int>(length));
    const QByteArray again = candidate.toUtf8();
    if (length == bytes.size() && static_cast<std::size_t>(again.size()) == bytes.size() &&
        std::memcmp(again.constData(), bytes.data(), bytes.size()) == 0)
        return candidate;
    return Latin1UpToNul(bytes);
}
