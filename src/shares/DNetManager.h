#pragma once

#include <QAbstractSocket>
#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QtGlobal>

#include <list>
#include <utility>

#include "server/MemStream.h"
#include "server/TCPAddress.h"
#include "store/DataHandler.h"
#include "store/ItemPtr.h"

class QIODevice;
class QTcpSocket;

// Our place in the distributed search tree: at most one parent, chosen among the candidates the
// server names, and any number of children. Searches that come down from the parent (or from the
// server itself) are answered through DNetSearchRequest and then passed on to every child byte
// for byte. Membership lives in the store in unsaved types; every "D" socket the peer messenger
// hands over is ours from that moment: kept as parent, candidate or child, or closed and freed.
// There is one instance, `dnetManager`.
class DNetManager : public QObject, public DataHandler
{
    Q_OBJECT

public:
    // The longest frame body taken from a distributed connection, as on every peer connection.
    static constexpr qint32 MaxFrameLength = 10485760;
    // Relayed bytes a child may leave unread before it is dropped.
    static constexpr qint64 MaxChildUnsentBytes = 4 * 1024 * 1024;

    DNetManager();
    ~DNetManager() override;
    DNetManager(const DNetManager&) = delete;
    DNetManager& operator=(const DNetManager&) = delete;

    // One message from the parent side; a null socket means the server delivered it.
    void HandleMessage(QTcpSocket* ip_socket, MemStream& io_message);
    void HandleChildMessage(QTcpSocket* ip_socket, MemStream& io_message);
    // Frames the message's written bytes, from the start of its buffer, to every child; while
    // frames are being read, at the end of the read.
    void SendMessageToChildren(MemStream& i_message);
    void DetermineCanParent();
    void DetermineChildDepth();
    void OnReceivedOwnUploadSpeed(ItemPtr i_setting);

signals:
    void DNetSearchRequest(QString i_user, quint32 i_req, QString i_searchText);

public slots:
    void OnDNetParentMinSpeed(int i_speed);
    void OnDNetParentSpeedConnectionRatio(int i_ratio);
    void OnDNetPossibleParents(std::list<std::pair<QString, TCPAddress>>& i_parentList);
    void OnDNetMessage(MemStream& i_message);
    void OnDNetDeliveryReport(int i_req);
    void OnDNetReset();
    void OnConnected();
    void OnDNetConnectionAccepted(QString i_user, QTcpSocket* ip_socket);
    void OnDNetConnectionRequested(QString i_user, QTcpSocket* ip_socket);
    void OnSocketReadyToRead();
    void OnSocketClosed();
    void OnSocketError(QAbstractSocket::SocketError i_error);
    void OnChildSocketReadyToRead();
    void OnChildSocketClosed();
    void OnChildSocketError(QAbstractSocket::SocketError i_error);
    void EveryHalfMinute();

private:
    // Tests and the fuzzer run the silence check at a chosen time, lower the child ceiling and
    // feed frames from a buffer of their own.
    friend class DNetManagerTesting;

    // Takes ownership and hooks the slots of one side.
    void Adopt(QTcpSocket* ip_socket, bool i_child);
    // Unhooks, closes and frees a socket that is not (or no longer) ours to read.
    void Dismiss(QTcpSocket* ip_socket);
    // Reads every whole frame the socket holds and handles each; with a source other than the
    // socket itself the bytes come from there (the socket still names the connection).
    void ReadFrames(QTcpSocket* ip_socket, bool i_child);
    void ReadFramesFrom(QIODevice& io_source, QTcpSocket* ip_socket, bool i_child);
    void ParentSideEnded(QTcpSocket* ip_socket);
    // The usual end of a child: unhooked, freed and forgotten.
    void ChildEnded(QTcpSocket* ip_socket);
    // Closes a connection of any side at once and ends it as its own end would.
    void Drop(QTcpSocket* ip_socket);
    void DropSilentParentAsOf(const QDateTime& i_now);
    // A connection whose frame stays unfinished as long as an idle peer connection may stay
    // silent is closed; one that holds nothing unfinished may stay silent.
    void DropStalledFramesAsOf(const QDateTime& i_now);
    // What a connection leaves of an unfinished frame in its socket, and what a child has not
    // taken of its relays yet, count toward the ceilings shared with the peer messenger.
    void HoldPending(QTcpSocket* ip_socket, qint64 i_bytes, bool i_newFrame);
    void HoldUnsent(QTcpSocket* ip_socket);
    void Unhold(QTcpSocket* ip_socket);
    void AdoptParent(ItemPtr i_candidate, QTcpSocket* ip_socket, MemStream& i_request);
    void ApplyParentLevel(qint32 i_level);
    void ApplyParentLeader(const QString& i_leader, MemStream& i_message);
    void DeclareSchema();
    // Writes one or more whole frames to every connected child; a child past the ceiling goes.
    void WriteToChildren(const QByteArray& i_frames);

    MemStream m_receiveBuffer;
    qint32 m_parentMinSpeed = -1;
    qint32 m_parentSpeedConnectionRatio = -1;
    bool m_canParent = false;
    QDateTime m_lastSearchRequestTime;
    qint64 m_maxChildUnsentBytes = MaxChildUnsentBytes;
    // A frame is being handled: a nested read must not reuse the receive buffer.
    bool m_reading = false;
    // While the parent side's frames are read, their relays are gathered and written to each
    // child in one go at the end.
    bool m_holdRelay = false;
    QByteArray m_heldRelay;
};

extern DNetManager* dnetManager;
