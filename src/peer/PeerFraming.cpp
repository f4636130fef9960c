#include "peer/PeerMessenger.h"

#include <QDateTime>
#include <QPointer>
#include <QTcpSocket>

#include <cstring>
#include <limits>

#include "diagnostics/Log.h"
#include "peer/InFunction.h"
#include "peer/Obfuscation.h"
#include "peer/PeerMessengerDetail.h"
#include "store/Data.h"
#include "store/Settings.h"

using namespace peer_detail;

namespace
{
// Bodies below this size get their whole buffer at once; larger ones grow with the bytes that
// arrive, so an announced length alone never costs a connection more than this.
const int UpfrontBodyBytes = 64 * 1024;
// A long frame refreshes its connection's activity each time this many more bytes are in.
const int ActivityStep = 102400;
const int ReadChunkBytes = 64 * 1024;
int s_framesPerSlice = 0;
} // namespace

void PeerMessenger::SetFramesPerSlice(int i_frames)
{
    s_framesPerSlice = i_frames;
}

bool PeerMessenger::SendMessage(QTcpSocket* ip_socket, MemStream& i_message, bool i_obfuscated)
{
    const int l_length = i_message.GetWriteIndex();
    const int l_header = i_obfuscated ? 8 : 4;
    if (l_length > std::numeric_limits<int>::max() - l_header)
    {
        Log(Area, 1, "Error writing message to socket: message too long");
        return false;
    }
    QByteArray l_frame(l_header + l_length, Qt::Uninitialized);
    char* lp_run = l_frame.data() + l_header - 4;
    PutWord(lp_run, static_cast<quint32>(l_length));
    if (l_length > 0)
        std::memcpy(lp_run + 4, i_message.GetBuffer(), static_cast<std::size_t>(l_length));
    if (i_obfuscated)
    {
        const quint32 l_key = Obfuscation::DrawKey();
        PutWord(l_frame.data(), l_key);
        Obfuscation::Apply(lp_run, static_cast<std::size_t>(l_length) + 4, l_key);
    }
    if (ip_socket->write(l_frame) == -1)
    {
        Log(Area, 1, QString("Error writing message to socket: %1").arg(ip_socket->errorString()));
        return false;
    }
    // A peer that asks and never reads would have us hold every answer until the idle drop.
    // First frames go out on sockets that may be handed on: only messaging connections count.
    ItemPtr l_peer = SocketItem("peer_socket", ip_socket);
    if (!l_peer)
        return true;
    if (ip_socket->bytesToWrite() > m_maxUnsentBytes)
    {
        ItemPtr l_user = l_peer["user"];
        Log(Area, 1,
            QString("Peer connection to user %1 holds more than %2 unsent bytes, closing")
                .arg(l_user.AsString())
                .arg(m_maxUnsentBytes),
            l_user);
        DisposeOfSocket(ip_socket);
        return false;
    }
    // Many such peers, each below its own cap, share one ceiling.
    return m_unsentBytes.Hold(ip_socket, ip_socket->bytesToWrite(), false, Disposal());
}

void PeerMessenger::ForgetReceiveRecord(QTcpSocket* ip_socket)
{
    m_heldFrames.Forget(ip_socket);
    m_socketBuffers.erase(ip_socket);
}

ConnectionCeiling::Closer PeerMessenger::Disposal()
{
    return [this](QTcpSocket* ip_socket) { DisposeOfSocket(ip_socket); };
}

bool PeerMessenger::HoldFrameBytes(QTcpSocket* ip_socket, SocketBufferInfo& io_record,
                                   bool i_newFrame)
{
    // Each connection's frame is bounded, but not their number: past the shared ceiling the
    // frame that has pinned its bytes longest goes, with its connection, whoever owns it.
    return m_heldFrames.Hold(ip_socket, io_record.buffer.GetBufferSize(), i_newFrame, Disposal());
}

// Bytes that come while other connections wait go behind them.
void PeerMessenger::OnSocketReadyToRead()
{
    QTcpSocket* lp_socket = qobject_cast<QTcpSocket*>(sender());
    if (!lp_socket)
        return;
    if (!m_waitingSockets.empty())
        WaitForNextSlice(lp_socket);
    else
        ReadFrames(lp_socket);
}

