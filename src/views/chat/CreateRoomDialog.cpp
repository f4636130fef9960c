#include "views/chat/CreateRoomDialog.h"

#include "server/Server.h"
#include "shell/UIFunctions.h"
#include "ui_CreateRoomDialog.h"

CreateRoomDialog* createRoomDialog = nullptr;

CreateRoomDialog::CreateRoomDialog(QWidget* ip_parent)
    : QDialog(ip_parent), mp_ui(std::make_unique<Ui_CreateRoomDialog>())
{
    mp_ui->setupUi(this);
    connect(mp_ui->createRoomButton, &QPushButton::clicked, this, &CreateRoomDialog::OnButtonClicked);
    createRoomDialog = this;
}

CreateRoomDialog::~CreateRoomDialog()
{
    // A sent dialog lets go of the pointer before it is deleted, and a fresh one may hold it by
    // then.
    if (createRoomDialog == this)
        createRoomDialog = nullptr;
}

CreateRoomDialog* CreateRoomDialog::Open(QWidget* ip_mainWindow)
{
    CreateRoomDialog* lp_dialog = createRoomDialog ? createRoomDialog : new CreateRoomDialog(ip_mainWindow);
    lp_dialog->show();
    lp_dialog->raise();
    ActivateWindow(lp_dialog);
    return lp_dialog;
}

void CreateRoomDialog::OnButtonClicked()
{
    const QString l_room = mp_ui->roomNameEdit->text().trimmed();
    if (l_room.isEmpty() || gp_server == nullptr)
        return;
    gp_server->EnterRoom(l_room, mp_ui->createPrivateCheckBox->isChecked());
    // Gone for the next "create_room" at once; deleted once the button's click has returned.
    createRoomDialog = nullptr;
    hide();
    deleteLater();
}
