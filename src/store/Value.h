#pragma once

#include <cstdint>
#include <string>

class QString;

// An item's value: any bytes, NUL included. Numbers are kept as decimal text and live objects
// as their address in decimal text, so that any of them can be found again as an item.
class Value
{
public:
    Value() = default;
    Value(const std::string& i_bytes) : m_bytes(i_bytes) {}
    Value(std::string&& i_bytes) : m_bytes(std::move(i_bytes)) {}
    Value(const char* ip_bytes, std::size_t i_size) : m_bytes(ip_bytes, i_size) {}
    Value(const char* ip_text);
    // Without this, a non-const char* would pick the pointer constructor and store an address.
    Value(char* ip_text) : Value(static_cast<const char*>(ip_text)) {}
    Value(const QString& i_text);
    Value(int i_number);
    Value(unsigned int i_number);
    Value(long i_number);
    Value(unsigned long i_number);
    Value(long long i_number);
    Value(unsigned long long i_number);

    template <class T>
    Value(T* ip_object)
        : Value(static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(ip_object)))
    {
    }

    const std::string& Bytes() const { return m_bytes; }
    bool Empty() const { return m_bytes.empty(); }
    std::size_t Size() const { return m_bytes.size(); }

    // Byte-wise as unsigned bytes, a proper prefix first.
    friend bool operator<(const Value& i_a, const Value& i_b) { return i_a.m_bytes < i_b.m_bytes; }
    friend bool operator==(const Value& i_a, const Value& i_b)
    {
        return i_a.m_bytes == i_b.m_bytes;
    }
    friend bool operator!=(const Value& i_a, const Value& i_b)
    {
        return i_a.m_bytes != i_b.m_bytes;
    }

private:
    std::string m_bytes;
};
