#include "diagnostics/Log.h"

#include "diagnostics/LogService.h"

void Log(QString i_area, int i_level, QString i_text, ItemPtr i_item)
{
    logService.Log(i_area, i_level, i_text, i_item);
}
