#pragma once

#include <QProxyStyle>

class QString;

// A style that hands every operation to the style of the given name, which it owns. A name the
// style factory does not know leaves the application's own style underneath.
class ProxyStyle : public QProxyStyle
{
    Q_OBJECT

public:
    explicit ProxyStyle(const QString& i_name);
};
