#pragma once

#include "store/EventHandlerBase.h"

// Binds an object and one of its member functions.
template <class C, class T>
class EventHandler : public EventHandlerBase<T>
{
public:
    using Method = void (C::*)(T);

    EventHandler(C* ip_object, Method i_method) : mp_object(ip_object), m_method(i_method) {}
    void Handle(T i_argument) override { (mp_object->*m_method)(i_argument); }

private:
    C* mp_object;
    Method m_method;
};
