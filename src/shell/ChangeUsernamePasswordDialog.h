#pragma once

#include <QDialog>

#include <memory>

class Ui_ChangeUsernamePasswordDialog;

// Sets the login name and password that the server link uses at its next login. From the
// toolbar it is a modeless child of the main window that deletes itself once saved; at a first
// start the caller runs it modally and owns it.
class ChangeUsernamePasswordDialog : public QDialog
{
    Q_OBJECT

public:
    ChangeUsernamePasswordDialog(bool i_firstStart, QWidget* ip_parent = nullptr);
    ~ChangeUsernamePasswordDialog() override;

    // The first-start prompt: runs the dialog modally and tells whether a user name is set
    // afterwards, that is whether the client may connect.
    static bool AskAtFirstStart();

public slots:
    // Saves both fields, trimmed; a blank one keeps the dialog open without a word.
    void accept() override;

private:
    std::unique_ptr<Ui_ChangeUsernamePasswordDialog> mp_ui;
    bool m_firstStart;
};