bool PeerMessenger::SliceSpent()
{
    if (!m_sliceOpen)
    {
        m_sliceOpen = true;
        m_sliceFrames = 0;
        m_sliceClock.start();
        // The slice ends with this turn of the event loop; while one is open, the next turn's
        // reading of the waiting connections is on its way.
        QMetaObject::invokeMethod(this, "ReadWaitingSockets", Qt::QueuedConnection);
        return false;
    }
    return SliceOver();
}

bool PeerMessenger::SliceOver() const
{
    return m_sliceOpen && (s_framesPerSlice > 0 ? m_sliceFrames >= s_framesPerSlice
                                                : m_sliceFrames >= LeastFramesPerSlice &&
                                                      m_sliceClock.elapsed() >= SliceMs);
}

// A waiting socket reads nothing more from the system: the sender is held back by the
// connection itself, and what a stranger makes us hold is what one read brought in, counted.
// It goes behind every connection already waiting, the one whose slice just ran out included, so
// the connections take turns and a flood holds another's frames back by a slice for each
// connection ahead of them, not by all it has read in.
void PeerMessenger::WaitForNextSlice(QTcpSocket* ip_socket)
{
    SocketBufferInfo& l_record = ReceiveRecord(ip_socket);
    if (l_record.waiting)
        return;
    ip_socket->setReadBufferSize(1);
    const qint64 l_held = l_record.buffer.GetBufferSize() + ip_socket->bytesAvailable();
    if (!m_heldFrames.Hold(ip_socket, l_held, false, Disposal()))
        return;
    l_record.waiting = true;
    m_waitingSockets.emplace_back(ip_socket);
}

void PeerMessenger::ReadWaitingSockets()
{
    m_sliceOpen = false;
    // The connection that spends the slice goes to the back and ends the turn: the others keep
    // their places for the next one, which the open slice has already asked for.
    while (!m_waitingSockets.empty() && !SliceOver())
    {
        const QPointer<QTcpSocket> lp_socket = m_waitingSockets.front();
        m_waitingSockets.pop_front();
        // One disposed of meanwhile has no record left; one that ended was read as it ended.
        const auto l_record = lp_socket ? m_socketBuffers.find(lp_socket) : m_socketBuffers.end();
        if (l_record == m_socketBuffers.end() || !l_record->second.waiting)
            continue;
        l_record->second.waiting = false;
        lp_socket->setReadBufferSize(0);
        ReadFrames(lp_socket);
    }
}

PeerMessenger::SocketBufferInfo& PeerMessenger::ReceiveRecord(QTcpSocket* ip_socket)
{
    auto l_found = m_socketBuffers.find(ip_socket);
    if (l_found != m_socketBuffers.end())
        return l_found->second;
    SocketBufferInfo l_fresh;
    if (ItemPtr l_accepted = SocketItem("uninitialized_socket", ip_socket))
        l_fresh.obfuscated = l_accepted.IsConnected("is_obfuscated");
    else if (ItemPtr l_peer = SocketItem("peer_socket", ip_socket))
        l_fresh.obfuscated = l_peer.IsConnected("is_obfuscated");
    return m_socketBuffers.emplace(ip_socket, std::move(l_fresh)).first->second;
}

