#pragma once

#include <QtGlobal>

#include <utility>

// Always on, also in release builds: a broken precondition here would corrupt memory.
#define TARNWICK_CHECK(condition)                                                            \
    do                                                                                       \
    {                                                                                        \
        if (!(condition))                                                                    \
            qFatal("ASSERT: \"%s\" in file %s, line %d", #condition, __FILE__, __LINE__);    \
    } while (false)

// A shared owning pointer with a plain (non-atomic) count: cheap to copy, but every copy of one
// object must stay on the thread that made it.
template <class T>
class rcptr
{
public:
    rcptr() = default;
    explicit rcptr(T* object) : mp_object(object), mp_count(object ? new int(1) : nullptr) {}
    rcptr(const rcptr& other) : mp_object(other.mp_object), mp_count(other.mp_count)
    {
        if (mp_count)
            ++*mp_count;
    }
    rcptr(rcptr&& other) noexcept
        : mp_object(std::exchange(other.mp_object, nullptr)),
          mp_count(std::exchange(other.mp_count, nullptr))
    {
    }
    rcptr& operator=(rcptr other) noexcept
    {
        std::swap(mp_object, other.mp_object);
        std::swap(mp_count, other.mp_count);
        return *this;
    }
    ~rcptr() { Release(); }

    T* operator->() const
    {
        TARNWICK_CHECK(mp_object != 0);
        return mp_object;
    }
    T& operator*() const
    {
        TARNWICK_CHECK(mp_object != 0);
        return *mp_object;
    }
    T* get() const { return mp_object; }
    explicit operator bool() const { return mp_object != nullptr; }
    int use_count() const { return mp_count ? *mp_count : 0; }

private:
    void Release()
    {
        if (mp_count && --*mp_count == 0)
        {
            delete mp_object;
            delete mp_count;
        }
        mp_object = nullptr;
        mp_count = nullptr;
    }

    T* mp_object = nullptr;
    int* mp_count = nullptr;
};
