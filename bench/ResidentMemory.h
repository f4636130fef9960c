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

// The most the program has held resident since it started or since ResetPeakResident, in KiB;
// 0 where the system does not tell.
inline qint64 PeakResidentKiB()
{
    QFile l_status("/proc/self/status");
    if (!l_status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& l_line : l_status.readAll().split('\n'))
        if (l_line.startsWith("VmHWM:"))
            return l_line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

// Starts the peak over from what is resident now; false where the system does not allow it.
inline bool ResetPeakResident()
{
    QFile l_clear("/proc/self/clear_refs");
    return l_clear.open(QIODevice::WriteOnly) && l_clear.write("5") == 1;
}
