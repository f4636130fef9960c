#pragma once

class QString;

// Receives every stamped line of the log, for showing it. At most one sink is installed in
// the log service at a time; a sink withdraws itself when it is destroyed.
class LogSink
{
public:
    LogSink() = default;
    LogSink(const LogSink&) = delete;
    LogSink& operator=(const LogSink&) = delete;
    virtual ~LogSink();

    // One call per logged line: its area and the stamped, indented line.
    virtual void LogLine(const QString& i_area, const QString& i_line) = 0;
};
