#include "server/Server.h"

#include <QCryptographicHash>
#include <QTcpSocket>

#include <algorithm>

#include "diagnostics/Log.h"
#include "server/PortForwarder.h"
#include "server/ServerItems.h"
#include "server/WireOrder.h"
#include "store/Data.h"
#include "store/Settings.h"

using namespace server_items;

namespace
{
const char* const DefaultUserName = "TarnwickQT";
const char* const DefaultPassword = "QuorvelMintLedgeXy";
const qint32 LoginVersion = 157;
const qint32 LoginMinorVersion = 100;
} // namespace

void Server::Connect()
{
    if (m_state != StateDisconnected || !SettingValueItem("username"))
        return;

    // A link that ended mid-frame must not leave its half frame to the next one.
    ResetReader();
    if (mp_socket->state() != QAbstractSocket::UnconnectedState)
        mp_socket->abort();
    m_closeExpected = false;

    m_state = StateConnecting;
    emit Connecting();

    QString l_host = GetSetting("server_host");
    if (l_host.isEmpty())
        l_host = DefaultHost;
    bool l_valid = false;
    const uint l_setPort = GetSetting("server_port").toUInt(&l_valid);
    const quint16 l_port =
        l_valid && l_setPort >= 1 && l_setPort <= 65535 ? static_cast<quint16>(l_setPort) : DefaultPort;

    mp_socket->connectToHost(l_host, l_port, QIODevice::ReadWrite);
    Log("server", 1, QString("Attempting connection on port %1").arg(l_port));
    if (IsSettingYes("use_upnp"))
        mp_portForwarder->Init();
}

void Server::Disconnect()
{
    if (m_state != StateLoggedIn)
        return;
    OnDisconnected();
    m_closeExpected = true;
    m_dropped = false;
    mp_socket->close();
}

void Server::SendMessage(MemStream& i_message, bool i_force)
{
    const bool l_allowed =
        m_state == StateLoggedIn || (i_force && m_state == StateConnecting);
    if (!l_allowed)
        return;
    const int l_length = i_message.GetWriteIndex();
    MemStream l_frame;
    l_frame.Write(static_cast<quint32>(l_length));
    l_frame.WriteBuffer(i_message.GetBuffer(), static_cast<unsigned long>(l_length));
    mp_socket->write(l_frame.GetBuffer(), l_frame.GetWriteIndex());
}

void Server::HandleLoginReply(MemStream& io_body)
{
    quint8 l_accepted = 0;
    // Too short to say either way: not an answer.
    if (!io_body.Read(l_accepted))
        return;
    if (l_accepted != 0)
    {
        QString l_greeting;
        quint32 l_address = 0;
        QString l_digest;
        io_body.Read(l_greeting);
        io_body.Read(l_address);
        io_body.Read(l_digest);
        m_state = StateLoggedIn;
        emit Connected();
        OnConnectedToServer();
        return;
    }
    QString l_reason;
    io_body.Read(l_reason);
    emit ConnectionFailed(l_reason);
    m_state = StateDisconnected;
    mp_socket->close();
}

void Server::OnConnectedToServer()
{
    if (m_firstLoginPending)
    {
        m_firstLoginPending = false;
        for (ItemPtr l_room : g("room").Connected("room_autojoin"))
            EnterRoom(l_room.AsString(), false);
        if (IsSettingYes("use_upnp"))
            AddPortMappings();
    }
    if (GetSetting("availability_status") == "away")
    {
        SendFields(28, qint32(1));
    }
    // The server forgets between links whom it watched and whose address it owed us.
    for (ItemPtr l_user : g("user").Connected("is_tracked"))
        AddUser(l_user.AsString());
    for (ItemPtr l_user : g("user").Connected("user_address_request"))
    {
        SendFields(3, l_user.AsString());
    }
    SetFlagSetting("accept_room_list", true);
}

void Server::OnDisconnected()
{
    m_state = StateDisconnected;
    emit Disconnected();
    // The set's own walk survives handlers that remove other users as the marks go.
    g("user").Connected("is_online").Disconnect("is_online");
}

