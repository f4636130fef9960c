#pragma once

#include "store/EventHandlerBase.h"

// Binds an object and one of its member functions.
template <class C, class T>
class EventHandler : public EventHandlerBase<T>
{
public:
    using Method = void (C::*)(T);

    EventHandler(C* object, Method method) : m_object(object), m_method(method) {}
    void Handle(T argument) override { (m_object->*m_method)(argument); }

private:
    C* m_object;
    Method m_method;
};
