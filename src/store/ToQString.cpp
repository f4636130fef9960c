#include "store/ToQString.h"

#include <cstring>
#include <string>

#include "store/ExtendedAsciiTranslator.h"

QString ToQString(std::string_view i_bytes)
{
    const std::size_t l_length = strnlen(i_bytes.data(), i_bytes.size());
    if (l_length == i_bytes.size())
    {
        const QString l_candidate = QString::fromUtf8(i_bytes.data(), static_cast<int>(l_length));
        const QByteArray l_again = l_candidate.toUtf8();
        if (static_cast<std::size_t>(l_again.size()) == i_bytes.size() &&
            std::memcmp(l_again.constData(), i_bytes.data(), i_bytes.size()) == 0)
            return l_candidate;
    }
    if (extendedAsciiTranslator)
        return extendedAsciiTranslator->Translate(std::string(i_bytes));
    // Before the translator exists (and in tools without one): one character per byte.
    return QString::fromLatin1(i_bytes.data(), static_cast<int>(l_length));
}
