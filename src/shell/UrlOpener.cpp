#include "shell/UrlOpener.h"

#include <QDesktopServices>

namespace
{
UrlHandler& Handler()
{
    static UrlHandler s_handler;
    return s_handler;
}
} // namespace

void OpenUrl(const QUrl& i_url)
{
    if (Handler())
        Handler()(i_url);
    else
        QDesktopServices::openUrl(i_url);
}

UrlHandler SetUrlHandler(UrlHandler i_handler)
{
    UrlHandler l_previous = std::move(Handler());
    Handler() = std::move(i_handler);
    return l_previous;
}
