#pragma once

#include <QStringList>

#include <ostream>

// Failed expectations show Qt texts as text, not bytes (the framework prints lists item by item).
inline void PrintTo(const QString& i_text, std::ostream* op_out)
{
    *op_out << '"' << i_text.toStdString() << '"';
}
