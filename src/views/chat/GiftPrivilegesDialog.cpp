#include "views/chat/GiftPrivilegesDialog.h"

#include <utility>

#include "server/Server.h"
#include "ui_GiftPrivilegesDialog.h"

GiftPrivilegesDialog::GiftPrivilegesDialog(QString i_user, QWidget* ip_parent)
    : QDialog(ip_parent), mp_ui(std::make_unique<Ui_GiftPrivilegesDialog>()),
      m_user(std::move(i_user))
{
    mp_ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(tr("Gift Privileges to ") + m_user);
    // Up to four digits, so 0 to 9999 days and never a sign or a letter.
    mp_ui->daysEdit->setInputMask("0000");
    connect(mp_ui->giftButton, &QPushButton::clicked, this, &GiftPrivilegesDialog::OnGiftClicked);
}

GiftPrivilegesDialog::~GiftPrivilegesDialog() = default;

void GiftPrivilegesDialog::OnGiftClicked()
{
    const int l_days = mp_ui->daysEdit->text().toInt();
    if (l_days == 0 || gp_server == nullptr)
        return;
    gp_server->GiftPrivileges(m_user, l_days);
    // Later, since the button that called us is ours.
    deleteLater();
}
