#pragma once

#include <QCoreApplication>
#include <QRegExp>
#include <QStringList>
#include <QThread>

#include "diagnostics/LogService.h"
#include "diagnostics/LogSink.h"

// Collects every log line as "area: text", without the stamp, while it lives.
class LogLines : public LogSink
{
public:
    LogLines() { logService.InstallSink(this); }
    ~LogLines() override { logService.RemoveSink(this); }

    void LogLine(const QString& i_area, const QString& i_line) override
    {
        m_offGuiThread |= QThread::currentThread() != QCoreApplication::instance()->thread();
        const int l_stamp = i_line.indexOf("] ");
        m_lines << i_area + ": " + (l_stamp < 0 ? i_line : i_line.mid(l_stamp + 2));
    }
    int Count(const QString& i_pattern) const { return m_lines.filter(QRegExp("^" + i_pattern)).size(); }

    // The texts of one area's lines.
    QStringList Of(const QString& i_area) const
    {
        const QRegExp l_area("^" + QRegExp::escape(i_area) + ": ");
        return m_lines.filter(l_area).replaceInStrings(l_area, QString());
    }

    QStringList m_lines;
    bool m_offGuiThread = false;
};
