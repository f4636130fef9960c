#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

#include <memory>

class Ui_NewVersionDialog;

// Offers a newer build: the running and the offered build, the release notes, a button that
// opens the download in the browser (the dialog stays open) and one that skips this build for
// good. Closing it any other way stores nothing. Deletes itself when closed.
class NewVersionDialog : public QDialog
{
    Q_OBJECT

public:
    NewVersionDialog(qint64 i_version, QString i_downloadLink, QStringList i_description,
                     QWidget* ip_parent = nullptr);
    ~NewVersionDialog() override;

    // "Build 9/15/2012" for 20120915: month, day and year without leading zeros.
    static QString BuildText(qint64 i_version);

public slots:
    void OnDownloadButtonClicked();
    void OnSkipButtonClicked();

private:
    std::unique_ptr<Ui_NewVersionDialog> mp_ui;
    qint64 m_version;
    QString m_downloadLink;
};
