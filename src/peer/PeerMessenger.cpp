#include "peer/PeerMessenger.h"

#include <QTcpSocket>
#include <QTimer>

#include <cstdlib>
#include <ctime>
#include <set>

#include "diagnostics/Log.h"
#include "peer/PeerMessengerDetail.h"
#include "server/Server.h"
#include "store/DataSaver.h"
#include "store/TimerManager.h"

using namespace peer_detail;

PeerMessenger* peerMessenger = nullptr;
bool g_peerMessengerDeleted = false;

PeerMessenger::PeerMessenger()
    : m_heldFrames(MaxHeldFrameBytes, ConnectionCeiling::Pick::Oldest,
                   "Incomplete peer frames hold more than %1 bytes, closing the connection "
                   "with the oldest"),
      m_unsentBytes(MaxTotalUnsentBytes, ConnectionCeiling::Pick::Largest,
                    "Peer connections leave more than %1 bytes unsent, closing the connection "
                    "with the most",
                    // What the system takes at once is not ours to hold.
                    [](QTcpSocket* ip_socket) {
                        ip_socket->flush();
                        return ip_socket->bytesToWrite();
                    })
{
    // Only one messenger lives at a time; a new one starts with live socket handling.
    g_peerMessengerDeleted = false;
    peerMessenger = this;

    if (gp_server)
        connect(gp_server, &Server::Connected, this, &PeerMessenger::OnConnectedToServer);
    DeclareSchema();
    sendOrderCounter = 0;

    if (gp_server)
        connect(gp_server, &Server::IndirectPeerConnectionFailure, this,
                &PeerMessenger::OnIndirectPeerConnectionFailure);
    if (timerManager)
        connect(timerManager->halfMinuteTimer, &QTimer::timeout, this,
                &PeerMessenger::EveryHalfMinute);
    if (dataSaver)
        dataSaver->AddDataLoadedEventHandler(this);

    // The keys of obfuscated frames are drawn from this generator.
    srand(static_cast<unsigned int>(time(nullptr)));
}

PeerMessenger::~PeerMessenger()
{
    // Whatever the sockets report from here on is ignored. The listeners take their accepted
    // sockets with them; no event loop may run again to take what the items of live
    // connections stand for, so that goes now.
    g_peerMessengerDeleted = true;
    ReleaseAtShutDown();
    if (peerMessenger == this)
        peerMessenger = nullptr;
}

void PeerMessenger::ReleaseAtShutDown()
{
    RemovalScope l_scope(d);
    // Their removal handlers free the parked streams and the activity stamps.
    g("unsent_message").Remove();
    // Our own connections have no listener to take them: those its items stand for, and those
    // that wait for a file token, which no item stands for. Gathered first, as one socket may
    // be both.
    std::set<QTcpSocket*> l_own;
    const auto l_gather = [&l_own](QTcpSocket* ip_socket) {
        if (ip_socket && !ip_socket->parent() && ip_socket->property(OwnSocketProperty).toBool())
            l_own.insert(ip_socket);
    };
    for (const char* lp_type : {"connect_to_peer_request_socket", "peer_connection_request_socket",
                                "uninitialized_socket", "peer_socket"})
        for (ItemPtr l_item : g(lp_type))
        {
            if (!l_item->IsAlive())
                continue;
            l_gather(l_item.AsPointer<QTcpSocket>());
            l_item.Remove();
        }
    for (const auto& [lp_socket, l_record] : m_socketBuffers)
        if (!l_record.handedOver)
            l_gather(lp_socket);
    for (QTcpSocket* lp_socket : l_own)
    {
        m_socketBuffers.erase(lp_socket);
        lp_socket->disconnect();
        lp_socket->abort();
        delete lp_socket;
    }
}

void PeerMessenger::OnPeerSocketItemAdded(ItemPtr i_socketItem)
{
    QDateTime* lp_lastActivity = new QDateTime(QDateTime::currentDateTimeUtc());
    i_socketItem += d.GetType("last_activity_time")->GetItem(Value(lp_lastActivity));
}

