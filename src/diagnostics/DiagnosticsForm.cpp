#include "diagnostics/DiagnosticsForm.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QTreeWidget>

#include <algorithm>
#include <utility>

#include "diagnostics/DataDialog.h"
#include "diagnostics/LogService.h"
#include "diagnostics/TypeNavigatorDialog.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "ui_DiagnosticsForm.h"

DiagnosticsForm* diagnosticsForm = nullptr;

DiagnosticsForm::DiagnosticsForm(QWidget* ip_parent)
    : QWidget(ip_parent), mp_ui(new Ui_DiagnosticsForm)
{
    diagnosticsForm = this;
    mp_ui->setupUi(this);

    QTreeWidget* lp_tracked = mp_ui->trackedUsersTree;
    lp_tracked->setColumnCount(2);
    lp_tracked->setHeaderLabels({QStringLiteral("User"), QString()});
    lp_tracked->setColumnWidth(0, 300);
    lp_tracked->setColumnWidth(1, 100);

    Type* lp_log = d.HasType("log");
    if (!lp_log)
        lp_log = d.NewType("log", Primary, false, true);
    Type* lp_logWidget = d.HasType("log_widget");
    if (!lp_logWidget)
        lp_logWidget = d.NewType("log_widget", Primary, false, true);
    if (!lp_log->IsRelated(lp_logWidget))
        lp_log->RelateToType(lp_logWidget, One, One, false);

    logService.InstallSink(this);
}

DiagnosticsForm::~DiagnosticsForm()
{
    // Withdraw first: destroying the children below must not reach a half-destroyed page.
    logService.RemoveSink(this);
    if (diagnosticsForm == this)
        diagnosticsForm = nullptr;
    RemoveDataHandlers();

    // The tracked users' rows go with the page too; no node may keep naming one. Removed as
    // one set, so that a removal handler taking another node first cannot hand us a freed one.
    if (Type* lp_trackUserNode = d.HasType("track_user_node"))
    {
        ItemSet l_nodes;
        for (int l_index = 0; l_index < mp_ui->trackedUsersTree->topLevelItemCount(); ++l_index)
            l_nodes.Insert(
                lp_trackUserNode->HasItem(mp_ui->trackedUsersTree->topLevelItem(l_index)));
        l_nodes.Remove();
    }

    // The browsers go with the page; their addresses must not stay in the store.
    if (Type* lp_logWidget = d.HasType("log_widget"))
        for (QTextBrowser* lp_browser : qAsConst(m_browsers))
            if (ItemPtr l_item = lp_logWidget->HasItem(lp_browser))
                l_item.Remove();

    delete mp_ui;
}

void DiagnosticsForm::Init()
{
    SubscribeUserPath("is_tracked", NotifyOnConnect, &DiagnosticsForm::OnUserTracked);
    SubscribeUserPath("is_tracked", NotifyOnDisconnect, &DiagnosticsForm::OnUserUntracked);
    SubscribeUserPath("is_online", NotifyOnConnect, &DiagnosticsForm::OnUserOnline);
    SubscribeUserPath("is_online", NotifyOnDisconnect, &DiagnosticsForm::OnUserOffline);

    if (Type* lp_user = d.HasType("user"))
    {
        Type* lp_trackUserNode = d.HasType("track_user_node");
        if (!lp_trackUserNode)
            lp_trackUserNode = d.NewType("track_user_node", Primary, false, true);
        if (!lp_trackUserNode->IsRelated(lp_user))
            lp_trackUserNode->RelateToType(lp_user, One, One, false);
        // A row lives exactly as long as the node that names it, and a user's node as long as
        // the user: nothing may later write into a row that is gone.
        lp_trackUserNode->m_removedEvent.AddHandler(
            NewEventHandler(this, &DiagnosticsForm::OnTrackNodeRemoved));
        lp_user->m_removedEvent.AddHandler(NewEventHandler(this, &DiagnosticsForm::OnUserRemoved));
    }

    logService.Init();
}

