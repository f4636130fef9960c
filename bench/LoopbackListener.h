#pragma once

#include <QtGlobal>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

// A raw listening socket on 127.0.0.1 at a port the system picks, for the baselines and the
// scripted far ends that must not share the event loop under test.
inline int ListenOnLoopback(quint16& o_port, int i_backlog)
{
    const int l_fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in l_address{};
    l_address.sin_family = AF_INET;
    l_address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t l_length = sizeof l_address;
    if (::bind(l_fd, reinterpret_cast<sockaddr*>(&l_address), l_length) != 0 || ::listen(l_fd, i_backlog) != 0 ||
        ::getsockname(l_fd, reinterpret_cast<sockaddr*>(&l_address), &l_length) != 0)
        qFatal("cannot listen");
    o_port = ntohs(l_address.sin_port);
    return l_fd;
}
