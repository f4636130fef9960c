#include "views/search/ShareForm.h"

#include <QIcon>
#include <QMenu>
#include <QSignalBlocker>
#include <QTextBrowser>

#include <utility>

#include "peer/PeerMessenger.h"
#include "shares/SharedFoldersManager.h"
#include "shell/Desktop.h"
#include "shell/EventToolBar.h"
#include "shell/WebHost.h"
#include "store/Data.h"
#include "store/Settings.h"
#include "store/ToQString.h"
#include "transfers/TransferQueueManager.h"
#include "ui_ShareForm.h"

namespace
{
const char* const BrowseIcon = ":/icons/browse_icon";

void AddNotice(const QString& i_user, QWidget* ip_widget)
{
    if (eventToolBar)
        eventToolBar->AddEvent(i_user, BrowseIcon, ip_widget, QString());
}
} // namespace

ShareForm::ShareForm(QString i_user, QWidget* ip_parent)
    : ShareTreeForm(i_user, "user_share_tab", ip_parent), mp_ui(std::make_unique<Ui_ShareForm>()),
      m_queuedIcon(":/icons/download_icon")
{
    mp_ui->setupUi(this);
    PrepareLists(mp_ui->folderTree, mp_ui->fileList, mp_ui->filterEdit, mp_ui->filterHelpButton,
                 "share_folders", "share_files");
    mp_ui->messageBrowser->append("Requesting file list...");
    // Links go to the desktop's browser, never into the message area.
    connect(mp_ui->messageBrowser, &QTextBrowser::anchorClicked, this,
            [](const QUrl& i_url) { Desktop::OpenWebPage(i_url); });
    if (peerMessenger)
        connect(peerMessenger, &PeerMessenger::ConnectionToUserFailed, this,
                &ShareForm::OnConnectionToUserFailed);

    mp_ui->folderTree->setContextMenuPolicy(Qt::CustomContextMenu);
    mp_ui->fileList->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(mp_ui->folderTree, &QWidget::customContextMenuRequested, this,
            &ShareForm::OnFolderContextMenuRequested);
    connect(mp_ui->fileList, &QWidget::customContextMenuRequested, this,
            &ShareForm::OnFileContextMenuRequested);
}

ShareForm::~ShareForm() = default;

void ShareForm::SetShare(ItemPtr i_share)
{
    if (m_share || !i_share)
        return;
    m_answered = true;
    m_share = i_share;
    d.GetType("user_share")->m_removedEvent.AddHandler(
        NewEventHandler(this, &ShareForm::OnUserShareItemRemoved));

    if (!i_share.IsConnected("user_share_folder"))
    {
        mp_ui->messageBrowser->append(QStringLiteral(
            "No files returned. The user is either not sharing any files, or is sharing all of their files privately."));
        AddNotice(m_user, mp_ui->messageBrowser);
        return;
    }
    FillFolderTree(i_share);
    m_expandLevel = 0;
    mp_ui->messageBrowser->hide();
    ShowLists(true);
    AddNotice(m_user, mp_ui->folderTree);
    connect(mp_ui->folderTree, &QTreeWidget::itemDoubleClicked, this, &ShareForm::OnFolderDoubleClicked);
    connect(mp_ui->fileList, &QTreeWidget::itemDoubleClicked, this, &ShareForm::OnFileDoubleClicked);
    if (!m_pendingFolder.empty())
        BrowseToFolder(std::exchange(m_pendingFolder, std::string()));
}

void ShareForm::OnUserShareItemRemoved(ItemPtr i_share)
{
    if (i_share == m_share)
        m_share = ItemPtr();
}

void ShareForm::BrowseToFolder(const std::string& i_folder)
{
    if (!m_share)
    {
        m_pendingFolder = i_folder;
        return;
    }
    QTreeWidgetItem* lp_row = RowOf(FolderInTree(m_share, i_folder), "user_share_folder_node");
    if (!lp_row)
        return;
    mp_ui->folderTree->scrollToItem(lp_row, QAbstractItemView::PositionAtTop);
    mp_ui->folderTree->setCurrentItem(lp_row);
}

void ShareForm::Delete()
{
    m_share = ItemPtr();
    if (sharedFoldersManager)
        sharedFoldersManager->RemoveUserShare(m_user);
    RemoveTabRecord();
    deleteLater();
}

QString ShareForm::Uploader(ItemPtr i_folder) const
{
    return i_folder["user_share"]["user"].AsString();
}

void ShareForm::MarkQueued(const std::vector<QTreeWidgetItem*>& i_rows)
{
    if (i_rows.empty())
        return;
    {
        // Each row's change alone would be checked against the list's order and laid out
        // again; the rows are one line high whatever their icon, so one repaint does for all.
        const QSignalBlocker l_quiet(mp_ui->fileList->model());
        for (QTreeWidgetItem* lp_row : i_rows)
            lp_row->setIcon(0, m_queuedIcon);
    }
    mp_ui->fileList->viewport()->update();
}

