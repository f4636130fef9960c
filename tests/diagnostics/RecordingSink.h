#pragma once

#include <QList>
#include <QPair>
#include <QRegularExpression>
#include <QString>

#include "diagnostics/LogSink.h"

// Keeps every line the log hands over, with its area.
class RecordingSink : public LogSink
{
public:
    void LogLine(const QString& area, const QString& line) override { lines.append({area, line}); }

    QString LastLine() const { return lines.isEmpty() ? QString() : lines.last().second; }

    QList<QPair<QString, QString>> lines;
};

// The stamp of a "[stamp] text" line; empty when the line has no such form.
inline QString StampOf(const QString& line)
{
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("^\\[([^\\]]+)\\] ")).match(line);
    return match.hasMatch() ? match.captured(1) : QString();
}
