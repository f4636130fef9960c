#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <functional>

#include "FormTesting.h"

namespace
{
// A tab filled the way it was before lines came in batches: each line appended on its own, and
// past the bound the tab cut back to its latest tenth less.
void AppendAlone(QTextDocument& io_document, const QString& i_line)
{
    QTextCursor l_cursor(&io_document);
    l_cursor.movePosition(QTextCursor::End);
    if (!io_document.isEmpty())
        l_cursor.insertBlock();
    l_cursor.insertText(i_line);
    const int l_blocks = io_document.blockCount();
    if (l_blocks <= DiagnosticsForm::MaxAreaLines)
        return;
    QTextCursor l_cut(&io_document);
    l_cut.setPosition(
        io_document.findBlockByNumber(l_blocks - (DiagnosticsForm::MaxAreaLines - DiagnosticsForm::MaxAreaLines / 10))
            .position(),
        QTextCursor::KeepAnchor);
    l_cut.removeSelectedText();
}

QStringList Blocks(const QTextDocument* ip_document)
{
    QStringList l_blocks;
    for (QTextBlock l_block = ip_document->begin(); l_block.isValid(); l_block = l_block.next())
        l_blocks << l_block.text();
    return l_blocks;
}

QString Plain(int i_index)
{
    return QString("line %1").arg(i_index);
}

// Every kind of break the text widgets cut a block at, and some they do not.
QString Broken(int i_index)
{
    const QString l_breaks[] = {"a\nb", "a\rb", "a\r\nb", "a\n\rb", QString("a") + QChar(0x2029) + "b",
                                QString("a") + QChar(0xfdd0) + "b" + QChar(0xfdd1), "trailing\n", "\r\r",
                                QString("kept") + QChar(0x2028) + "\t" + QChar(0xfdef) + "\v"};
    return QString::number(i_index) + l_breaks[i_index % 9];
}
} // namespace

using LineBatches = LogFixture;

// However many lines come in one turn of the event loop, and whatever they hold, the tab shows
// exactly the blocks that appending them one at a time shows, in their order.
TEST_F(LineBatches, ATabShowsWhatLinesAppendedOneAtATimeWouldHaveLeft)
{
    struct Case
    {
        const char* name;
        // Lines of earlier turns, then the lines of each later turn.
        std::vector<int> turns;
        std::function<QString(int)> line;
    };
    const int l_bound = DiagnosticsForm::MaxAreaLines;
    const Case l_cases[] = {
        {"a few lines on an empty tab", {0, 7}, Plain},
        {"a burst within the bound", {1200, 3000}, Plain},
        {"a burst that takes the tab past its bound once", {l_bound - 10, 20}, Plain},
        {"a burst exactly to the bound, then one more line", {l_bound - 100, 100, 1}, Plain},
        {"a burst three times the bound on an empty tab", {0, 3 * l_bound + 7}, Plain},
        {"a burst larger than the bound on a full tab", {l_bound, l_bound + 1}, Plain},
        {"turn after turn, each past the bound", {4000, 1700, 2600, 901, 12000}, Plain},
        {"lines broken every way, across the bound", {l_bound - 300, 2000, 7}, Broken},
        {"one line of more blocks than the bound", {10, 1, 3},
         [](int i_index) { return i_index == 10 ? QString(DiagnosticsForm::MaxAreaLines + 600, '\n') : Plain(i_index); }},
    };
    for (const Case& l_case : l_cases)
    {
        SCOPED_TRACE(l_case.name);
        DiagnosticsForm l_page;
        l_page.Init();
        QTextDocument l_alone;
        int l_next = 0;
        const QTextBrowser* lp_tab = nullptr;
        for (int l_lines : l_case.turns)
        {
            for (int l_index = 0; l_index < l_lines; ++l_index, ++l_next)
            {
                l_page.LogLine("Peer Messenger", l_case.line(l_next));
                AppendAlone(l_alone, l_case.line(l_next));
            }
            QCoreApplication::processEvents();
            if (l_next == 0)
                continue;
            lp_tab = Browser(l_page.findChild<QTabWidget*>("logTabWidget"), 0);
            ASSERT_NE(lp_tab, nullptr);
            ASSERT_EQ(Blocks(lp_tab->document()), Blocks(&l_alone)) << "after line " << l_next;
        }
        ASSERT_NE(lp_tab, nullptr);
        EXPECT_LE(lp_tab->document()->blockCount(), l_bound);
    }
}

// The lines of different areas in one turn each reach their own tab, in their order.
TEST_F(LineBatches, LinesOfSeveralAreasInOneTurnReachTheirOwnTabsInOrder)
{
    DiagnosticsForm l_page;
    l_page.Init();
    const QStringList l_areas{"server", "Transfer Queue", "Peer Messenger"};
    for (int l_index = 0; l_index < 30; ++l_index)
        l_page.LogLine(l_areas[l_index % 3], Plain(l_index));
    QCoreApplication::processEvents();
    auto* lp_tabs = l_page.findChild<QTabWidget*>("logTabWidget");
    ASSERT_EQ(Texts(lp_tabs), l_areas);
    for (int l_area = 0; l_area < 3; ++l_area)
    {
        QStringList l_expected;
        for (int l_index = l_area; l_index < 30; l_index += 3)
            l_expected << Plain(l_index);
        EXPECT_EQ(Blocks(Browser(lp_tabs, l_area)->document()), l_expected) << l_areas[l_area].toStdString();
    }
}
