#pragma once

#include <unordered_map>
#include <vector>

#include "store/DataHandler.h"
#include "store/ItemPtr.h"
#include "store/ItemSet.h"

struct ConnectionInfo;

// What the download queue asks of all of a user's or a remote folder's downloads, kept entry by
// entry as the store connects and disconnects their user, remote folder and status, so that no
// question walks the downloads that wait or are kept: per user, the queued downloads and those
// that may be asked for again (neither complete nor denied), and how many run; per remote folder,
// how many are not complete. Entries without a status count as not complete. The sets are in
// identity order, as the store's own sets.
class DownloadIndex : public DataHandler
{
public:
    // Follows the store from now on; made before the load, it hears the loaded downloads too.
    DownloadIndex();

    // Empty sets when the user has none.
    const ItemSet& Queued(ItemPtr i_user) const;
    const ItemSet& Requeueable(ItemPtr i_user) const;
    bool IsDownloadingFrom(ItemPtr i_user) const;
    // Every download of the remote folder, of any user, is complete.
    bool AllComplete(ItemPtr i_remoteFolder) const;
    // The users who have queued downloads, in the order of their first queued download in
    // identity order: the order in which a walk over all queued downloads meets them.
    std::vector<ItemPtr> UsersWithQueued() const;

private:
    // The parts of an entry that the figures follow.
    struct Parts
    {
        Item* user = nullptr;
        Item* folder = nullptr;
        Item* status = nullptr;
    };
    struct UserFigures
    {
        ItemSet queued;
        ItemSet requeueable;
        int downloading = 0;
    };

    void OnConnected(ConnectionInfo& i_info);
    void OnDisconnected(ConnectionInfo& i_info);
    void OnEntryRemoved(ItemPtr i_entry);
    // The entry's share of the figures, added (+1) or taken away (-1).
    void Count(Item* ip_entry, const Parts& i_parts, int i_sign);
    // The part of the entry that this item of a followed type stands for.
    Item** PartOf(Parts& io_parts, Item* ip_item) const;

    Type* mp_users;
    Type* mp_folders;
    Type* mp_statuses;
    std::unordered_map<Item*, Parts> m_entries;
    std::unordered_map<Item*, UserFigures> m_users;
    std::unordered_map<Item*, int> m_unfinishedInFolder;
};
