#pragma once

#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "peer/AttributeTranslationTable.h"
#include "peer/FileInfoMap.h"
#include "store/Data.h"
#include "store/DataHandler.h"
#include "store/DataLoadedEventHandler.h"
#include "store/ItemPtr.h"
#include "transfers/DownloadIndex.h"
#include "transfers/DownloadWork.h"
#include "transfers/UploadQueueOrder.h"

class QDateTime;
class QTcpSocket;
struct ConnectionInfo;

// The engine of the transfer queues. Every download and upload is a `download_entry` or
// `upload_entry` item with its parts connected to it; the object itself keeps only the upload
// speed limit shared with the upload threads, the last ordered upload and the record of the
// live objects that address-valued items stand for. There is one instance,
// `transferQueueManager`, built before the store file is loaded.
class TransferQueueManager : public QObject, public DataHandler, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    TransferQueueManager();
    ~TransferQueueManager() override;
    TransferQueueManager(const TransferQueueManager&) = delete;
    TransferQueueManager& operator=(const TransferQueueManager&) = delete;

    // Every unfinished download waits in the queue again, its user tracked; the views are told.
    // Also after a failed load, which has emptied the store: the active marks come back first.
    void DataLoaded() override;
    // A first start: nothing is excluded from downloading but ".ini" files.
    void NoData() override;

    // ---- Status changes and removal ----

    // Stamp the change and, when the entry leaves the active state, stop and release its thread,
    // file, socket and transient values. An upload leaving the active state re-divides the
    // speed limit, and tells the peer (message 46) when it leaves for "aborted".
    void SetDownloadEntryStatus(ItemPtr i_entry, QString i_status);
    void SetUploadEntryStatus(ItemPtr i_entry, QString i_status);
    // Stop and release everything of the transfer whatever its state, then remove the entry.
    // Neither the peer nor the views are told; the views follow the store.
    void RemoveDownload(ItemPtr i_entry);
    void RemoveUpload(ItemPtr i_entry);
    int ActiveDownloadCount() const;
    int ActiveUploadCount() const;

    // Removal handlers of the transient value types: each frees the object behind the item.
    void OnWritePositionRemoved(ItemPtr i_item);
    void OnBytesSinceLastReceiptRemoved(ItemPtr i_item);
    void OnBytesPerSecondRemoved(ItemPtr i_item);
    void OnBytesUploadedRemoved(ItemPtr i_item);
    void OnLastReceiptTimeRemoved(ItemPtr i_item);
    void OnLastSpeedMeasurementTimeRemoved(ItemPtr i_item);
    void OnUploadEntryRemoved(ItemPtr i_entry);

    // Live objects behind address-valued items (threads, sockets, files, positions, speeds,
    // times). Only an object recorded here is ever freed or stopped through its item, so such
    // an item read from a damaged store file is left inert. Attach creates the item of the
    // object's address, records the object and connects the item to the entry; Take forgets the
    // object and hands it back (null when the item stands for nothing recorded); Peek only looks.
    // Threads are attached as TransferThread pointers.
    template <class T>
    ItemPtr AttachObject(ItemPtr i_entry, const char* i_type, T* ip_object)
    {
        const ItemPtr l_item = d.GetType(i_type)->GetItem(Value(ip_object));
        m_liveObjects.insert(ObjectKey(i_type, l_item));
        i_entry += l_item;
        return l_item;
    }
    template <class T>
    T* TakeObject(ItemPtr i_item)
    {
        if (!i_item || m_liveObjects.erase(ObjectKey(i_item)) == 0)
            return nullptr;
        return i_item.AsPointer<T>();
    }
    template <class T>
    T* PeekObject(ItemPtr i_item) const
    {
        if (!i_item || m_liveObjects.count(ObjectKey(i_item)) == 0)
            return nullptr;
        return i_item.AsPointer<T>();
    }

    // ---- Upload speed limit ----

    // Shares `upload_speed_limit` (KiB/s) out evenly over the active uploads while
    // `upload_speed_limit_enabled` is "yes", and empties the byte pool; otherwise unlimited.
    void DetermineUploadSpeedLimit();
    // The total limit in KiB/s, 0 when unlimited.
    int GetUploadSpeed() const;
    // Each active upload's share in KiB/s, 0 when unlimited; read by the upload threads.
    int GetPerUploadSpeedLimit() const;

    // ---- Download folders ----
    // Paths are composed in backslash form; callers that touch the disk replace "\" by "/".
    // Remote folder components and file names are cleaned on the way: an empty one, "." and
    // ".." become "_", and "/", "\" and NUL inside one become "_", so a benign name keeps its
    // layout and no remote name reaches outside the download folder. Should a path still not
    // lie under the download folder's "downloading" or "complete" folder, the entry is set to
    // "local error" (logged) and the functions below give an empty path; callers that touch
    // the disk stop on an empty path.

    // The base folder's "complete" or "downloading" folder, then the last
    // `subfolder_save_level` + 1 components of the remote folder (all of them when there are
    // fewer).
    QString GetDownloadTargetFolder(ItemPtr i_entry, bool i_complete);
    // The kept remote folder components joined by "\", without a leading one.
    QString GetDownloadRelativeDownloadFolder(ItemPtr i_entry);
    QString GetDownloadTargetPath(ItemPtr i_entry, bool i_complete);
    bool DoesDownloadItemCompleteFilenameExist(ItemPtr i_entry);
    // Once every download of the entry's remote folder is complete, removes the emptied
    // folders of the kept levels from the deepest up; "downloading" itself always stays.
    void RemoveDownloadDownloadingFolderIfAppropriate(ItemPtr i_entry);

    // ---- downloads ----
    // The downloader's side: queue requests to uploaders, the answer to their transfer
    // requests, the file connection with its DownloadThread, and the finished file's move.

    // An existing entry for the same user, file name and remote folder is returned unchanged,
    // unless a Delete waits to remove it: then it goes at once, as if that Delete had ended, and
    // a new one is made. A new one is "complete" when its finished file is already there;
    // otherwise "queued", asked for at once (43) while the uploader is online, its place in line
    // 10 s later. It does not wait for the download work below.
    ItemPtr AddDownload(QString i_user, std::string i_fileName, std::string i_remoteFolder,
                        qint64 i_size, int i_subfolderSaveLevel);
    struct DownloadRequest
    {
        std::string fileName;
        std::string remoteFolder;
        qint64 size = 0;
        int level = 0;
    };
    // AddDownload for each in turn, as the download work that waits allows, a slice at a time;
    // the uploader counts as online or not as it is now, as when all were added at once.
    void AddDownloads(const QString& i_user, std::vector<DownloadRequest> i_requests);
    // RemoveDownload for each in turn, in their order, as the download work that waits allows, a
    // slice at a time; one removed meanwhile is passed over, and one asked for again meanwhile
    // goes at once (AddDownload). Each slice's removals run under what i_together makes, so that
    // what they leave to be done together is done once a slice.
    void RemoveDownloads(std::vector<ItemPtr> i_entries, DownloadWork::Together i_together = {});
    // Whether long download work still waits its turn.
    bool IsDownloadWorkPending() const;
    // Null when there is none.
    ItemPtr GetDownloadEntry(QString i_user, std::string i_fileName, std::string i_remoteFolder);
    void QueueDownloadIfUserOnline(ItemPtr i_entry);
    // Also the retry of the download list: any inactive entry that is not complete is asked
    // for again.
    void RequeueDownload(ItemPtr i_entry);
    // Behind the download work that waits, a slice at a time.
    void RequeueUserDownloads(ItemPtr i_user);
    bool IsActivelyDownloadingFromUser(QString i_user);
    void RequestDownloadPlaceInLine(ItemPtr i_entry);
    // Case-sensitive endings, as the user typed them.
    bool HasExcludedDownloadExtension(QString i_fileName);
    // Whether the user may send us files we did not ask for.
    bool CanAcceptUserInitiatedUploadsFrom(QString i_user);
    // Path handler: the user has come online. What follows waits behind the download work.
    void OnUserOnline(ItemPtr i_user);

