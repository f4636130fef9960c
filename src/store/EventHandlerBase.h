#pragma once

#include "store/EventHandlerRoot.h"

template <class T>
class EventHandlerBase : public EventHandlerRoot
{
public:
    virtual void Handle(T argument) = 0;
};
