#include "shares/SearchParser.h"

QByteArray SearchParser::Whitespace()
{
    return QByteArray(" \t");
}

bool SearchParser::SetSearchText(QString i_text)
{
    return Tokenize(i_text, -1);
}

bool SearchParser::SetRemoteSearchText(QString i_text)
{
    if (i_text.size() > MaxRemoteTextLength)
        return false;
    return Tokenize(i_text, MaxRemoteTokenCount);
}

bool SearchParser::IsMatch(QString i_text) const
{
    const QString l_text = i_text.toLower();
    for (const QString& l_token : m_includedTokens)
        if (!l_text.contains(l_token))
            return false;
    for (const QString& l_token : m_includedPartTokens)
        if (!l_text.contains(l_token))
            return false;
    for (const QString& l_token : m_excludedTokens)
        if (l_text.contains(l_token))
            return false;
    return true;
}

int SearchParser::TokenCount() const
{
    return static_cast<int>(m_includedTokens.size() + m_includedPartTokens.size() +
                            m_excludedTokens.size());
}

// A negative i_maxTokens sets no bound.
bool SearchParser::Tokenize(QString i_text, int i_maxTokens)
{
    // Every marker and separator is one ASCII byte, so cutting the UTF-8 bytes at them
    // never splits a character.
    const QByteArray l_bytes = i_text.toLower().toUtf8();
    const QByteArray l_whitespace = Whitespace();
    const int l_size = l_bytes.size();
    int l_pos = 0;
    for (;;)
    {
        while (l_pos < l_size && l_whitespace.contains(l_bytes[l_pos]))
            ++l_pos;
        if (l_pos == l_size)
            return !m_includedTokens.empty() || !m_includedPartTokens.empty();

        TokenSet* lp_set = &m_includedTokens;
        if (l_bytes[l_pos] == '-' || l_bytes[l_pos] == '*')
        {
            lp_set = l_bytes[l_pos] == '-' ? &m_excludedTokens : &m_includedPartTokens;
            if (++l_pos == l_size)
                return false;
        }

        int l_start = l_pos;
        int l_end;
        int l_next;
        if (l_bytes[l_pos] == '"')
        {
            l_start = l_pos + 1;
            l_end = l_bytes.indexOf('"', l_start);
            if (l_end < 0)
                l_end = l_size;
            l_next = l_end < l_size ? l_end + 1 : l_size;
        }
        else
        {
            l_end = l_start;
            while (l_end < l_size && !l_whitespace.contains(l_bytes[l_end]))
                ++l_end;
            l_next = l_end;
        }

        const QByteArray l_token = l_bytes.mid(l_start, l_end - l_start);
        if (l_token.isEmpty() || l_token.contains('"'))
            return false;
        const QString l_text = QString::fromUtf8(l_token);
        if (i_maxTokens >= 0 && lp_set->count(l_text) == 0 && TokenCount() >= i_maxTokens)
            return false;
        lp_set->insert(l_text);
        l_pos = l_next;
    }
}
