#pragma once

#include <QString>
#include <QUrl>

// The maker's web host serves the support page, the port test and the version file. Its address
// is kept in the settings `web_host` and `web_port`; while they are unset the defaults below hold.
extern const char* const DefaultWebHost; // "www.tarnwick.net"
extern const int DefaultWebPort;         // 80

// "http://<host>:<port>" followed by the path (and query) given, which starts with "/".
QUrl WebHostUrl(const QString& i_pathAndQuery);
