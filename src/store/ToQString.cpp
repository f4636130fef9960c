#include "store/ToQString.h"

#include <cstring>

#include "store/ExtendedAsciiTranslator.h"

QString ToQString(const std::string& bytes)
{
    const std::size_t length = strnlen(bytes.data(), bytes.size());
    if (length == bytes.size())
    {
        const QString candidate = QString::fromUtf8(bytes.data(), static_cast<int>(length));
        const QByteArray again = candidate.toUtf8();
        if (static_cast<std::size_t>(again.size()) == bytes.size() &&
            std::memcmp(again.constData(), bytes.data(), bytes.size()) == 0)
            return candidate;
    }
    if (extendedAsciiTranslator)
        return extendedAsciiTranslator->Translate(bytes);
    // Before the translator exists (and in tools without one): one character per byte.
    return QString::fromLatin1(bytes.data(), static_cast<int>(length));
}