void PeerMessenger::ReadFrames(QTcpSocket* ip_socket, bool i_sliced)
{
    QTcpSocket* const lp_socket = ip_socket;
    InFunction l_guard("OnSocketReadyToRead");
    // A handler may spin an event loop, in which the socket can be disposed of or deleted.
    QPointer<QTcpSocket> l_alive(lp_socket);

    SocketBufferInfo* lp_record = &ReceiveRecord(lp_socket);

    // A frame of length 0 is whole as soon as its header is in.
    while (lp_socket->bytesAvailable() > 0 || (lp_record->lengthKnown && lp_record->length == 0))
    {
        if (i_sliced && SliceSpent())
        {
            WaitForNextSlice(lp_socket);
            return;
        }
        if (lp_record->awaitFileToken)
        {
            // Raw and in the clear, even on an obfuscated connection.
            char l_token[4];
            if (lp_socket->bytesAvailable() < 4 || lp_socket->read(l_token, 4) != 4)
                return;
            const QString l_user = lp_record->user;
            lp_socket->disconnect();
            ForgetReceiveRecord(lp_socket);
            emit FileConnectionRequested(l_user, lp_socket, WordAt(l_token));
            return;
        }

        if (!lp_record->lengthKnown)
        {
            const int l_header = lp_record->obfuscated ? 8 : 4;
            char l_bytes[8];
            if (lp_socket->bytesAvailable() < l_header ||
                lp_socket->read(l_bytes, l_header) != l_header)
                return;
            quint32 l_length = WordAt(l_bytes + l_header - 4);
            if (lp_record->obfuscated)
            {
                lp_record->key = Obfuscation::RotateLeft(WordAt(l_bytes));
                l_length ^= lp_record->key;
            }
            if (l_length > MaxFrameLength)
            {
                l_guard.Dispose();
                DisposeOfSocket(lp_socket);
                return;
            }
            lp_record->length = l_length;
            lp_record->lengthKnown = true;
            if (l_length < static_cast<quint32>(UpfrontBodyBytes))
                lp_record->buffer.EnsureBufferCapacity(static_cast<int>(l_length) + 1);
            if (!HoldFrameBytes(lp_socket, *lp_record, true))
                return;
            continue;
        }

        MemStream& l_buffer = lp_record->buffer;
        const int l_before = l_buffer.GetWriteIndex();
        qint64 l_wanted = static_cast<qint64>(lp_record->length) - l_before;
        if (l_wanted > 0 && l_buffer.GetBufferSize() - l_before > l_wanted)
        {
            const qint64 l_read = lp_socket->read(l_buffer.GetWriteBuffer(), l_wanted);
            if (l_read > 0)
                l_buffer.AdvanceWriteIndex(static_cast<int>(l_read));
        }
        else
        {
            char l_chunk[ReadChunkBytes];
            while (l_wanted > 0)
            {
                const qint64 l_read =
                    lp_socket->read(l_chunk, qMin<qint64>(l_wanted, sizeof l_chunk));
                if (l_read <= 0)
                    break;
                l_buffer.WriteBuffer(l_chunk, static_cast<unsigned long>(l_read));
                l_wanted -= l_read;
            }
        }
        const int l_after = l_buffer.GetWriteIndex();
        if (l_before / ActivityStep != l_after / ActivityStep)
            if (ItemPtr l_peer = SocketItem("peer_socket", lp_socket))
                StampActivity(l_peer);
        if (static_cast<quint32>(l_after) < lp_record->length)
        {
            if (!HoldFrameBytes(lp_socket, *lp_record, false))
                return;
            continue;
        }

        // A whole frame. The handler gets the buffer for itself; the next frame starts afresh.
        MemStream l_body = l_buffer;
        lp_record->buffer = MemStream();
        lp_record->lengthKnown = false;
        m_heldFrames.Forget(lp_socket);
        if (lp_record->obfuscated && l_after > 0)
            Obfuscation::Apply(l_body.GetWriteBuffer() - l_after, static_cast<std::size_t>(l_after),
                               lp_record->key);
        ++m_sliceFrames;
        const bool l_keep = HandleMessage(lp_socket, l_body);

        // Whoever disposed of the socket meanwhile has ended its record too.
        auto l_again = m_socketBuffers.find(lp_socket);
        if (!l_alive || l_again == m_socketBuffers.end() || &l_again->second != lp_record)
            return;
        if (!l_keep)
        {
            l_guard.Dispose();
            lp_socket->disconnect();
            DisposeOfSocket(lp_socket);
            return;
        }
        if (lp_record->handedOver)
        {
            // The rest of its bytes belong to the new owner.
            ForgetReceiveRecord(lp_socket);
            return;
        }
    }
}

bool PeerMessenger::HandleMessage(QTcpSocket* ip_socket, MemStream i_body)
{
    if (ItemPtr l_accepted = SocketItem("uninitialized_socket", ip_socket))
        return HandleFirstFrame(ip_socket, l_accepted, i_body);
    if (ItemPtr l_peer = SocketItem("peer_socket", ip_socket))
        return HandlePeerMessage(ip_socket, l_peer, i_body);
    // Neither introduced nor messaging: nothing on it can be understood.
    return false;
}

