#include "store/GeneralFunctions.h"

#include <QRegularExpression>

namespace
{
bool IsSeparator(char i_c)
{
    return i_c == '/' || i_c == '\\';
}

bool IsSeparator(QChar i_c)
{
    return i_c == QLatin1Char('/') || i_c == QLatin1Char('\\');
}

void DropOneTrailingSeparator(std::string& i_path)
{
    if (!i_path.empty() && IsSeparator(i_path.back()))
        i_path.pop_back();
}
} // namespace

std::string GetFileName(std::string i_path)
{
    if (i_path.empty())
        return std::string();
    DropOneTrailingSeparator(i_path);
    const std::size_t l_last = i_path.find_last_of("/\\");
    if (l_last == std::string::npos)
        return i_path;
    return i_path.substr(l_last + 1);
}

std::string GetFolder(std::string i_path)
{
    if (i_path.empty())
        return std::string();
    DropOneTrailingSeparator(i_path);
    const std::size_t l_last = i_path.find_last_of("/\\");
    if (l_last == std::string::npos)
        return i_path;
    return i_path.substr(0, l_last);
}

std::string GetParentFolder(std::string i_path)
{
    const std::size_t l_end = i_path.find_last_not_of('\\');
    if (l_end == std::string::npos)
        return std::string();
    i_path.erase(l_end + 1);
    return GetFolder(i_path);
}

std::string GetFileExtension(std::string i_path)
{
    const std::size_t l_dot = i_path.rfind('.');
    if (l_dot == std::string::npos)
        return std::string();
    std::string l_extension = i_path.substr(l_dot + 1);
    // Byte by byte and locale-free: the names may be in any code page.
    for (char& l_c : l_extension)
        if (l_c >= 'A' && l_c <= 'Z')
            l_c = static_cast<char>(l_c - 'A' + 'a');
    return l_extension;
}

std::string StringReplace(std::string i_text, std::string i_from, std::string i_to)
{
    if (i_from.empty())
        return i_text;
    std::size_t l_at = i_text.find(i_from);
    while (l_at != std::string::npos)
    {
        i_text.replace(l_at, i_from.size(), i_to);
        l_at = i_text.find(i_from, l_at + i_to.size());
    }
    return i_text;
}

QString EscapeHTML(QString i_text)
{
    i_text.replace(QLatin1Char('&'), QLatin1String("&amp;"));
    i_text.replace(QLatin1Char('<'), QLatin1String("&lt;"));
    i_text.replace(QLatin1Char('>'), QLatin1String("&gt;"));
    return i_text;
}

QString ConvertLinks(QString i_text)
{
    // The character classes hold no quote and no angle bracket, so an address cannot leave
    // the href attribute or open an element, and only http and https are ever linked.
    // Word boundaries count every letter as a word character, not only ASCII ones.
    static const QRegularExpression l_link(
        QStringLiteral("(\\bhttps?://[-a-zA-Z0-9+&@#/%?=~_|!:,.;]*[a-zA-Z0-9+&@#/%=~_|])"),
        QRegularExpression::UseUnicodePropertiesOption);
    i_text.replace(l_link, QStringLiteral("<a href=\"\\1\">\\1</a>"));
    return i_text;
}

int findFirstOf(QString i_text, QString i_chars, int i_from)
{
    if (i_chars.isEmpty())
        return -1;
    for (int l_i = i_from < 0 ? 0 : i_from; l_i < i_text.size(); ++l_i)
        if (i_chars.contains(i_text.at(l_i)))
            return l_i;
    return -1;
}

QString ReversePathname(QString i_path)
{
    QString l_result;
    bool l_first = true;
    for (;;)
    {
        int l_end = i_path.size();
        while (l_end > 0 && IsSeparator(i_path.at(l_end - 1)))
            --l_end;
        if (l_end == 0)
            break;
        i_path.truncate(l_end);
        if (!l_first)
            l_result += QLatin1Char('/');
        l_first = false;
        int l_last = l_end - 1;
        while (l_last >= 0 && !IsSeparator(i_path.at(l_last)))
            --l_last;
        l_result += i_path.mid(l_last + 1);
        i_path.truncate(l_last < 0 ? 0 : l_last);
    }
    return l_result;
}

QString GetAbsoluteFileName(QString i_path)
{
    if (i_path.isEmpty())
        return QString();
    if (IsSeparator(i_path.at(i_path.size() - 1)))
        i_path.chop(1);
    return i_path.toLower();
}

QString CommafyNumber(long long i_n)
{
    if (i_n <= 0)
        return QString();
    QString l_digits = QString::number(i_n);
    for (int l_at = l_digits.size() - 3; l_at > 0; l_at -= 3)
        l_digits.insert(l_at, QLatin1Char(','));
    return l_digits;
}

QString FormatSeconds(long i_seconds)
{
    // Durations are not negative in use; should one come anyway, show its sign once rather
    // than on every unit. The magnitude is taken unsigned so the most negative value works.
    QString l_text;
    unsigned long l_seconds = static_cast<unsigned long>(i_seconds);
    if (i_seconds < 0)
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

bool GetBit(unsigned int i_word, int i_n)
{
    if (i_n < 1 || i_n > 32)
        return false;
    return ((static_cast<unsigned long long>(i_word) >> (i_n - 1)) & 1ULL) != 0;
}
