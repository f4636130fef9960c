#pragma once

#include "support/support/FakeCentralServer.h"

// A stand-in for the central server that several clients (other processes) log in to at once:
// it accepts every login and tells each client what it needs to reach the others, all on
// 127.0.0.1. It answers peer-address requests (3) with the port a client announced, user
// watches (5) and status requests (7) with whether that user is logged in, relays a file search
// (26) to every other client, and a connection request (18) to the user it names.
class FakeCentralHub : public FakeCentralServer
{
public:
    FakeCentralHub() : FakeCentralServer(false) { AcceptLogins(); }

private:
    static constexpr quint32 Loopback = 0x7f000001u;

    // What a client wrote, field by field; a field past the end reads as 0 or is cut short.
    struct Fields
    {
        const QByteArray bytes;
        int at = 0;

        quint32 UInt32()
        {
            if (at + 4 > bytes.size())
                return 0;
            at += 4;
            return qFromLittleEndian<quint32>(bytes.constData() + at - 4);
        }
        QString Text()
        {
            const int l_length = static_cast<int>(qMin(UInt32(), static_cast<quint32>(bytes.size() - at)));
            at += l_length;
            return QString::fromUtf8(bytes.mid(at - l_length, l_length));
        }
    };

    // Each client's user name and announced port are kept on its socket.
    QTcpSocket* SocketOf(const QString& i_user) const
    {
        for (QTcpSocket* lp_client : Clients())
            if (!i_user.isEmpty() && lp_client->property("user").toString() == i_user)
                return lp_client;
        return nullptr;
    }
    static qint32 PortOf(const QTcpSocket* ip_client) { return ip_client ? ip_client->property("port").toInt() : 0; }

    void Answer(QTcpSocket* ip_client, const Frame& i_frame) override
    {
        Fields l_in{i_frame.fields};
        const QString l_me = ip_client->property("user").toString();
        if (i_frame.code == 1)
        {
            ip_client->setProperty("user", l_in.Text());
            FakeCentralServer::Answer(ip_client, i_frame);
        }
        else if (i_frame.code == 2)
            ip_client->setProperty("port", l_in.UInt32());
        else if (i_frame.code == 3)
        {
            const QString l_user = l_in.Text();
            const QTcpSocket* lp_other = SocketOf(l_user);
            Send(ip_client, 3, WireFields().Text(l_user).UInt32(lp_other ? Loopback : 0).Int32(PortOf(lp_other))
                                   .Int32(0).Int32(0));
        }
        else if (i_frame.code == 5)
        {
            const QString l_user = l_in.Text();
            Send(ip_client, 5, WireFields().Text(l_user).Byte(1).Int32(SocketOf(l_user) ? 2 : 0).Int32(0)
                                   .Raw(QByteArray(8, '\0')).Int32(0).Int32(0).Text("XX"));
        }
        else if (i_frame.code == 7)
        {
            const QString l_user = l_in.Text();
            Send(ip_client, 7, WireFields().Text(l_user).Int32(SocketOf(l_user) ? 2 : 0).Byte(0));
        }
        else if (i_frame.code == 18)
        {
            const quint32 l_token = l_in.UInt32();
            const QString l_user = l_in.Text();
            const QString l_type = l_in.Text();
            if (QTcpSocket* lp_other = SocketOf(l_user))
                Send(lp_other, 18, WireFields().Text(l_me).Text(l_type).UInt32(Loopback).Int32(PortOf(ip_client))
                                       .UInt32(l_token).Byte(0).Int32(0).Int32(0));
        }
        else if (i_frame.code == 26)
        {
            const quint32 l_ticket = l_in.UInt32();
            const QString l_text = l_in.Text();
            for (QTcpSocket* lp_other : Clients())
                if (lp_other != ip_client && !lp_other->property("user").toString().isEmpty())
                    Send(lp_other, 26, WireFields().Text(l_me).UInt32(l_ticket).Text(l_text));
        }
    }
};
