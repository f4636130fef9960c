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
    Value(const std::string& bytes) : m_bytes(bytes) {}
    Value(std::string&& bytes) : m_bytes(std::move(bytes)) {}
    Value(const char* text);
    // Without this, a non-const char* would pick the pointer constructor and store an address.
    Value(char* text) : Value(static_cast<const char*>(text)) {}
    Value(const QString& text);
    Value(int number);
    Value(unsigned int number);
    Value(long number);
    Value(unsigned long number);
    Value(long long number);
    Value(unsigned long long number);

    template <class T>
    Value(T* object) : Value(static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(object)))
    {
    }

    const std::string& Bytes() const { return m_bytes; }
    bool Empty() const { return m_bytes.empty(); }
    std::size_t Size() const { return m_bytes.size(); }

    // Byte-wise as unsigned bytes, a proper prefix first.
    friend bool operator<(const Value& a, const Value& b) { return a.m_bytes < b.m_bytes; }
    friend bool operator==(const Value& a, const Value& b) { return a.m_bytes == b.m_bytes; }
    friend bool operator!=(const Value& a, const Value& b) { return a.m_bytes != b.m_bytes; }

private:
    std::string m_bytes;
};
