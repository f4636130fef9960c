#include "shell/AdminMessageDialog.h"

#include <QDateTime>
#include <QLocale>

#include "ui_AdminMessageDialog.h"

AdminMessageDialog::AdminMessageDialog(QString i_message, QWidget* ip_parent)
    : QDialog(ip_parent), mp_ui(std::make_unique<Ui_AdminMessageDialog>())
{
    mp_ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    // The administrators may format their message: mark-up is rendered, plain text keeps its
    // line breaks.
    mp_ui->textEdit->setText(i_message);
    mp_ui->timeEdit->setText(
        QLocale::c().toString(QDateTime::currentDateTime(), QStringLiteral("MMM d h:mm:ss ap")));
}

AdminMessageDialog::~AdminMessageDialog() = default;
