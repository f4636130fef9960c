#pragma once

#include <QDialog>
#include <QString>

#include <memory>

class Ui_AdminMessageDialog;

// A message from the server's administrators with the local time it arrived. Every message gets
// a window of its own; nothing is stored. Deletes itself when closed.
class AdminMessageDialog : public QDialog
{
    Q_OBJECT

public:
    AdminMessageDialog(QString i_message, QWidget* ip_parent = nullptr);
    ~AdminMessageDialog() override;

private:
    std::unique_ptr<Ui_AdminMessageDialog> mp_ui;
};
