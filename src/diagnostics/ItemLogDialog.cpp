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
void AppendLine(QTextBrowser* ip_browser, const QString& i_line)
{
    QTextCursor l_cursor(ip_browser->document());
    l_cursor.movePosition(QTextCursor::End);
    if (!ip_browser->document()->isEmpty())
        l_cursor.insertBlock();
    l_cursor.insertText(i_line);
}

// Level 1 is an event, 2 a step within it, 3 a detail; each level above 1 indents by three.
QString Indented(const QString& i_text, int i_level)
{
    const int l_levels = qBound(0, i_level - 1, 32);
    return QString(l_levels * 3, QLatin1Char(' ')) + i_text;
}
} // namespace

ItemLogDialog::ItemLogDialog(ItemPtr i_item, QWidget* ip_parent)
    : QDialog(ip_parent), mp_ui(new Ui_ItemLogDialog), m_item(i_item)
{
    mp_ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);

    // Only an item of a loggable type can hold entries; for any other there is nothing to follow.
    Type* lp_itemLog = d.HasType("item_log");
    const bool l_loggable = i_item && lp_itemLog && lp_itemLog->IsRelated(i_item.GetType());
    if (l_loggable)
    {
        PathNode* lp_root = new PathNode(&d, "item_log");
        new PathNode(lp_root, i_item, NotifyOnConnect);
        d.AddPathEventHandler(lp_root, NewEventHandler(this, &ItemLogDialog::OnItemLog));
    }

    mp_allBrowser = new QTextBrowser;
    mp_ui->logTabWidget->addTab(mp_allBrowser, QStringLiteral("All"));

    if (!l_loggable)
        return;
    const std::vector<ItemPtr> l_entries =
        i_item.GetItems("item_log").SortNumericBy("log_order", true);
    for (ItemPtr l_entry : l_entries)
        OnItemLog(l_entry);
}

ItemLogDialog::~ItemLogDialog()
{
    delete mp_ui;
}

void ItemLogDialog::OnItemLog(ItemPtr i_entry)
{
    const QString l_area = i_entry["log_area"].AsString();
    const QString l_text = Indented(i_entry["log_text"].AsString(), i_entry["log_level"].AsInt());
    const QString l_line =
        QLatin1Char('[') + i_entry["log_time"].AsString() + QLatin1String("] ") + l_text;

    AppendLine(AreaBrowser(l_area), l_line);
    AppendLine(mp_allBrowser, l_line);
}

QTextBrowser* ItemLogDialog::AreaBrowser(const QString& i_area)
{
    QTabWidget* lp_tabs = mp_ui->logTabWidget;
    for (int l_index = 0; l_index < lp_tabs->count(); ++l_index)
    {
        if (lp_tabs->tabText(l_index) != i_area)
            continue;
        if (auto* lp_browser = qobject_cast<QTextBrowser*>(lp_tabs->widget(l_index)))
            return lp_browser;
        break;
    }
    auto* lp_browser = new QTextBrowser;
    lp_tabs->addTab(lp_browser, i_area);
    return lp_browser;
}
