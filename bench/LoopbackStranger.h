#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMetaObject>
#include <QTimer>

#include <cstddef>
#include <functional>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "store/Data.h"
#include "store/Settings.h"
#include "store/TimerManager.h"

// What the stranger benchmarks share: raw loopback sockets that play the far ends from the same
// event loop as the client under test, without Qt on their side.

inline std::size_t ItemCount(const char* i_type)
{
    return d.GetType(i_type)->ItemCount();
}

// Turns the event loop, running the far ends' step each turn, until the condition holds; false
// once i_limitMs have gone by.
inline bool Settle(qint64 i_limitMs, const std::function<bool()>& i_done,
                   const std::function<void()>& i_step = {})
{
    QElapsedTimer l_clock;
    l_clock.start();
    while (!i_done())
    {
        if (l_clock.elapsed() > i_limitMs)
            return false;
        if (i_step)
            i_step();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// A connection to the client's plain listening port, optionally not blocking on sends.
inline int ConnectToClient(bool i_nonBlocking)
{
    const int l_fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in l_address{};
    l_address.sin_family = AF_INET;
    l_address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    l_address.sin_port = htons(GetSetting("listening_port").toUShort());
    if (::connect(l_fd, reinterpret_cast<sockaddr*>(&l_address), sizeof l_address) != 0)
        qFatal("cannot connect");
    if (i_nonBlocking)
        ::fcntl(l_fd, F_SETFL, ::fcntl(l_fd, F_GETFL) | O_NONBLOCK);
    return l_fd;
}

// What the client does once the far ends have gone: the objects it let go of are deleted, the
// five-minute collection runs, and so does the half-minute tick of the peer messenger.
inline void RunTheClientsTimers()
{
    for (int l_turn = 0; l_turn < 20; ++l_turn)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    d.RemoveDisconnectedItems();
    QMetaObject::invokeMethod(timerManager->halfMinuteTimer, "timeout");
}
