#pragma once

#include <QHash>
#include <QString>
#include <QWidget>

#include <string>
#include <vector>

#include "diagnostics/LineBatch.h"
#include "diagnostics/LogSink.h"
#include "store/DataHandler.h"
#include "store/ItemPtr.h"
#include "store/PathNodeRelation.h"

class QTextBrowser;
class QTextDocument;
class QTreeWidgetItem;
class Ui_DiagnosticsForm;

// The diagnostics page of the main window. It shows every logged line in a tab named after
// the line's area, creating the tab at the area's first line and dropping the oldest lines past
// a bound, and lists the users whose online status is tracked. The lines of one turn of the event
// loop show together at its end, as they would have one at a time. The page installs itself as
// the log sink on construction and withdraws on destruction.
class DiagnosticsForm : public QWidget, public DataHandler, public LogSink
{
    Q_OBJECT

public:
    // The most lines an area's tab keeps; each costs about 1.3 KB of memory. The log files keep
    // every line.
    static constexpr int MaxAreaLines = 5000;

    explicit DiagnosticsForm(QWidget* ip_parent = nullptr);
    ~DiagnosticsForm() override;

    void Init();
    void RegisterLoggableItemType(std::string i_typeName);
    void Log(QString i_area, int i_level, QString i_text, ItemPtr i_item);

    void LogLine(const QString& i_area, const QString& i_line) override;

    // Store handlers of the tracked-users list, each given the user.
    void OnUserTracked(ItemPtr i_user);
    void OnUserUntracked(ItemPtr i_user);
    void OnUserOnline(ItemPtr i_user);
    void OnUserOffline(ItemPtr i_user);

    // The operations behind the page's actions.
    void ShowDataDialog();
    void ShowTypeNavigator();
    // Asks for a file and dumps the whole store into it.
    void DumpData();

public slots:
    void OnActionTriggered(QWidget* ip_widget, QString i_id);

private slots:
    void ShowPendingLines();

private:
    // Tests dump without the file dialog.
    friend class DiagnosticsTesting;

    // Dumps the whole store into that file and tells the user how it went.
    bool DumpDataTo(const QString& i_fileName);
    QTextBrowser* AreaBrowser(const QString& i_area);
    static void ShowLines(QTextBrowser* ip_browser, LineBatch& io_batch);
    void SubscribeUserPath(const char* ip_flagType, PathNodeRelation i_relation,
                           void (DiagnosticsForm::*i_handler)(ItemPtr));
    // The row of a tracked user, or null.
    QTreeWidgetItem* TrackedRow(ItemPtr i_user) const;
    void SetOnlineText(ItemPtr i_user, bool i_online);
    void OnTrackNodeRemoved(ItemPtr i_node);
    void OnUserRemoved(ItemPtr i_user);

    Ui_DiagnosticsForm* mp_ui;
    // The tabs are ours; the log and log_widget items only mirror them, and a store that was
    // emptied (a failed load) must not give an area a second tab.
    QHash<QString, QTextBrowser*> m_browsers;
    // The lines of this turn, per area in the order of their first line.
    struct PendingLines
    {
        QString area;
        QTextBrowser* browser;
        LineBatch lines;
    };
    std::vector<PendingLines> m_pending;
};

extern DiagnosticsForm* diagnosticsForm;
