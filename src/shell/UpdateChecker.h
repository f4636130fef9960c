#pragma once

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QObject>
#include <QString>
#include <QStringList>

class QNetworkReply;

// The running build, its decimal digits reading YYYYMMDD.
extern const qint64 g_currentVersion;

// Once per run, on the first login to the central server, fetches the version file from the web
// host and announces a build newer than the running one and than the one the user skipped.
// The file arrives over plain HTTP from whoever answers on the way: only its first 64 KiB are
// read, and a download is offered only at an http or https address.
class UpdateChecker : public QObject
{
    Q_OBJECT

public:
    static const int MaxReplySize = 64 * 1024;

    explicit UpdateChecker(QObject* ip_parent = nullptr);
    ~UpdateChecker() override;

    // Arms the check on the server link's Connected; call once the link exists.
    void Init();
    // Starts the one request of this run; later calls do nothing.
    void CheckForNewVersion();
    // Reads the file: the build number, the download base address, the package stem and one
    // release note per further line.
    void ReadVersionFile(const QByteArray& i_file);

signals:
    void NewVersion(qint64 i_version, QString i_downloadLink, QStringList i_description);

public slots:
    void OnConnectedToServer();
    void OnReplyReadyRead();
    void OnRequestFinished(QNetworkReply* ip_reply);

private:
    void TakeReplyBytes();

    QNetworkAccessManager m_network;
    QNetworkReply* mp_reply = nullptr;
    QByteArray m_body;
    bool m_done = false;
};
