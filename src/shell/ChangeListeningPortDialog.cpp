#include "shell/ChangeListeningPortDialog.h"

#include <QRegularExpressionValidator>

#include "shell/Desktop.h"
#include "store/Settings.h"
#include "ui_ChangeListeningPortDialog.h"

ChangeListeningPortDialog::ChangeListeningPortDialog(QWidget* ip_parent)
    : QDialog(ip_parent), mp_ui(std::make_unique<Ui_ChangeListeningPortDialog>())
{
    mp_ui->setupUi(this);
    // No sign, blank or leading zero can be typed. The mask alone lets a digit that does not fit
    // the first place land in the next one, behind a blank (a 0 typed first would be taken as a
    // leading zero), so the text must also be digits from the first place on, blanks after them.
    mp_ui->portEdit->setInputMask("D9999");
    mp_ui->portEdit->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("([1-9][0-9]{0,4})? *")), mp_ui->portEdit));
    mp_ui->portEdit->setText(GetSetting("listening_port"));
}

ChangeListeningPortDialog::~ChangeListeningPortDialog() = default;

void ChangeListeningPortDialog::accept()
{
    const int l_port = mp_ui->portEdit->text().toInt();
    if (l_port < 1 || l_port > s_highestPort)
    {
        Desktop::ShowMessageBox(QMessageBox::Information, this, tr("Invalid Port Number"),
                                tr("Port number must be in the range of 1 to %1.").arg(s_highestPort));
        return;
    }
    // Compared with the port in use, not a pending one: choosing the pending port again
    // simply stores it again.
    if (l_port == GetSettingInt("listening_port"))
    {
        Desktop::ShowMessageBox(QMessageBox::Information, this, tr("Port Number Not Changed"),
                                tr("Port number has not been changed."));
        return;
    }
    QDialog::accept();
    SetSetting("new_listening_port", QString::number(l_port));
    Desktop::ShowMessageBox(
        QMessageBox::Information, this, tr("Change to Listening Port Pending"),
        tr("Changes to the listening port will take effect after a client restart."));
    deleteLater();
}
