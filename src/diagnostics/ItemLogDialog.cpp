#include "diagnostics/ItemLogDialog.h"

#include <QTextBrowser>
#include <QTextCursor>

#include <vector>

#include "store/Data.h"
#include "ui_ItemLogDialog.h"

namespace
{
// Entries carry user names and texts from the network: they go in as plain text, never as
// markup.
void AppendLine(QTextBrowser* browser, const QString& line)
{
    QTextCursor cursor(browser->document());
    cursor.movePosition(QTextCursor::End);
    if (!browser->document()->isEmpty())
        cursor.insertBlock();
    cursor.insertText(line);
}

// Level 1 is an event, 2 a step within it, 3 a detail; each level above 1 indents by three.
QString Indented(const QString& text, int level)
{
    const int levels = qBound(0, level - 1, 32);
    return QString(levels * 3, QLatin1Char(' ')) + text;
}
} // namespace

ItemLogDialog::ItemLogDialog(ItemPtr item, QWidget* parent)
    : QDialog(parent), mp_ui(new Ui_ItemLogDialog), m_item(item)
{
    mp_ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);

    // Only an item of a loggable type can hold entries; for any other there is nothing to follow.
    Type* itemLog = d.HasType("item_log");
    const bool loggable = item && itemLog && itemLog->IsRelated(item.GetType());
    if (loggable)
    {
        PathNode* root = new PathNode(&d, "item_log");
        new PathNode(root, item, NotifyOnConnect);
        d.AddPathEventHandler(root, NewEventHandler(this, &ItemLogDialog::OnItemLog));
    }

    mp_allBrowser = new QTextBrowser;
    mp_ui->logTabWidget->addTab(mp_allBrowser, QStringLiteral("All"));

    if (!loggable)
        return;
    const std::vector<ItemPtr> entries = item.GetItems("item_log").SortNumericBy("log_order", true);
    for (ItemPtr entry : entries)
        OnItemLog(entry);
}

ItemLogDialog::~ItemLogDialog()
{
    delete mp_ui;
}

void ItemLogDialog::OnItemLog(ItemPtr entry)
{
    const QString area = entry["log_area"].AsString();
    const QString text = Indented(entry["log_text"].AsString(), entry["log_level"].AsInt());
    const QString line = QLatin1Char('[') + entry["log_time"].AsString() + QLatin1String("] ") + text;

    AppendLine(AreaBrowser(area), line);
    AppendLine(mp_allBrowser, line);
}

QTextBrowser* ItemLogDialog::AreaBrowser(const QString& area)
{
    QTabWidget* tabs = mp_ui->logTabWidget;
    for (int index = 0; index < tabs->count(); ++index)
    {
        if (tabs->tabText(index) != area)
            continue;
        if (auto* browser = qobject_cast<QTextBrowser*>(tabs->widget(index)))
            return browser;
        break;
    }
    auto* browser = new QTextBrowser;
    tabs->addTab(browser, area);
    return browser;
}
