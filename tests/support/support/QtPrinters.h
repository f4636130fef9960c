#pragma once

#include <QStringList>

#include <ostream>

// Lets failed expectations show Qt texts and lists as text rather than as bytes.
inline void PrintTo(const QString& i_text, std::ostream* op_out)
{
    *op_out << '"' << i_text.toStdString() << '"';
}

inline void PrintTo(const QStringList& i_texts, std::ostream* op_out)
{
    *op_out << '{' << i_texts.join("\", \"").prepend('"').append('"').toStdString() << '}';
}

inline void PrintTo(const QList<int>& i_numbers, std::ostream* op_out)
{
    *op_out << '{';
    for (int l_i = 0; l_i < i_numbers.size(); ++l_i)
        *op_out << (l_i ? ", " : "") << i_numbers.at(l_i);
    *op_out << '}';
}
