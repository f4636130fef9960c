#include "shell/QuitRequests.h"

#include <QCoreApplication>
#include <QEvent>
#include <QSocketNotifier>
#include <QWidget>

#include <csignal>

#include <sys/socket.h>
#include <unistd.h>

namespace
{
// A signal handler may only write to a descriptor; the event loop reads the other end.
int g_signalSockets[2] = {-1, -1};

void OnStopSignal(int)
{
    const char l_byte = 1;
    if (::write(g_signalSockets[0], &l_byte, 1) < 0)
        return;
}
} // namespace

QuitRequests::QuitRequests(QWidget* ip_mainWindow) : mp_mainWindow(ip_mainWindow)
{
    mp_mainWindow->installEventFilter(this);
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalSockets) != 0)
        return;
    mp_notifier = new QSocketNotifier(g_signalSockets[1], QSocketNotifier::Read, this);
    connect(mp_notifier, &QSocketNotifier::activated, this, &QuitRequests::OnSignalled);
    struct sigaction l_action = {};
    l_action.sa_handler = OnStopSignal;
    sigemptyset(&l_action.sa_mask);
    l_action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &l_action, nullptr);
    sigaction(SIGINT, &l_action, nullptr);
}

QuitRequests::~QuitRequests()
{
    mp_mainWindow->removeEventFilter(this);
    if (!mp_notifier)
        return;
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGINT, SIG_DFL);
    delete mp_notifier;
    ::close(g_signalSockets[0]);
    ::close(g_signalSockets[1]);
    g_signalSockets[0] = g_signalSockets[1] = -1;
}

bool QuitRequests::eventFilter(QObject* ip_watched, QEvent* ip_event)
{
    if (ip_watched == mp_mainWindow && ip_event->type() == QEvent::Close)
        Quit();
    return false;
}

void QuitRequests::OnSignalled()
{
    char l_byte = 0;
    if (::read(g_signalSockets[1], &l_byte, 1) < 0)
        return;
    Quit();
}

void QuitRequests::Quit()
{
    m_requested = true;
    QCoreApplication::quit();
}
