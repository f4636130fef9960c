#include "views/chat/UserGroupConfigDialog.h"

#include "shell/Desktop.h"
#include "store/Data.h"
#include "ui_UserGroupConfigDialog.h"

UserGroupConfigDialog* userGroupConfigDialog = nullptr;

UserGroupConfigDialog::UserGroupConfigDialog(QWidget* ip_parent)
    : QDialog(ip_parent), mp_ui(std::make_unique<Ui_UserGroupConfigDialog>())
{
    mp_ui->setupUi(this);
    connect(mp_ui->groupList, &QListWidget::currentItemChanged, this,
            &UserGroupConfigDialog::OnCurrentGroupItemChanged);
    connect(mp_ui->acceptUploadsCheckBox, &QCheckBox::toggled, this,
            &UserGroupConfigDialog::OnAcceptUploadsCheckboxToggled);
    connect(mp_ui->prioritySpinBox, QOverload<int>::of(&QSpinBox::valueChanged), this,
            &UserGroupConfigDialog::OnPrioritySpinValueChanged);
    connect(mp_ui->deleteButton, &QPushButton::clicked, this,
            &UserGroupConfigDialog::OnDeleteClicked);
    setAttribute(Qt::WA_DeleteOnClose);
    userGroupConfigDialog = this;

    Type* lp_groups = d.GetType("user_list_group");
    lp_groups->m_newItemEvent.AddHandler(
        NewEventHandler(this, &UserGroupConfigDialog::OnUserGroupAdded));
    lp_groups->m_removedEvent.AddHandler(
        NewEventHandler(this, &UserGroupConfigDialog::OnUserGroupRemoved));
    for (ItemPtr l_group : lp_groups->GetItems())
        OnUserGroupAdded(l_group);
    EnableControls(false);
}

UserGroupConfigDialog::~UserGroupConfigDialog()
{
    if (userGroupConfigDialog == this)
        userGroupConfigDialog = nullptr;
}

void UserGroupConfigDialog::EnableControls(bool i_enabled)
{
    mp_ui->prioritySpinBox->setEnabled(i_enabled);
    mp_ui->acceptUploadsCheckBox->setEnabled(i_enabled);
    mp_ui->deleteButton->setEnabled(i_enabled);
}

void UserGroupConfigDialog::OnUserGroupAdded(ItemPtr i_group)
{
    mp_ui->groupList->addItem(i_group.AsString());
}

void UserGroupConfigDialog::OnUserGroupRemoved(ItemPtr i_group)
{
    const QString l_name = i_group.AsString();
    for (int l_row = 0; l_row < mp_ui->groupList->count(); ++l_row)
        if (mp_ui->groupList->item(l_row)->text() == l_name)
        {
            delete mp_ui->groupList->takeItem(l_row);
            return;
        }
}

ItemPtr UserGroupConfigDialog::CurrentGroup() const
{
    const QListWidgetItem* lp_row = mp_ui->groupList->currentItem();
    return lp_row ? d.GetType("user_list_group")->HasItem(lp_row->text()) : ItemPtr();
}

void UserGroupConfigDialog::OnCurrentGroupItemChanged(QListWidgetItem* ip_current,
                                                      QListWidgetItem* /*ip_previous*/)
{
    EnableControls(ip_current != nullptr);
    mp_ui->groupBox->setTitle(ip_current ? ip_current->text() : QString());
    const ItemPtr l_group = CurrentGroup();
    if (!l_group)
        return;
    // The slots write the same values back, which changes nothing.
    mp_ui->prioritySpinBox->setValue(l_group["group_download_priority"].AsInt());
    mp_ui->acceptUploadsCheckBox->setChecked(l_group.IsConnected("accept_uploads"));
}

void UserGroupConfigDialog::OnPrioritySpinValueChanged(int i_value)
{
    const ItemPtr l_group = CurrentGroup();
    if (!l_group)
        return;
    if (i_value > 0)
        l_group += d.GetType("group_download_priority")->GetItem(Value(i_value));
    else
        l_group.Disconnect("group_download_priority");
}

void UserGroupConfigDialog::OnAcceptUploadsCheckboxToggled(bool i_checked)
{
    const ItemPtr l_group = CurrentGroup();
    if (!l_group)
        return;
    if (i_checked)
        l_group += d.GetType("accept_uploads")->GetGlobalNullItem();
    else
        l_group.Disconnect("accept_uploads");
}

void UserGroupConfigDialog::OnDeleteClicked()
{
    const QMessageBox::StandardButton l_answer = Desktop::ShowMessageBox(
        QMessageBox::Question, nullptr, tr("Delete group?"),
        tr("Are you sure you want to delete this user group?"),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (l_answer != QMessageBox::Yes)
        return;
    // Its removal takes its row out, and the next row becomes current.
    if (const ItemPtr l_group = CurrentGroup())
        l_group.Remove();
}