public slots:
    // Times out stalled upload hand-shakes, starts queued uploads and keeps our own downloads
    // queued at online uploaders: asked again 600 s after the last request, place in line when due.
    void EveryHalfMinute();
    void OnQueueDownloadRequested(QString i_user, std::string i_path, qint64 i_size);
    void OnDownloadPlaceInLine(QString i_user, std::string i_path, int i_place);
    void OnUploadDeniedNotification(QString i_user, std::string i_path, QString i_reason);
    void OnUploadFailedNotification(QString i_user, std::string i_path);
    void OnFileTransferRequest(QString i_user, int i_direction, uint i_req, std::string i_path,
                               qint64 i_size);
    void OnFileConnection(QString i_user, QTcpSocket* ip_socket, uint i_req);
    void OnDownloadProgress(qint64 i_offset, int i_bytesPerSecond);
    void OnDownloadError(QString i_reason);
    void OnDownloadComplete();

signals:
    void TransfersLoaded();
    void DownloadProgressed(ItemPtr i_entry);
    // A finished download's record, new or brought up to date by the same file finished again.
    void CompleteDownloadAdded(ItemPtr i_record);

private:
    // The messenger's download signals and the user-online path; called by the constructor.
    void ConnectDownloadSignals();
    // A new entry, "queued" or "complete" left to the caller; the user is tracked.
    ItemPtr NewDownloadEntry(const QString& i_user, const std::string& i_fileName,
                             const std::string& i_remoteFolder, qint64 i_size, int i_level);
    // The entry of the sending download thread; null once it was removed.
    ItemPtr SendingDownloadEntry();
    // Why a file connection for the entry cannot be taken; empty when it can.
    QString FileConnectionRefusal(ItemPtr i_entry);
    // Moves the partial file into the complete folder, never over an existing file; false,
    // logged, when it stays where it is.
    bool MoveFinishedDownload(ItemPtr i_entry, QString& o_folder, QString& o_fileName);
    void RecordCompleteDownload(ItemPtr i_entry, const QString& i_folder,
                                const QString& i_fileName);
    ItemPtr AddDownloadSeen(const QString& i_user, const std::string& i_fileName,
                            const std::string& i_remoteFolder, qint64 i_size, int i_level,
                            bool i_online);
    // The steps of the long download work, each finding its user by name when its turn comes.
    DownloadWork::Job RequeueJob(const std::string& i_user);
    DownloadWork::Job PlaceInLineJob(const std::string& i_user, const QDateTime& i_now);

    std::unique_ptr<DownloadIndex> mp_downloadIndex;
    std::unique_ptr<DownloadWork> mp_downloadWork;
    // ---- end of downloads ----

