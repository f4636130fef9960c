#include "views/chat/ChatViewSource.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>

#include <algorithm>

namespace
{
// Characters the document stores as objects or frame marks, controls, and halves of broken
// pairs: a line holding one may not come back the same from its source.
bool IsPlainText(const QString& i_html)
{
    for (int l_at = 0; l_at < i_html.size(); ++l_at)
    {
        const QChar l_c = i_html.at(l_at);
        const ushort l_code = l_c.unicode();
        if ((l_code < 0x20 && l_code != '\t' && l_code != '\n') || l_code == 0x7f ||
            l_code == QChar::ObjectReplacementCharacter || (l_code >= 0xfdd0 && l_code <= 0xfdef) ||
            l_code >= 0xfff0)
            return false;
        if (l_c.isHighSurrogate() && l_at + 1 < i_html.size() && i_html.at(l_at + 1).isLowSurrogate())
            ++l_at;
        else if (l_c.isSurrogate())
            return false;
    }
    return true;
}

// The only markup the source holds for the lines the renderer writes.
bool HoldsOnlyLineMarkup(const QString& i_source, int i_from)
{
    static const QLatin1String l_tags[] = {
        QLatin1String("<p style=\""), QLatin1String("</p>"),     QLatin1String("<span style=\""),
        QLatin1String("</span>"),     QLatin1String("<a href=\""), QLatin1String("</a>"),
        QLatin1String("<br />"),      QLatin1String("</body></html>"), QLatin1String("</html>")};
    for (int l_at = i_source.indexOf(QLatin1Char('<'), i_from); l_at >= 0;
         l_at = i_source.indexOf(QLatin1Char('<'), l_at + 1))
        if (std::none_of(std::begin(l_tags), std::end(l_tags), [&](QLatin1String i_tag) {
                return QStringRef(&i_source, l_at, std::min(i_tag.size(), i_source.size() - l_at)) == i_tag;
            }))
            return false;
    return true;
}
} // namespace

bool ChatViewSource::IsKnown() const
{
    const QTextDocument* lp_document = mp_view->document();
    return m_size >= 0 && lp_document->revision() == m_revision && lp_document->defaultFont() == m_font;
}

// Whatever changed the view, its paragraphs are now of unknown make.
void ChatViewSource::Measure()
{
    m_lines.clear();
    m_fragmentOverhead = -1;
    Remember(mp_view->toHtml().size());
}

void ChatViewSource::Remember(int i_size)
{
    m_size = i_size;
    m_revision = mp_view->document()->revision();
    m_font = mp_view->document()->defaultFont();
}

int ChatViewSource::Size()
{
    if (!IsKnown())
        Measure();
    return m_size;
}

int ChatViewSource::FragmentSize(int i_firstBlock) const
{
    QTextDocument* lp_document = mp_view->document();
    QTextCursor l_cursor(lp_document);
    l_cursor.setPosition(lp_document->findBlockByNumber(i_firstBlock).position());
    l_cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    return QTextDocumentFragment(l_cursor).toHtml().size();
}

// A paragraph's share of the source is what the source of a fragment of it holds, less the
// fragment's own frame, which is the same for every fragment and found once by exporting.
void ChatViewSource::Append(const QString& i_html)
{
    const int l_before = Size();
    QTextDocument* lp_document = mp_view->document();
    const bool l_wasEmpty = lp_document->isEmpty();
    const int l_firstBlock = l_wasEmpty ? 0 : lp_document->blockCount();
    mp_view->append(i_html);
    const int l_blocks = lp_document->blockCount() - l_firstBlock;
    const bool l_plain =
        IsPlainText(i_html) && lp_document->findBlockByNumber(l_firstBlock).length() > 1;
    if (!l_plain || l_wasEmpty || m_fragmentOverhead < 0)
    {
        const int l_after = mp_view->toHtml().size();
        if (l_plain && !l_wasEmpty)
            m_fragmentOverhead = FragmentSize(l_firstBlock) - (l_after - l_before);
        Remember(l_after);
    }
    else
        Remember(l_before + FragmentSize(l_firstBlock) - m_fragmentOverhead);
    m_lines.push_back(Line{l_blocks, l_plain});
}

