#pragma once

#include <QSet>
#include <QString>

#include <string>

#include "store/ItemPtr.h"

class LogSink;
class QDateTime;

// Stamps and indents every logged line and hands it to the installed sink. While the setting
// user_level_logging is "yes" it also appends the line to one file per area and, for a line
// about an item, records an item_log entry on that item. One instance serves the program
// (`logService`); each instance is one run as far as file headers and entry numbers go.
class LogService
{
public:
    LogService();
    LogService(const LogService&) = delete;
    LogService& operator=(const LogService&) = delete;

    // Declares item_log and its value types and restarts the entry numbering at 0; called
    // before the store file is loaded. Types already declared are kept.
    void Init();
    // Lets items of that type hold entries: many per item, one item per entry.
    void RegisterLoggableItemType(const std::string& i_typeName);

    void Log(const QString& i_area, int i_level, const QString& i_text, ItemPtr i_item);

    // Replaces any installed sink.
    void InstallSink(LogSink* ip_sink);
    // Only when that sink is the installed one.
    void RemoveSink(LogSink* ip_sink);

    // The file of an area, in the folder of the log files.
    QString FileName(const QString& i_area) const;
    static QString DefaultFolder();

    // Three blanks in front of text for every level above 1.
    static QString Indent(const QString& i_text, int i_level);
    // The time in the toolkit's text date form, with English names whatever the locale.
    static QString Stamp(const QDateTime& i_time);
    // The stamp of that second since the epoch in local time, the same text as Stamp gives.
    // The local time zone is read once, with the first stamp made here; asking the toolkit for
    // the local time reads and checks the zone file every time.
    static QString StampOfSecond(qint64 i_seconds);
    // The stamp of the current time, made afresh once a second.
    QString CurrentStamp();
    static bool LoggingEnabled();

private:
    // Tests send the files to a folder of their own.
    friend class DiagnosticsTesting;

    void RecordEntry(const QString& i_area, int i_level, const QString& i_text, ItemPtr i_item);
    void AppendToFile(const QString& i_area, const QString& i_stamp, const QString& i_line);
    QString Folder() const;

    qint64 m_entryCounter = 0;
    // The last stamp made and the second it stands for.
    QString m_stamp;
    qint64 m_stampSecond = 0;
    // Areas whose file has had its "Logging started" header in this run.
    QSet<QString> m_headedAreas;
    // Empty: the folder in the home folder; tests set one of their own. Created when the first
    // file is written.
    QString m_folder;
    LogSink* mp_sink = nullptr;
};

extern LogService logService;
