#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class PortForwarder;
class UpnpBackend;

// The port-forwarding worker: runs on its own thread and talks to the gateway through the
// backend, one call at a time in the order queued. It never touches the store nor logs; each
// call ends by sending its report lines to the front.
class ThreadedServices : public QObject
{
    Q_OBJECT

public:
    ThreadedServices(PortForwarder& io_front, UpnpBackend& io_backend);

public slots:
    void Init();
    void AddPortMapping(QString i_address, int i_port);
    void RemovePortMapping(int i_port);

signals:
    void LinesReady(QStringList i_lines);

private:
    // The address on the gateway's network when one of the machine's addresses is on it.
    QString FindOwnAddress(QStringList& io_lines) const;

    PortForwarder& mr_front;
    UpnpBackend& mr_backend;
};
