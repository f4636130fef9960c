#include "store/DataHandler.h"

EventHandlerRoot::~EventHandlerRoot()
{
    if (mp_owner)
        mp_owner->m_handlers.erase(this);
}

DataHandler::~DataHandler()
{
    RemoveDataHandlers();
}

void DataHandler::Record(EventHandlerRoot* ip_handler)
{
    ip_handler->mp_owner = this;
    m_handlers.insert(ip_handler);
}

void DataHandler::RemoveDataHandlers()
{
    for (EventHandlerRoot* lp_handler : m_handlers)
    {
        lp_handler->m_removed = true;
        lp_handler->mp_owner = nullptr;
    }
    m_handlers.clear();
}
