#include "shares/FolderListing.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
bool IsAscii(const char* ip_bytes, std::size_t i_length)
{
    for (std::size_t l_at = 0; l_at < i_length; ++l_at)
        if (static_cast<unsigned char>(ip_bytes[l_at]) >= 0x80)
            return false;
    return true;
}

char Lower(char i_c)
{
    return i_c >= 'A' && i_c <= 'Z' ? char(i_c - 'A' + 'a') : i_c;
}

} // namespace

FolderListing::FolderListing(const QString& i_folder)
    : m_absolute(QDir::cleanPath(QDir(i_folder).absolutePath())),
      m_encoded(QFile::encodeName(m_absolute))
{
    const int l_fd = ::open(m_encoded.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* lp_dir = l_fd >= 0 ? ::fdopendir(l_fd) : nullptr;
    if (!lp_dir)
    {
        if (l_fd >= 0)
            ::close(l_fd);
        return;
    }
    mp_dir = lp_dir;
    m_fd = ::dirfd(lp_dir);
    m_opened = true;
    // The lower-cased texts of names that are not ASCII, which are compared as text.
    std::vector<QString> l_lowered;
    while (const dirent* lp_entry = ::readdir(lp_dir))
    {
        const char* lp_name = lp_entry->d_name;
        if (lp_name[0] == '.')
            continue;
        bool l_keep = lp_entry->d_type == DT_DIR || lp_entry->d_type == DT_REG;
        bool l_isDir = lp_entry->d_type == DT_DIR;
        if (lp_entry->d_type == DT_LNK || lp_entry->d_type == DT_UNKNOWN)
        {
            struct stat l_stat;
            l_keep = ::fstatat(m_fd, lp_name, &l_stat, 0) == 0 &&
                     (S_ISDIR(l_stat.st_mode) || S_ISREG(l_stat.st_mode));
            l_isDir = l_keep && S_ISDIR(l_stat.st_mode);
        }
        if (!l_keep)
            continue;
        const std::size_t l_length = std::strlen(lp_name);
        Entry l_entry{std::uint32_t(m_names.size()), std::uint32_t(l_length), l_isDir,
                      IsAscii(lp_name, l_length), 0};
        m_names.append(lp_name, l_length + 1);
        if (!l_entry.ascii)
        {
            l_entry.lowered = std::uint32_t(l_lowered.size());
            l_lowered.push_back(QFile::decodeName(QByteArray(lp_name, int(l_length))).toLower());
        }
        m_entries.push_back(l_entry);
    }
    // ASCII names are compared lowered byte by byte, which orders them as their 16-bit texts
    // would be; any name that is not ASCII is compared as lower-cased text. Names alike but for
    // letter case keep the order the folder gave them in.
    std::string l_lowerBytes(m_names);
    for (char& l_c : l_lowerBytes)
        l_c = Lower(l_c);
    const auto l_text = [&](const Entry& i_entry) {
        return i_entry.ascii ? QString::fromLatin1(l_lowerBytes.data() + i_entry.offset, int(i_entry.length))
                             : l_lowered[i_entry.lowered];
    };
    std::stable_sort(m_entries.begin(), m_entries.end(), [&](const Entry& i_a, const Entry& i_b) {
        if (i_a.ascii && i_b.ascii)
            return std::string_view(l_lowerBytes).substr(i_a.offset, i_a.length) <
                   std::string_view(l_lowerBytes).substr(i_b.offset, i_b.length);
        return l_text(i_a).compare(l_text(i_b)) < 0;
    });
}

FolderListing::~FolderListing()
{
    Close();
}

QString FolderListing::Name(const Entry& i_entry) const
{
    return i_entry.ascii ? QString::fromLatin1(CName(i_entry), int(i_entry.length))
                         : QFile::decodeName(QByteArray(CName(i_entry), int(i_entry.length)));
}

QString FolderListing::PathOf(const QString& i_folder, const QString& i_name)
{
    return i_folder.endsWith('/') ? i_folder + i_name : i_folder + '/' + i_name;
}

bool FolderListing::Stat(const Entry& i_entry, struct stat& o_stat)
{
    if (!mp_dir && m_fd < 0 && m_opened)
        m_fd = ::open(m_encoded.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_fd >= 0)
        return ::fstatat(m_fd, CName(i_entry), &o_stat, 0) == 0;
    return ::stat(QFile::encodeName(PathOf(i_entry)).constData(), &o_stat) == 0;
}

void FolderListing::Close()
{
    if (mp_dir)
        ::closedir(mp_dir);
    else if (m_fd >= 0)
        ::close(m_fd);
    mp_dir = nullptr;
    m_fd = -1;
}
