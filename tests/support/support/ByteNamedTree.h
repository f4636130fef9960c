#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

// A tree of files named by their bytes, which need not be text in the file names' encoding, and
// so may be out of Qt's reach; it is removed, byte by byte, with the object.
class ByteNamedTree
{
public:
    explicit ByteNamedTree(const QString& i_folder) : m_folder(QFile::encodeName(i_folder)) {}
    ~ByteNamedTree()
    {
        ::nftw(m_folder.constData(), [](const char* ip_path, const struct stat*, int, FTW*) { return std::remove(ip_path); }, 16,
               FTW_DEPTH | FTW_PHYS);
    }
    ByteNamedTree(const ByteNamedTree&) = delete;
    ByteNamedTree& operator=(const ByteNamedTree&) = delete;

    // A file by its path below the tree ('/' between folders), the folders on the way made.
    bool Write(const QByteArray& i_relative, const QByteArray& i_content) const
    {
        QByteArray l_path = m_folder;
        if (::mkdir(l_path.constData(), 0700) != 0 && errno != EEXIST)
            return false;
        const QList<QByteArray> l_parts = i_relative.split('/');
        for (int l_at = 0; l_at + 1 < l_parts.size(); ++l_at)
        {
            l_path += '/' + l_parts[l_at];
            if (::mkdir(l_path.constData(), 0700) != 0 && errno != EEXIST)
                return false;
        }
        l_path += '/' + l_parts.last();
        const int l_fd = ::open(l_path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (l_fd < 0)
            return false;
        const bool l_written =
            ::write(l_fd, i_content.constData(), static_cast<std::size_t>(i_content.size())) == i_content.size();
        return ::close(l_fd) == 0 && l_written;
    }

private:
    const QByteArray m_folder;
};
