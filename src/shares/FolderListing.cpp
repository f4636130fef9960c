#include "shares/FolderListing.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cstring>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
struct NameBytes
{
    bool ascii = true;
    bool backslash = false;
};

NameBytes Classify(const char* ip_bytes, std::size_t i_length)
{
    NameBytes l_kind;
    for (std::size_t l_at = 0; l_at < i_length; ++l_at)
    {
        const unsigned char l_byte = static_cast<unsigned char>(ip_bytes[l_at]);
        l_kind.ascii &= l_byte < 0x80;
        l_kind.backslash |= l_byte == '\\';
    }
    return l_kind;
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
        const NameBytes l_kind = Classify(lp_name, l_length);
        Entry l_entry{std::uint32_t(m_names.size()), std::uint32_t(l_length), l_isDir,
                      l_kind.ascii, !l_kind.backslash, 0};
        m_names.append(lp_name, l_length + 1);
        if (!l_entry.ascii)
        {
            // Only a name with bytes past ASCII can fail to decode: a name the file system's
            // encoding cannot read comes back from its text as other bytes.
            const QByteArray l_bytes(lp_name, int(l_length));
            const QString l_text = QFile::decodeName(l_bytes);
            l_entry.requestable &= QFile::encodeName(l_text) == l_bytes;
            l_entry.lowered = std::uint32_t(l_lowered.size());
            l_lowered.push_back(l_text.toLower());
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
    // The first eight lowered bytes of an ASCII name, read as one number, settle most
    // comparisons; equal names keep their place.
    struct Key
    {
        std::uint64_t prefix;
        std::uint32_t at;
    };
    std::vector<Key> l_keys(m_entries.size());
    for (std::uint32_t l_at = 0; l_at < l_keys.size(); ++l_at)
    {
        const Entry& l_entry = m_entries[l_at];
        std::uint64_t l_prefix = 0;
        for (std::uint32_t l_byte = 0; l_byte < 8; ++l_byte)
            l_prefix = (l_prefix << 8) |
                       (l_entry.ascii && l_byte < l_entry.length
                            ? static_cast<unsigned char>(l_lowerBytes[l_entry.offset + l_byte])
                            : 0u);
        l_keys[l_at] = Key{l_prefix, l_at};
    }
    std::sort(l_keys.begin(), l_keys.end(), [&](const Key& i_a, const Key& i_b) {
        const Entry& l_a = m_entries[i_a.at];
        const Entry& l_b = m_entries[i_b.at];
        int l_order = 0;
        if (l_a.ascii && l_b.ascii)
        {
            if (i_a.prefix != i_b.prefix)
                return i_a.prefix < i_b.prefix;
            l_order = std::string_view(l_lowerBytes.data() + l_a.offset, l_a.length)
                          .compare(std::string_view(l_lowerBytes.data() + l_b.offset, l_b.length));
        }
        else
            l_order = l_text(l_a).compare(l_text(l_b));
        return l_order != 0 ? l_order < 0 : i_a.at < i_b.at;
    });
    std::vector<Entry> l_sorted;
    l_sorted.reserve(m_entries.size());
    for (const Key& l_key : l_keys)
        l_sorted.push_back(m_entries[l_key.at]);
    m_entries.swap(l_sorted);
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
