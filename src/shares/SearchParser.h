#pragma once

#include <QByteArray>
#include <QString>

#include <set>

// A file search as three sets of lower-case tokens: words that must be present, parts
// ("*word") that must occur somewhere, and words ("-word") that must not occur. A phrase in
// double quotes is one token, blanks included. One parser serves one search text.
class SearchParser
{
public:
    typedef std::set<QString> TokenSet;

    // Searches arrive from other users, so the work one text can cause is bounded: a longer
    // text, or one with more distinct tokens, is not a valid search.
    static constexpr int MaxTextLength = 1024;
    static constexpr int MaxTokenCount = 32;

    static QByteArray Whitespace();

    // Adds the text's tokens to the sets; false when the text is not a valid search, in
    // which case the parser should be discarded.
    bool SetSearchText(QString i_text);
    bool IsMatch(QString i_text) const;

    const TokenSet& GetIncludedTokenSet() const { return m_includedTokens; }
    const TokenSet& GetIncludedPartTokenSet() const { return m_includedPartTokens; }
    const TokenSet& GetExcludedTokenSet() const { return m_excludedTokens; }

private:
    bool Tokenize(QString i_text);
    int TokenCount() const;

    TokenSet m_includedTokens;
    TokenSet m_includedPartTokens;
    TokenSet m_excludedTokens;
};