void PeerMessenger::OnUnsentMessageRemoved(ItemPtr i_message)
{
    delete i_message.AsPointer<MemStream>();
}

void PeerMessenger::OnPeerSocketItemRemoved(ItemPtr i_socketItem)
{
    ItemPtr l_stamp = i_socketItem["last_activity_time"];
    if (!l_stamp)
        return;
    QDateTime* lp_lastActivity = l_stamp.AsPointer<QDateTime>();
    l_stamp.Remove();
    delete lp_lastActivity;
}

bool PeerMessenger::HandlePeerMessage(QTcpSocket*, ItemPtr i_peerSocket, MemStream& io_body)
{
    ItemPtr l_user = i_peerSocket["user"];
    quint32 l_code = 0;
    if (!io_body.Read(l_code))
    {
        Log(Area, 1,
            QString("Could not read message code on connection to user %1, disposing of socket")
                .arg(l_user.AsString()),
            l_user);
        return false;
    }
    StampActivity(i_peerSocket);
    Log(Area, 1,
        QString("Received %1 message from user %2")
            .arg(MessageCodeToString(static_cast<int>(l_code)), l_user.AsString()),
        l_user);

    const QString l_userName = l_user.AsString();
    switch (l_code)
    {
    // Share lists, search replies and folder requests.
    case 4:
        return ReceiveSharedFileListRequest(l_userName);
    case 5:
        return ReceiveSharedFileList(l_userName, io_body);
    case 9:
        return ReceiveSearchReply(l_userName, io_body);
    case 36:
        return ReceiveFolderContentsRequest(l_userName, io_body);
    // User information, then transfer negotiation and queues.
    case 15:
        emit UserInfoRequested(l_userName);
        return true;
    case 16:
        return ReceiveUserInfoReply(l_userName, io_body);
    case 40:
        return ReceiveTransferRequest(l_userName, io_body);
    case 41:
        return ReceiveTransferResponse(l_userName, io_body);
    case 43:
    case 44:
    case 46:
    case 50:
    case 51:
    case 60:
        return ReceiveQueueMessage(l_code, l_userName, io_body);
    default:
        // Everything else is only logged.
        return true;
    }
}

QString PeerMessenger::MessageCodeToString(int i_code)
{
    switch (i_code)
    {
    case 1: return "PM_SAY";
    case 4: return "PM_GET_SHARED_FILE_LIST";
    case 5: return "PM_SHARED_FILE_LIST";
    case 8: return "PM_FILE_SEARCH_REQUEST";
    case 9: return "PM_FILE_SEARCH_RESULT";
    case 10: return "PM_INVITE_USER_TO_ROOM";
    case 14: return "PM_CANCELLED_QUEUED_TRANSFER";
    case 15: return "PM_USER_INFO_REQUEST";
    case 16: return "PM_USER_INFO_REPLY";
    case 33: return "PM_SEND_CONNECT_TOKEN";
    case 34: return "PM_MOVE_DOWNLOAD_TO_TOP";
    case 36: return "PM_GET_SHARED_FILES_IN_FOLDER";
    case 37: return "PM_SHARED_FILES_IN_FOLDER";
    case 40: return "PM_TRANSFER_REQUEST";
    case 41: return "PM_TRANSFER_RESPONSE";
    case 42: return "PM_PLACEHOLD_UPLOAD";
    case 43: return "PM_QUEUE_UPLOAD";
    case 44: return "PM_UPLOAD_PLACE_IN_LINE";
    case 46: return "PM_UPLOAD_FAILED";
    case 47: return "PM_EXACT_FILE_SEARCH_REQUEST";
    case 48: return "PM_QUEUED_DOWNLOADS";
    case 49: return "PM_INDIRECT_FILE_SEARCH_REQUEST";
    case 50: return "PM_UPLOAD_DENIED";
    case 51: return "PM_UPLOAD_PLACE_IN_LINE_REQUEST";
    case 52: return "PM_NOTHING";
    default: return QString::number(i_code) + " (unknown)";
    }
}
