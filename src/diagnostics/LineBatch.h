#pragma once

#include <QString>
#include <QStringList>

#include <deque>

// The lines that one log tab receives in one turn of the event loop, shown together. A tab keeps
// only its latest blocks: each line that takes it past its bound cuts it back to its latest
// `kept` blocks at once, since every cut lays a shown tab out again from its top. The batch works
// out, line by line, what such cuts would have left, so that the tab that takes the batch in one
// go holds exactly the blocks it would have held had each line come alone; of its own lines it
// keeps no more than the bound, however many come.
class LineBatch
{
public:
    // i_shown: the blocks the tab holds before the batch, 0 when it is empty.
    LineBatch(int i_bound, int i_kept, int i_shown);

    // A line is as many blocks as the text widgets make of it: every line feed, carriage return
    // (with a line feed after it, one), paragraph separator and frame mark ends one.
    void Add(const QString& i_line);
    // How many of the blocks the tab held before the batch it keeps: its latest ones.
    int KeptOfShown() const;
    // The batch's blocks that the tab shows after them, oldest first; the batch is empty then.
    QStringList TakeBlocks();

private:
    void AddBlock(const QString& i_block);

    int m_bound;
    int m_kept;
    // The blocks the tab would hold by now, and how many of them the batch brought at most.
    int m_blocks;
    qint64 m_added = 0;
    std::deque<QString> m_latest;
};
