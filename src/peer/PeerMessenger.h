#pragma once

#include <QAbstractSocket>
#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <QtGlobal>

#include <deque>
#include <map>
#include <set>
#include <string>

#include "peer/AttributeTranslationTable.h"
#include "peer/ConnectionCeiling.h"
#include "peer/FileInfoMap.h"
#include "server/MemStream.h"
#include "store/DataHandler.h"
#include "store/DataLoadedEventHandler.h"
#include "store/ItemPtr.h"

class QTcpSocket;

// The engine of peer messaging: listens for other users on a plain and an obfuscated port,
// opens connections to them, reads and writes peer messages and announces each received one
// with a signal. Its state lives in the store as items of the types its constructor declares;
// the object itself keeps the listeners, the receive records of the sockets, the connections
// whose frames wait for the next slice and one counter. There is one instance, `peerMessenger`.
class PeerMessenger : public QObject, public DataHandler, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    // What has arrived so far on one socket.
    struct SocketBufferInfo
    {
        bool lengthKnown = false;
        // Body length of the current frame.
        quint32 length = 0;
        // The next 4 raw bytes are a file-transfer token, not a frame.
        bool awaitFileToken = false;
        // The socket belongs to someone else now: stop reading it here.
        bool handedOver = false;
        // The peer's user name, once known.
        QString user;
        // The current frame's body as received so far.
        MemStream buffer;
        bool obfuscated = false;
        // The current frame's key, already rotated past the length field.
        quint32 key = 0;
        // The socket's frames wait for the next slice.
        bool waiting = false;
    };

    PeerMessenger();
    ~PeerMessenger() override;
    PeerMessenger(const PeerMessenger&) = delete;
    PeerMessenger& operator=(const PeerMessenger&) = delete;

    // Opens the listeners once the stored port settings are known.
    void DataLoaded() override;

    // A peer_socket item is stamped with its last traffic, and the stamp goes with the item.
    void OnPeerSocketItemAdded(ItemPtr i_socketItem);
    void OnPeerSocketItemRemoved(ItemPtr i_socketItem);

    // Path handlers: a relayed request whose requester's address and ports are known, and a
    // user whose address and ports are known.
    void OnPeerConnectionRequest(ItemPtr i_request);
    void OnUserAddress(ItemPtr i_user);

    // Closes and forgets a socket and every item that stands for it.
    void DisposeOfSocket(QTcpSocket* ip_socket);

    // The longest frame body taken from a peer; a longer announced frame ends the connection.
    static constexpr quint32 MaxFrameLength = 10485760;
    // Unsent bytes past which a connection is closed: a peer that asks and never reads.
    static constexpr qint64 MaxUnsentBytes = 16 * 1024 * 1024;
    // Bytes that incomplete frames may hold over all connections together, ours and those
    // handed on ("D"); past it the connection holding the oldest goes.
    static constexpr qint64 MaxHeldFrameBytes = 256 * 1024 * 1024;
    // Unsent bytes of all connections together; past it the connection with the most goes.
    static constexpr qint64 MaxTotalUnsentBytes = 256 * 1024 * 1024;
    // How long a connection may stay silent, in milliseconds, before it is closed.
    static constexpr qint64 IdleLimit = 119999;
    // Bytes freed since the last half-minute (frames, unsent bytes, lists and replies read),
    // past which the half-minute hands the allocator's free pages back to the system.
    static constexpr qint64 ReturnedBytes = 32 * 1024 * 1024;

    // Frames are handed on a slice at a time from the event loop, over all connections together:
    // a slice ends once it has run this long, but never before this many frames. What the
    // connections still hold then waits for the next turn, and the connections take turns: the
    // one whose slice ran out goes behind those already waiting.
    static constexpr int SliceMs = 20;
    static constexpr int LeastFramesPerSlice = 64;
    // Slices of exactly this many frames instead, for tests that watch the slices; 0 for none.
    static void SetFramesPerSlice(int i_frames);

    // The two ceilings that every owner of a connection with another user reports to.
    ConnectionCeiling& HeldFrames() { return m_heldFrames; }
    ConnectionCeiling& UnsentBytes() { return m_unsentBytes; }

    // The user item of a name that a connection from another user brings in. One made here, for
    // a name we did not know, goes again once its connections have ended and nothing else
    // refers to it; StrangerConnectionEnded has it looked at once the current work is done.
    ItemPtr StrangerUser(const QString& i_name);
    void StrangerConnectionEnded(ItemPtr i_user);
    // Frames the whole written content of the message, obfuscated or not, and writes it in one
    // go. False, and logged, when the socket refuses the write; the socket stays open.
    bool SendMessage(QTcpSocket* ip_socket, MemStream& i_message, bool i_obfuscated);
    // Sends on the user's newest messaging connection, or parks the message and connects.
    void SendMessage(QString i_user, MemStream& i_message);
    void SendMessageToUser(QString i_user, MemStream& i_message);
    // Sends the user's parked messages in the order they were parked, once a messaging
    // connection exists; stops at the first failed write.
    void SendUnsentMessages(QString i_user);
    // One whole frame: the first frame of an accepted connection, or a peer message. False
    // has the connection disposed of.
    bool HandleMessage(QTcpSocket* ip_socket, MemStream i_body);
    static QString MessageCodeToString(int i_code);
    // Looks the socket up under every socket type; a socket is under one at most.
    void AssertNoSocketOverlap(QTcpSocket* ip_socket);

    // Connection attempts: directly and through the server at once. The first leg to complete
    // makes the connection; the attempt fails only once both legs have failed or expired.
    void ConnectToUser(QString i_user, char const* i_type);
    void RequestFileConnectionToUser(QString i_user);
    void RequestDNetConnection(QString i_user);
    // The obfuscated port when the user announced one, else the plain port.
    int GetUserPort(ItemPtr i_user, bool& o_obfuscated);
    // Ends an attempt that has no leg left and reports it failed.
    void InspectPeerConnectionRequest(ItemPtr i_attempt);
    // Ends a settled attempt; the leg that lost runs on.
    void DisposeOfPeerConnectionRequest(ItemPtr i_attempt);

    // Asks the user for the whole list of its shared files; the answer arrives as UserShare.
    void GetUserSharedFiles(QString i_user);

    // User information and transfer negotiation. Each sender builds its message and delivers it
    // like every other; delivery problems are not reported.
    void GetUserInfo(QString i_user);
    // Announces an upload of ours; returns the request number, taken from the stored counter.
    unsigned int RequestUpload(QString i_user, QString i_file, long long i_size);
    void AcceptTransferRequest(QString i_user, unsigned int i_req, bool i_sendFileSize,
                               long long i_fileSize);
    void DenyTransferRequest(QString i_user, unsigned int i_req, QString i_reason);
    // Asks the user to queue our download of the file; the name goes out byte for byte.
    void QueueDownload(QString i_user, std::string i_file);
    void SendUploadPlaceInLine(QString i_user, QString i_file, int i_place);
    void DenyUpload(QString i_user, QString i_file, QString i_reason);
    // Asks the user to queue a download of a file of ours.
    void QueueUpload(QString i_user, QString i_file, long long i_size);

