#pragma once

#include <QtGlobal>

#include <list>
#include <map>
#include <set>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "server/StreamReadable.h"
#include "server/WireOrder.h"

class QString;

// An abstract byte source. The typed readers decode the common wire encoding on top of
// ReadBuffer and return false, without throwing, as soon as the data runs out or breaks a limit.
class InputStream
{
public:
    // Longest string and largest container count accepted from the wire.
    static constexpr quint32 MaxCount = 131072;

    virtual ~InputStream() = default;
    // Copies exactly count bytes, or returns false and consumes nothing.
    virtual bool ReadBuffer(void* destination, unsigned long count) = 0;

    // Fixed-size integers, raw little-endian; the target is left alone on failure.
    template <class T, std::enable_if_t<std::is_integral<T>::value && !std::is_same<T, bool>::value,
                                        int> = 0>
    bool Read(T& value)
    {
        unsigned char bytes[sizeof(T)];
        if (!ReadBuffer(bytes, sizeof(T)))
            return false;
        value = FromWireOrder<T>(bytes);
        return true;
    }

    // One byte; anything but 0 is true.
    bool Read(bool& value);

    // A uint32 byte count (at most MaxCount) and the bytes, cut at the first zero byte.
    bool Read(std::string& value);
    // The same bytes as UTF-8 when they are strict UTF-8, otherwise the user's code page.
    bool Read(QString& value);

    // A record reads itself, with nothing around it.
    bool Read(StreamReadable& record) { return record.Read(*this); }

    template <class A, class B>
    bool Read(std::pair<A, B>& value)
    {
        return Read(value.first) && Read(value.second);
    }

    template <class T>
    bool Read(std::list<T>& container)
    {
        container.clear();
        qint32 count;
        if (!ReadCount(count))
            return false;
        for (qint32 n = 0; n < count; ++n)
        {
            T element{};
            if (!Read(element))
                return false;
            container.push_back(std::move(element));
        }
        return true;
    }

    template <class T>
    bool Read(std::vector<T>& container)
    {
        container.clear();
        qint32 count;
        if (!ReadCount(count))
            return false;
        // Reserved for a few elements at most: the count is not yet backed by data.
        container.reserve(static_cast<std::size_t>(qMin(count, qint32(64))));
        for (qint32 n = 0; n < count; ++n)
        {
            T element{};
            if (!Read(element))
                return false;
            container.push_back(std::move(element));
        }
        return true;
    }

    template <class T, class Compare>
    bool Read(std::set<T, Compare>& container)
    {
        container.clear();
        qint32 count;
        if (!ReadCount(count))
            return false;
        for (qint32 n = 0; n < count; ++n)
        {
            T element{};
            if (!Read(element))
                return false;
            // Senders mostly list elements in order; the hint makes that case cheap.
            container.emplace_hint(container.end(), std::move(element));
        }
        return true;
    }

    template <class K, class V, class Compare>
    bool Read(std::map<K, V, Compare>& container)
    {
        container.clear();
        qint32 count;
        if (!ReadCount(count))
            return false;
        for (qint32 n = 0; n < count; ++n)
        {
            K key{};
            if (!Read(key))
                return false;
            V value{};
            if (!Read(value))
                return false;
            container.insert_or_assign(container.end(), std::move(key), std::move(value));
        }
        return true;
    }

protected:
    InputStream() = default;
    InputStream(const InputStream&) = default;
    InputStream& operator=(const InputStream&) = default;

private:
    // An int32 element count between 0 and MaxCount. A negative count is refused at once
    // rather than read as "until the data runs out".
    bool ReadCount(qint32& count);
};
