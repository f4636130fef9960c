#include "shares/FolderFiles.h"

#include <algorithm>
#include <cstdint>

#include "store/Item.h"
#include "store/ItemSet.h"
#include "store/ValueIndex.h"

namespace
{
// A hash of the value a name's look-up item has, made as the look-up item is made; a name that
// is not ASCII is read from its look-up item. Two names alike but for letter case hash alike.
bool LookupHash(Item* ip_name, Type* ip_lowerName, std::string& io_key, std::uint64_t& o_hash)
{
    const std::string_view l_bytes = ip_name->GetValue().Bytes();
    if (FolderFiles::AsciiLookupKey(l_bytes, io_key))
    {
        o_hash = ValueIndex::Hash(io_key);
        return true;
    }
    Item* lp_lower = ip_name->FirstOf(ip_lowerName);
    if (!lp_lower)
        return false;
    o_hash = ValueIndex::Hash(lp_lower->GetValue().Bytes());
    return true;
}
} // namespace

bool FolderFiles::AsciiLookupKey(std::string_view i_utf8, std::string& o_key)
{
    if (!std::all_of(i_utf8.begin(), i_utf8.end(), [](char i_c) { return (i_c & 0x80) == 0; }))
        return false;
    if (!i_utf8.empty() && (i_utf8.back() == '/' || i_utf8.back() == '\\'))
        i_utf8.remove_suffix(1);
    o_key.assign(i_utf8);
    for (char& l_c : o_key)
        if (l_c >= 'A' && l_c <= 'Z')
            l_c = char(l_c - 'A' + 'a');
    return true;
}

FolderFiles::FolderFiles(const ItemSet& i_files, Type* ip_name, Type* ip_lowerName)
{
    std::vector<std::uint64_t> l_lowerNames;
    std::string l_key;
    m_byName.reserve(i_files.Size());
    l_lowerNames.reserve(i_files.Size());
    i_files.ForEachMember([&](Item* ip_file) {
        if (!m_usable)
            return;
        Item* lp_name = ip_file->FirstOf(ip_name);
        std::uint64_t l_hash = 0;
        if (!lp_name || !LookupHash(lp_name, ip_lowerName, l_key, l_hash))
        {
            m_usable = false;
            return;
        }
        l_lowerNames.push_back(l_hash);
        m_byName.push_back(Entry{lp_name->GetValue().Bytes(), ip_file, lp_name});
    });
    // A hash shared by chance only sends the listing to the look-up by lower-case name.
    std::sort(l_lowerNames.begin(), l_lowerNames.end());
    if (std::adjacent_find(l_lowerNames.begin(), l_lowerNames.end()) != l_lowerNames.end())
        m_usable = false;
    if (!m_usable)
    {
        m_byName.clear();
        return;
    }
    std::sort(m_byName.begin(), m_byName.end(),
              [](const Entry& i_a, const Entry& i_b) { return i_a.name < i_b.name; });
}

std::pair<Item*, Item*> FolderFiles::Find(std::string_view i_name) const
{
    auto l_found = std::lower_bound(m_byName.begin(), m_byName.end(), i_name,
                                    [](const Entry& i_entry, std::string_view i_key) { return i_entry.name < i_key; });
    if (l_found == m_byName.end() || l_found->name != i_name)
        return {nullptr, nullptr};
    return {l_found->file, l_found->nameItem};
}
