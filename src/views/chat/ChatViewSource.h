#pragma once

#include <QFont>
#include <QString>

#include <deque>

class QTextBrowser;

// A chat view's HTML source as the renderer's ceiling reads it: the size `toHtml()` would give,
// kept up to date line by line instead of exported whole for every line, and the cut of its
// oldest paragraphs. Both give exactly what exporting the source and parsing its kept part again
// would; where that cannot be vouched for (the view changed behind the renderer's back, its
// font changed, a line holds characters the document treats as objects or frames, or paragraphs
// this source did not add would be kept), it exports and parses as before.
class ChatViewSource
{
public:
    explicit ChatViewSource(QTextBrowser* ip_view) : mp_view(ip_view) {}

    // The length of the view's HTML source.
    int Size();
    // Appends a paragraph of HTML as QTextEdit::append does.
    void Append(const QString& i_html);
    // Drops every paragraph before the first line feed of the source at or after i_cut, then
    // appends the line; the view then shows its newest line, without a selection.
    void CutAndAppend(int i_cut, const QString& i_html);

private:
    // Paragraphs this source appended for one line, oldest first.
    struct Line
    {
        int blocks;
        bool plain;
    };

    bool IsKnown() const;
    void Measure();
    void Remember(int i_size);
    int FragmentSize(int i_firstBlock) const;
    // How many paragraphs precede the source's line feed at i_feed, or -1 when the paragraphs
    // after it may not simply stay.
    int DroppableBlocks(const QString& i_source, int i_feed) const;
    void ForgetBlocks(int i_blocks);

    QTextBrowser* mp_view;
    // The source's length while the document is at m_revision with m_font; -1 when unknown.
    int m_size = -1;
    int m_revision = -1;
    QFont m_font;
    // What a fragment's source of whole paragraphs has beyond their share of the view's source.
    int m_fragmentOverhead = -1;
    // The paragraphs after those this source did not add.
    std::deque<Line> m_lines;
};
