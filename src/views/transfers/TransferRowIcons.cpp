#include "views/transfers/TransferRowIcons.h"

#include <QIcon>

const QIcon& TransferRowIcons::Online(bool i_online)
{
    static const QIcon s_online(":/icons/online_icon");
    static const QIcon s_offline(":/icons/offline_icon");
    return i_online ? s_online : s_offline;
}

const QIcon& TransferRowIcons::Alert()
{
    static const QIcon s_alert(":/icons/alert_icon");
    return s_alert;
}
