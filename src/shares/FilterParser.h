#pragma once

#include <QString>
#include <QStringList>

#include "store/ItemPtr.h"

// A result filter as the user types it in the search and browse views: words a name must
// hold, words it must not hold, and limits on a file's bitrate, size and folder. Keywords are
// case-sensitive; words match in any letter case.
class FilterParser
{
public:
    enum Match
    {
        Matching = 0,
        MissingWord = 1,
        Excluded = 2
    };

    FilterParser() = default;

    // Adds the text's tokens to what earlier calls set.
    void Parse(QString i_text);
    // Tests a text and, when given, a file item's attributes. With ip_rest, a folder's text can
    // be tested first: ip_rest then holds the required words the folder lacked, the same
    // excluded words and limits, for testing each of its files.
    int IsMatching(QString i_text, FilterParser* ip_rest, ItemPtr i_item) const;
    bool HasAttributes() const { return m_hasAttributes; }
    int MinFilesInFolder() const { return m_minFilesInFolder; }

private:
    bool PassesAttributes(ItemPtr i_item) const;
    void CopyAttributes(FilterParser& io_rest) const;

    QStringList m_requiredWords;
    QStringList m_excludedWords;
    int m_minBitrate = 0;
    bool m_vbrOnly = false;
    bool m_cbrOnly = false;
    qint64 m_minFileSize = 0;
    int m_minFilesInFolder = 0;
    bool m_hasAttributes = false;
};
