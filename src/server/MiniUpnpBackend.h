#pragma once

#include <memory>

#include "server/UpnpBackend.h"

// The gateway calls made through the miniupnpc library. Discovery multicasts on the local
// network: only the real program creates this backend.
class MiniUpnpBackend : public UpnpBackend
{
public:
    MiniUpnpBackend();
    ~MiniUpnpBackend() override;

    void ClearGateway() override;
    QList<UpnpDevice> Discover(int i_delayMs, int& o_error) override;
    bool LoadGateway(const QString& i_descriptionUrl) override;
    QString ControlUrl() const override;
    int AddPortMapping(const QString& i_externalPort, const QString& i_internalPort,
                       const QString& i_client, const QString& i_description,
                       const QString& i_protocol) override;
    int DeletePortMapping(const QString& i_externalPort, const QString& i_protocol) override;
    QList<QHostAddress> LocalAddresses() override;

private:
    // The library's URL and description records of the gateway.
    struct Gateway;
    std::unique_ptr<Gateway> mp_gateway;
};
