#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class QTcpSocket;
class QThread;
class ThreadedServices;
class UpnpBackend;

// The GUI thread's front to the port-forwarding worker. Every call only queues the worker's
// slot of the same name and returns at once, since the gateway calls block for seconds; the
// worker's report comes back as lines, which are logged here, on the GUI thread.
class PortForwarder : public QObject
{
    Q_OBJECT

public:
    // Starts the worker thread, which makes the backend's (not null) calls until the front is
    // destroyed. Sets portForwarder.
    explicit PortForwarder(std::unique_ptr<UpnpBackend> ip_backend, QObject* ip_parent = nullptr);
    // Waits for the call under way, if any; calls still queued are dropped.
    ~PortForwarder() override;
    PortForwarder(const PortForwarder&) = delete;
    PortForwarder& operator=(const PortForwarder&) = delete;

    // Looks for the gateway; only the first call of the front does.
    void Init();
    // Forwards the port to the address this socket uses locally.
    void AddPortMapping(QTcpSocket* ip_socket, int i_port);
    void RemovePortMapping(int i_port);

public slots:
    void LogLines(QStringList i_lines);

private:
    friend class ThreadedServices;

    // Written and read by the worker only.
    bool m_initialised = false;
    QThread* mp_thread = nullptr;
    ThreadedServices* mp_worker = nullptr;
    std::unique_ptr<UpnpBackend> mp_backend;
};

extern PortForwarder* portForwarder;
