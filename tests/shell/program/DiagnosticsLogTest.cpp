#include <QScrollBar>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextBrowser>

#include "ProgramFixture.h"
#include "diagnostics/DiagnosticsForm.h"
#include "diagnostics/Log.h"
#include "shell/UIFunctions.h"

// The diagnostics page as the program has it: the log's sink, on its tab of the shown window.
class DiagnosticsLog : public ProgramFixture
{
protected:
    void StartWithThePage()
    {
        mp_window = std::make_unique<MainWindow>();
        mp_window->show();
        mp_window->Init();
        mp_ui = mp_window->Ui();
    }
    // The tab of an area, brought to the front at every tab level above it.
    QTextBrowser* ShownArea(const QString& i_area) const
    {
        auto* lp_areas = mp_ui->diagnosticsForm->findChild<QTabWidget*>("logTabWidget");
        for (int l_tab = 0; lp_areas && l_tab < lp_areas->count(); ++l_tab)
            if (lp_areas->tabText(l_tab) == i_area)
            {
                auto* lp_browser = qobject_cast<QTextBrowser*>(lp_areas->widget(l_tab));
                int l_index = -1;
                for (QWidget* lp_inner = lp_browser; QTabWidget* lp_tabs = GetWidgetTabWidget(lp_inner, l_index);
                     lp_inner = lp_tabs)
                    lp_tabs->setCurrentIndex(l_index);
                return lp_browser;
            }
        return nullptr;
    }
};

// A long run logs far more than anybody reads back in the page: an area's tab keeps its latest
// lines only, newest last and followed by the view, while the area's log file keeps them all.
TEST_F(DiagnosticsLog, AnAreasTabKeepsItsLatestLinesAndItsFileKeepsEveryOne)
{
    StartWithThePage();
    SetSetting("user_level_logging", "yes");
    const QString l_area = "Transfer Queue";
    const int l_logged = 3 * DiagnosticsForm::MaxAreaLines + 7;
    Log(l_area, 2, "line 0", ItemPtr());
    QTextBrowser* lp_browser = ShownArea(l_area);
    ASSERT_NE(lp_browser, nullptr);
    ASSERT_TRUE(lp_browser->isVisible());
    for (int l_line = 1; l_line < l_logged; ++l_line)
        Log(l_area, 2, QString("line %1").arg(l_line), ItemPtr());
    // Logged in one turn of the event loop, they show together once it has run.
    const QTextDocument* lp_document = lp_browser->document();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return lp_document->lastBlock().text().endsWith(QString("line %1").arg(l_logged - 1)); }, 5000));

    // As many as one line at a time would have left: past the bound, the oldest tenth goes.
    int l_shown = 0;
    for (int l_line = 0; l_line < l_logged; ++l_line)
        if (++l_shown > DiagnosticsForm::MaxAreaLines)
            l_shown = DiagnosticsForm::MaxAreaLines - DiagnosticsForm::MaxAreaLines / 10;
    const int l_kept = lp_document->blockCount();
    EXPECT_EQ(l_kept, l_shown);
    // The kept lines are the latest, in their order: every one older than them is gone.
    QStringList l_wrong;
    int l_expected = l_logged - l_kept;
    for (QTextBlock l_block = lp_document->begin(); l_block.isValid(); l_block = l_block.next(), ++l_expected)
        if (!l_block.text().endsWith("]    line " + QString::number(l_expected)))
            l_wrong << QString("%1: %2").arg(l_expected).arg(l_block.text());
    EXPECT_EQ(l_wrong, QStringList());
    EXPECT_TRUE(lp_document->lastBlock().text().endsWith(QString("line %1").arg(l_logged - 1)));
    QScrollBar* lp_scrollBar = lp_browser->verticalScrollBar();
    EXPECT_GT(lp_scrollBar->maximum(), 0);
    EXPECT_EQ(lp_scrollBar->value(), lp_scrollBar->maximum()) << "the view shows the newest line";

    QFile l_file(logService.FileName(l_area));
    ASSERT_EQ(l_file.fileName(), Home() + "/trwk-client-logs/Transfer Queue.log");
    ASSERT_TRUE(l_file.open(QIODevice::ReadOnly));
    QList<QByteArray> l_lines = l_file.readAll().split('\n');
    ASSERT_EQ(l_lines.size(), l_logged + 2);
    EXPECT_TRUE(l_lines.takeFirst().startsWith("* Logging started at "));
    EXPECT_EQ(l_lines.takeLast(), "");
    l_wrong.clear();
    for (int l_line = 0; l_line < l_logged; ++l_line)
        if (!l_lines[l_line].endsWith("]    line " + QByteArray::number(l_line)))
            l_wrong << QString("%1: %2").arg(l_line).arg(QString::fromLatin1(l_lines[l_line]));
    EXPECT_EQ(l_wrong, QStringList());
}
