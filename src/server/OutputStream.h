#pragma once

#include <QtGlobal>

#include <limits>
#include <list>
#include <map>
#include <set>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "server/StreamWritable.h"
#include "server/WireOrder.h"

class QString;

// An abstract byte sink; the typed writers produce the common wire encoding on top of
// WriteBuffer and return false at the first write the sink refuses.
class OutputStream
{
public:
    virtual ~OutputStream() = default;
    virtual bool WriteBuffer(void const* source, unsigned long count) = 0;

    template <class T, std::enable_if_t<std::is_integral<T>::value && !std::is_same<T, bool>::value,
                                        int> = 0>
    bool Write(const T& value)
    {
        unsigned char bytes[sizeof(T)];
        ToWireOrder<T>(value, bytes);
        return WriteBuffer(bytes, sizeof(T));
    }

    // One byte, 0 or 1.
    bool Write(const bool& value);

    // A uint32 byte count and every byte of the string.
    bool Write(const std::string& value);
    // A uint32 byte count and the UTF-8 bytes up to the first zero byte.
    bool Write(const QString& value);

    bool Write(const StreamWritable& record) { return record.Write(*this); }

    // A pointer would silently turn into a bool: write std::string or QString instead.
    template <class T>
    bool Write(const T* pointer) = delete;

    template <class A, class B>
    bool Write(const std::pair<A, B>& value)
    {
        return Write(value.first) && Write(value.second);
    }

    template <class T>
    bool Write(const std::list<T>& container)
    {
        return WriteElements(container);
    }

    template <class T>
    bool Write(const std::vector<T>& container)
    {
        return WriteElements(container);
    }

    template <class T, class Compare>
    bool Write(const std::set<T, Compare>& container)
    {
        return WriteElements(container);
    }

    template <class K, class V, class Compare>
    bool Write(const std::map<K, V, Compare>& container)
    {
        if (!WriteCount(container.size()))
            return false;
        for (const auto& entry : container)
            if (!Write(entry.first) || !Write(entry.second))
                return false;
        return true;
    }

protected:
    OutputStream() = default;
    OutputStream(const OutputStream&) = default;
    OutputStream& operator=(const OutputStream&) = default;

private:
    template <class Container>
    bool WriteElements(const Container& container)
    {
        if (!WriteCount(container.size()))
            return false;
        for (const auto& element : container)
            if (!Write(element))
                return false;
        return true;
    }

    // Containers carry an int32 count.
    bool WriteCount(std::size_t count)
    {
        if (count > static_cast<std::size_t>(std::numeric_limits<qint32>::max()))
            return false;
        return Write(static_cast<qint32>(count));
    }
};
