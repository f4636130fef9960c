#include "shell/UpdateChecker.h"

#include <QBuffer>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

#include "server/Server.h"
#include "shell/WebHost.h"
#include "store/Settings.h"

const qint64 g_currentVersion = 20120915;

namespace
{
// The file is plain 8-bit text.
QString ReadTrimmedLine(QBuffer& io_buffer)
{
    return QString::fromLatin1(io_buffer.readLine()).trimmed();
}

bool IsSuccessStatus(const QNetworkReply* ip_reply)
{
    const int l_status = ip_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return l_status >= 200 && l_status <= 299;
}

// The address goes to the desktop's URL handler: only a web address may get there.
bool IsWebAddress(const QString& i_address)
{
    const QUrl l_url(i_address, QUrl::StrictMode);
    const QString l_scheme = l_url.scheme();
    return l_url.isValid() && (l_scheme == QLatin1String("http") || l_scheme == QLatin1String("https")) &&
           !l_url.host().isEmpty();
}
} // namespace

UpdateChecker::UpdateChecker(QObject* ip_parent) : QObject(ip_parent), m_network(this)
{
    connect(&m_network, &QNetworkAccessManager::finished, this, &UpdateChecker::OnRequestFinished);
}

UpdateChecker::~UpdateChecker() = default;

void UpdateChecker::Init()
{
    if (gp_server != nullptr)
        connect(gp_server, &Server::Connected, this, &UpdateChecker::OnConnectedToServer,
                Qt::UniqueConnection);
}

void UpdateChecker::OnConnectedToServer()
{
    CheckForNewVersion();
}

void UpdateChecker::CheckForNewVersion()
{
    // Neither a failed request nor a new login asks again in this run.
    if (m_done)
        return;
    m_done = true;

    QNetworkRequest l_request(WebHostUrl(QStringLiteral("/qtversion.txt")));
    l_request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                           QNetworkRequest::ManualRedirectPolicy);
    mp_reply = m_network.get(l_request);
    mp_reply->setReadBufferSize(MaxReplySize);
    connect(mp_reply, &QNetworkReply::readyRead, this, &UpdateChecker::OnReplyReadyRead);
}

void UpdateChecker::TakeReplyBytes()
{
    m_body += mp_reply->read(MaxReplySize - m_body.size());
}

void UpdateChecker::OnReplyReadyRead()
{
    if (mp_reply == nullptr || sender() != mp_reply)
        return;
    TakeReplyBytes();
    if (m_body.size() < MaxReplySize)
        return;

    // Whatever follows the cap is never read: the file is read as it stands and the transfer
    // is cut off; the manager's report of the cut then finds no request of ours.
    QNetworkReply* lp_reply = mp_reply;
    mp_reply = nullptr;
    QByteArray l_body;
    l_body.swap(m_body);
    if (IsSuccessStatus(lp_reply))
        ReadVersionFile(l_body);
    lp_reply->abort();
}

void UpdateChecker::OnRequestFinished(QNetworkReply* ip_reply)
{
    ip_reply->deleteLater();
    if (ip_reply != mp_reply)
        return;
    // An error page is no version file, whatever its body says.
    const bool l_usable = ip_reply->error() == QNetworkReply::NoError && IsSuccessStatus(ip_reply);
    if (l_usable)
        TakeReplyBytes();
    mp_reply = nullptr;
    QByteArray l_body;
    l_body.swap(m_body);
    if (l_usable)
        ReadVersionFile(l_body);
}

void UpdateChecker::ReadVersionFile(const QByteArray& i_file)
{
    QBuffer l_buffer;
    l_buffer.setData(i_file);
    l_buffer.open(QIODevice::ReadOnly);

    bool l_parsed = false;
    qint64 l_version = ReadTrimmedLine(l_buffer).toLongLong(&l_parsed);
    if (!l_parsed)
        l_version = 0;
    if (l_version <= GetSettingInt(QStringLiteral("skip_version")) || l_version <= g_currentVersion)
        return;

    const QString l_base = ReadTrimmedLine(l_buffer);
    if (l_base.isEmpty())
        return;
    const QString l_stem = ReadTrimmedLine(l_buffer);
    if (l_stem.isEmpty())
        return;

    // A last line without its line break may be cut short, so it is left out.
    QStringList l_notes;
    while (l_buffer.canReadLine())
        l_notes.append(ReadTrimmedLine(l_buffer));

    const QString l_link = l_base + QLatin1String("/Linux/") + l_stem + QLatin1String(".tgz");
    if (!IsWebAddress(l_link))
        return;
    emit NewVersion(l_version, l_link, l_notes);
}
