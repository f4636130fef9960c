#pragma once

#include <set>
#include <type_traits>
#include <vector>

#include "store/EventHandlerBase.h"

class StoreTesting;

// The handlers of one event. Notify walks a copy, so handlers may change the store, subscribe
// and withdraw handlers, and notify this same event again while it runs. A handler flagged as
// removed is never called again; it is taken out of the live set when a walk reaches it and
// freed once no walk of this event is running any more, so an outer walk never touches freed
// memory.
template <class T>
class Event
{
public:
    using Handler = EventHandlerBase<T>;
    using Argument = std::add_lvalue_reference_t<T>;

    Event() = default;
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    Event(Event&& other) noexcept
        : m_handlers(std::move(other.m_handlers)), m_doomed(std::move(other.m_doomed))
    {
    }
    ~Event()
    {
        for (Handler* handler : m_handlers)
            delete handler;
        for (Handler* handler : m_doomed)
            delete handler;
    }

    void AddHandler(Handler* handler) { m_handlers.insert(handler); }
    bool Empty() const { return m_handlers.empty(); }

    // Takes every flagged handler out and frees it, unless a walk is running.
    void Purge()
    {
        for (auto it = m_handlers.begin(); it != m_handlers.end();)
        {
            if ((*it)->m_removed)
            {
                m_doomed.push_back(*it);
                it = m_handlers.erase(it);
            }
            else
                ++it;
        }
        FreeDoomed();
    }

    void Notify(Argument argument)
    {
        if (m_handlers.empty())
            return;
        const std::vector<Handler*> copy(m_handlers.begin(), m_handlers.end());
        WalkGuard guard(*this);
        for (Handler* handler : copy)
        {
            // A nested walk may already have taken it out; then it may no longer be read.
            auto live = m_handlers.find(handler);
            if (live == m_handlers.end())
                continue;
            if (handler->m_removed)
            {
                m_handlers.erase(live);
                m_doomed.push_back(handler);
                continue;
            }
            handler->Handle(argument);
        }
    }

private:
    // The tests' view of which handlers are held.
    friend class StoreTesting;

    struct WalkGuard
    {
        explicit WalkGuard(Event& event) : m_event(event) { ++m_event.m_walks; }
        ~WalkGuard()
        {
            --m_event.m_walks;
            m_event.FreeDoomed();
        }
        Event& m_event;
    };

    void FreeDoomed()
    {
        if (m_walks != 0 || m_doomed.empty())
            return;
        std::vector<Handler*> doomed;
        doomed.swap(m_doomed);
        for (Handler* handler : doomed)
            delete handler;
    }

    std::set<Handler*> m_handlers;
    std::vector<Handler*> m_doomed;
    int m_walks = 0;
};
