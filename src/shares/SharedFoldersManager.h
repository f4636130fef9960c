#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <set>
#include <vector>

#include "peer/AttributeTranslationTable.h"
#include "peer/FileInfoMap.h"
#include "server/MemStream.h"
#include "server/UserStats.h"
#include "shares/SharesEngineLinks.h"
#include "shares/UploadPolicy.h"
#include "store/DataHandler.h"
#include "store/ItemPtr.h"
#include "store/ItemSet.h"

class Item;
class Type;

// Everything the user shares lives in the store: the chosen folders and who may see them, the
// scanned folders and files below them with their look-up items and word index, and the trees
// of other users' shares being browsed. One manager exists, reached through
// `sharedFoldersManager`. Its definitions are spread by concern over the
// SharedFoldersManager*.cpp files.
class SharedFoldersManager : public QObject, public DataHandler
{
    Q_OBJECT

public:
    explicit SharedFoldersManager(QObject* ip_parent = nullptr);
    ~SharedFoldersManager() override;

    // ---- Folders and audiences ----

    // The folder's `shared_folder` item, made, numbered and scanned when it is new.
    ItemPtr AddSharedFolder(QString i_path);
    // Whether the `shared_file` may be given to that user.
    bool IsFileSharedWithUser(ItemPtr i_file, QString i_user);
    // The `shared_folder` items that user may see.
    ItemSet GetUserSharedFolders(QString i_user);
    // The `shared_file` of a local path, whatever its letter case; null when it is not shared.
    ItemPtr GetSharedFileItem(QString i_path);
    // Bitrate, mode and length of any file item (own, browsed or a search result).
    QString GetFileItemDisplayString(ItemPtr i_file);
    // Drops the browsed share tree of that user.
    void RemoveUserShare(QString i_user);
    // A browsed share tree (`user_share` with its folders and files), and whatever that leaves
    // unconnected; a null share only sweeps.
    static void RemoveShareTree(ItemPtr i_share);

    // ---- Scanning and the word index ----

    // The start-up rescan, once the store file is loaded.
    void Init();
    void RescanShares();
    void ScanSharedFolder(QString i_sharedFolder, QString i_folder);
    void TokenizeSharedFile(ItemPtr i_file);
    static bool IsSearchTokenSeparator(QChar i_c);

    void OnSharedFileFolderAdded(ItemPtr i_folder);
    void OnSharedFileNameAdded(ItemPtr i_name);

signals:
    // The MP3 files to analyse, in the order the scan met them; one request per scan.
    void MP3ScanRequired(QStringList i_files);
    void SharedFilesRescanned(int i_filesAdded, int i_filesRemoved);

private:
    // The types one scan touches, looked up once per scan rather than once per file.
    struct ScanTypes;
    // What a walk leaves for its end: the files to index and the MP3 files to ask about.
    struct ScanWork;

    void ScanFolder(const ScanTypes& i_types, ScanWork& io_work, ItemPtr i_sharedFolder,
                    const QString& i_folder);
    ItemPtr FindScannedFile(const ScanTypes& i_types, const ItemSet& i_folders,
                            const QString& i_lowerName) const;
    // Indexes the walk's files and asks the scanner about its MP3 files.
    void FinishScan(const ScanTypes& i_types, ScanWork& io_work);
    struct UnindexedFile
    {
        Item* file;
        // Null when the file's own are to be looked up.
        Item* folder;
        Item* name;
    };
    void IndexFiles(const ScanTypes& i_types, std::vector<UnindexedFile>& io_files);
    // Returns the number of folders that vanished.
    int RemoveVanishedFolders();

    // Folders whose scan is under way, by the path text the scan was given.
    std::set<QString> m_foldersBeingScanned;
    // Resolved paths of the folders on the current recursion path: a link back to one of them
    // would otherwise make the scan recurse without end.
    std::set<QString> m_resolvedScanPath;
    int m_filesAdded = 0;
    int m_filesRemoved = 0;

    // ---- Answering searches, share lists, folder contents and MP3 results ----
    // (SharedFoldersManagerAnswering.cpp, SharedFoldersManagerSharing.cpp; the ties to the
    // other engines and the MP3 scanner's thread are m_engineLinks)
public:
    // What search replies tell of our upload queue; see UploadPolicy for the defaults.
    void SetUploadPolicy(UploadPolicy i_policy);
    // Answers another user's search with peer message 9; true when a reply went out.
    bool ProcessSearch(QString i_user, unsigned int i_req, QString i_text);
    // Every folder and file the user may see, by folder path with backslashes; the table stays
    // as it is.
    void GetSharedFilesAsUserShare(QString i_user, FileInfoMap& o_files,
                                   AttributeTranslationTable& o_table);
    // The whole peer message 5 for the user; empty when it could not be built within the frame
    // limit.
    MemStream GetSharedFilesMessage(QString i_user);
    // Bodies of messages 5, 9 and 37 are one zlib stream after the code. The longest message
    // body sent: what peers take as one frame.
    static const quint32 MaxMessageLength;

public slots:
    void OnDirectFileSearch(QString i_user, quint32 i_req, QString i_search);
    void OnDNetSearchRequest(QString i_user, quint32 i_req, QString i_searchText);
    void OnSharedFileListRequested(QString i_user);
    void OnFilesInFoldersRequested(QString i_user, quint32 i_req, QString i_folder);
    void OnConnectedToServer();
    void OnReceivedUserStats(QString i_user, UserStats i_stats);
    void OnMP3Scanned(QString i_file, int i_mpegVersion, QString i_channelMode, int i_frequency,
                      bool i_isVBR, int i_bitrate);
    // Marks each file with the stamp it had when it failed, so that it is asked again only
    // once it changed.
    void OnMP3ScanFailed(QStringList i_files, QStringList i_stamps);

signals:
    // Every search of another user, and whether it was answered.
    void SearchProcessed(QString i_search, bool i_match);

private:
    // The code and the body compressed, or false (logged in the area) when zlib fails or the
    // message would not fit in one frame.
    static bool CompressMessage(quint32 i_code, const MemStream& i_body, const QString& i_area,
                                const QString& i_user, MemStream& o_message);
    // A record's extension and attributes: "mp3" with the bitrate and its mode for a name that
    // ends in ".mp3" in any case, nothing for any other.
    // The two types are `bitrate` and `bitrate_mode`, looked up by the caller once.
    static void SetMp3Attributes(Item* ip_file, const std::string& i_name, Type* ip_bitrate,
                                 Type* ip_mode, FileInfo& io_record);

    UploadPolicy m_uploadPolicy;
    // The last member: the scanner thread stops before anything else of the manager goes.
    SharesEngineLinks m_engineLinks{*this};
};

extern SharedFoldersManager* sharedFoldersManager;
