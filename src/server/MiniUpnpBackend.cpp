#include "server/MiniUpnpBackend.h"

#include <QByteArray>
#include <QNetworkInterface>

#include <cstdlib>
#include <cstring>

#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/miniwget.h>
#include <miniupnpc/upnpcommands.h>

struct MiniUpnpBackend::Gateway
{
    UPNPUrls urls;
    IGDdatas description;
};

namespace
{
// Hops a discovery packet may take; the library's own default.
const unsigned char DiscoveryTtl = 2;
} // namespace

MiniUpnpBackend::MiniUpnpBackend() : mp_gateway(new Gateway)
{
    std::memset(&mp_gateway->urls, 0, sizeof mp_gateway->urls);
    std::memset(&mp_gateway->description, 0, sizeof mp_gateway->description);
}

MiniUpnpBackend::~MiniUpnpBackend()
{
    FreeUPNPUrls(&mp_gateway->urls);
}

void MiniUpnpBackend::ClearGateway()
{
    // The URLs are the library's allocations: freed, not merely forgotten.
    FreeUPNPUrls(&mp_gateway->urls);
    std::memset(&mp_gateway->urls, 0, sizeof mp_gateway->urls);
    std::memset(&mp_gateway->description, 0, sizeof mp_gateway->description);
}

QList<UpnpDevice> MiniUpnpBackend::Discover(int i_delayMs, int& o_error)
{
    int l_error = 0;
    UPNPDev* lp_list = upnpDiscover(i_delayMs, nullptr, nullptr, UPNP_LOCAL_PORT_ANY, 0,
                                    DiscoveryTtl, &l_error);
    o_error = l_error;
    QList<UpnpDevice> l_devices;
    for (UPNPDev* lp_device = lp_list; lp_device; lp_device = lp_device->pNext)
        l_devices.append({QString::fromUtf8(lp_device->descURL), QString::fromUtf8(lp_device->st)});
    if (lp_list)
        freeUPNPDevlist(lp_list);
    return l_devices;
}

bool MiniUpnpBackend::LoadGateway(const QString& i_descriptionUrl)
{
    const QByteArray l_url = i_descriptionUrl.toUtf8();
    int l_size = 0;
    int l_status = 0;
    char* lp_xml = static_cast<char*>(miniwget(l_url.constData(), &l_size, 0, &l_status));
    if (!lp_xml)
        return false;
    if (l_size > 0)
        parserootdesc(lp_xml, l_size, &mp_gateway->description);
    std::free(lp_xml);
    FreeUPNPUrls(&mp_gateway->urls);
    std::memset(&mp_gateway->urls, 0, sizeof mp_gateway->urls);
    GetUPNPUrls(&mp_gateway->urls, &mp_gateway->description, l_url.constData(), 0);
    return true;
}

QString MiniUpnpBackend::ControlUrl() const
{
    return mp_gateway->urls.controlURL ? QString::fromUtf8(mp_gateway->urls.controlURL)
                                       : QString();
}

int MiniUpnpBackend::AddPortMapping(const QString& i_externalPort, const QString& i_internalPort,
                                    const QString& i_client, const QString& i_description,
                                    const QString& i_protocol)
{
    // Without a gateway the library would be handed a null URL; refuse as it does bad input.
    if (ControlUrl().isEmpty())
        return UPNPCOMMAND_INVALID_ARGS;
    const QByteArray l_external = i_externalPort.toUtf8();
    const QByteArray l_internal = i_internalPort.toUtf8();
    const QByteArray l_client = i_client.toUtf8();
    const QByteArray l_description = i_description.toUtf8();
    const QByteArray l_protocol = i_protocol.toUtf8();
    // Lease "0": a permanent mapping.
    return UPNP_AddPortMapping(mp_gateway->urls.controlURL,
                               mp_gateway->description.first.servicetype, l_external.constData(),
                               l_internal.constData(), l_client.constData(),
                               l_description.constData(), l_protocol.constData(), nullptr, "0");
}

int MiniUpnpBackend::DeletePortMapping(const QString& i_externalPort, const QString& i_protocol)
{
    if (ControlUrl().isEmpty())
        return UPNPCOMMAND_INVALID_ARGS;
    const QByteArray l_external = i_externalPort.toUtf8();
    const QByteArray l_protocol = i_protocol.toUtf8();
    return UPNP_DeletePortMapping(mp_gateway->urls.controlURL,
                                  mp_gateway->description.first.servicetype,
                                  l_external.constData(), l_protocol.constData(), nullptr);
}

QList<QHostAddress> MiniUpnpBackend::LocalAddresses()
{
    return QNetworkInterface::allAddresses();
}
