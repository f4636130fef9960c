#include "peer/ConnectionCeiling.h"

#include <utility>
#include <vector>

#include "diagnostics/Log.h"
#include "peer/PeerMessengerDetail.h"

ConnectionCeiling::ConnectionCeiling(qint64 i_ceiling, Pick i_pick, QString i_logLine,
                                     Measure i_measure)
    : m_ceiling(i_ceiling), m_pick(i_pick), m_logLine(std::move(i_logLine)),
      m_measure(std::move(i_measure))
{
}

bool ConnectionCeiling::Hold(QTcpSocket* ip_socket, qint64 i_bytes, bool i_anew, Closer i_close)
{
    if (i_bytes <= 0)
    {
        Forget(ip_socket);
        return true;
    }
    auto l_found = m_entries.find(ip_socket);
    if (l_found == m_entries.end())
    {
        l_found = m_entries.emplace(ip_socket, Entry()).first;
        l_found->second.socket = ip_socket;
        i_anew = true;
    }
    Entry& l_entry = l_found->second;
    if (i_anew)
    {
        l_entry.serial = m_nextSerial++;
        l_entry.since = QDateTime::currentDateTimeUtc();
    }
    Count(l_entry, i_bytes);
    l_entry.close = std::move(i_close);
    if (m_total > m_ceiling)
        KeepToCeiling();
    return m_entries.count(ip_socket) != 0;
}

void ConnectionCeiling::Forget(QTcpSocket* ip_socket)
{
    auto l_found = m_entries.find(ip_socket);
    if (l_found == m_entries.end())
        return;
    Count(l_found->second, 0);
    m_entries.erase(l_found);
}

qint64 ConnectionCeiling::TakeReleased()
{
    const qint64 l_released = m_released;
    m_released = 0;
    return l_released;
}

void ConnectionCeiling::Count(Entry& io_entry, qint64 i_bytes)
{
    m_total += i_bytes - io_entry.bytes;
    if (i_bytes < io_entry.bytes)
        m_released += io_entry.bytes - i_bytes;
    io_entry.bytes = i_bytes;
}

QDateTime ConnectionCeiling::HoldingSince(QTcpSocket* ip_socket) const
{
    auto l_found = m_entries.find(ip_socket);
    return l_found == m_entries.end() ? QDateTime() : l_found->second.since;
}

qint64 ConnectionCeiling::Held(QTcpSocket* ip_socket) const
{
    auto l_found = m_entries.find(ip_socket);
    return l_found == m_entries.end() ? 0 : l_found->second.bytes;
}

void ConnectionCeiling::Measured()
{
    // Measuring may end a connection, whose owner then forgets it: measure first, then update.
    std::vector<std::pair<QTcpSocket*, qint64>> l_measured;
    for (const auto& l_entry : m_entries)
        l_measured.emplace_back(l_entry.first, l_entry.second.socket ? m_measure(l_entry.second.socket) : 0);
    for (const auto& [lp_socket, l_bytes] : l_measured)
    {
        auto l_found = m_entries.find(lp_socket);
        if (l_found == m_entries.end())
            continue;
        Count(l_found->second, l_bytes);
        if (l_bytes <= 0)
            Forget(lp_socket);
    }
}

void ConnectionCeiling::KeepToCeiling()
{
    if (m_closing)
        return;
    m_closing = true;
    if (m_measure)
        Measured();
    while (m_total > m_ceiling && !m_entries.empty())
    {
        auto l_pick = m_entries.begin();
        for (auto l_entry = m_entries.begin(); l_entry != m_entries.end(); ++l_entry)
        {
            const Entry& l_held = l_entry->second;
            if (m_pick == Pick::Oldest ? l_held.serial < l_pick->second.serial
                                       : l_held.bytes > l_pick->second.bytes)
                l_pick = l_entry;
        }
        // Forgotten before it is closed: whatever its owner reports while closing finds nothing.
        const QPointer<QTcpSocket> lp_socket = l_pick->second.socket;
        const Closer l_close = std::move(l_pick->second.close);
        Count(l_pick->second, 0);
        m_entries.erase(l_pick);
        if (!lp_socket)
            continue;
        Log(peer_detail::Area, 1, m_logLine.arg(m_ceiling));
        l_close(lp_socket);
    }
    m_closing = false;
}
