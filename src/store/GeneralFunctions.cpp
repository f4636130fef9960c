#include "store/GeneralFunctions.h"

#include <QRegularExpression>

namespace
{
bool IsSeparator(char c)
{
    return c == '/' || c == '\\';
}

bool IsSeparator(QChar c)
{
    return c == QLatin1Char('/') || c == QLatin1Char('\\');
}

void DropOneTrailingSeparator(std::string& path)
{
    if (!path.empty() && IsSeparator(path.back()))
        path.pop_back();
}
} // namespace

std::string GetFileName(std::string path)
{
    if (path.empty())
        return std::string();
    DropOneTrailingSeparator(path);
    const std::size_t l_last = path.find_last_of("/\\");
    if (l_last == std::string::npos)
        return path;
    return path.substr(l_last + 1);
}

std::string GetFolder(std::string path)
{
    if (path.empty())
        return std::string();
    DropOneTrailingSeparator(path);
    const std::size_t l_last = path.find_last_of("/\\");
    if (l_last == std::string::npos)
        return path;
    return path.substr(0, l_last);
}

std::string GetParentFolder(std::string path)
{
    const std::size_t l_end = path.find_last_not_of('\\');
    if (l_end == std::string::npos)
        return std::string();
    path.erase(l_end + 1);
    return GetFolder(path);
}

std::string GetFileExtension(std::string path)
{
    const std::size_t l_dot = path.rfind('.');
    if (l_dot == std::string::npos)
        return std::string();
    std::string l_extension = path.substr(l_dot + 1);
    // Byte by byte and locale-free: the names may be in any code page.
    for (char& c : l_extension)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return l_extension;
}

std::string StringReplace(std::string text, std::string from, std::string to)
{
    if (from.empty())
        return text;
    std::size_t l_at = text.find(from);
    while (l_at != std::string::npos)
    {
        text.replace(l_at, from.size(), to);
        l_at = text.find(from, l_at + to.size());
    }
    return text;
}

QString EscapeHTML(QString text)
{
    text.replace(QLatin1Char('&'), QLatin1String("&amp;"));
    text.replace(QLatin1Char('<'), QLatin1String("&lt;"));
    text.replace(QLatin1Char('>'), QLatin1String("&gt;"));
    return text;
}

QString ConvertLinks(QString text)
{
    // The character classes hold no quote and no angle bracket, so an address cannot leave
    // the href attribute or open an element, and only http and https are ever linked.
    // Word boundaries count every letter as a word character, not only ASCII ones.
    static const QRegularExpression l_link(
        QStringLiteral("(\\bhttps?://[-a-zA-Z0-9+&@#/%?=~_|!:,.;]*[a-zA-Z0-9+&@#/%=~_|])"),
        QRegularExpression::UseUnicodePropertiesOption);
    text.replace(l_link, QStringLiteral("<a href=\"\\1\">\\1</a>"));
    return text;
}

int findFirstOf(QString text, QString chars, int from)
{
    if (chars.isEmpty())
        return -1;
    for (int l_i = from < 0 ? 0 : from; l_i < text.size(); ++l_i)
        if (chars.contains(text.at(l_i)))
            return l_i;
    return -1;
}

QString ReversePathname(QString path)
{
    QString l_result;
    bool l_first = true;
    for (;;)
    {
        int l_end = path.size();
        while (l_end > 0 && IsSeparator(path.at(l_end - 1)))
            --l_end;
        if (l_end == 0)
            break;
        path.truncate(l_end);
        if (!l_first)
            l_result += QLatin1Char('/');
        l_first = false;
        int l_last = l_end - 1;
        while (l_last >= 0 && !IsSeparator(path.at(l_last)))
            --l_last;
        l_result += path.mid(l_last + 1);
        path.truncate(l_last < 0 ? 0 : l_last);
    }
    return l_result;
}

QString GetAbsoluteFileName(QString path)
{
    if (path.isEmpty())
        return QString();
    if (IsSeparator(path.at(path.size() - 1)))
        path.chop(1);
    return path.toLower();
}

QString CommafyNumber(long long n)
{
    if (n <= 0)
        return QString();
    QString l_digits = QString::number(n);
    for (int l_at = l_digits.size() - 3; l_at > 0; l_at -= 3)
        l_digits.insert(l_at, QLatin1Char(','));
    return l_digits;
}

QString FormatSeconds(long seconds)
{
    // Durations are not negative in use; should one come anyway, show its sign once rather
    // than on every unit. The magnitude is taken unsigned so the most negative value works.
    QString l_text;
    unsigned long l_seconds = static_cast<unsigned long>(seconds);
    if (seconds < 0)
    {
        l_text += QLatin1Char('-');
        l_seconds = 0UL - l_seconds;
    }
    const unsigned long l_m = l_seconds / 60;
    const unsigned long l_h = l_m / 60;
    const unsigned long l_days = l_h / 24;
    const unsigned long l_hours = l_h % 24;
    const unsigned long l_minutes = l_m % 60;
    const unsigned long l_secs = l_seconds % 60;
    if (l_days != 0)
        l_text += QString::number(l_days) + QLatin1Char('d');
    if (l_days != 0 || l_hours != 0)
        l_text += QString::number(l_hours) + QLatin1Char('h');
    l_text += QString::number(l_minutes) + QLatin1Char('m');
    l_text += QString::number(l_secs) + QLatin1Char('s');
    return l_text;
}

bool GetBit(unsigned int word, int n)
{
    if (n < 1 || n > 32)
        return false;
    return ((static_cast<unsigned long long>(word) >> (n - 1)) & 1ULL) != 0;
}