bool PeerMessenger::HandleFirstFrame(QTcpSocket* ip_socket, ItemPtr i_accepted, MemStream& io_body)
{
    const bool l_obfuscated = i_accepted.IsConnected("is_obfuscated");
    const QString l_via = Obfuscated(l_obfuscated);
    i_accepted.Remove();
    const QString l_failure =
        QString("Failure initializing %1peer connection, disposing of socket").arg(l_via);

    quint8 l_kind = 0;
    if (!io_body.Read(l_kind))
    {
        Log(Area, 1, QString("Failed to read direction from new %1peer connection").arg(l_via));
        Log(Area, 1, l_failure);
        return false;
    }

    if (l_kind == 0)
    {
        quint32 l_token = 0;
        if (!io_body.Read(l_token))
        {
            Log(Area, 1, QString("Failed to read req from %1indirect peer connection").arg(l_via));
            Log(Area, 1, l_failure);
            return false;
        }
        ItemPtr l_indirect = d.GetType("indirect_connect_to_peer_request")->HasItem(Value(l_token));
        if (!l_indirect)
        {
            Log(Area, 1, QString("Req sent on %1indirect peer connection not found").arg(l_via));
            Log(Area, 1, l_failure);
            return false;
        }
        ItemPtr l_user = l_indirect["user"];
        const QString l_type = l_indirect["peer_connection_type"].AsString();
        ItemPtr l_attempt = l_indirect["connect_to_peer_request"];
        l_indirect.Remove();
        if (l_attempt)
            DisposeOfPeerConnectionRequest(l_attempt);
        Log(Area, 1,
            QString("Found req, accepted %1indirect connection to user %2, connection type %3")
                .arg(l_via, l_user.AsString(), l_type),
            l_user);
        if (l_type == "P")
        {
            NewPeerSocketItem(ip_socket, l_user, l_obfuscated);
            SendUnsentMessages(l_user.AsString());
            return true;
        }
        if (l_type == "F" || l_type == "D")
        {
            m_socketBuffers[ip_socket].handedOver = true;
            ip_socket->disconnect();
            if (l_type == "F")
                emit FileConnectionAccepted(l_user.AsString(), ip_socket);
            else
                emit DNetConnectionAccepted(l_user.AsString(), ip_socket);
            return true;
        }
        Log(Area, 1, l_failure);
        return false;
    }

    QString l_userName;
    QString l_type;
    quint32 l_ignoredToken = 0;
    if (!io_body.Read(l_userName) || !io_body.Read(l_type) || !io_body.Read(l_ignoredToken))
    {
        Log(Area, 1, l_failure);
        return false;
    }
    // Only a messaging connection needs the user's item: a refused init, or one handed on to
    // another owner, leaves nothing behind in the store. One made for it goes with it, unless
    // something else has come to refer to it by then.
    ItemPtr l_user =
        l_type == "P" ? StrangerUser(l_userName) : d.GetType("user")->HasItem(l_userName);
    if (l_type == "P")
    {
        Log(Area, 1, QString("Accepted %1messaging connection to user %2").arg(l_via, l_userName),
            l_user);
        NewPeerSocketItem(ip_socket, l_user, l_obfuscated);
        SendUnsentMessages(l_userName);
    }
    else if (l_type == "F")
    {
        Log(Area, 1, QString("Accepted %1file connection to user %2").arg(l_via, l_userName),
            l_user);
        SocketBufferInfo& l_record = m_socketBuffers[ip_socket];
        l_record.awaitFileToken = true;
        l_record.user = l_userName;
    }
    else if (l_type == "D")
    {
        Log(Area, 1, QString("Accepted %1DNet connection to user %2").arg(l_via, l_userName),
            l_user);
        ip_socket->disconnect();
        m_socketBuffers[ip_socket].handedOver = true;
        emit DNetConnectionRequested(l_userName, ip_socket);
    }
    else
    {
        Log(Area, 1, l_failure, l_user);
        return false;
    }
    Log(Area, 1,
        QString("Peer %1connection of type %2 opened from user %3").arg(l_via, l_type, l_userName),
        l_user);
    return true;
}

ItemPtr PeerMessenger::NewPeerSocketItem(QTcpSocket* ip_socket, ItemPtr i_user, bool i_obfuscated)
{
    ItemPtr l_item = d.GetType("peer_socket")->NewItem(Value(ip_socket));
    l_item += i_user;
    l_item += d.GetType("connection_open_time")
                  ->GetItem(LogService::Stamp(QDateTime::currentDateTime()));
    if (i_obfuscated)
        l_item.NewItem("is_obfuscated");
    return l_item;
}

