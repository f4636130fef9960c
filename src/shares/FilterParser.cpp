#include "shares/FilterParser.h"

#include <limits>

namespace
{
// The size is typed in megabytes; a huge number asks for the largest size there is rather
// than wrapping round to a small or negative limit.
qint64 Megabytes(const QString& i_text)
{
    const qint64 l_factor = 1000000;
    const qint64 l_number = i_text.toLongLong(nullptr, 10);
    if (l_number > std::numeric_limits<qint64>::max() / l_factor)
        return std::numeric_limits<qint64>::max();
    if (l_number < std::numeric_limits<qint64>::min() / l_factor)
        return std::numeric_limits<qint64>::min();
    return l_number * l_factor;
}

// The rest of i_token after whichever of the two spellings of a keyword it starts with.
bool TakeKeyword(const QString& i_token, const char* i_long, const char* i_short, QString& o_rest)
{
    for (const char* l_keyword : {i_long, i_short})
    {
        const QLatin1String l_prefix(l_keyword);
        if (i_token.startsWith(l_prefix))
        {
            o_rest = i_token.mid(l_prefix.size());
            return true;
        }
    }
    return false;
}
} // namespace

void FilterParser::Parse(QString i_text)
{
    const QStringList l_tokens = i_text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString& l_token : l_tokens)
    {
        QString l_rest;
        if (l_token.startsWith(QLatin1Char('-')))
        {
            if (l_token.size() > 1)
                m_excludedWords << l_token.mid(1);
        }
        else if (l_token == QLatin1String("isvbr"))
            m_vbrOnly = m_hasAttributes = true;
        else if (l_token == QLatin1String("iscbr"))
            m_cbrOnly = m_hasAttributes = true;
        else if (TakeKeyword(l_token, "minbitrate:", "mbr:", l_rest))
        {
            m_minBitrate = l_rest.toInt(nullptr, 10);
            m_hasAttributes = true;
        }
        else if (TakeKeyword(l_token, "minfilesize:", "mfs:", l_rest))
        {
            m_minFileSize = Megabytes(l_rest);
            m_hasAttributes = true;
        }
        else if (TakeKeyword(l_token, "minfilesinfolder:", "mfif:", l_rest))
            m_minFilesInFolder = l_rest.toInt(nullptr, 10);
        else
            m_requiredWords << l_token;
    }
}

bool FilterParser::PassesAttributes(ItemPtr i_item) const
{
    if (m_vbrOnly && i_item["bitrate_mode"].AsString() != QLatin1String("vbr"))
        return false;
    if (m_cbrOnly && i_item["bitrate_mode"].AsString() != QLatin1String("cbr"))
        return false;
    if (i_item["bitrate"].AsInt() < m_minBitrate)
        return false;
    return i_item["file_size"].AsInt64() >= m_minFileSize;
}

void FilterParser::CopyAttributes(FilterParser& io_rest) const
{
    io_rest.m_vbrOnly = m_vbrOnly;
    io_rest.m_cbrOnly = m_cbrOnly;
    io_rest.m_minBitrate = m_minBitrate;
    io_rest.m_minFileSize = m_minFileSize;
    io_rest.m_minFilesInFolder = m_minFilesInFolder;
    io_rest.m_hasAttributes = m_hasAttributes;
}

int FilterParser::IsMatching(QString i_text, FilterParser* ip_rest, ItemPtr i_item) const
{
    if (ip_rest)
    {
        ip_rest->m_requiredWords.clear();
        ip_rest->m_excludedWords.clear();
    }
    if (i_item && !PassesAttributes(i_item))
        return Excluded;
    if (ip_rest)
        CopyAttributes(*ip_rest);

    for (const QString& l_word : m_excludedWords)
        if (i_text.contains(l_word, Qt::CaseInsensitive))
            return Excluded;
    if (ip_rest)
        ip_rest->m_excludedWords = m_excludedWords;

    for (const QString& l_word : m_requiredWords)
    {
        if (i_text.contains(l_word, Qt::CaseInsensitive))
            continue;
        if (!ip_rest)
            return MissingWord;
        ip_rest->m_requiredWords << l_word;
    }
    return ip_rest && !ip_rest->m_requiredWords.isEmpty() ? MissingWord : Matching;
}
