#include "diagnostics/DiagnosticsForm.h"

#include <QScrollBar>
#include <QTextBrowser>
#include <QTextCursor>

#include "diagnostics/LogService.h"
#include "store/Data.h"
#include "ui_DiagnosticsForm.h"

DiagnosticsForm* diagnosticsForm = nullptr;

DiagnosticsForm::DiagnosticsForm(QWidget* parent) : QWidget(parent), mp_ui(new Ui_DiagnosticsForm)
{
    diagnosticsForm = this;
    mp_ui->setupUi(this);

    Type* log = d.HasType("log");
    if (!log)
        log = d.NewType("log", Primary, false, true);
    Type* logWidget = d.HasType("log_widget");
    if (!logWidget)
        logWidget = d.NewType("log_widget", Primary, false, true);
    if (!log->IsRelated(logWidget))
        log->RelateToType(logWidget, One, One, false);

    logService.InstallSink(this);
}

DiagnosticsForm::~DiagnosticsForm()
{
    // Withdraw first: destroying the children below must not reach a half-destroyed page.
    logService.RemoveSink(this);
    if (diagnosticsForm == this)
        diagnosticsForm = nullptr;

    // The browsers go with the page; their addresses must not stay in the store.
    if (Type* logWidget = d.HasType("log_widget"))
        for (QTextBrowser* browser : qAsConst(m_browsers))
            if (ItemPtr item = logWidget->HasItem(browser))
                item.Remove();

    delete mp_ui;
}

void DiagnosticsForm::Init()
{
    logService.Init();
}

void DiagnosticsForm::RegisterLoggableItemType(std::string typeName)
{
    logService.RegisterLoggableItemType(typeName);
}

void DiagnosticsForm::Log(QString area, int level, QString text, ItemPtr item)
{
    logService.Log(area, level, text, item);
}

void DiagnosticsForm::LogLine(const QString& area, const QString& line)
{
    QTextBrowser* browser = AreaBrowser(area);

    // Lines carry user names and paths from the network: insert them as plain text, never
    // as markup. A view scrolled to the end follows the new line.
    QScrollBar* scrollBar = browser->verticalScrollBar();
    const bool atEnd = scrollBar->value() == scrollBar->maximum();
    QTextCursor cursor(browser->document());
    cursor.movePosition(QTextCursor::End);
    if (!browser->document()->isEmpty())
        cursor.insertBlock();
    cursor.insertText(line);
    if (atEnd)
        scrollBar->setValue(scrollBar->maximum());
}

QTextBrowser* DiagnosticsForm::AreaBrowser(const QString& area)
{
    QTextBrowser* browser = m_browsers.value(area);
    if (!browser)
    {
        browser = new QTextBrowser(this);
        mp_ui->logTabWidget->addTab(browser, area);
        m_browsers.insert(area, browser);
    }

    ItemPtr logItem = d.GetType("log")->GetItem(area);
    ItemPtr widgetItem = d.GetType("log_widget")->GetItem(browser);
    if (!logItem.IsConnected(widgetItem))
        logItem.Connect(widgetItem);
    return browser;
}
