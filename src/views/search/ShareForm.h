#pragma once

#include <QIcon>
#include <QPoint>
#include <QString>

#include <memory>
#include <string>
#include <vector>

#include "views/search/ShareTreeForm.h"

class QShowEvent;
class Ui_ShareForm;

// A browse tab: another user's shared files, asked for when the tab opens. Until the list comes
// the tab shows a message area only: "Requesting file list...", then the failure text when no
// connection to the user could be made. Files are queued for download one by one, by selection
// or by whole folders with everything below them.
class ShareForm : public ShareTreeForm
{
    Q_OBJECT

public:
    ShareForm(QString i_user, QWidget* ip_parent);
    ~ShareForm() override;

    // Shows the user's tree. Only the first list counts: a tab that already shows one keeps its
    // rows and tree, and closing and opening the tab again asks anew.
    void SetShare(ItemPtr i_share);
    // Selects a folder by its full remote path, as received (bytes, backslash separators);
    // before the list has come, once it has. A name in another encoding than UTF-8 would not
    // come back the same from display text.
    void BrowseToFolder(const std::string& i_folder);
    // The user's tree goes, and the next tab of the user's asks anew.
    void Delete() override;

    // Queues every file of the folder and of all folders below it, the chosen folder's at
    // level 0 (level 1 with i_below), the rest at level 1; excluded endings are skipped. The
    // files are taken now and queued behind the download work that waits, a slice at a time,
    // whatever becomes of the tab meanwhile; their rows in the file list are marked at once.
    void DownloadFolder(ItemPtr i_folder, bool i_below);

    void OnUserShareItemRemoved(ItemPtr i_share);

public slots:
    void OnConnectionToUserFailed(QString i_user, QString i_connectionType);
    void OnFolderDoubleClicked(QTreeWidgetItem* ip_item, int i_column);
    void OnFileDoubleClicked(QTreeWidgetItem* ip_item, int i_column);
    void OnFolderContextMenuRequested(QPoint i_point);
    void OnFileContextMenuRequested(QPoint i_point);
    void OnDownloadFolder();
    void OnDownloadFile();

protected:
    void showEvent(QShowEvent* ip_event) override;

private:
    // The chosen files of the file list, one by one whatever their ending.
    void DownloadFiles(const QList<QTreeWidgetItem*>& i_rows);
    // The uploader of the shown tree; empty when there is none.
    QString Uploader(ItemPtr i_folder) const;
    // The rows show that their files are queued.
    void MarkQueued(const std::vector<QTreeWidgetItem*>& i_rows);

    std::unique_ptr<Ui_ShareForm> mp_ui;
    // Made once: the toolkit looks the file up again for every icon made from its name.
    const QIcon m_queuedIcon;
    // A list or a failure has been shown; a failure is shown only before.
    bool m_answered = false;
    // A folder BrowseToFolder was asked for before the list came.
    std::string m_pendingFolder;
};
