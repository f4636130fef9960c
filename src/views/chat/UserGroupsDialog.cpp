#include "views/chat/UserGroupsDialog.h"

#include <QSignalBlocker>

#include "store/Data.h"
#include "ui_UserGroupsDialog.h"

namespace
{
ItemPtr ListEntry(const QString& i_user)
{
    return d.GetType("user")->GetItem(i_user)["in_user_list"];
}
} // namespace

UserGroupsDialog::UserGroupsDialog(QString i_user, QWidget* ip_parent)
    : QDialog(ip_parent), mp_ui(std::make_unique<Ui_UserGroupsDialog>()), m_user(std::move(i_user))
{
    mp_ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    d.GetType("user_list_group")->m_newItemEvent.AddHandler(
        NewEventHandler(this, &UserGroupsDialog::OnUserGroupAdded));
    setWindowTitle(tr("User Groups for [%1]").arg(m_user));
    const ItemPtr l_entry = ListEntry(m_user);
    for (ItemPtr l_group : g("user_list_group"))
        AddRow(l_group.AsString(), l_entry && l_entry.IsConnected(l_group));
    // Filling the list is no change of the user's groups.
    connect(mp_ui->groupListWidget, &QListWidget::itemChanged, this,
            &UserGroupsDialog::OnGroupItemChanged);
    connect(mp_ui->newGroupButton, &QPushButton::clicked, this,
            &UserGroupsDialog::OnNewGroupButtonClicked);
}

UserGroupsDialog::~UserGroupsDialog() = default;

void UserGroupsDialog::AddRow(const QString& i_group, bool i_ticked)
{
    auto* lp_row = new QListWidgetItem(i_group);
    lp_row->setFlags(lp_row->flags() | Qt::ItemIsUserCheckable);
    lp_row->setCheckState(i_ticked ? Qt::Checked : Qt::Unchecked);
    mp_ui->groupListWidget->addItem(lp_row);
}

void UserGroupsDialog::OnUserGroupAdded(ItemPtr i_group)
{
    AddRow(i_group.AsString(), false);
}

// A user who has left the list meanwhile, or a group deleted elsewhere, gets nothing: the group
// is never made again, and the box goes back to what the store holds.
void UserGroupsDialog::OnGroupItemChanged(QListWidgetItem* ip_row)
{
    const Qt::CheckState l_state = ip_row->checkState();
    if (l_state == Qt::PartiallyChecked || ip_row->text().isEmpty())
        return;
    const ItemPtr l_entry = ListEntry(m_user);
    const ItemPtr l_group = d.GetType("user_list_group")->HasItem(ip_row->text());
    if (!l_entry || !l_group)
    {
        if (l_state == Qt::Checked)
        {
            const QSignalBlocker l_restoring(mp_ui->groupListWidget);
            ip_row->setCheckState(Qt::Unchecked);
        }
        return;
    }
    const bool l_member = l_entry.IsConnected(l_group);
    if (l_state == Qt::Checked && !l_member)
        l_entry += l_group;
    else if (l_state == Qt::Unchecked && l_member)
        l_entry -= l_group;
}

void UserGroupsDialog::OnNewGroupButtonClicked()
{
    const QString l_name = mp_ui->newGroupEdit->text().trimmed();
    mp_ui->newGroupEdit->clear();
    if (!l_name.isEmpty())
        d.GetType("user_list_group")->GetItem(l_name);
}
