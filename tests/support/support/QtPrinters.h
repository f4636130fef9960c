#pragma once

#include <QStringList>

#include <ostream>

// Lets failed expectations show Qt texts as text rather than as bytes; lists of them (or of
// numbers) the test framework already prints item by item.
inline void PrintTo(const QString& i_text, std::ostream* op_out)
{
    *op_out << '"' << i_text.toStdString() << '"';
}
