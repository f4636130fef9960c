#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

class Item;
class ItemSet;
class Type;

// The files a `shared_file_folder` item holds, by the exact bytes of their names, for matching
// a listing of the folder to them. Unusable when two of them share a name but for letter case
// (or, by chance, the hash of their lower-case names): which one a listed name stands for is
// then for the look-up by lower-case name to decide.
class FolderFiles
{
public:
    FolderFiles(const ItemSet& i_files, Type* ip_name, Type* ip_lowerName);

    bool Usable() const { return m_usable; }
    bool Empty() const { return m_byName.empty(); }
    // The file of that name, and its `shared_file_name` item.
    std::pair<Item*, Item*> Find(std::string_view i_name) const;

    // The key of a look-up item (GetAbsoluteFileName) of a name or path whose bytes are all
    // ASCII, lowered byte by byte without leaving UTF-8; false, and no key, for any other.
    static bool AsciiLookupKey(std::string_view i_utf8, std::string& o_key);

private:
    bool m_usable = true;
    struct Entry
    {
        // A view of the name item's own value.
        std::string_view name;
        Item* file;
        Item* nameItem;
    };
    // Sorted by name.
    std::vector<Entry> m_byName;
};
