#pragma once

#include <QDialog>

#include <memory>

class Ui_SharedFilesRescannedDialog;

// The few lines that report a rescan of the shared folders; deletes itself when closed.
class SharedFilesRescannedDialog : public QDialog
{
    Q_OBJECT

public:
    explicit SharedFilesRescannedDialog(QWidget* ip_parent = nullptr);
    ~SharedFilesRescannedDialog() override;

    void Append(const QString& i_line);
    QString Text() const;

private:
    std::unique_ptr<Ui_SharedFilesRescannedDialog> mp_ui;
};