void PeerMessenger::HandOverOutgoing(QTcpSocket* ip_socket, ItemPtr i_user, const QString& i_type,
                                     bool i_obfuscated)
{
    if (i_type == "P")
    {
        WatchSocket(ip_socket);
        NewPeerSocketItem(ip_socket, i_user, i_obfuscated);
        SendUnsentMessages(i_user.AsString());
        return;
    }
    // The new owner answers for the socket from here on.
    ip_socket->disconnect(this);
    if (i_type == "F")
        emit FileConnectionAccepted(i_user.AsString(), ip_socket);
    else if (i_type == "D")
        emit DNetConnectionAccepted(i_user.AsString(), ip_socket);
    else
    {
        ip_socket->close();
        ip_socket->deleteLater();
    }
}

void PeerMessenger::OnConnectToPeerSocketConnected()
{
    QTcpSocket* lp_socket = qobject_cast<QTcpSocket*>(sender());
    if (!lp_socket)
        return;
    lp_socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    ItemPtr l_leg = SocketItem("connect_to_peer_request_socket", lp_socket);
    if (!l_leg)
    {
        lp_socket->disconnect(this);
        lp_socket->close();
        lp_socket->deleteLater();
        return;
    }
    const bool l_obfuscated = l_leg.IsConnected("is_obfuscated");
    ItemPtr l_user = l_leg["user"];
    const QString l_type = l_leg["peer_connection_type"].AsString();
    Log(Area, 1,
        QString("Direct %1connection of type %2 to user %3 successful")
            .arg(Obfuscated(l_obfuscated), l_type, l_user.AsString()),
        l_user);

    MemStream l_init;
    l_init.Write(quint8(1));
    l_init.Write(GetSetting("username"));
    l_init.Write(l_type);
    l_init.Write(quint32(0));
    SendMessage(lp_socket, l_init, l_obfuscated);

    QObject::disconnect(lp_socket, &QAbstractSocket::errorOccurred, nullptr, nullptr);
    ItemPtr l_attempt = l_leg["connect_to_peer_request"];
    l_leg.Remove();
    if (l_attempt)
        DisposeOfPeerConnectionRequest(l_attempt);
    HandOverOutgoing(lp_socket, l_user, l_type, l_obfuscated);
}

void PeerMessenger::OnIndirectResponseSocketConnected()
{
    QTcpSocket* lp_socket = qobject_cast<QTcpSocket*>(sender());
    if (!lp_socket)
        return;
    lp_socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    ItemPtr l_answer = SocketItem("peer_connection_request_socket", lp_socket);
    ItemPtr l_request = l_answer["peer_connection_request"];
    if (!l_request)
    {
        DisposeOfSocket(lp_socket);
        return;
    }
    const bool l_obfuscated = l_request.IsConnected("is_obfuscated");
    MemStream l_pierce;
    l_pierce.Write(quint8(0));
    l_pierce.Write(quint32(l_request["peer_connection_request_id"].AsUInt()));
    SendMessage(lp_socket, l_pierce, l_obfuscated);

    ItemPtr l_user = l_request["user"];
    const QString l_type = l_request["peer_connection_type"].AsString();
    l_answer.Remove();
    Log(Area, 1,
        QString("Response %1connection to indirect request from %2, type %3 opened")
            .arg(Obfuscated(l_obfuscated), l_user.AsString(), l_type),
        l_user);
    l_request.Remove();

    if (l_type == "P")
    {
        WatchSocket(lp_socket);
        NewPeerSocketItem(lp_socket, l_user, l_obfuscated);
        SendUnsentMessages(l_user.AsString());
    }
    else if (l_type == "F")
    {
        WatchSocket(lp_socket);
        SocketBufferInfo& l_record = m_socketBuffers[lp_socket];
        l_record.awaitFileToken = true;
        l_record.user = l_user.AsString();
    }
    else
    {
        // Unhooked like every other hand-over: the new owner alone closes and frees it.
        lp_socket->disconnect();
        if (l_type == "D")
            emit DNetConnectionRequested(l_user.AsString(), lp_socket);
        else
        {
            lp_socket->close();
            lp_socket->deleteLater();
        }
    }
}
