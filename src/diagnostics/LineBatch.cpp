#include "diagnostics/LineBatch.h"

#include <algorithm>

namespace
{
// The text widgets' marks of a frame's start and end, which end a block as a line feed does.
const QChar FrameStart(0xfdd0);
const QChar FrameEnd(0xfdd1);
} // namespace

LineBatch::LineBatch(int i_bound, int i_kept, int i_shown) : m_bound(i_bound), m_kept(i_kept), m_blocks(i_shown)
{
}

void LineBatch::Add(const QString& i_line)
{
    int l_start = 0;
    for (int l_at = 0; l_at < i_line.size(); ++l_at)
    {
        const QChar l_char = i_line.at(l_at);
        if (l_char != QLatin1Char('\n') && l_char != QLatin1Char('\r') && l_char != QChar::ParagraphSeparator &&
            l_char != FrameStart && l_char != FrameEnd)
            continue;
        AddBlock(i_line.mid(l_start, l_at - l_start));
        if (l_char == QLatin1Char('\r') && l_at + 1 < i_line.size() && i_line.at(l_at + 1) == QLatin1Char('\n'))
            ++l_at;
        l_start = l_at + 1;
    }
    AddBlock(i_line.mid(l_start));
    // The line's blocks go in together; only then does the tab look at its bound.
    if (m_blocks > m_bound)
        m_blocks = m_kept;
}

void LineBatch::AddBlock(const QString& i_block)
{
    ++m_blocks;
    ++m_added;
    m_latest.push_back(i_block);
    if (int(m_latest.size()) > m_bound)
        m_latest.pop_front();
}

int LineBatch::KeptOfShown() const
{
    return int(std::max<qint64>(0, m_blocks - m_added));
}

QStringList LineBatch::TakeBlocks()
{
    const int l_shown = int(std::min<qint64>(m_blocks, m_added));
    QStringList l_blocks;
    l_blocks.reserve(l_shown);
    for (auto l_block = m_latest.end() - l_shown; l_block != m_latest.end(); ++l_block)
        l_blocks << *l_block;
    m_latest.clear();
    m_blocks = KeptOfShown() + l_shown;
    m_added = 0;
    return l_blocks;
}
