#include "views/transfers/TransferRowTallies.h"

#include <utility>

#include "store/Data.h"

bool TransferRowTallies::HasPosition(ItemPtr i_entry) const
{
    return bool(i_entry[m_upload ? "read_position" : "write_position"]);
}

void TransferRowTallies::Place(Item* ip_entry, const Counted& i_counted, bool i_positioned)
{
    for (QTreeWidgetItem* lp_group : {i_counted.folder, i_counted.user})
        if (lp_group)
        {
            std::set<Item*>& l_positioned = m_groups[lp_group].positioned;
            if (i_positioned)
                l_positioned.insert(ip_entry);
            else
                l_positioned.erase(ip_entry);
        }
}

void TransferRowTallies::Join(ItemPtr i_entry, QTreeWidgetItem* ip_folder, QTreeWidgetItem* ip_user)
{
    Leave(i_entry);
    Counted& l_counted = m_entries[i_entry.Get()];
    l_counted.folder = ip_folder;
    l_counted.user = ip_user;
    l_counted.share = TransferGroupTally::ShareOf(i_entry, m_upload);
    for (QTreeWidgetItem* lp_group : {ip_folder, ip_user})
        if (lp_group)
            m_groups[lp_group].tally.Add(l_counted.share);
    if (HasPosition(i_entry))
        Place(i_entry.Get(), l_counted, true);
}

void TransferRowTallies::Leave(ItemPtr i_entry)
{
    const auto l_found = m_entries.find(i_entry.Get());
    if (l_found == m_entries.end())
        return;
    Counted& l_counted = l_found->second;
    m_resized.erase(i_entry.Get());
    Place(i_entry.Get(), l_counted, false);
    for (QTreeWidgetItem* lp_group : {l_counted.folder, l_counted.user})
        if (lp_group)
            m_groups[lp_group].tally.Take(l_counted.share);
    m_entries.erase(l_found);
}

void TransferRowTallies::Recount(ItemPtr i_entry)
{
    const auto l_found = m_entries.find(i_entry.Get());
    if (l_found == m_entries.end())
        return;
    Counted& l_counted = l_found->second;
    const TransferGroupTally::Share l_share = TransferGroupTally::ShareOf(i_entry, m_upload);
    for (QTreeWidgetItem* lp_group : {l_counted.folder, l_counted.user})
        if (lp_group)
        {
            TransferGroupTally& l_tally = m_groups[lp_group].tally;
            l_tally.Take(l_counted.share);
            l_tally.Add(l_share);
        }
    l_counted.share = l_share;
}

void TransferRowTallies::Resize(ItemPtr i_entry)
{
    if (m_entries.count(i_entry.Get()))
        m_resized.insert(i_entry.Get());
}

void TransferRowTallies::RecountResized()
{
    for (Item* lp_entry : std::exchange(m_resized, {}))
        Recount(ItemPtr(lp_entry));
}

void TransferRowTallies::Reposition(ItemPtr i_entry)
{
    const auto l_found = m_entries.find(i_entry.Get());
    if (l_found != m_entries.end())
        Place(i_entry.Get(), l_found->second, HasPosition(i_entry));
}

void TransferRowTallies::Forget(QTreeWidgetItem* ip_group)
{
    m_groups.erase(ip_group);
}

void TransferRowTallies::Clear()
{
    m_entries.clear();
    m_groups.clear();
    m_resized.clear();
}

const TransferGroupTally* TransferRowTallies::Find(QTreeWidgetItem* ip_group)
{
    RecountResized();
    const auto l_found = m_groups.find(ip_group);
    return l_found == m_groups.end() ? nullptr : &l_found->second.tally;
}

TransferGroupTally TransferRowTallies::WithMoved(QTreeWidgetItem* ip_group)
{
    RecountResized();
    const auto l_found = m_groups.find(ip_group);
    if (l_found == m_groups.end())
        return TransferGroupTally();
    TransferGroupTally l_tally = l_found->second.tally;
    for (Item* lp_entry : l_found->second.positioned)
    {
        const TransferGroupTally::Share& l_share = m_entries.at(lp_entry).share;
        if (TransferGroupTally::CountsMoved(l_share.standing))
            l_tally.AddMoved(l_share, TransferGroupTally::Moved(lp_entry, m_upload));
    }
    return l_tally;
}
