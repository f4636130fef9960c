#include "peer/PeerMessenger.h"

#include <QDateTime>
#include <QTcpSocket>

#include <cstring>

#include "diagnostics/Log.h"
#include "peer/PeerMessengerDetail.h"
#include "store/Data.h"

using namespace peer_detail;

ItemPtr PeerMessenger::LatestPeerSocket(ItemPtr i_user, bool i_log)
{
    const ItemSet l_sockets = i_user.GetItems("peer_socket");
    if (l_sockets.Empty())
        return ItemPtr();
    if (l_sockets.Size() == 1)
    {
        if (i_log)
            Log(Area, 2, "Found one existing messaging connection to user", i_user);
        return l_sockets;
    }
    if (i_log)
        Log(Area, 2,
            QString("Found %1 existing messaging connections to user, picking latest")
                .arg(l_sockets.Size()),
            i_user);
    ItemPtr l_choice;
    QDateTime l_chosenTime;
    for (ItemPtr l_socket : l_sockets)
    {
        const QString l_text = l_socket["connection_open_time"].AsString();
        const QDateTime l_time = QDateTime::fromString(l_text, Qt::TextDate);
        if (!l_choice)
        {
            l_choice = l_socket;
            l_chosenTime = l_time;
            if (i_log)
                Log(Area, 3, QString("First connection opened %1").arg(l_text), i_user);
        }
        else if (l_time > l_chosenTime)
        {
            l_choice = l_socket;
            l_chosenTime = l_time;
            if (i_log)
                Log(Area, 3, QString("Found connection opened %1, exchanging").arg(l_text), i_user);
        }
    }
    return l_choice;
}

void PeerMessenger::SendMessage(QString i_user, MemStream& i_message)
{
    // A name we only write to, such as the searcher of a search passed down the tree, needs
    // its user only while the message and the connection to it last.
    ItemPtr l_user = StrangerUser(i_user);
    char l_codeBytes[4] = {0, 0, 0, 0};
    std::memcpy(l_codeBytes, i_message.GetBuffer(),
                static_cast<std::size_t>(qBound(0, i_message.GetWriteIndex(), 4)));
    Log(Area, 1,
        QString("Send %1 message to user %2")
            .arg(MessageCodeToString(static_cast<qint32>(WordAt(l_codeBytes))), i_user),
        l_user);

    if (ItemPtr l_socket = LatestPeerSocket(l_user, true))
    {
        // A failed write is logged there; the message is not kept.
        SendMessage(l_socket.AsPointer<QTcpSocket>(), i_message,
                    l_socket.IsConnected("is_obfuscated"));
        return;
    }

    Log(Area, 2, "Did not find messaging connection to user, queueing unsent message", l_user);
    // A copy of its own, so that the caller's stream may be reused at once.
    MemStream* lp_parked = new MemStream;
    lp_parked->WriteBuffer(i_message.GetBuffer(),
                           static_cast<unsigned long>(i_message.GetWriteIndex()));
    ItemPtr l_parked = d.GetType("unsent_message")->NewItem(Value(lp_parked));
    l_parked += l_user;
    l_parked += d.GetType("send_order")->GetItem(Value(sendOrderCounter++));
    l_parked += d.GetType("send_time")->GetItem(LogService::Stamp(QDateTime::currentDateTime()));
    ConnectToUser(i_user, "P");
}

void PeerMessenger::SendMessageToUser(QString i_user, MemStream& i_message)
{
    SendMessage(i_user, i_message);
}

void PeerMessenger::SendUnsentMessages(QString i_user)
{
    ItemPtr l_user = d.GetType("user")->HasItem(i_user);
    if (!l_user)
        return;
    ItemPtr l_socket = LatestPeerSocket(l_user, false);
    if (!l_socket)
        return;
    QTcpSocket* lp_socket = l_socket.AsPointer<QTcpSocket>();
    const bool l_obfuscated = l_socket.IsConnected("is_obfuscated");
    const ItemSet l_parked = l_user.GetItems("unsent_message");
    if (l_parked.Empty())
        return;
    Log(Area, 1,
        QString("Sending %1 pending peer messages to user %2").arg(l_parked.Size()).arg(i_user),
        l_user);
    for (ItemPtr l_message : l_parked.SortNumericBy("send_order", true))
    {
        MemStream* lp_message = l_message.AsPointer<MemStream>();
        if (!SendMessage(lp_socket, *lp_message, l_obfuscated))
            return;
        l_message.Remove();
    }
}
