#include "transfers/DownloadIndex.h"

#include <algorithm>
#include <string_view>

#include "store/ConnectionInfo.h"
#include "store/Data.h"
#include "transfers/TransferStatus.h"

namespace
{
const char* const Entries = "download_entry";
const char* const Users = "user";
const char* const Folders = "remote_folder";
const char* const Statuses = "download_entry_status";

bool Is(const Item* ip_status, const char* i_text)
{
    return ip_status && ip_status->GetValue().Bytes() == std::string_view(i_text);
}

bool IsType(const Item* ip_item, const char* i_type)
{
    return ip_item->GetType()->GetName() == i_type;
}

const ItemSet& NoEntries()
{
    static const ItemSet s_none;
    return s_none;
}
} // namespace

DownloadIndex::DownloadIndex()
{
    Type* lp_entries = d.GetType(Entries);
    for (const char* lp_part : {Users, Folders, Statuses})
    {
        d.AddConnectionEventHandler(lp_entries, d.GetType(lp_part),
                                    NewEventHandler(this, &DownloadIndex::OnConnected));
        d.AddDisconnectionEventHandler(lp_entries, d.GetType(lp_part),
                                       NewEventHandler(this, &DownloadIndex::OnDisconnected));
    }
    lp_entries->m_removedEvent.AddHandler(NewEventHandler(this, &DownloadIndex::OnEntryRemoved));
}

const ItemSet& DownloadIndex::Queued(ItemPtr i_user) const
{
    const auto l_user = m_users.find(i_user.Get());
    return l_user == m_users.end() ? NoEntries() : l_user->second.queued;
}

const ItemSet& DownloadIndex::Requeueable(ItemPtr i_user) const
{
    const auto l_user = m_users.find(i_user.Get());
    return l_user == m_users.end() ? NoEntries() : l_user->second.requeueable;
}

bool DownloadIndex::IsDownloadingFrom(ItemPtr i_user) const
{
    const auto l_user = m_users.find(i_user.Get());
    return l_user != m_users.end() && l_user->second.downloading > 0;
}

bool DownloadIndex::AllComplete(ItemPtr i_remoteFolder) const
{
    return m_unfinishedInFolder.count(i_remoteFolder.Get()) == 0;
}

std::vector<ItemPtr> DownloadIndex::UsersWithQueued() const
{
    std::vector<std::pair<Item*, Item*>> l_firsts;
    for (const auto& [lp_user, l_figures] : m_users)
        if (!l_figures.queued.Empty())
            l_firsts.emplace_back((*l_figures.queued.Begin()).Get(), lp_user);
    std::sort(l_firsts.begin(), l_firsts.end(),
              [](const auto& i_a, const auto& i_b) { return ItemPtr(i_a.first) < ItemPtr(i_b.first); });
    std::vector<ItemPtr> l_users;
    l_users.reserve(l_firsts.size());
    for (const auto& l_first : l_firsts)
        l_users.emplace_back(l_first.second);
    return l_users;
}

Item** DownloadIndex::PartOf(Parts& io_parts, Item* ip_item) const
{
    if (IsType(ip_item, Users))
        return &io_parts.user;
    if (IsType(ip_item, Folders))
        return &io_parts.folder;
    return &io_parts.status;
}

void DownloadIndex::OnConnected(ConnectionInfo& i_info)
{
    Parts& l_parts = m_entries[i_info.from];
    Count(i_info.from, l_parts, -1);
    *PartOf(l_parts, i_info.to) = i_info.to;
    Count(i_info.from, l_parts, +1);
}

void DownloadIndex::OnDisconnected(ConnectionInfo& i_info)
{
    const auto l_entry = m_entries.find(i_info.from);
    if (l_entry == m_entries.end())
        return;
    Parts& l_parts = l_entry->second;
    Item** lp_part = PartOf(l_parts, i_info.to);
    if (*lp_part != i_info.to)
        return;
    Count(i_info.from, l_parts, -1);
    *lp_part = nullptr;
    Count(i_info.from, l_parts, +1);
}

// The entry's connections go after this, and find it forgotten.
void DownloadIndex::OnEntryRemoved(ItemPtr i_entry)
{
    const auto l_entry = m_entries.find(i_entry.Get());
    if (l_entry == m_entries.end())
        return;
    Count(i_entry.Get(), l_entry->second, -1);
    m_entries.erase(l_entry);
}

void DownloadIndex::Count(Item* ip_entry, const Parts& i_parts, int i_sign)
{
    namespace status = transfer_status;
    if (i_parts.folder && !Is(i_parts.status, status::Complete))
    {
        int& l_unfinished = m_unfinishedInFolder[i_parts.folder];
        if ((l_unfinished += i_sign) <= 0)
            m_unfinishedInFolder.erase(i_parts.folder);
    }
    if (!i_parts.user)
        return;
    const bool l_queued = Is(i_parts.status, status::Queued);
    const bool l_requeueable = !Is(i_parts.status, status::Complete) && !Is(i_parts.status, status::Denied);
    const bool l_downloading = Is(i_parts.status, status::Downloading);
    if (!l_queued && !l_requeueable && !l_downloading)
        return;
    if (i_sign > 0)
    {
        UserFigures& l_figures = m_users[i_parts.user];
        if (l_queued)
            l_figures.queued.Insert(ip_entry);
        if (l_requeueable)
            l_figures.requeueable.Insert(ip_entry);
        l_figures.downloading += l_downloading ? 1 : 0;
        return;
    }
    const auto l_user = m_users.find(i_parts.user);
    if (l_user == m_users.end())
        return;
    UserFigures& l_figures = l_user->second;
    l_figures.queued.Erase(ip_entry);
    l_figures.requeueable.Erase(ip_entry);
    l_figures.downloading -= l_downloading ? 1 : 0;
    if (l_figures.queued.Empty() && l_figures.requeueable.Empty() && l_figures.downloading <= 0)
        m_users.erase(i_parts.user);
}
