#pragma once

#include <QDialog>

#include <memory>

class Ui_CreateRoomDialog;

// Enters a room by name, creating it (optionally private) when it does not exist yet. Only one
// exists at a time, reached through `createRoomDialog`. Closing it only hides it, so it comes
// back as it was left; once a request is sent it goes, and the next one starts empty.
class CreateRoomDialog : public QDialog
{
    Q_OBJECT

public:
    explicit CreateRoomDialog(QWidget* ip_parent = nullptr);
    ~CreateRoomDialog() override;

    // The main window's "create_room": shows the one dialog, creating it when there is none.
    static CreateRoomDialog* Open(QWidget* ip_mainWindow);

private slots:
    void OnButtonClicked();

private:
    std::unique_ptr<Ui_CreateRoomDialog> mp_ui;
};

// The open dialog, or null.
extern CreateRoomDialog* createRoomDialog;
