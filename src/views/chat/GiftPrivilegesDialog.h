#pragma once

#include <QDialog>
#include <QString>

#include <memory>

class Ui_GiftPrivilegesDialog;

// Gives a user some days of our own privileges. The server neither confirms nor answers, so the
// dialog goes as soon as the request is sent; closing it sends nothing. Deletes itself when
// closed.
class GiftPrivilegesDialog : public QDialog
{
    Q_OBJECT

public:
    GiftPrivilegesDialog(QString i_user, QWidget* ip_parent = nullptr);
    ~GiftPrivilegesDialog() override;

private slots:
    void OnGiftClicked();

private:
    std::unique_ptr<Ui_GiftPrivilegesDialog> mp_ui;
    const QString m_user;
};
