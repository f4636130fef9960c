#include "server/ThreadedServices.h"

#include <QAbstractSocket>
#include <QHostAddress>
#include <QList>
#include <QRegularExpression>

#include "server/PortForwarder.h"
#include "server/UpnpBackend.h"

namespace
{
// Discovery waits this long for devices to answer.
const int DiscoveryDelayMs = 2000;
// The gateway refuses a mapping that conflicts with an existing one.
const int ConflictInMappingEntry = 718;
const char* const Loopback = "127.0.0.1";
} // namespace

ThreadedServices::ThreadedServices(PortForwarder& io_front, UpnpBackend& io_backend)
    : mr_front(io_front), mr_backend(io_backend)
{
}

void ThreadedServices::Init()
{
    if (mr_front.m_initialised)
        return;

    QStringList l_lines;
    l_lines << "Initializing UPnP";
    mr_backend.ClearGateway();
    int l_error = 0;
    const QList<UpnpDevice> l_devices = mr_backend.Discover(DiscoveryDelayMs, l_error);
    if (l_devices.isEmpty())
    {
        l_lines << QString("No device list found during discovery. miniupnp error code: %1")
                       .arg(l_error);
    }
    else
    {
        l_lines << "Device list found";
        const UpnpDevice* lp_chosen = nullptr;
        for (const UpnpDevice& l_device : l_devices)
        {
            if (l_device.deviceType.contains("InternetGatewayDevice"))
            {
                lp_chosen = &l_device;
                l_lines << QString("%1, InternetGatewayDevice, found").arg(l_device.descriptionUrl);
                break;
            }
            l_lines << QString("%1, %2 skipping").arg(l_device.descriptionUrl, l_device.deviceType);
        }
        if (!lp_chosen)
        {
            lp_chosen = &l_devices.first();
            l_lines << QString("Defaulting to first device found, %1").arg(lp_chosen->deviceType);
        }
        l_lines << (mr_backend.LoadGateway(lp_chosen->descriptionUrl) ? "Device XML found."
                                                                      : "Device XML not found.");
    }
    mr_front.m_initialised = true;
    emit LinesReady(l_lines);
}

QString ThreadedServices::FindOwnAddress(QStringList& io_lines) const
{
    io_lines << "Own address is reported as 127.0.0.1, checking all addresses.";
    const QString l_controlUrl = mr_backend.ControlUrl();
    const QRegularExpression l_networkPrefix("\\d+\\.\\d+\\.\\d+");
    const QList<QHostAddress> l_addresses = mr_backend.LocalAddresses();
    QString l_address = Loopback;
    for (int l_index = l_addresses.size() - 1; l_index >= 0; --l_index)
    {
        const QHostAddress& l_candidate = l_addresses.at(l_index);
        if (l_candidate.protocol() != QAbstractSocket::IPv4Protocol ||
            l_candidate.toString() == Loopback)
            continue;
        l_address = l_candidate.toString();
        const QRegularExpressionMatch l_match = l_networkPrefix.match(l_address);
        if (l_match.hasMatch() && l_controlUrl.contains(l_match.captured(0)))
            break;
    }
    return l_address;
}

void ThreadedServices::AddPortMapping(QString i_address, int i_port)
{
    const QString l_port = QString::number(i_port);
    QStringList l_lines;
    QString l_address = i_address;
    if (l_address == Loopback)
        l_address = FindOwnAddress(l_lines);
    l_lines << QString("Found own address to be %1").arg(l_address);

    const auto l_add = [&] {
        return mr_backend.AddPortMapping(l_port, l_port, l_address, "TarnwickQT", "TCP");
    };
    const int l_result = l_add();
    if (l_result == 0)
    {
        l_lines << QString("Port %1 successfully mapped.").arg(l_port);
    }
    else if (l_result == ConflictInMappingEntry)
    {
        l_lines << "Port already mapped, attempting to remove existing mapping before retrying.";
        RemovePortMapping(i_port);
        const int l_second = l_add();
        // A second conflict is a failure too, and is reported like any other.
        if (l_second == 0)
            l_lines << "Second mapping attempt successful.";
        else
            l_lines << QString("Second mapping attempt failed, miniupnp error: %1").arg(l_second);
    }
    else
    {
        l_lines << QString("Port %1 mapping failure, miniupnp error: %2")
                       .arg(l_port, QString::number(l_result));
    }
    emit LinesReady(l_lines);
}

void ThreadedServices::RemovePortMapping(int i_port)
{
    QStringList l_lines;
    l_lines << QString("Removing mapping for port %1").arg(i_port);
    if (mr_backend.ControlUrl().isEmpty())
    {
        l_lines << "UPnP appears to not have been initialized, aborting.";
    }
    else
    {
        const int l_result = mr_backend.DeletePortMapping(QString::number(i_port), "TCP");
        if (l_result == 0)
            l_lines << "Port mapping successfully removed.";
        else
            l_lines << QString("Port mapping removal failed, miniupnp error: %1").arg(l_result);
    }
    emit LinesReady(l_lines);
}
