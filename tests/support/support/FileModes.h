#pragma once

#include <QDir>
#include <QFile>
#include <QStringList>

#include <sys/stat.h>

#include "support/support/QtPrinters.h"

// Sets the process's umask while it lives and puts the one before it back.
class ScopedUmask
{
public:
    explicit ScopedUmask(mode_t i_mask) : m_before(::umask(i_mask)) {}
    ~ScopedUmask() { ::umask(m_before); }
    ScopedUmask(const ScopedUmask&) = delete;
    ScopedUmask& operator=(const ScopedUmask&) = delete;

private:
    const mode_t m_before;
};

// The permission bits of a file in octal ("600"), or "missing"; a link is not followed.
inline QString FileMode(const QString& i_path)
{
    struct stat l_status;
    if (::lstat(QFile::encodeName(i_path).constData(), &l_status) != 0)
        return QStringLiteral("missing");
    return QString::number(l_status.st_mode & 07777, 8);
}

// "name mode" for every entry of a folder, hidden ones included, by name.
inline QStringList FileModes(const QString& i_folder)
{
    QStringList l_modes;
    const QDir l_dir(i_folder);
    for (const QString& l_name :
         l_dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name))
        l_modes << l_name + " " + FileMode(l_dir.filePath(l_name));
    return l_modes;
}
