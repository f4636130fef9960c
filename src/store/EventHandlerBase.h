#pragma once

#include "store/EventHandlerRoot.h"

template <class T>
class EventHandlerBase : public EventHandlerRoot
{
public:
    virtual void Handle(T i_argument) = 0;
};