void ShareForm::DownloadFolder(ItemPtr i_folder, bool i_below)
{
    const QString l_user = Uploader(i_folder);
    if (!transferQueueManager || l_user.isEmpty())
        return;
    std::vector<TransferQueueManager::DownloadRequest> l_requests;
    std::vector<QTreeWidgetItem*> l_rows;
    Type* lp_files = d.GetType("user_share_file");
    ForEachFolderBelow(i_folder, [&](ItemPtr i_each, bool i_eachBelow) {
        const std::string l_path = FolderPath(i_each);
        const int l_level = i_below || i_eachBelow ? 1 : 0;
        for (ItemPtr l_file : ConnectedSet(i_each, lp_files))
        {
            const std::string l_name = FileName(l_file);
            if (transferQueueManager->HasExcludedDownloadExtension(ToQString(l_name)))
                continue;
            l_requests.push_back({l_name, l_path, l_file["file_size"].AsInt64(), l_level});
            if (QTreeWidgetItem* lp_row = RowOf(l_file, "user_share_file_node"))
                l_rows.push_back(lp_row);
        }
    });
    MarkQueued(l_rows);
    transferQueueManager->AddDownloads(l_user, std::move(l_requests));
}

void ShareForm::DownloadFiles(const QList<QTreeWidgetItem*>& i_rows)
{
    if (!transferQueueManager)
        return;
    // A file chosen by itself is queued whatever its ending.
    std::vector<TransferQueueManager::DownloadRequest> l_requests;
    std::vector<QTreeWidgetItem*> l_rows;
    QString l_user;
    for (QTreeWidgetItem* lp_row : i_rows)
        if (const ItemPtr l_file = FileOfRow(lp_row))
        {
            const ItemPtr l_folder = l_file["user_share_folder"];
            l_user = Uploader(l_folder);
            l_requests.push_back({FileName(l_file), FolderPath(l_folder), l_file["file_size"].AsInt64(), 0});
            l_rows.push_back(lp_row);
        }
    if (l_user.isEmpty())
        return;
    MarkQueued(l_rows);
    transferQueueManager->AddDownloads(l_user, std::move(l_requests));
}

void ShareForm::OnDownloadFolder()
{
    for (QTreeWidgetItem* lp_row : mp_ui->folderTree->selectedItems())
        if (ItemPtr l_folder = FolderOfRow(lp_row))
            DownloadFolder(l_folder, false);
}

void ShareForm::OnFolderDoubleClicked(QTreeWidgetItem* ip_item, int)
{
    if (ItemPtr l_folder = FolderOfRow(ip_item))
        DownloadFolder(l_folder, false);
}

void ShareForm::OnDownloadFile()
{
    DownloadFiles(mp_ui->fileList->selectedItems());
}

void ShareForm::OnFileDoubleClicked(QTreeWidgetItem* ip_item, int)
{
    DownloadFiles({ip_item});
}

void ShareForm::OnFolderContextMenuRequested(QPoint i_point)
{
    if (!mp_ui->folderTree->itemAt(i_point))
        return;
    QMenu l_menu;
    l_menu.addAction(QIcon(":/icons/transfer_icon"), "Download Folder", this, &ShareForm::OnDownloadFolder);
    Desktop::RunPopupMenu(l_menu, mp_ui->folderTree->viewport()->mapToGlobal(i_point));
}

void ShareForm::OnFileContextMenuRequested(QPoint i_point)
{
    QMenu l_menu;
    l_menu.addAction(QIcon(":/icons/transfer_icon"), "Download File(s)", this, &ShareForm::OnDownloadFile);
    Desktop::RunPopupMenu(l_menu, mp_ui->fileList->viewport()->mapToGlobal(i_point));
}

void ShareForm::OnConnectionToUserFailed(QString i_user, QString i_connectionType)
{
    if (m_answered || i_user != m_user || i_connectionType != QLatin1String("P"))
        return;
    m_answered = true;
    const QString l_link =
        WebHostUrl(QString("/porttest.php?port=%1").arg(GetSettingInt("listening_port"))).toString();
    mp_ui->messageBrowser->append(
        QStringLiteral("A connection could not be successfully formed to the user. If this is happening to you a lot, ") +
        QString("<a href=\"%1\">Check here</a> to make sure that your port is open.").arg(l_link.toHtmlEscaped()));
    AddNotice(m_user, mp_ui->messageBrowser);
}

void ShareForm::showEvent(QShowEvent* ip_event)
{
    ShareTreeForm::showEvent(ip_event);
    if (eventToolBar)
        eventToolBar->RemoveEvents(mp_ui->folderTree);
}
