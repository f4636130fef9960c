#pragma once

#include <QDataStream>

#include "support/support/FakeCentralServer.h"

// A central server for several client processes: it accepts every login, answers address requests
// (3) with the port a client announced, watches (5) and status requests (7) with whether that user
// is logged in, and relays a search (26) to every other client, a connection request (18) to its user.
class FakeCentralHub : public FakeCentralServer
{
public:
    FakeCentralHub() : FakeCentralServer(false) { AcceptLogins(); }

private:
    static constexpr quint32 Loopback = 0x7f000001u;
    // Each client's user name and announced port are kept on its socket.
    QTcpSocket* SocketOf(const QString& i_user) const
    {
        for (QTcpSocket* lp_client : Clients())
            if (!i_user.isEmpty() && lp_client->property("user").toString() == i_user)
                return lp_client;
        return nullptr;
    }
    static qint32 PortOf(const QTcpSocket* ip_client) { return ip_client ? ip_client->property("port").toInt() : 0; }

    // What the client wrote, field by field: past the end a field reads as 0 or empty.
    template <class Field> static Field Next(QDataStream& io_in)
    {
        Field l_field{};
        io_in >> l_field;
        return l_field;
    }
    static QString Text(QDataStream& io_in) { return QString::fromUtf8(Next<QByteArray>(io_in)); }

    void Answer(QTcpSocket* ip_client, const Frame& i_frame) override
    {
        QDataStream l_in(i_frame.fields);
        l_in.setByteOrder(QDataStream::LittleEndian);
        const QString l_me = ip_client->property("user").toString();
        if (i_frame.code == 1)
        {
            ip_client->setProperty("user", Text(l_in));
            FakeCentralServer::Answer(ip_client, i_frame);
        }
        else if (i_frame.code == 2)
            ip_client->setProperty("port", Next<quint32>(l_in));
        else if (i_frame.code == 3 || i_frame.code == 5 || i_frame.code == 7)
        {
            const QString l_user = Text(l_in);
            const QTcpSocket* lp_other = SocketOf(l_user);
            WireFields l_answer = WireFields().Text(l_user);
            if (i_frame.code == 3)
                l_answer.UInt32(lp_other ? Loopback : 0).Int32(PortOf(lp_other)).Int32(0).Int32(0);
            else if (i_frame.code == 5)
                l_answer.Byte(1).Int32(lp_other ? 2 : 0).Int32(0).Raw(QByteArray(8, '\0')).Int32(0).Int32(0).Text("XX");
            else
                l_answer.Int32(lp_other ? 2 : 0).Byte(0);
            Send(ip_client, MakeFrame(i_frame.code, l_answer));
        }
        else if (i_frame.code == 18)
        {
            const quint32 l_token = Next<quint32>(l_in);
            const QString l_user = Text(l_in);
            const QString l_type = Text(l_in);
            if (QTcpSocket* lp_other = SocketOf(l_user))
                Send(lp_other, MakeFrame(18, WireFields().Text(l_me).Text(l_type).UInt32(Loopback)
                                                 .Int32(PortOf(ip_client)).UInt32(l_token).Byte(0).Int32(0).Int32(0)));
        }
        else if (i_frame.code == 26)
        {
            const quint32 l_ticket = Next<quint32>(l_in);
            const QString l_text = Text(l_in);
            for (QTcpSocket* lp_other : Clients())
                if (lp_other != ip_client && !lp_other->property("user").toString().isEmpty())
                    Send(lp_other, MakeFrame(26, WireFields().Text(l_me).UInt32(l_ticket).Text(l_text)));
        }
    }
};
