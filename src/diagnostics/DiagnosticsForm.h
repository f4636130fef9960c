#pragma once

#include <QHash>
#include <QString>
#include <QWidget>

#include <string>

#include "diagnostics/LogSink.h"
#include "store/DataHandler.h"
#include "store/ItemPtr.h"

class QTextBrowser;
class Ui_DiagnosticsForm;

// The diagnostics page of the main window. It shows every logged line in a tab named after
// the line's area, creating the tab at the area's first line. The page installs itself as the
// log sink on construction and withdraws on destruction.
class DiagnosticsForm : public QWidget, public DataHandler, public LogSink
{
    Q_OBJECT

public:
    explicit DiagnosticsForm(QWidget* parent = nullptr);
    ~DiagnosticsForm() override;

    void Init();
    void RegisterLoggableItemType(std::string typeName);
    void Log(QString area, int level, QString text, ItemPtr item);

    void LogLine(const QString& area, const QString& line) override;

private:
    QTextBrowser* AreaBrowser(const QString& area);

    Ui_DiagnosticsForm* mp_ui;
    // The tabs are ours; the log and log_widget items only mirror them, and a store that was
    // emptied (a failed load) must not give an area a second tab.
    QHash<QString, QTextBrowser*> m_browsers;
};

extern DiagnosticsForm* diagnosticsForm;