public:
    // ---- uploads ----
    // The uploader's side: which requests join the upload queue and in which order they are
    // served, the handshake with the receiving peer, one UploadThread per running upload and
    // the speed limit those threads share.

    // The local user offers one of our files (remote form, backslash separators) to a user.
    void AddUpload(QString i_user, QString i_file);
    // Gives a new entry its place in the queue: after the last one when it goes last, else before
    // the first it goes before, every place numbered anew from 1.
    void OrderNewUpload(ItemPtr i_entry);
    // True when a is served before b: group priority, then privilege, then arrival.
    static bool UploadEntrySortCompare(ItemPtr i_a, ItemPtr i_b);
    // The highest priority among the user's groups, never below 0.
    static int GetUserGroupDownloadPriority(QString i_user);
    bool IsFreeToUpload() const;
    int QueuedUploadCount() const;
    // The entry's place in line as a place-in-line answer gives it; none before it has one.
    std::optional<qint64> UploadPlace(ItemPtr i_entry) const;
    // Nothing of ours reaches the user any more: every upload of the user is denied and removed.
    void UnshareUser(QString i_user);
    void ReshareUser(QString i_user);
    // Numbers the waiting uploads from 0 and asks the next queued users, one upload each, while
    // slots are free.
    void StartNewUploads();
    void SetUploadSpeedLimit(int i_kibPerSecond);
    void EnableUploadSpeedLimit(bool i_on);
    // Only 1 to 99 slots; more slots start queued uploads at once.
    void SetUploadSlots(int i_slots);
    // The byte pool of the upload threads, under the mutex. Pay gives back the debt left once
    // the pool is spent; Add keeps at most one second of the total limit, so a long stretch of
    // under-used allowance cannot turn into a burst far above the limit.
    qint64 PayFromBytePool(qint64 i_debt);
    void AddToBytePool(qint64 i_bytes);

public slots:
    void DetermineUploadsEffectiveOrder();
    void OnQueueUploadRequested(QString i_user, QString i_file);
    void OnUploadPlaceInLineRequested(QString i_user, QString i_file);
    void OnUserShare(QString i_user, FileInfoMap& i_files, AttributeTranslationTable& i_attributes);
    void OnFileTransferResponse(QString i_user, uint i_req, bool i_accepted, bool i_receivedFileSize,
                                qint64 i_fileSize, QString i_denialReason);
    void OnFileConnectionAccepted(QString i_user, QTcpSocket* ip_socket);
    void OnUploadProgress(qint64 i_offset, int i_bytesPerSecond);
    void OnUploadComplete();
    void OnUploadError(QString i_reason);

signals:
    void UploadProgressed(ItemPtr i_entry);

