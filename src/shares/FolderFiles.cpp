#include "shares/FolderFiles.h"

#include <algorithm>

#include "store/Item.h"
#include "store/ItemSet.h"

FolderFiles::FolderFiles(const ItemSet& i_files, Type* ip_name, Type* ip_lowerName)
{
    std::vector<Item*> l_lowerNames;
    m_byName.reserve(i_files.Size());
    l_lowerNames.reserve(i_files.Size());
    for (ItemPtr l_file : i_files)
    {
        Item* lp_name = l_file->FirstOf(ip_name);
        Item* lp_lower = lp_name ? lp_name->FirstOf(ip_lowerName) : nullptr;
        if (!lp_lower)
        {
            m_usable = false;
            break;
        }
        l_lowerNames.push_back(lp_lower);
        m_byName.emplace_back(lp_name->GetValue().Bytes(), l_file.Get());
    }
    std::sort(l_lowerNames.begin(), l_lowerNames.end());
    if (std::adjacent_find(l_lowerNames.begin(), l_lowerNames.end()) != l_lowerNames.end())
        m_usable = false;
    if (!m_usable)
    {
        m_byName.clear();
        return;
    }
    std::sort(m_byName.begin(), m_byName.end());
}

Item* FolderFiles::Find(std::string_view i_name) const
{
    const std::string_view l_name = i_name;
    auto l_found = std::lower_bound(m_byName.begin(), m_byName.end(), l_name,
                                    [](const auto& i_entry, std::string_view i_key) { return i_entry.first < i_key; });
    return l_found != m_byName.end() && l_found->first == l_name ? l_found->second : nullptr;
}
