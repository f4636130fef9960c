#include "views/search/FilterHelpDialog.h"

#include "ui_FilterHelpDialog.h"

FilterHelpDialog* filterHelpDialog = nullptr;

FilterHelpDialog::FilterHelpDialog(QWidget* ip_parent)
    : QDialog(ip_parent), mp_ui(std::make_unique<Ui_FilterHelpDialog>())
{
    mp_ui->setupUi(this);
    filterHelpDialog = this;
    setAttribute(Qt::WA_DeleteOnClose);
}

FilterHelpDialog::~FilterHelpDialog()
{
    if (filterHelpDialog == this)
        filterHelpDialog = nullptr;
}

FilterHelpDialog* FilterHelpDialog::Open(QWidget* ip_parent)
{
    if (!filterHelpDialog)
        new FilterHelpDialog(ip_parent);
    filterHelpDialog->show();
    filterHelpDialog->raise();
    return filterHelpDialog;
}

QString FilterHelpDialog::HelpText() const
{
    return mp_ui->textEdit->toPlainText();
}
