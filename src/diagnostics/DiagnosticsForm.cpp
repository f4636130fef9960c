#include "diagnostics/DiagnosticsForm.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QScrollBar>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTreeWidget>

#include <vector>

#include "diagnostics/DataDialog.h"
#include "diagnostics/LogService.h"
#include "diagnostics/TypeNavigatorDialog.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "ui_DiagnosticsForm.h"

DiagnosticsForm* diagnosticsForm = nullptr;

DiagnosticsForm::DiagnosticsForm(QWidget* parent) : QWidget(parent), mp_ui(new Ui_DiagnosticsForm)
{
    diagnosticsForm = this;
    mp_ui->setupUi(this);

    QTreeWidget* tracked = mp_ui->trackedUsersTree;
    tracked->setColumnCount(2);
    tracked->setHeaderLabels({QStringLiteral("User"), QString()});
    tracked->setColumnWidth(0, 300);
    tracked->setColumnWidth(1, 100);

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
    RemoveDataHandlers();

    // The tracked users' rows go with the page too; no node may keep naming one.
    if (Type* trackUserNode = d.HasType("track_user_node"))
    {
        std::vector<ItemPtr> nodes;
        for (int index = 0; index < mp_ui->trackedUsersTree->topLevelItemCount(); ++index)
            if (ItemPtr node = trackUserNode->HasItem(mp_ui->trackedUsersTree->topLevelItem(index)))
                nodes.push_back(node);
        for (ItemPtr node : nodes)
            node.Remove();
    }

    // The browsers go with the page; their addresses must not stay in the store.
    if (Type* logWidget = d.HasType("log_widget"))
        for (QTextBrowser* browser : qAsConst(m_browsers))
            if (ItemPtr item = logWidget->HasItem(browser))
                item.Remove();

    delete mp_ui;
}

void DiagnosticsForm::Init()
{
    SubscribeUserPath("is_tracked", NotifyOnConnect, &DiagnosticsForm::OnUserTracked);
    SubscribeUserPath("is_tracked", NotifyOnDisconnect, &DiagnosticsForm::OnUserUntracked);
    SubscribeUserPath("is_online", NotifyOnConnect, &DiagnosticsForm::OnUserOnline);
    SubscribeUserPath("is_online", NotifyOnDisconnect, &DiagnosticsForm::OnUserOffline);

    if (Type* user = d.HasType("user"))
    {
        Type* trackUserNode = d.HasType("track_user_node");
        if (!trackUserNode)
            trackUserNode = d.NewType("track_user_node", Primary, false, true);
        if (!trackUserNode->IsRelated(user))
            trackUserNode->RelateToType(user, One, One, false);
        // A row lives exactly as long as the node that names it, and a user's node as long as
        // the user: nothing may later write into a row that is gone.
        trackUserNode->m_removedEvent.AddHandler(
            NewEventHandler(this, &DiagnosticsForm::OnTrackNodeRemoved));
        user->m_removedEvent.AddHandler(NewEventHandler(this, &DiagnosticsForm::OnUserRemoved));
    }

    logService.Init();
}

void DiagnosticsForm::SubscribeUserPath(const char* flagType, PathNodeRelation relation,
                                        void (DiagnosticsForm::*handler)(ItemPtr))
{
    // Without the server link's schema there is nobody to track.
    Type* user = d.HasType("user");
    Type* flag = d.HasType(flagType);
    if (!user || !flag || !user->IsRelated(flag))
        return;
    PathNode* root = new PathNode(&d, "user");
    new PathNode(root, flagType, relation);
    d.AddPathEventHandler(root, NewEventHandler(this, handler));
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

void DiagnosticsForm::OnUserTracked(ItemPtr user)
{
    // Tracked again while its row is still there: the one row is kept.
    QTreeWidgetItem* row = TrackedRow(user);
    if (!row)
    {
        // A node that names no row of ours is dropped, never left to be found by its address.
        OnUserUntracked(user);
        row = new QTreeWidgetItem(mp_ui->trackedUsersTree);
        d.GetType("track_user_node")->GetItem(row).Connect(user);
    }
    row->setText(0, user.AsString());
    Type* isOnline = d.HasType("is_online");
    SetOnlineText(user, isOnline && user.IsConnected(isOnline));
}

void DiagnosticsForm::OnUserUntracked(ItemPtr user)
{
    Type* trackUserNode = d.HasType("track_user_node");
    if (Item* node = trackUserNode ? user->FirstOf(trackUserNode) : nullptr)
        node->Remove();
}

void DiagnosticsForm::OnUserOnline(ItemPtr user)
{
    SetOnlineText(user, true);
}

void DiagnosticsForm::OnUserOffline(ItemPtr user)
{
    SetOnlineText(user, false);
}

QTreeWidgetItem* DiagnosticsForm::TrackedRow(ItemPtr user) const
{
    Type* trackUserNode = d.HasType("track_user_node");
    Item* node = trackUserNode ? user->FirstOf(trackUserNode) : nullptr;
    if (!node)
        return nullptr;
    auto* row = ItemPtr(node).AsPointer<QTreeWidgetItem>();
    // Only a row of this very list is ever written to.
    return mp_ui->trackedUsersTree->indexOfTopLevelItem(row) >= 0 ? row : nullptr;
}

void DiagnosticsForm::SetOnlineText(ItemPtr user, bool online)
{
    if (QTreeWidgetItem* row = TrackedRow(user))
        row->setText(1, online ? QStringLiteral("Online") : QStringLiteral("Offline"));
}

void DiagnosticsForm::OnTrackNodeRemoved(ItemPtr node)
{
    auto* row = node.AsPointer<QTreeWidgetItem>();
    if (mp_ui->trackedUsersTree->indexOfTopLevelItem(row) >= 0)
        delete row;
}

void DiagnosticsForm::OnUserRemoved(ItemPtr user)
{
    OnUserUntracked(user);
}

void DiagnosticsForm::OnActionTriggered(QWidget* widget, QString id)
{
    if (widget != this)
        return;
    if (id == QLatin1String("show_data"))
        ShowDataDialog();
    else if (id == QLatin1String("type_navigator"))
        ShowTypeNavigator();
    else if (id == QLatin1String("dump_data"))
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
    const QString fileName = QFileDialog::getSaveFileName(this);
    if (!fileName.isEmpty())
        DumpDataTo(fileName);
}

bool DiagnosticsForm::DumpDataTo(const QString& fileName)
{
    const bool dumped = dataSaver && dataSaver->SaveAll(fileName);
    if (dumped)
        QMessageBox::information(this, QStringLiteral("Data Dump Succeeded"),
                                 QStringLiteral("Client data successfully dumped to file."),
                                 QMessageBox::Ok);
    else
        QMessageBox::information(this, QStringLiteral("Data Dump Failed"),
                                 QStringLiteral("Error dumping client data to file."),
                                 QMessageBox::Ok);
    return dumped;
}
