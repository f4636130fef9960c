#pragma once

#include <QFile>
#include <QtGlobal>

// The program's resident memory now, in KiB; 0 where the system does not tell.
inline qint64 ResidentKiB()
{
    QFile l_statm("/proc/self/statm");
    if (!l_statm.open(QIODevice::ReadOnly))
        return 0;
    return l_statm.readAll().split(' ').value(1).toLongLong() * 4;
}
