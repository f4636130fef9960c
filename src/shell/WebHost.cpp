#include "shell/WebHost.h"

#include "store/Settings.h"

const char* const DefaultWebHost = "www.tarnwick.net";
const int DefaultWebPort = 80;

QUrl WebHostUrl(const QString& i_pathAndQuery)
{
    QString l_host = GetSetting("web_host").trimmed();
    if (l_host.isEmpty())
        l_host = DefaultWebHost;
    bool l_valid = false;
    int l_port = GetSetting("web_port").toInt(&l_valid);
    if (!l_valid || l_port < 1 || l_port > 65535)
        l_port = DefaultWebPort;
    return QUrl(QStringLiteral("http://%1:%2%3").arg(l_host).arg(l_port).arg(i_pathAndQuery));
}