void Server::OnConnected()
{
    if (!SettingValueItem("username") || !SettingValueItem("password"))
    {
        SetSetting("username", DefaultUserName);
        SetSetting("password", DefaultPassword);
    }
    const QString l_user = GetSetting("username");
    const QString l_password = GetSetting("password");
    const QString l_digest = QString::fromLatin1(
        QCryptographicHash::hash((l_user + l_password).toUtf8(), QCryptographicHash::Md5).toHex());

    MemStream l_login = NewMessage(1);
    l_login.Write(l_user);
    l_login.Write(l_password);
    l_login.Write(LoginVersion);
    l_login.Write(l_digest);
    l_login.Write(LoginMinorVersion);
    SendMessage(l_login, true);
    m_dropped = false;
}

void Server::OnSocketReadyToRead()
{
    char l_chunk[16384];
    for (;;)
    {
        // A handler may have closed the link; what is left of it belongs to nobody.
        if (!mp_socket->isOpen())
            return;
        if (!m_frameLengthKnown)
        {
            if (mp_socket->bytesAvailable() < 4)
                return;
            unsigned char l_header[4];
            if (mp_socket->read(reinterpret_cast<char*>(l_header), 4) != 4)
                return;
            m_frameLength = FromWireOrder<quint32>(l_header);
            if (m_frameLength > MaxFrameLength)
            {
                FailLink();
                return;
            }
            m_frameLengthKnown = true;
        }

        // The body is kept as it arrives; the announced length alone reserves nothing.
        const quint32 l_received = static_cast<quint32>(m_receiveStream.GetWriteIndex());
        const quint32 l_missing = m_frameLength - l_received;
        if (l_missing > 0)
        {
            const qint64 l_want = std::min<qint64>(
                {static_cast<qint64>(l_missing), mp_socket->bytesAvailable(),
                 static_cast<qint64>(sizeof(l_chunk))});
            if (l_want <= 0)
                return;
            const qint64 l_read = mp_socket->read(l_chunk, l_want);
            if (l_read <= 0)
                return;
            m_receiveStream.WriteBuffer(l_chunk, static_cast<unsigned long>(l_read));
            if (static_cast<quint32>(l_read) < l_missing)
                continue;
        }

        // A body without room for its code carries nothing: skipped.
        qint32 l_code = 0;
        if (m_frameLength >= 4 && m_receiveStream.Read(l_code))
            HandleMessage(l_code, m_receiveStream);
        ResetReader();
    }
}

void Server::OnSocketError(QAbstractSocket::SocketError)
{
    HandleSocketEnd();
}

void Server::OnSocketClosed()
{
    HandleSocketEnd();
}

void Server::HandleSocketEnd()
{
    if (m_closeExpected)
    {
        m_closeExpected = false;
        return;
    }
    if (m_state == StateConnecting)
    {
        emit ConnectionFailed("socket error");
        m_state = StateDisconnected;
    }
    else if (m_state == StateLoggedIn)
    {
        m_dropped = true;
        OnDisconnected();
    }
}

void Server::ResetReader()
{
    m_frameLengthKnown = false;
    m_frameLength = 0;
    m_receiveStream.Reset();
}

void Server::FailLink()
{
    ResetReader();
    HandleSocketEnd();
    // The stream is out of step for good; the close that follows finds nothing left to do.
    mp_socket->abort();
}

void Server::AttemptReconnect()
{
    if (m_dropped)
        Connect();
}

void Server::EveryFiveMinutes()
{
    if (m_state != StateLoggedIn)
        return;
    SendFields(32);
}

void Server::RenewPortMapping()
{
    if (m_state != StateLoggedIn || !IsSettingYes("use_upnp"))
        return;
    Log("server", 1, "Renewing UPnP port mapping.");
    AddPortMappings();
}

void Server::AddPortMappings()
{
    mp_portForwarder->AddPortMapping(mp_socket, static_cast<int>(GetSettingInt("listening_port")));
    const int l_obfuscatedPort = static_cast<int>(GetSettingInt("obfuscated_listening_port"));
    if (l_obfuscatedPort != 0)
        mp_portForwarder->AddPortMapping(mp_socket, l_obfuscatedPort);
}
