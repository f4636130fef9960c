#pragma once

#include <QDialog>
#include <QString>

#include <memory>

class Ui_AddUserDialog;

// Adds a user to the user list once the server confirms the name exists. Deleted when closed.
class AddUserDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AddUserDialog(QWidget* ip_parent = nullptr);
    ~AddUserDialog() override;

public slots:
    void OnAddUserClicked();
    void OnAddUserResponse(QString i_user, bool i_exists);

private:
    void SetWaiting(bool i_waiting);

    std::unique_ptr<Ui_AddUserDialog> mp_ui;
    // The name sent and not answered yet; empty when none is.
    QString m_pendingName;
};
