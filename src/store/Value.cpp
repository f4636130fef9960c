#include "store/Value.h"

#include <QString>

Value::Value(const char* ip_text) : m_bytes(ip_text ? ip_text : "") {}

Value::Value(const QString& i_text)
{
    QByteArray l_utf8 = i_text.toUtf8();
    int l_nul = l_utf8.indexOf('\0');
    if (l_nul >= 0)
        l_utf8.truncate(l_nul);
    m_bytes.assign(l_utf8.constData(), static_cast<std::size_t>(l_utf8.size()));
}

Value::Value(int i_number) : m_bytes(std::to_string(i_number)) {}
Value::Value(unsigned int i_number) : m_bytes(std::to_string(i_number)) {}
Value::Value(long i_number) : m_bytes(std::to_string(i_number)) {}
Value::Value(unsigned long i_number) : m_bytes(std::to_string(i_number)) {}
Value::Value(long long i_number) : m_bytes(std::to_string(i_number)) {}
Value::Value(unsigned long long i_number) : m_bytes(std::to_string(i_number)) {}