signals:
    void SearchResults(ItemPtr i_searchResults);
    void FileConnectionRequested(QString i_user, QTcpSocket* ip_socket, uint i_requestID);
    void UserShare(QString i_userName, FileInfoMap& i_share,
                   AttributeTranslationTable& i_translationTable);
    void FileTransferRequested(QString i_user, int i_direction, uint i_req, std::string i_file,
                               qint64 i_fileSize);
    void QueueUploadRequested(QString i_user, QString i_file);
    void FileConnectionAccepted(QString i_user, QTcpSocket* ip_socket);
    void FileTransferResponse(QString i_user, uint i_req, bool i_accepted, bool i_receivedFileSize,
                              qint64 i_fileSize, QString i_denialReason);
    void DNetConnectionRequested(QString i_user, QTcpSocket* ip_socket);
    void DNetConnectionAccepted(QString i_user, QTcpSocket* ip_socket);
    void UploadFailed(QString i_user, std::string i_file);
    void UploadDenied(QString i_user, std::string i_file, QString i_reason);
    void SharedFilesInFolderRequested(QString i_user, quint32 i_req, QString i_folder);
    void DownloadPlaceInLine(QString i_user, std::string i_file, int i_place);
    void ConnectionToUserFailed(QString i_user, QString i_type);
    void UploadPlaceInLineRequested(QString i_user, QString i_fileName);
    void QueueDownloadRequested(QString i_user, std::string i_fileName, qint64 i_fileSize);
    void UserInfoRequested(QString i_user);
    // The picture travels as its own byte array: every receiver holds a valid copy, and none
    // has to free it.
    void UserInfoReceived(QString i_user, QString i_description, bool i_hasPicture,
                          QByteArray i_picture, int i_uploadSlots, int i_queuedUploads,
                          bool i_freeUploadSlots);
    // The user asks for our shared-file list. The shares engine answers it with its complete
    // message 5, sent back to the user through SendMessage(QString, MemStream&).
    void SharedFileListRequested(QString i_user);

