#pragma once

#include <QObject>
#include <QString>

#include "store/DataHandler.h"
#include "store/ItemPtr.h"
#include "store/ItemSet.h"

class QMenu;

// The download entries of the downloads list's context menu: open, retry, remove, the
// completion alerts and the search that found a download. The caller builds the menu on the
// spot, adds this on its stack and runs the menu. A chosen download may be removed while the
// menu runs its own event loop (a completion while finished downloads are cleared); it then
// leaves the chosen set, and the slots act on those left.
class DownloadMenuOptions : public QObject, public DataHandler
{
    Q_OBJECT

public:
    DownloadMenuOptions(QMenu* ip_menu, ItemSet i_entries, QObject* ip_parent = nullptr);
    ~DownloadMenuOptions() override;

    // Hands the download's file, or its folder, to the desktop: the one path opened is the one
    // the transfer queues give for it.
    static void OpenTarget(ItemPtr i_entry, bool i_file);

public slots:
    void OnOpenFile();
    void OnOpenFolder();
    void OnRetryDownloads();
    void OnRemoveDownloads();
    void OnSetFileDownloadAlert();
    void OnSetFolderDownloadAlert();
    void OnSetUserDownloadAlert();
    void OnRerunSearch();

private:
    void OnEntryRemoved(ItemPtr i_entry);
    void AddAlertEntries(QMenu* ip_menu);
    // The one user (or remote folder) the chosen downloads share; null when they have several.
    ItemPtr SingleUser() const;
    ItemPtr SingleFolder() const;
    ItemPtr FirstEntry() const;

    ItemSet m_entries;
    QString m_searchText;
};
