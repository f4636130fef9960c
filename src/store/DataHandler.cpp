#include "store/DataHandler.h"

EventHandlerRoot::~EventHandlerRoot()
{
    if (m_owner)
        m_owner->m_handlers.erase(this);
}

DataHandler::~DataHandler()
{
    RemoveDataHandlers();
}

void DataHandler::Record(EventHandlerRoot* handler)
{
    handler->m_owner = this;
    m_handlers.insert(handler);
}

void DataHandler::RemoveDataHandlers()
{
    for (EventHandlerRoot* handler : m_handlers)
    {
        handler->m_removed = true;
        handler->m_owner = nullptr;
    }
    m_handlers.clear();
}
