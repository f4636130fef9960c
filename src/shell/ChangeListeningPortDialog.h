#pragma once

#include <QDialog>

#include <memory>

class Ui_ChangeListeningPortDialog;

// Chooses the port other clients connect to. The listeners stay where they are while the
// program runs: the choice waits in `new_listening_port` for the next start. A modeless child
// of the main window that deletes itself once a port is chosen.
class ChangeListeningPortDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ChangeListeningPortDialog(QWidget* ip_parent = nullptr);
    ~ChangeListeningPortDialog() override;

    // The obfuscated listener takes the port after this one, so this is the highest a user
    // may choose.
    static constexpr int s_highestPort = 65534;

public slots:
    void accept() override;

private:
    std::unique_ptr<Ui_ChangeListeningPortDialog> mp_ui;
};
