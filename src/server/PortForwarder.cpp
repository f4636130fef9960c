#include "server/PortForwarder.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QThread>

#include "diagnostics/Log.h"
#include "server/ThreadedServices.h"
#include "server/UpnpBackend.h"

PortForwarder* portForwarder = nullptr;

PortForwarder::PortForwarder(std::unique_ptr<UpnpBackend> ip_backend, QObject* ip_parent)
    : QObject(ip_parent), mp_backend(std::move(ip_backend))
{
    mp_thread = new QThread;
    mp_worker = new ThreadedServices(*this, *mp_backend);
    portForwarder = this;
    mp_worker->moveToThread(mp_thread);
    connect(mp_worker, &ThreadedServices::LinesReady, this, &PortForwarder::LogLines,
            Qt::QueuedConnection);
    mp_thread->start();
}

PortForwarder::~PortForwarder()
{
    mp_thread->exit(0);
    mp_thread->wait();
    delete mp_worker;
    delete mp_thread;
    if (portForwarder == this)
        portForwarder = nullptr;
}

void PortForwarder::Init()
{
    QMetaObject::invokeMethod(mp_worker, &ThreadedServices::Init, Qt::QueuedConnection);
}

void PortForwarder::AddPortMapping(QTcpSocket* ip_socket, int i_port)
{
    const QString l_address = ip_socket ? ip_socket->localAddress().toString() : QString();
    ThreadedServices* lp_worker = mp_worker;
    QMetaObject::invokeMethod(
        mp_worker, [lp_worker, l_address, i_port] { lp_worker->AddPortMapping(l_address, i_port); },
        Qt::QueuedConnection);
}

void PortForwarder::RemovePortMapping(int i_port)
{
    ThreadedServices* lp_worker = mp_worker;
    QMetaObject::invokeMethod(
        mp_worker, [lp_worker, i_port] { lp_worker->RemovePortMapping(i_port); },
        Qt::QueuedConnection);
}

void PortForwarder::LogLines(QStringList i_lines)
{
    for (const QString& l_line : i_lines)
        Log("Port Forwarding", 1, l_line);
}