int ChatViewSource::DroppableBlocks(const QString& i_source, int i_feed) const
{
    const int l_body = i_source.indexOf(QLatin1String("<body"));
    const int l_firstBlock = l_body < 0 ? -1 : i_source.indexOf(QLatin1Char('\n'), l_body) + 1;
    if (i_feed < 0 || l_firstBlock <= 0 || i_feed < l_firstBlock)
        return -1;
    // Paragraphs are written one to a line: count them, and make sure of it.
    const int l_dropped = int(std::count(i_source.begin() + l_firstBlock, i_source.begin() + i_feed + 1, QLatin1Char('\n')));
    const int l_feeds = l_dropped + int(std::count(i_source.begin() + i_feed + 1, i_source.end(), QLatin1Char('\n')));
    const int l_blocks = mp_view->document()->blockCount();
    if (l_feeds != l_blocks - 1 || !HoldsOnlyLineMarkup(i_source, i_feed + 1))
        return -1;
    int l_block = l_blocks;
    for (const Line& l_line : m_lines)
        l_block -= l_line.blocks;
    // l_block: the first paragraph this source added.
    if (l_block > l_dropped)
        return -1;
    for (const Line& l_line : m_lines)
    {
        if (l_block + l_line.blocks > l_dropped && !l_line.plain)
            return -1;
        l_block += l_line.blocks;
    }
    return l_dropped;
}

void ChatViewSource::ForgetBlocks(int i_blocks)
{
    int l_foreign = mp_view->document()->blockCount();
    for (const Line& l_line : m_lines)
        l_foreign -= l_line.blocks;
    i_blocks -= std::min(i_blocks, l_foreign);
    while (i_blocks > 0 && !m_lines.empty())
    {
        const int l_taken = std::min(i_blocks, m_lines.front().blocks);
        m_lines.front().blocks -= l_taken;
        i_blocks -= l_taken;
        if (m_lines.front().blocks == 0)
            m_lines.pop_front();
    }
}

// Dropping the paragraphs leaves the document that parsing the kept source gives, as long as
// every kept paragraph is one this source wrote from plain text: the rest of the view is then
// the kept source exactly. Parsing anew put the view at its end without a selection, and so
// does this.
void ChatViewSource::CutAndAppend(int i_cut, const QString& i_html)
{
    const QString l_source = mp_view->toHtml();
    const int l_feed = l_source.indexOf(QLatin1Char('\n'), i_cut);
    const int l_dropped = DroppableBlocks(l_source, l_feed);
    mp_view->setUpdatesEnabled(false);
    if (l_dropped < 0)
    {
        QString l_kept = l_source.mid(i_cut);
        const int l_keptFeed = l_kept.indexOf(QLatin1Char('\n'));
        if (l_keptFeed >= 0)
            l_kept.remove(0, l_keptFeed + 1);
        mp_view->clear();
        mp_view->append(l_kept);
        Measure();
    }
    else
    {
        QTextDocument* lp_document = mp_view->document();
        ForgetBlocks(l_dropped);
        QTextCursor l_cursor(lp_document);
        l_cursor.setPosition(lp_document->findBlockByNumber(l_dropped).position(), QTextCursor::KeepAnchor);
        l_cursor.removeSelectedText();
        QTextCursor l_end(lp_document);
        l_end.movePosition(QTextCursor::End);
        mp_view->setTextCursor(l_end);
        mp_view->verticalScrollBar()->setValue(mp_view->verticalScrollBar()->maximum());
        const int l_body = l_source.indexOf(QLatin1Char('\n'), l_source.indexOf(QLatin1String("<body"))) + 1;
        Remember(l_source.size() - (l_feed + 1 - l_body));
    }
    Append(i_html);
    mp_view->setUpdatesEnabled(true);
}
