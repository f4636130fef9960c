#include "store/Settings.h"
#include "transfers/TransferQueueManager.h"

// Only users of the user list may send us files unasked: all of them when the setting says so,
// otherwise those in a group that accepts uploads.
bool TransferQueueManager::CanAcceptUserInitiatedUploadsFrom(QString i_user)
{
    const ItemPtr l_listed = d.GetType("user")->HasItem(i_user)["in_user_list"];
    if (!l_listed)
        return false;
    if (IsSettingYes("accept_userlist_uploads"))
        return true;
    for (ItemPtr l_group : l_listed.GetItems("user_list_group"))
        if (l_group.IsConnected("accept_uploads"))
            return true;
    return false;
}
