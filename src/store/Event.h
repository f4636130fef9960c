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
    Event(Event&& i_other) noexcept
        : m_handlers(std::move(i_other.m_handlers)), m_doomed(std::move(i_other.m_doomed))
    {
    }
    ~Event()
    {
        for (Handler* lp_handler : m_handlers)
            delete lp_handler;
        for (Handler* lp_handler : m_doomed)
            delete lp_handler;
    }

    void AddHandler(Handler* ip_handler) { m_handlers.insert(ip_handler); }
    bool Empty() const { return m_handlers.empty(); }

    // Takes every flagged handler out and frees it, unless a walk is running.
    void Purge()
    {
        for (auto l_it = m_handlers.begin(); l_it != m_handlers.end();)
        {
            if ((*l_it)->m_removed)
            {
                m_doomed.push_back(*l_it);
                l_it = m_handlers.erase(l_it);
            }
            else
                ++l_it;
        }
        FreeDoomed();
    }

    void Notify(Argument i_argument)
    {
        if (m_handlers.empty())
            return;
        const std::vector<Handler*> l_copy(m_handlers.begin(), m_handlers.end());
        WalkGuard l_guard(*this);
        for (Handler* lp_handler : l_copy)
        {
            // A nested walk may already have taken it out; then it may no longer be read.
            auto l_live = m_handlers.find(lp_handler);
            if (l_live == m_handlers.end())
                continue;
            if (lp_handler->m_removed)
            {
                m_handlers.erase(l_live);
                m_doomed.push_back(lp_handler);
                continue;
            }
            lp_handler->Handle(i_argument);
        }
    }

private:
    // The tests' view of which handlers are held.
    friend class StoreTesting;

    struct WalkGuard
    {
        explicit WalkGuard(Event& i_event) : m_event(i_event) { ++m_event.m_walks; }
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
        std::vector<Handler*> l_doomed;
        l_doomed.swap(m_doomed);
        for (Handler* lp_handler : l_doomed)
            delete lp_handler;
    }

    std::set<Handler*> m_handlers;
    std::vector<Handler*> m_doomed;
    int m_walks = 0;
};
