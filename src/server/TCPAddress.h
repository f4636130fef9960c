#pragma once

#include <QtGlobal>

// An IPv4 address and port as the central server sends them.
struct TCPAddress
{
    quint32 address = 0;
    qint32 port = 0;
};
