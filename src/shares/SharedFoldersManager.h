#pragma once

#include <QObject>
#include <QString>

#include <set>
#include <vector>

#include "store/DataHandler.h"
#include "store/ItemPtr.h"
#include "store/ItemSet.h"

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
    void MP3ScanRequired(QString i_file);
    void SharedFilesRescanned(int i_filesAdded, int i_filesRemoved);

private:
    // The types one scan touches, looked up once per scan rather than once per file.
    struct ScanTypes;

    void ScanFolder(const ScanTypes& i_types, ItemPtr i_sharedFolder, const QString& i_folder);
    ItemPtr FindScannedFile(const ScanTypes& i_types, const ItemSet& i_folders,
                            const QString& i_lowerName) const;
    // The `search_token` items of a lower-case text, made when new, each once.
    static std::vector<ItemPtr> TokenItems(Type* ip_tokens, const QString& i_lowerText);
    // Returns the number of folders that vanished.
    int RemoveVanishedFolders();

    // Folders whose scan is under way, by the path text the scan was given.
    std::set<QString> m_foldersBeingScanned;
    // Resolved paths of the folders on the current recursion path: a link back to one of them
    // would otherwise make the scan recurse without end.
    std::set<QString> m_resolvedScanPath;
    int m_filesAdded = 0;
    int m_filesRemoved = 0;
};

extern SharedFoldersManager* sharedFoldersManager;
