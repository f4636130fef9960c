#include "views/search/UploadForm.h"

#include <QIcon>

#include "shares/SharedFoldersManager.h"
#include "shell/ActionSetToolBar.h"
#include "store/Data.h"
#include "store/ToQString.h"
#include "transfers/TransferQueueManager.h"
#include "ui_UploadForm.h"

UploadForm::UploadForm(QString i_user, QWidget* ip_parent)
    : ShareTreeForm(i_user, "upload_share_tab", ip_parent), mp_ui(std::make_unique<Ui_UploadForm>())
{
    mp_ui->setupUi(this);
    PrepareLists(mp_ui->folderTree, mp_ui->fileList, mp_ui->filterEdit, mp_ui->filterHelpButton,
                 "upload_folders", "upload_files");
}

UploadForm::~UploadForm() = default;

void UploadForm::SetShare(ItemPtr i_share)
{
    m_share = i_share;
    FillFolderTree(i_share);
    if (actionBar)
        connect(actionBar, &ActionSetToolBar::ActionTriggered, this, &UploadForm::OnActionBarTriggered);
    m_expandLevel = 0;
    ShowLists(true);
}

void UploadForm::Delete()
{
    RemoveTabRecord();
    const ItemPtr l_share = m_share;
    m_share = ItemPtr();
    SharedFoldersManager::RemoveShareTree(l_share);
    deleteLater();
}

void UploadForm::Upload(ItemPtr i_file)
{
    if (transferQueueManager)
        transferQueueManager->AddUpload(
            m_user, ToQString(FolderPath(i_file["user_share_folder"]) + '\\' + FileName(i_file)));
    // A refused file keeps its mark too: the transfer queues log why.
    if (QTreeWidgetItem* lp_row = RowOf(i_file, "user_share_file_node"))
        lp_row->setIcon(0, QIcon(":/icons/upload_icon"));
}

void UploadForm::UploadFolder(ItemPtr i_folder)
{
    ForEachFolderBelow(i_folder, [this](ItemPtr i_each, bool) {
        for (ItemPtr l_file : i_each.GetItems("user_share_file"))
            Upload(l_file);
    });
}

void UploadForm::OnActionBarTriggered(QWidget* ip_widget, QString i_action)
{
    if (i_action == QLatin1String("upload_share_folder") && ip_widget == mp_ui->folderTree)
    {
        for (QTreeWidgetItem* lp_row : mp_ui->folderTree->selectedItems())
            if (ItemPtr l_folder = FolderOfRow(lp_row))
                UploadFolder(l_folder);
    }
    else if (i_action == QLatin1String("upload_share_file") && ip_widget == mp_ui->fileList)
    {
        for (QTreeWidgetItem* lp_row : mp_ui->fileList->selectedItems())
            if (ItemPtr l_file = FileOfRow(lp_row))
                Upload(l_file);
    }
}
