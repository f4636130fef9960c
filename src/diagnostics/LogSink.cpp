#include "diagnostics/LogSink.h"

#include "diagnostics/LogService.h"

LogSink::~LogSink()
{
    logService.RemoveSink(this);
}
