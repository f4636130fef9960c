#include "store/Value.h"

#include <QString>

Value::Value(const char* text) : m_bytes(text ? text : "") {}

Value::Value(const QString& text)
{
    QByteArray utf8 = text.toUtf8();
    int nul = utf8.indexOf('\0');
    if (nul >= 0)
        utf8.truncate(nul);
    m_bytes.assign(utf8.constData(), static_cast<std::size_t>(utf8.size()));
}

Value::Value(int number) : m_bytes(std::to_string(number)) {}
Value::Value(unsigned int number) : m_bytes(std::to_string(number)) {}
Value::Value(long number) : m_bytes(std::to_string(number)) {}
Value::Value(unsigned long number) : m_bytes(std::to_string(number)) {}
Value::Value(long long number) : m_bytes(std::to_string(number)) {}
Value::Value(unsigned long long number) : m_bytes(std::to_string(number)) {}
