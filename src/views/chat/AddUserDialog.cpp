#include "views/chat/AddUserDialog.h"

#include "server/Server.h"
#include "store/Data.h"
#include "ui_AddUserDialog.h"

AddUserDialog::AddUserDialog(QWidget* ip_parent)
    : QDialog(ip_parent), mp_ui(std::make_unique<Ui_AddUserDialog>())
{
    mp_ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    connect(mp_ui->addFriendButton, &QPushButton::clicked, this, &AddUserDialog::OnAddUserClicked);
    if (gp_server)
        connect(gp_server, &Server::AddUserResponse, this, &AddUserDialog::OnAddUserResponse);
}

AddUserDialog::~AddUserDialog() = default;

void AddUserDialog::SetWaiting(bool i_waiting)
{
    mp_ui->userNameEdit->setReadOnly(i_waiting);
    mp_ui->addFriendButton->setEnabled(!i_waiting);
}

void AddUserDialog::OnAddUserClicked()
{
    const QString l_name = mp_ui->userNameEdit->text().trimmed();
    if (l_name.isEmpty())
    {
        mp_ui->statusEdit->setText(tr("User name must not be empty."));
        return;
    }
    if (!gp_server || !gp_server->IsConnected())
    {
        mp_ui->statusEdit->setText(tr("Must be online to add a user to your list."));
        return;
    }
    const ItemPtr l_user = d.GetType("user")->HasItem(l_name);
    if (l_user && l_user.IsConnected("in_user_list"))
    {
        mp_ui->statusEdit->setText(tr("User already in list."));
        return;
    }
    mp_ui->statusEdit->setText(tr("Adding user..."));
    SetWaiting(true);
    m_pendingName = l_name;
    gp_server->AddUser(l_name);
}

// The server sends the same answer when it starts tracking a user, so only the name asked for
// counts.
void AddUserDialog::OnAddUserResponse(QString i_user, bool i_exists)
{
    if (m_pendingName.isEmpty() || i_user != m_pendingName)
        return;
    SetWaiting(false);
    m_pendingName.clear();
    if (!i_exists)
    {
        mp_ui->statusEdit->setText(tr("User name does not exist."));
        return;
    }
    d.GetType("user")->GetItem(i_user).NewItem("in_user_list");
    mp_ui->statusEdit->setText(tr("User added to list."));
}
