#include "shell/ProxyStyle.h"

#include <QStyleFactory>

ProxyStyle::ProxyStyle(const QString& i_name) : QProxyStyle(QStyleFactory::create(i_name)) {}
