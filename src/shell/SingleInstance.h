#pragma once

#include <QLockFile>
#include <QString>

// Lets one process per user run under a key. The first takes a lock file in the user's runtime
// folder (the temporary folder when there is none); while it lives, later processes find the
// lock held. A lock left by a process that died is taken over.
class SingleInstance
{
public:
    explicit SingleInstance(const QString& i_key);
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    bool IsFirst() const { return m_first; }
    static QString LockPath(const QString& i_key);

private:
    QLockFile m_lock;
    bool m_first = false;
};
