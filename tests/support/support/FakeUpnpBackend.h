#pragma once

#include <QStringList>
#include <QThread>

#include <atomic>

#include "server/UpnpBackend.h"

// A gateway in memory that answers as the test set it and records each call as a line. Set it up
// before queueing a call, read it once the call's lines are back: the queued calls order the threads.
class FakeUpnpBackend : public UpnpBackend
{
public:
    void ClearGateway() override { m_calls << "clear"; m_controlUrl.clear(); }
    QList<UpnpDevice> Discover(int i_delayMs, int& o_error) override
    {
        m_calls << QString("discover %1").arg(i_delayMs);
        m_discovering = true;
        QThread::msleep(m_discoveryMs);
        o_error = m_error;
        return m_devices;
    }
    bool LoadGateway(const QString& i_descriptionUrl) override
    {
        m_calls << "load " + i_descriptionUrl;
        m_controlUrl = m_descriptionAvailable ? m_descriptionControlUrl : m_controlUrl;
        return m_descriptionAvailable;
    }
    QString ControlUrl() const override { return m_controlUrl; }
    int AddPortMapping(const QString& i_externalPort, const QString& i_internalPort, const QString& i_client,
                       const QString& i_description, const QString& i_protocol) override
    {
        m_calls << QStringList{"add", i_externalPort, i_internalPort, i_client, i_description, i_protocol}.join(' ');
        return m_addResults.isEmpty() ? 0 : m_addResults.takeFirst();
    }
    int DeletePortMapping(const QString& i_externalPort, const QString& i_protocol) override
    {
        m_calls << "delete " + i_externalPort + " " + i_protocol;
        return m_deleteResults.isEmpty() ? 0 : m_deleteResults.takeFirst();
    }
    QList<QHostAddress> LocalAddresses() override
    {
        QList<QHostAddress> l_addresses;
        for (const QString& l_address : m_addresses)
            l_addresses << QHostAddress(l_address);
        return l_addresses;
    }

    // Discovery's answer: these devices, or none and this error code; it blocks this long.
    QList<UpnpDevice> m_devices;
    int m_error = 0;
    unsigned long m_discoveryMs = 0;
    // A description that can be fetched makes its control URL the gateway's.
    bool m_descriptionAvailable = false;
    QString m_descriptionControlUrl;
    QStringList m_addresses;
    // Results of the next mapping calls, in order; 0 once used up.
    QList<int> m_addResults;
    QList<int> m_deleteResults;
    // "clear", "discover <delay>", "load <url>", "add <ext> <int> <client> <desc> <proto>", "delete <ext> <proto>".
    QStringList m_calls;
    std::atomic<bool> m_discovering{false};

private:
    QString m_controlUrl;
};
