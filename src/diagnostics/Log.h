#pragma once

#include <QString>

#include "store/ItemPtr.h"

// The program's one logging call, usable from every subsystem with or without a diagnostics
// page. level 1 is an event, 2 a step within it, 3 a detail of a step; item is the user the
// line concerns, or null.
void Log(QString i_area, int i_level, QString i_text, ItemPtr i_item = ItemPtr());
