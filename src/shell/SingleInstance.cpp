#include "shell/SingleInstance.h"

#include <QDir>
#include <QFileInfo>

#include <unistd.h>

SingleInstance::SingleInstance(const QString& i_key) : m_lock(LockPath(i_key))
{
    // A running instance holds its lock however long it runs; only a dead one's lock is stale.
    m_lock.setStaleLockTime(0);
    m_first = m_lock.tryLock(0);
}

QString SingleInstance::LockPath(const QString& i_key)
{
    QString l_folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (l_folder.isEmpty() || !QFileInfo(l_folder).isDir())
        l_folder = QDir::tempPath();
    // The temporary folder is shared by every user: the user's id keeps the keys apart.
    return l_folder + QLatin1Char('/') + i_key + QLatin1Char('-') +
           QString::number(::getuid()) + QStringLiteral(".lock");
}
