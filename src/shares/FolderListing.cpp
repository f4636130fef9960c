#include "shares/FolderListing.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <numeric>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
bool IsAscii(const char* ip_bytes)
{
    for (; *ip_bytes; ++ip_bytes)
        if (static_cast<unsigned char>(*ip_bytes) >= 0x80)
            return false;
    return true;
}

// The key names are ordered by: the lower-cased name. An ASCII one is lowered byte by byte,
// which orders as its 16-bit text would; any other as text.
struct SortKey
{
    std::string ascii;
    QString text;
    bool isAscii = true;
};

int Compare(const SortKey& i_a, const SortKey& i_b)
{
    if (i_a.isAscii && i_b.isAscii)
        return i_a.ascii.compare(i_b.ascii);
    const QString l_a = i_a.isAscii ? QString::fromLatin1(i_a.ascii.data(), int(i_a.ascii.size())) : i_a.text;
    const QString l_b = i_b.isAscii ? QString::fromLatin1(i_b.ascii.data(), int(i_b.ascii.size())) : i_b.text;
    return l_a.compare(l_b);
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
    m_fd = ::dirfd(lp_dir);
    m_opened = true;
    std::vector<SortKey> l_keys;
    while (const dirent* lp_entry = ::readdir(lp_dir))
    {
        const char* lp_name = lp_entry->d_name;
        if (lp_name[0] == '.')
            continue;
        Entry l_entry;
        bool l_keep = lp_entry->d_type == DT_DIR || lp_entry->d_type == DT_REG;
        l_entry.isDir = lp_entry->d_type == DT_DIR;
        if (lp_entry->d_type == DT_LNK || lp_entry->d_type == DT_UNKNOWN)
        {
            struct stat l_stat;
            l_keep = ::fstatat(m_fd, lp_name, &l_stat, 0) == 0 &&
                     (S_ISDIR(l_stat.st_mode) || S_ISREG(l_stat.st_mode));
            l_entry.isDir = l_keep && S_ISDIR(l_stat.st_mode);
        }
        if (!l_keep)
            continue;
        l_entry.bytes = lp_name;
        l_entry.ascii = IsAscii(lp_name);
        SortKey l_key;
        if (l_entry.ascii)
        {
            l_entry.name = QString::fromLatin1(lp_name, int(l_entry.bytes.size()));
            l_key.ascii = l_entry.bytes;
            for (char& l_c : l_key.ascii)
                if (l_c >= 'A' && l_c <= 'Z')
                    l_c = char(l_c - 'A' + 'a');
        }
        else
        {
            l_entry.name = QFile::decodeName(QByteArray(lp_name, int(l_entry.bytes.size())));
            l_key.text = l_entry.name.toLower();
            l_key.isAscii = false;
        }
        m_entries.push_back(std::move(l_entry));
        l_keys.push_back(std::move(l_key));
    }
    // Names alike but for letter case keep the order the folder gave them in.
    std::vector<std::size_t> l_order(m_entries.size());
    std::iota(l_order.begin(), l_order.end(), std::size_t(0));
    std::stable_sort(l_order.begin(), l_order.end(), [&](std::size_t i_a, std::size_t i_b) {
        return Compare(l_keys[i_a], l_keys[i_b]) < 0;
    });
    std::vector<Entry> l_sorted;
    l_sorted.reserve(m_entries.size());
    for (std::size_t l_at : l_order)
        l_sorted.push_back(std::move(m_entries[l_at]));
    m_entries.swap(l_sorted);
    // The stream and its descriptor stay for the files' metadata.
    mp_dir = lp_dir;
}

FolderListing::~FolderListing()
{
    Close();
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
        return ::fstatat(m_fd, i_entry.bytes.c_str(), &o_stat, 0) == 0;
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
