#include "shares/DNetManager.h"

#include <QByteArray>
#include <QPointer>
#include <QTcpSocket>

#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "diagnostics/Log.h"
#include "server/Server.h"
#include "shares/DNetDetail.h"
#include "store/Data.h"

using namespace dnet_detail;

// Frames on "D" connections, the messages in them and their relay down the tree.

namespace
{
// A receive buffer grown past this by one large frame is let go once the frame is handled.
const int KeptBufferBytes = 64 * 1024;
} // namespace

void DNetManager::OnSocketReadyToRead()
{
    if (QTcpSocket* lp_socket = qobject_cast<QTcpSocket*>(sender()))
        ReadFrames(lp_socket, false);
}

void DNetManager::OnChildSocketReadyToRead()
{
    if (QTcpSocket* lp_socket = qobject_cast<QTcpSocket*>(sender()))
        ReadFrames(lp_socket, true);
}

void DNetManager::ReadFrames(QTcpSocket* ip_socket, bool i_child)
{
    ReadFramesFrom(*ip_socket, ip_socket, i_child);
}

void DNetManager::ReadFramesFrom(QIODevice& io_source, QTcpSocket* ip_socket, bool i_child)
{
    // A handler may spin an event loop in which another socket is read: that read gets a buffer
    // of its own.
    const bool l_nested = m_reading;
    std::optional<MemStream> l_own;
    if (l_nested)
        l_own.emplace();
    MemStream& l_buffer = l_nested ? *l_own : m_receiveBuffer;
    m_reading = true;
    const bool l_holding = m_holdRelay;
    m_holdRelay = true;
    QPointer<QTcpSocket> l_alive(ip_socket);
    bool l_handled = false;
    while (l_alive && ip_socket->isOpen())
    {
        const qint64 l_available = io_source.bytesAvailable();
        char l_header[4];
        if (l_available < 4 || io_source.peek(l_header, 4) != 4)
            break;
        const quint32 l_word = WordAt(l_header);
        if (l_word > quint32(MaxFrameLength))
        {
            // Negative as a signed length, or longer than any honest frame: nothing after it
            // can be framed again.
            Log(Area, 1,
                QString("Message length %1 out of bounds, closing %2 connection")
                    .arg(l_word)
                    .arg(i_child ? "child" : "parent/candidate"));
            ip_socket->abort();
            break;
        }
        const int l_length = static_cast<int>(l_word);
        if (l_available - 4 < l_length)
            break;
        io_source.read(l_header, 4);
        l_buffer.Reset();
        if (l_length > l_buffer.GetBufferSize())
            l_buffer.EnsureBufferCapacity(l_length);
        if (l_length > 0 && io_source.read(l_buffer.GetWriteBuffer(), l_length) != l_length)
            break;
        l_buffer.AdvanceWriteIndex(l_length);
        l_handled = true;
        if (i_child)
            HandleChildMessage(ip_socket, l_buffer);
        else
            HandleMessage(ip_socket, l_buffer);
    }
    // What is left waits in the socket for the rest of its frame.
    if (l_alive && ip_socket->isOpen())
        HoldPending(ip_socket, io_source.bytesAvailable(), l_handled);
    m_reading = l_nested;
    m_holdRelay = l_holding;
    if (!l_holding && !m_heldRelay.isEmpty())
    {
        const QByteArray l_frames = std::move(m_heldRelay);
        m_heldRelay.clear();
        WriteToChildren(l_frames);
    }
    if (!l_nested && m_receiveBuffer.GetBufferSize() > KeptBufferBytes)
        m_receiveBuffer = MemStream();
}

void DNetManager::OnDNetMessage(MemStream& i_message)
{
    HandleMessage(nullptr, i_message);
}

