#pragma once

#include <QWidget>

class Ui_LogForm;

// A plain page holding one text browser for log lines.
class LogForm : public QWidget
{
    Q_OBJECT

public:
    explicit LogForm(QWidget* ip_parent = nullptr);
    ~LogForm() override;

private:
    Ui_LogForm* mp_ui;
};
