#pragma once

#include <QDialog>
#include <QString>

class Ui_UserNoteDialog;

// Edits the free-text note on one user. At most one is open per user: while open it is recorded
// by a `user_note_dialog` item valued by its address and connected to the user. A note is
// stored trimmed, as a `user_note` item shared by every user with the same text; saving a blank
// note takes the user's note away.
class UserNoteDialog : public QDialog
{
    Q_OBJECT

public:
    // Declares `user_note_dialog`; once, after `user` and `user_note` exist.
    static void Init();
    // The user's open dialog brought forward, or a new one without a parent; the caller shows it.
    static UserNoteDialog* GetDialog(QString i_user);

    UserNoteDialog(QString i_user, QWidget* ip_parent = nullptr);
    ~UserNoteDialog() override;

public slots:
    void OnSaveNote();
    void OnClearNote();

private:
    Ui_UserNoteDialog* mp_ui;
    QString m_user;
};
