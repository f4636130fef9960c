#include "diagnostics/LogForm.h"

#include "ui_LogForm.h"

LogForm::LogForm(QWidget* ip_parent) : QWidget(ip_parent), mp_ui(new Ui_LogForm)
{
    mp_ui->setupUi(this);
}

LogForm::~LogForm()
{
    delete mp_ui;
}
