#pragma once

#include <set>

#include "store/EventHandler.h"

// Base of every class that subscribes to the store. Its destruction withdraws its handlers by
// flagging them; their holders delete them later.
class DataHandler
{
public:
    DataHandler() = default;
    DataHandler(const DataHandler&) = delete;
    DataHandler& operator=(const DataHandler&) = delete;
    virtual ~DataHandler();

    template <class C, class T>
    EventHandler<C, T>* NewEventHandler(C* ip_object, void (C::*i_method)(T))
    {
        auto* lp_handler = new EventHandler<C, T>(ip_object, i_method);
        Record(lp_handler);
        return lp_handler;
    }

    void RemoveDataHandlers();

protected:
    std::set<EventHandlerRoot*> m_handlers;

private:
    friend class EventHandlerRoot;
    void Record(EventHandlerRoot* ip_handler);
};