private:
    // The messenger's upload signals and the store changes the upload queue follows; called by
    // the constructor.
    void ConnectUploadSignals();
    // What the upload queue knows of an entry's status, and of its user.
    void RecordUpload(ItemPtr i_entry);
    void OnUploadStatusConnected(ConnectionInfo& i_info);
    void NoteUploadUserOnline(ItemPtr i_user);
    void OnUploadUserOnlineChanged(ConnectionInfo& i_info);
    void OnUploadUserClassChanged(ConnectionInfo& i_info);
    void OnUploadGroupPriorityChanged(ConnectionInfo& i_info);
    // The user's class taken again, for a user the queue's order knows.
    void RefileUploadUser(ItemPtr i_user);
    // The highest priority among the user's groups, never below 0.
    static int GroupPriorityOf(ItemPtr i_user);
    // Group priority, then privilege, as one number: the higher is served first.
    static std::int64_t UploadClassOf(ItemPtr i_user);
    static ItemPtr UploadEntryOf(UploadQueueOrder::Handle i_handle);
    // The shared file of a remote path when that user may have it; null otherwise.
    static ItemPtr SharedFileFor(const QString& i_user, const QString& i_file);
    static ItemPtr FindUploadEntry(ItemPtr i_user, ItemPtr i_sharedFile);
    // An existing entry: "Already queued" or back to "queued"; true when one was found.
    bool RequeueExistingUpload(ItemPtr i_user, ItemPtr i_sharedFile);
    ItemPtr NewUploadEntry(ItemPtr i_user, ItemPtr i_sharedFile, const QString& i_file);
    // A queued upload whose file was unshared, narrowed or removed meanwhile is denied rather
    // than sent: true when it still may go.
    bool IsUploadStillShared(ItemPtr i_entry);
    // The entry of the sending upload thread; null once it was removed or ended.
    ItemPtr SendingUploadEntry();
    // ---- end of uploads ----

private:
    using ObjectKeyType = std::pair<std::string, std::string>;
    static ObjectKeyType ObjectKey(const char* i_type, ItemPtr i_item);
    static ObjectKeyType ObjectKey(ItemPtr i_item);

    // Schema and defaults.
    static void DeclareSchema();
    void RegisterRemovalHandlers();
    static void RegisterSavedTypes();
    static void MarkActiveStatuses();
    void AbortStalledUploads(const QDateTime& i_now);
    void KeepDownloadsQueued(const QDateTime& i_now);
    static void WriteSettingDefaults();

    // Release of a transfer's live objects; each skips a missing item. A status change defers
    // the deletion of the thread and the socket; a removal deletes the socket at once, signals
    // cut first; the shut-down deletes both at once.
    enum class Release
    {
        Deferred,
        Removal,
        ShutDown
    };
    // Everything a running download or upload holds: thread, socket, file and figures.
    void ReleaseRun(ItemPtr i_entry, Release i_how);
    void ReleaseThread(ItemPtr i_entry, const char* i_type, Release i_how);
    void ReleaseFile(ItemPtr i_entry, const char* i_type);
    void ReleaseSocket(ItemPtr i_entry, const char* i_type, Release i_how);
    void ReleaseReadPosition(ItemPtr i_entry);
    static void RemoveParts(ItemPtr i_entry, std::initializer_list<const char*> i_types);
    static bool IsActive(ItemPtr i_status);
    static int CountActive(const char* i_statusType, const char* i_entryType);
    void SendUploadFailed(ItemPtr i_entry);

    // The remote folder levels a download keeps, cleaned; empty without a remote folder.
    static QStringList KeptRemoteLevels(ItemPtr i_entry);
    // The path when it lies under the download folder's "complete" or "downloading" folder;
    // otherwise the entry is set to "local error" and the result is empty.
    QString CheckedDownloadPath(ItemPtr i_entry, const QString& i_path, bool i_complete);

    // The speed-limit fields shared with the upload threads; only under the mutex.
    mutable QMutex m_speedLimitMutex;
    qint64 m_bytePool = 0;
    int m_totalUploadSpeedLimit = 0;
    int m_perUploadSpeedLimit = 0;

    // The upload that the upload ordering placed last; cleared when that entry is removed.
    ItemPtr m_lastOrderedUpload;
    // Every upload's place in line and who is asked next.
    UploadQueueOrder m_uploadOrder;

    std::set<ObjectKeyType> m_liveObjects;
};

extern TransferQueueManager* transferQueueManager;

// The time text of status changes and queue requests: the toolkit's text date form with
// English names whatever the locale, whole seconds, read back with Qt::TextDate.
QString TransferTimeStamp(const QDateTime& i_time);
