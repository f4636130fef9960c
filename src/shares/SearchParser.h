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

    // Other users' searches are matched against every shared file, so the work one of their
    // texts can cause is bounded: a longer text, or one with more distinct tokens, is refused.
    static constexpr int MaxRemoteTextLength = 1024;
    static constexpr int MaxRemoteTokenCount = 32;

    static QByteArray Whitespace();

    // Adds the text's tokens to the sets; false when the text is not a valid search. The
    // tokens read before a fault stay, so a reader of replies to one's own search still
    // filters with them.
    bool SetSearchText(QString i_text);
    // The same for a search that another user sent, within the remote limits above.
    bool SetRemoteSearchText(QString i_text);
    bool IsMatch(QString i_text) const;

    const TokenSet& GetIncludedTokenSet() const { return m_includedTokens; }
    const TokenSet& GetIncludedPartTokenSet() const { return m_includedPartTokens; }
    const TokenSet& GetExcludedTokenSet() const { return m_excludedTokens; }

private:
    bool Tokenize(QString i_text, int i_maxTokens);
    int TokenCount() const;

    TokenSet m_includedTokens;
    TokenSet m_includedPartTokens;
    TokenSet m_excludedTokens;
};