public slots:
    void OnNewConnection();
    void OnNewObfuscatedConnection();
    void OnConnectedToServer();
    void OnSocketReadyToRead();
    void OnSocketClosed();
    void OnSocketError(QAbstractSocket::SocketError i_error);
    void OnIndirectResponseSocketConnected();
    void OnConnectToPeerSocketConnected();
    void OnConnectToPeerSocketError(QAbstractSocket::SocketError i_error);
    void OnIndirectPeerConnectionFailure(uint i_token);
    void EveryHalfMinute();

private slots:
    // The next slice: the connections that wait, in their order, until it is spent.
    void ReadWaitingSockets();

private:
    // Tests read the receive records, run the expiry at a chosen time and lower the ceilings.
    friend class PeerMessengerTesting;

    QTcpServer m_listener;
    QTcpServer m_obfuscatedListener;
    std::map<QTcpSocket*, SocketBufferInfo> m_socketBuffers;
    // The slice of this turn of the event loop, and the connections whose frames wait for the
    // next one, in the order they take their turns; while one waits, its socket reads no more
    // from the system. A socket that ended while it waited stays here until its turn, which then
    // passes over it.
    bool m_sliceOpen = false;
    int m_sliceFrames = 0;
    QElapsedTimer m_sliceClock;
    std::deque<QPointer<QTcpSocket>> m_waitingSockets;
    qint32 sendOrderCounter = 0;
    qint64 m_maxUnsentBytes = MaxUnsentBytes;
    // The bodies of incomplete frames, and what the sockets have not sent yet.
    ConnectionCeiling m_heldFrames;
    ConnectionCeiling m_unsentBytes;
    // About what the lists and replies read since the last half-minute held while they were
    // read, all of it freed since; the threshold of handing freed pages back, and how often
    // that happened.
    qint64 m_readBytesFreed = 0;
    qint64 m_returnedBytes = ReturnedBytes;
    quint64 m_memoryReturns = 0;
    // Users made for names that other users' connections brought in, and those of them whose
    // connection has just ended, to be looked at once the current work is done.
    std::set<Item*> m_strangers;
    std::set<Item*> m_endedStrangers;
    bool m_strangerCheckDue = false;

    // The port settings as they hold for this run: defaults filled in, a newly chosen port
    // taken over and its setting removed.
    static void ApplyListeningPortSettings();
    // The half-minute expiry, with every age measured to i_now.
    void ExpireAsOf(const QDateTime& i_now);
    // A parked message's stream goes with its item.
    void OnUnsentMessageRemoved(ItemPtr i_message);
    // Erases the socket's receive record and what it held.
    void ForgetReceiveRecord(QTcpSocket* ip_socket);
    // The socket's receive record, made at its first bytes.
    SocketBufferInfo& ReceiveRecord(QTcpSocket* ip_socket);
    // Reads the socket's frames and hands each on, while the slice lasts unless told otherwise.
    void ReadFrames(QTcpSocket* ip_socket, bool i_sliced = true);
    // Opens the slice at its first frame; whether it is over.
    bool SliceSpent();
    // Whether a slice is open and over, without opening one.
    bool SliceOver() const;
    // The socket's frames wait for the next slice, behind every connection already waiting,
    // whether its slice ran out or its bytes came while others waited. What it holds meanwhile
    // counts toward the frames' ceiling.
    void WaitForNextSlice(QTcpSocket* ip_socket);
    // A socket that closed or failed: its waiting frames first, then its disposal.
    void EndSocket(QTcpSocket* ip_socket);
    // Counts the record's frame toward the shared ceiling and, past it, closes the connections
    // with the oldest incomplete frames; false when that closed ip_socket itself.
    bool HoldFrameBytes(QTcpSocket* ip_socket, SocketBufferInfo& io_record, bool i_newFrame);
    // How the ceilings close a connection of ours.
    ConnectionCeiling::Closer Disposal();

    void OnUserRemoved(ItemPtr i_user);
    // Removes the stranger's user when nothing but its connections referred to it.
    void LetStrangerGo(Item* ip_user);
    void CheckEndedStrangers();

    // The item types, their relations and the handlers on them.
    void DeclareSchema();
    // At destruction: parked messages, activity stamps and our own sockets are freed with the
    // items that stand for them.
    void ReleaseAtShutDown();

    // Framing, handshake and delivery.
    void AcceptConnections(QTcpServer& i_listener, bool i_obfuscated);
    // Closing and errors dispose of the socket; arriving bytes are read as frames.
    void WatchSocket(QTcpSocket* ip_socket);
    bool HandleFirstFrame(QTcpSocket* ip_socket, ItemPtr i_accepted, MemStream& io_body);
    bool HandlePeerMessage(QTcpSocket* ip_socket, ItemPtr i_peerSocket, MemStream& io_body);
    ItemPtr NewPeerSocketItem(QTcpSocket* ip_socket, ItemPtr i_user, bool i_obfuscated);
    // Our own connection has sent its first frame: it becomes a messaging connection or
    // goes to its owner.
    void HandOverOutgoing(QTcpSocket* ip_socket, ItemPtr i_user, const QString& i_type,
                          bool i_obfuscated);
    // The most recently opened of the user's messaging connections; the first met on a tie.
    ItemPtr LatestPeerSocket(ItemPtr i_user, bool i_log);

    // Connection attempts and expiry.
    void OpenDirectLeg(ItemPtr i_attempt, ItemPtr i_user, ItemPtr i_type);
    void ConnectWithoutServer(ItemPtr i_attempt, ItemPtr i_user, ItemPtr i_type);
    // Accepted sockets are stamped, so that one that never introduces itself can expire.
    void OnUninitializedSocketItemAdded(ItemPtr i_socketItem);

    // Receivers of user information and transfer messages: false when a required field is
    // missing, which ends the connection.
    bool ReceiveUserInfoReply(const QString& i_user, MemStream& io_body);
    bool ReceiveTransferRequest(const QString& i_user, MemStream& io_body);
    bool ReceiveTransferResponse(const QString& i_user, MemStream& io_body);
    bool ReceiveQueueMessage(quint32 i_code, const QString& i_user, MemStream& io_body);

    // Receivers of share and search messages: false ends the connection. An inflated body past
    // its ceiling drops the message and keeps the connection.
    bool ReceiveSharedFileListRequest(const QString& i_user);
    bool ReceiveSharedFileList(const QString& i_user, MemStream& io_body);
    bool ReceiveSearchReply(const QString& i_user, MemStream& io_body);
    bool ReceiveFolderContentsRequest(const QString& i_user, MemStream& io_body);
};

extern PeerMessenger* peerMessenger;
// Set first thing in the destructor; from then on socket reports that arrive late are ignored.
extern bool g_peerMessengerDeleted;
