#include "views/search/SharedFilesRescannedDialog.h"

#include "ui_SharedFilesRescannedDialog.h"

SharedFilesRescannedDialog::SharedFilesRescannedDialog(QWidget* ip_parent)
    : QDialog(ip_parent), mp_ui(std::make_unique<Ui_SharedFilesRescannedDialog>())
{
    mp_ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    connect(mp_ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(mp_ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

SharedFilesRescannedDialog::~SharedFilesRescannedDialog() = default;

void SharedFilesRescannedDialog::Append(const QString& i_line)
{
    mp_ui->plainTextEdit->appendPlainText(i_line);
}

QString SharedFilesRescannedDialog::Text() const
{
    return mp_ui->plainTextEdit->toPlainText();
}
