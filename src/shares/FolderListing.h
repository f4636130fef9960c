#pragma once

#include <QByteArray>
#include <QString>

#include <dirent.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct stat;

// One folder's entries as a share scan takes them: its subfolders and regular files, a link
// counting as what it leads to, without hidden entries (names beginning with '.'), special
// files or broken links, in order of name ignoring letter case. A folder that cannot be read
// has no entries. Its files' metadata is read by name within the folder, which spares the
// walk down the whole path for every file. The names stay as the disk gave them, in one
// buffer: a scan of an unchanged share needs the text of few of them. Each entry tells whether
// a peer could ask for it by name, which is for the scan to judge.
class FolderListing
{
public:
    struct Entry
    {
        std::uint32_t offset;
        std::uint32_t length;
        bool isDir;
        // The name is ASCII: its UTF-8 is the disk's bytes.
        bool ascii;
        // The name holds no backslash, which paths on the wire take for a separator, and its
        // text turns back into its bytes: a peer could name it in a request.
        bool requestable;
        // Where the lower-cased text of a name that is not ASCII is kept.
        std::uint32_t lowered;
    };

    explicit FolderListing(const QString& i_folder);
    ~FolderListing();
    FolderListing(const FolderListing&) = delete;
    FolderListing& operator=(const FolderListing&) = delete;

    const std::vector<Entry>& Entries() const { return m_entries; }
    // The name as the disk holds it.
    std::string_view Bytes(const Entry& i_entry) const
    {
        return std::string_view(m_names).substr(i_entry.offset, i_entry.length);
    }
    QString Name(const Entry& i_entry) const;
    // The folder's absolute path, cleaned, as its entries' paths begin.
    const QString& AbsolutePath() const { return m_absolute; }
    const QByteArray& EncodedPath() const { return m_encoded; }
    QString PathOf(const Entry& i_entry) const { return PathOf(m_absolute, Name(i_entry)); }
    static QString PathOf(const QString& i_folder, const QString& i_name);
    // What stat tells of an entry, through a link; false when nothing can be read.
    bool Stat(const Entry& i_entry, struct stat& o_stat);
    // Lets go of the folder until the next Stat: a scan going down the tree keeps one open.
    void Close();

private:
    const char* CName(const Entry& i_entry) const { return m_names.c_str() + i_entry.offset; }

    QString m_absolute;
    QByteArray m_encoded;
    // The open folder, as the listing's stream or opened again for the metadata.
    DIR* mp_dir = nullptr;
    int m_fd = -1;
    bool m_opened = false;
    // Every name, each ended by a zero byte.
    std::string m_names;
    std::vector<Entry> m_entries;
};
