#pragma once

#include <QUrl>

#include <functional>

// Web pages, folders and downloads are opened through one replaceable handler, so that tests can
// record the addresses instead of starting a browser. The default hands them to the desktop.
using UrlHandler = std::function<void(const QUrl&)>;

void OpenUrl(const QUrl& i_url);

// Installs a handler (an empty one restores the desktop's) and returns the one it replaced.
UrlHandler SetUrlHandler(UrlHandler i_handler);