void DiagnosticsForm::SubscribeUserPath(const char* ip_flagType, PathNodeRelation i_relation,
                                        void (DiagnosticsForm::*i_handler)(ItemPtr))
{
    // Without the server link's schema there is nobody to track.
    Type* lp_user = d.HasType("user");
    Type* lp_flag = d.HasType(ip_flagType);
    if (!lp_user || !lp_flag || !lp_user->IsRelated(lp_flag))
        return;
    PathNode* lp_root = new PathNode(&d, "user");
    new PathNode(lp_root, ip_flagType, i_relation);
    d.AddPathEventHandler(lp_root, NewEventHandler(this, i_handler));
}

void DiagnosticsForm::RegisterLoggableItemType(std::string i_typeName)
{
    logService.RegisterLoggableItemType(i_typeName);
}

void DiagnosticsForm::Log(QString i_area, int i_level, QString i_text, ItemPtr i_item)
{
    logService.Log(i_area, i_level, i_text, i_item);
}

// A burst of thousands of lines in one turn costs the tab one insertion and at most one cut.
void DiagnosticsForm::LogLine(const QString& i_area, const QString& i_line)
{
    auto l_pending = std::find_if(m_pending.begin(), m_pending.end(),
                                  [&i_area](const PendingLines& i_pending) { return i_pending.area == i_area; });
    if (l_pending == m_pending.end())
    {
        if (m_pending.empty())
            QMetaObject::invokeMethod(this, "ShowPendingLines", Qt::QueuedConnection);
        QTextBrowser* lp_browser = AreaBrowser(i_area);
        const QTextDocument* lp_document = lp_browser->document();
        m_pending.push_back({i_area, lp_browser,
                             LineBatch(MaxAreaLines, MaxAreaLines - MaxAreaLines / 10,
                                       lp_document->isEmpty() ? 0 : lp_document->blockCount())});
        l_pending = m_pending.end() - 1;
    }
    l_pending->lines.Add(i_line);
}

void DiagnosticsForm::ShowPendingLines()
{
    for (PendingLines& l_pending : std::exchange(m_pending, {}))
        ShowLines(l_pending.browser, l_pending.lines);
}

// Lines carry user names and paths from the network: they go in as plain text, never as markup.
// Past the bound the oldest lines go in one cut rather than one line per new line: every cut lays
// a shown tab out again from its top. A view scrolled to the end follows the new lines.
void DiagnosticsForm::ShowLines(QTextBrowser* ip_browser, LineBatch& io_batch)
{
    QScrollBar* lp_scrollBar = ip_browser->verticalScrollBar();
    const bool l_atEnd = lp_scrollBar->value() == lp_scrollBar->maximum();
    QTextDocument* lp_document = ip_browser->document();
    const int l_shown = lp_document->isEmpty() ? 0 : lp_document->blockCount();
    const int l_kept = io_batch.KeptOfShown();
    if (l_kept < l_shown)
    {
        QTextCursor l_cut(lp_document);
        if (l_kept == 0)
            l_cut.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        else
            l_cut.setPosition(lp_document->findBlockByNumber(l_shown - l_kept).position(), QTextCursor::KeepAnchor);
        l_cut.removeSelectedText();
    }
    QTextCursor l_cursor(lp_document);
    l_cursor.movePosition(QTextCursor::End);
    if (!lp_document->isEmpty())
        l_cursor.insertBlock();
    l_cursor.insertText(io_batch.TakeBlocks().join(QLatin1Char('\n')));
    if (l_atEnd)
        lp_scrollBar->setValue(lp_scrollBar->maximum());
}

QTextBrowser* DiagnosticsForm::AreaBrowser(const QString& i_area)
{
    QTextBrowser* lp_browser = m_browsers.value(i_area);
    if (!lp_browser)
    {
        lp_browser = new QTextBrowser(this);
        mp_ui->logTabWidget->addTab(lp_browser, i_area);
        m_browsers.insert(i_area, lp_browser);
    }

    ItemPtr l_logItem = d.GetType("log")->GetItem(i_area);
    ItemPtr l_widgetItem = d.GetType("log_widget")->GetItem(lp_browser);
    if (!l_logItem.IsConnected(l_widgetItem))
        l_logItem.Connect(l_widgetItem);
    return lp_browser;
}

