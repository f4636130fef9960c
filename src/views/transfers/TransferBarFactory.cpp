#include "views/transfers/TransferBarFactory.h"

#include <QProgressBar>

#include "views/transfers/TransferBarDelegate.h"

TransferBarFactory& TransferBarFactory::Get()
{
    static TransferBarFactory s_factory;
    return s_factory;
}

QWidget* TransferBarFactory::createEditor(int, QWidget* ip_parent) const
{
    auto* lp_bar = new QProgressBar(ip_parent);
    lp_bar->setMaximumHeight(TransferBarDelegate::MaximumHeight);
    return lp_bar;
}

QByteArray TransferBarFactory::valuePropertyName(int) const
{
    return QByteArray();
}
