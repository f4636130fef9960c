#include "diagnostics/Log.h"

#include "diagnostics/LogService.h"

void Log(QString area, int level, QString text, ItemPtr item)
{
    logService.Log(area, level, text, item);
}