void DiagnosticsForm::OnUserTracked(ItemPtr i_user)
{
    // Tracked again while its row is still there: the one row is kept.
    QTreeWidgetItem* lp_row = TrackedRow(i_user);
    if (!lp_row)
    {
        // A node that names no row of ours is dropped, never left to be found by its address.
        OnUserUntracked(i_user);
        lp_row = new QTreeWidgetItem(mp_ui->trackedUsersTree);
        d.GetType("track_user_node")->GetItem(lp_row).Connect(i_user);
    }
    lp_row->setText(0, i_user.AsString());
    Type* lp_isOnline = d.HasType("is_online");
    SetOnlineText(i_user, lp_isOnline && i_user.IsConnected(lp_isOnline));
}

void DiagnosticsForm::OnUserUntracked(ItemPtr i_user)
{
    Type* lp_trackUserNode = d.HasType("track_user_node");
    if (Item* lp_node = lp_trackUserNode ? i_user->FirstOf(lp_trackUserNode) : nullptr)
        lp_node->Remove();
}

void DiagnosticsForm::OnUserOnline(ItemPtr i_user)
{
    SetOnlineText(i_user, true);
}

void DiagnosticsForm::OnUserOffline(ItemPtr i_user)
{
    SetOnlineText(i_user, false);
}

QTreeWidgetItem* DiagnosticsForm::TrackedRow(ItemPtr i_user) const
{
    Type* lp_trackUserNode = d.HasType("track_user_node");
    Item* lp_node = lp_trackUserNode ? i_user->FirstOf(lp_trackUserNode) : nullptr;
    if (!lp_node)
        return nullptr;
    auto* lp_row = ItemPtr(lp_node).AsPointer<QTreeWidgetItem>();
    // Only a row of this very list is ever written to.
    return mp_ui->trackedUsersTree->indexOfTopLevelItem(lp_row) >= 0 ? lp_row : nullptr;
}

void DiagnosticsForm::SetOnlineText(ItemPtr i_user, bool i_online)
{
    if (QTreeWidgetItem* lp_row = TrackedRow(i_user))
        lp_row->setText(1, i_online ? QStringLiteral("Online") : QStringLiteral("Offline"));
}

void DiagnosticsForm::OnTrackNodeRemoved(ItemPtr i_node)
{
    auto* lp_row = i_node.AsPointer<QTreeWidgetItem>();
    if (mp_ui->trackedUsersTree->indexOfTopLevelItem(lp_row) >= 0)
        delete lp_row;
}

void DiagnosticsForm::OnUserRemoved(ItemPtr i_user)
{
    OnUserUntracked(i_user);
}

void DiagnosticsForm::OnActionTriggered(QWidget* ip_widget, QString i_id)
{
    if (ip_widget != this)
        return;
    if (i_id == QLatin1String("show_data"))
        ShowDataDialog();
    else if (i_id == QLatin1String("type_navigator"))
        ShowTypeNavigator();
    else if (i_id == QLatin1String("dump_data"))
        DumpData();
}

void DiagnosticsForm::ShowDataDialog()
{
    if (!dataDialog)
        new DataDialog(&d, this);
    dataDialog->show();
}

void DiagnosticsForm::ShowTypeNavigator()
{
    if (!typeNavigatorDialog)
        (new TypeNavigatorDialog(this))->Init();
    typeNavigatorDialog->show();
}

void DiagnosticsForm::DumpData()
{
    const QString l_fileName = QFileDialog::getSaveFileName(this);
    if (!l_fileName.isEmpty())
        DumpDataTo(l_fileName);
}

bool DiagnosticsForm::DumpDataTo(const QString& i_fileName)
{
    const bool l_dumped = dataSaver && dataSaver->SaveAll(i_fileName);
    if (l_dumped)
        QMessageBox::information(this, QStringLiteral("Data Dump Succeeded"),
                                 QStringLiteral("Client data successfully dumped to file."),
                                 QMessageBox::Ok);
    else
        QMessageBox::information(this, QStringLiteral("Data Dump Failed"),
                                 QStringLiteral("Error dumping client data to file."),
                                 QMessageBox::Ok);
    return l_dumped;
}
