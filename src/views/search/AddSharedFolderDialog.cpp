#include "views/search/AddSharedFolderDialog.h"

#include "shares/SharedFoldersManager.h"
#include "shell/Desktop.h"
#include "store/Data.h"
#include "store/Type.h"
#include "ui_AddSharedFolderDialog.h"

AddSharedFolderDialog::AddSharedFolderDialog(ItemPtr i_folder, QWidget* ip_parent)
    : QDialog(ip_parent), mp_ui(std::make_unique<Ui_AddSharedFolderDialog>())
{
    mp_ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    connect(mp_ui->buttonBox, &QDialogButtonBox::accepted, this, &AddSharedFolderDialog::accept);
    connect(mp_ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(mp_ui->selectFolderButton, &QPushButton::clicked, this,
            &AddSharedFolderDialog::OnSelectFolderClicked);
    connect(mp_ui->everyoneCheckBox, &QCheckBox::stateChanged, this,
            &AddSharedFolderDialog::OnAccessibleToEveryoneCheckStateChanged);
    connect(mp_ui->userListCheckBox, &QCheckBox::stateChanged, this,
            &AddSharedFolderDialog::OnAccessibleToUserListCheckStateChanged);

    m_folder = i_folder;
    if (m_folder)
    {
        // The dialog is not modal: the folder may be unshared while it is open, and its handle
        // would then name a removed item.
        d.GetType("shared_folder")
            ->m_removedEvent.AddHandler(NewEventHandler(this, &AddSharedFolderDialog::OnSharedFolderRemoved));
        // An existing folder keeps its path; only its audience changes here.
        mp_ui->selectFolderButton->setEnabled(false);
        mp_ui->selectedFolderEdit->setEnabled(false);
        mp_ui->selectedFolderEdit->setText(m_folder.AsString());
        const bool l_public = m_folder.IsConnected("shared_public");
        mp_ui->everyoneCheckBox->setChecked(l_public);
        mp_ui->userListCheckBox->setChecked(l_public || m_folder.IsConnected("shared_userlist"));
    }
    for (ItemPtr l_group : d.GetType("user_list_group")->GetItems())
    {
        auto* lp_row = new QListWidgetItem(l_group.AsString(), mp_ui->groupsListWidget);
        lp_row->setFlags(lp_row->flags() | Qt::ItemIsUserCheckable);
        lp_row->setCheckState(m_folder && m_folder.IsConnected(l_group) ? Qt::Checked
                                                                         : Qt::Unchecked);
    }
}

AddSharedFolderDialog::~AddSharedFolderDialog() = default;

void AddSharedFolderDialog::OnSharedFolderRemoved(ItemPtr i_folder)
{
    if (i_folder != m_folder)
        return;
    // With no path left, an OK still on its way shares nothing again.
    m_folder = ItemPtr();
    mp_ui->selectedFolderEdit->setText(QString());
    reject();
}

void AddSharedFolderDialog::OnAccessibleToEveryoneCheckStateChanged(int i_state)
{
    if (i_state == Qt::Checked)
    {
        mp_ui->userListCheckBox->setEnabled(false);
        mp_ui->userListCheckBox->setChecked(true);
        mp_ui->groupsListWidget->setEnabled(false);
    }
    else if (i_state == Qt::Unchecked)
    {
        mp_ui->userListCheckBox->setEnabled(true);
        mp_ui->groupsListWidget->setEnabled(!mp_ui->userListCheckBox->isChecked());
    }
}

void AddSharedFolderDialog::OnAccessibleToUserListCheckStateChanged(int i_state)
{
    if (i_state == Qt::Checked)
        mp_ui->groupsListWidget->setEnabled(false);
    else if (i_state == Qt::Unchecked)
        mp_ui->groupsListWidget->setEnabled(true);
}

void AddSharedFolderDialog::OnSelectFolderClicked()
{
    const QStringList l_folders = Desktop::ChooseFiles(this, tr("Select Folder to Share"), true);
    if (!l_folders.isEmpty())
        mp_ui->selectedFolderEdit->setText(l_folders.first());
}

void AddSharedFolderDialog::accept()
{
    const QString l_path = mp_ui->selectedFolderEdit->text();
    if (l_path.isEmpty())
        return;
    ItemPtr l_folder = m_folder ? m_folder : sharedFoldersManager->AddSharedFolder(l_path);
    if (mp_ui->everyoneCheckBox->isChecked())
        l_folder.NewItem("shared_public");
    else
    {
        l_folder.Disconnect("shared_public");
        if (mp_ui->userListCheckBox->isChecked())
            l_folder.NewItem("shared_userlist");
        else
        {
            l_folder.Disconnect("shared_userlist");
            Type* lp_groups = d.GetType("user_list_group");
            for (int l_row = 0; l_row < mp_ui->groupsListWidget->count(); ++l_row)
            {
                QListWidgetItem* lp_row = mp_ui->groupsListWidget->item(l_row);
                // A group deleted while the dialog was open stays deleted.
                ItemPtr l_group = lp_groups->HasItem(lp_row->text());
                if (!l_group)
                    continue;
                if (lp_row->checkState() == Qt::Checked)
                    l_folder += l_group;
                else
                    l_folder.Disconnect(l_group);
            }
        }
    }
    QDialog::accept();
}