void DNetManager::HandleMessage(QTcpSocket* ip_socket, MemStream& io_message)
{
    auto l_close = [ip_socket] {
        if (ip_socket)
            ip_socket->abort();
    };
    quint8 l_code = 0;
    if (!io_message.Read(l_code))
    {
        Log(Area, 1, "Error reading message code, closing parent/candidate connection");
        l_close();
        return;
    }

    ItemPtr l_candidate;
    bool l_fromParent = false;
    if (ip_socket)
    {
        if (HasParent())
            l_fromParent = IsParentSocket(ip_socket);
        else
            l_candidate = SocketItem("dnet_parent_candidate", ip_socket);
        if (!l_fromParent && !l_candidate)
        {
            Dismiss(ip_socket);
            return;
        }
    }

    if (l_code == 4)
    {
        qint32 l_level = 0;
        if (!io_message.Read(l_level))
            return l_close();
        const qint32 l_announced = LevelBelow(l_level);
        if (l_candidate && l_announced != -1)
            l_candidate += d.GetType("dnet_candidate_level")->GetItem(Value(l_announced));
        else if (l_fromParent)
            ApplyParentLevel(l_announced);
    }
    else if (l_code == 5)
    {
        QString l_leader;
        if (!io_message.Read(l_leader))
            return l_close();
        if (l_candidate)
            l_candidate += d.GetType("dnet_candidate_leader")->GetItem(l_leader);
        else if (l_fromParent)
            ApplyParentLeader(l_leader, io_message);
    }
    else if (l_code == 3)
    {
        quint32 l_kind = 0;
        if (!io_message.Read(l_kind))
            return l_close();
        if (l_kind != 49)
        {
            SendMessageToChildren(io_message);
            return;
        }
        QString l_user;
        quint32 l_req = 0;
        QString l_text;
        if (!io_message.Read(l_user) || !io_message.Read(l_req) || !io_message.Read(l_text))
            return l_close();
        // Answered here first: the receiver is called directly, before anything is relayed.
        emit DNetSearchRequest(l_user, l_req, l_text);
        m_lastSearchRequestTime = QDateTime::currentDateTimeUtc();
        if (l_candidate && !HasParent())
            l_candidate = SocketItem("dnet_parent_candidate", ip_socket);
        else
            l_candidate = ItemPtr();
        if (l_candidate)
            AdoptParent(l_candidate, ip_socket, io_message);
        else
            SendMessageToChildren(io_message);
    }
}

void DNetManager::HandleChildMessage(QTcpSocket* ip_socket, MemStream& io_message)
{
    quint8 l_code = 0;
    if (!io_message.Read(l_code))
    {
        Log(Area, 1, "Error reading message code, closing child connection");
        ip_socket->abort();
        return;
    }
    ItemPtr l_child = SocketItem("dnet_child", ip_socket);
    if (!l_child)
    {
        Dismiss(ip_socket);
        return;
    }
    Log(Area, 1, QString("Received message from child, code %1").arg(l_code));
    if (l_code != 7)
        return;
    qint32 l_depth = 0;
    if (!io_message.Read(l_depth))
    {
        ip_socket->abort();
        return;
    }
    Log(Area, 1, QString("Received child depth %1 from %2").arg(l_depth).arg(l_child["user"].AsString()));
    l_child += d.GetType("dnet_child_depth")->GetItem(Value(l_depth));
    DetermineChildDepth();
}

void DNetManager::SendMessageToChildren(MemStream& i_message)
{
    const int l_length = i_message.GetWriteIndex();
    QByteArray l_frame(4 + l_length, Qt::Uninitialized);
    PutWord(l_frame.data(), static_cast<quint32>(l_length));
    if (l_length > 0)
        std::memcpy(l_frame.data() + 4, i_message.GetBuffer(), static_cast<std::size_t>(l_length));
    if (m_holdRelay)
        m_heldRelay += l_frame;
    else
        WriteToChildren(l_frame);
}

void DNetManager::WriteToChildren(const QByteArray& i_frames)
{
    // A child's error may end it while we write: walk a snapshot.
    std::vector<QTcpSocket*> l_children;
    for (ItemPtr l_child : g("dnet_child"))
        l_children.push_back(l_child.AsPointer<QTcpSocket>());
    for (QTcpSocket* lp_child : l_children)
    {
        if (lp_child->state() != QAbstractSocket::ConnectedState)
            continue;
        // Every child's write buffer shares the same bytes.
        lp_child->write(i_frames);
        if (lp_child->bytesToWrite() > m_maxChildUnsentBytes)
            // Whatever the system takes now does not count; what it refuses does.
            lp_child->flush();
        if (lp_child->state() != QAbstractSocket::ConnectedState)
            continue;
        if (lp_child->bytesToWrite() <= m_maxChildUnsentBytes)
        {
            HoldUnsent(lp_child);
            continue;
        }
        Log(Area, 1,
            QString("Child %1 leaves more than %2 bytes unread, closing child connection")
                .arg(SocketItem("dnet_child", lp_child)["user"].AsString())
                .arg(m_maxChildUnsentBytes));
        Drop(lp_child);
    }
}
