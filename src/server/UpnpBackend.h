#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>

// One device that answered the gateway discovery.
struct UpnpDevice
{
    QString descriptionUrl;
    QString deviceType;
};

// The gateway calls of the port-forwarding worker. They sit behind this interface so that only
// the real program ever talks to a router; everything else drives the worker with a stand-in.
// Called on the worker thread only. The backend keeps the gateway chosen by the last
// LoadGateway: its control URL and its connection service type.
class UpnpBackend
{
public:
    UpnpBackend() = default;
    UpnpBackend(const UpnpBackend&) = delete;
    UpnpBackend& operator=(const UpnpBackend&) = delete;
    virtual ~UpnpBackend() = default;

    // Forgets any gateway found before.
    virtual void ClearGateway() = 0;
    // The devices that answered within the delay, in the library's order. Empty when none
    // did, with the library's error code in o_error.
    virtual QList<UpnpDevice> Discover(int i_delayMs, int& o_error) = 0;
    // Fetches and reads the device's description and keeps it as the gateway; false when the
    // description could not be fetched.
    virtual bool LoadGateway(const QString& i_descriptionUrl) = 0;
    // Empty while no gateway is known.
    virtual QString ControlUrl() const = 0;
    // The library's result: 0 on success, else a UPnP or library error code.
    virtual int AddPortMapping(const QString& i_externalPort, const QString& i_internalPort,
                               const QString& i_client, const QString& i_description,
                               const QString& i_protocol) = 0;
    virtual int DeletePortMapping(const QString& i_externalPort, const QString& i_protocol) = 0;
    // Every address of the machine's interfaces.
    virtual QList<QHostAddress> LocalAddresses() = 0;
};
