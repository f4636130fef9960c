#pragma once

class DataHandler;

// Base of every store event handler. The owner only ever flags its handlers; the event, pair
// entry or path subscription holding a handler deletes it at the next walk that reaches it.
class EventHandlerRoot
{
public:
    EventHandlerRoot() = default;
    EventHandlerRoot(const EventHandlerRoot&) = delete;
    EventHandlerRoot& operator=(const EventHandlerRoot&) = delete;
    virtual ~EventHandlerRoot();

    bool m_removed = false;

private:
    friend class DataHandler;
    // Set while the owner lives, so that a handler its holder deletes first (a removed type, a
    // torn-down path) unregisters itself and the owner never flags freed memory.
    DataHandler* mp_owner = nullptr;
};
