#include <QTcpSocket>

#include <algorithm>
#include <vector>

#include "diagnostics/Log.h"
#include "peer/PeerMessenger.h"
#include "server/Server.h"
#include "shares/SharedFoldersManager.h"
#include "store/Settings.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferStatus.h"

namespace
{
const char* const Area = "Transfer Queue";
const char* const NotShared = "File not shared.";

ItemPtr EffectiveOrder(qint64 i_place)
{
    return d.GetType("effective_upload_order")->GetItem(Value(static_cast<long long>(i_place)));
}
} // namespace

void TransferQueueManager::ConnectUploadSignals()
{
    if (!peerMessenger)
        return;
    connect(peerMessenger, &PeerMessenger::QueueUploadRequested, this,
            &TransferQueueManager::OnQueueUploadRequested);
    connect(peerMessenger, &PeerMessenger::FileConnectionAccepted, this,
            &TransferQueueManager::OnFileConnectionAccepted);
    connect(peerMessenger, &PeerMessenger::FileTransferResponse, this,
            &TransferQueueManager::OnFileTransferResponse);
    connect(peerMessenger, &PeerMessenger::UploadPlaceInLineRequested, this,
            &TransferQueueManager::OnUploadPlaceInLineRequested);
    connect(peerMessenger, &PeerMessenger::UserShare, this, &TransferQueueManager::OnUserShare);
}

ItemPtr TransferQueueManager::SharedFileFor(const QString& i_user, const QString& i_file)
{
    if (!sharedFoldersManager)
        return ItemPtr();
    const ItemPtr l_file =
        sharedFoldersManager->GetSharedFileItem(QString(i_file).replace('\\', '/'));
    return l_file && sharedFoldersManager->IsFileSharedWithUser(l_file, i_user) ? l_file : ItemPtr();
}

ItemPtr TransferQueueManager::FindUploadEntry(ItemPtr i_user, ItemPtr i_sharedFile)
{
    return d.GetItem(i_user, i_sharedFile, "upload_entry");
}

void TransferQueueManager::OnQueueUploadRequested(QString i_user, QString i_file)
{
    const ItemPtr l_user = d.GetType("user")->GetItem(i_user);
    Log(Area, 1, QString("Queue upload requested by %1 for file %2").arg(i_user, i_file), l_user);
    const ItemPtr l_shared = SharedFileFor(i_user, i_file);
    if (!l_shared)
    {
        Log(Area, 2, "Denied, file not shared", l_user);
        if (peerMessenger)
            peerMessenger->DenyUpload(i_user, i_file, NotShared);
        return;
    }
    if (RequeueExistingUpload(l_user, l_shared))
        return;

    // A user who holds fewer uploads than the limit cannot have that many queued: only then are
    // the user's uploads read, and no further than the limit. A peer who queues thousands of
    // files would otherwise have every request read all of them again.
    const qint64 l_limit = GetSettingInt("max_queued_uploads_per_user");
    const ItemSet* lp_uploads = l_user->Connections().FindSet(d.GetType("upload_entry"));
    qint64 l_queued = 0;
    if (lp_uploads && static_cast<qint64>(lp_uploads->Size()) >= l_limit)
        for (ItemPtr l_entry : *lp_uploads)
        {
            if (l_queued >= l_limit)
                break;
            l_queued += l_entry["upload_entry_status"].AsString() == transfer_status::Queued;
        }
    if (l_queued >= l_limit)
    {
        Log(Area, 2, "Denied, too many files already queued by user", l_user);
        if (peerMessenger)
            peerMessenger->DenyUpload(i_user, i_file, "Too many files");
        return;
    }
    NewUploadEntry(l_user, l_shared, i_file);

    // Users of our own list are known; anyone else is asked once a run for a list of shares.
    if (IsSettingYes("check_for_empty_shares") && !l_user["empty_share_check_status"] &&
        !l_user.IsConnected("in_user_list"))
    {
        if (peerMessenger)
            peerMessenger->GetUserSharedFiles(i_user);
        l_user += d.GetType("empty_share_check_status")->GetItem("requested");
    }
    StartNewUploads();
}

void TransferQueueManager::AddUpload(QString i_user, QString i_file)
{
    const ItemPtr l_user = d.GetType("user")->GetItem(i_user);
    Log(Area, 1, QString("Initiating upload to %1 of file %2").arg(i_user, i_file), l_user);
    const ItemPtr l_shared = SharedFileFor(i_user, i_file);
    if (!l_shared)
    {
        Log(Area, 2,
            "Can't upload, file is either not shared or not shared with that particular user.",
            l_user);
        return;
    }
    if (peerMessenger)
        peerMessenger->QueueUpload(i_user, i_file, l_shared["shared_file_size"].AsInt64());
    if (RequeueExistingUpload(l_user, l_shared))
        return;
    NewUploadEntry(l_user, l_shared, i_file);
    StartNewUploads();
}

bool TransferQueueManager::RequeueExistingUpload(ItemPtr i_user, ItemPtr i_sharedFile)
{
    const ItemPtr l_entry = FindUploadEntry(i_user, i_sharedFile);
    if (!l_entry)
        return false;
    const ItemPtr l_status = l_entry["upload_entry_status"];
    if (l_status.AsString() == transfer_status::Queued || IsActive(l_status))
    {
        Log(Area, 2, "Already queued", i_user);
        return true;
    }
    Log(Area, 2, QString("%1, re-queueing").arg(l_status.AsString()), i_user);
    SetUploadEntryStatus(l_entry, transfer_status::Queued);
    StartNewUploads();
    return true;
}

ItemPtr TransferQueueManager::NewUploadEntry(ItemPtr i_user, ItemPtr i_sharedFile,
                                             const QString& i_file)
{
    const ItemPtr l_entry = d.GetType("upload_entry")->NewItem();
    l_entry += i_user;
    l_entry += i_sharedFile;
    l_entry += d.GetType("filename_as_requested")->GetItem(i_file);
    SetUploadEntryStatus(l_entry, transfer_status::Queued);
    const qint64 l_order = GetSettingInt("transfer_order_counter");
    l_entry += d.GetType("upload_order")->GetItem(Value(static_cast<long long>(l_order)));
    SetSetting("transfer_order_counter", Value(static_cast<long long>(l_order + 1)));
    OrderNewUpload(l_entry);
    Log(Area, 2, "Queued", i_user);
    if (gp_server)
        gp_server->TrackUser(i_user.AsString());
    return l_entry;
}

int TransferQueueManager::GetUserGroupDownloadPriority(QString i_user)
{
    int l_priority = 0;
    const ItemPtr l_listed = d.GetType("user")->HasItem(i_user)["in_user_list"];
    for (ItemPtr l_group : l_listed.GetItems("user_list_group"))
        l_priority = qMax(l_priority, l_group["group_download_priority"].AsInt());
    return l_priority;
}

bool TransferQueueManager::UploadEntrySortCompare(ItemPtr i_a, ItemPtr i_b)
{
    const ItemPtr l_userA = i_a["user"];
    const ItemPtr l_userB = i_b["user"];
    if (l_userA && l_userB)
    {
        const int l_priorityA = GetUserGroupDownloadPriority(l_userA.AsString());
        const int l_priorityB = GetUserGroupDownloadPriority(l_userB.AsString());
        if (l_priorityA != l_priorityB)
            return l_priorityA > l_priorityB;
        const bool l_privilegedA = l_userA.IsConnected("is_privileged");
        if (l_privilegedA != l_userB.IsConnected("is_privileged"))
            return l_privilegedA;
    }
    return i_a["upload_order"].AsInt() < i_b["upload_order"].AsInt();
}

void TransferQueueManager::OrderNewUpload(ItemPtr i_entry)
{
    std::vector<ItemPtr> l_sorted;
    bool l_loaded = false;
    const auto l_load = [&] {
        l_sorted = g("upload_entry").SortNumericBy("effective_upload_order", true);
        l_loaded = true;
    };
    if (!m_lastOrderedUpload)
    {
        l_load();
        if (!l_sorted.empty())
            m_lastOrderedUpload = l_sorted.back();
    }
    if (!m_lastOrderedUpload)
    {
        i_entry += EffectiveOrder(1);
        m_lastOrderedUpload = i_entry;
        return;
    }
    // Most requests go last: no renumbering then.
    if (UploadEntrySortCompare(m_lastOrderedUpload, i_entry))
    {
        i_entry += EffectiveOrder(m_lastOrderedUpload["effective_upload_order"].AsInt64() + 1);
        m_lastOrderedUpload = i_entry;
        return;
    }
    if (!l_loaded)
    {
        l_load();
        m_lastOrderedUpload = l_sorted.back();
    }
    const auto l_before = std::find_if(l_sorted.begin(), l_sorted.end(), [&](ItemPtr i_other) {
        return UploadEntrySortCompare(i_entry, i_other);
    });
    l_sorted.insert(l_before, i_entry);
    qint64 l_place = 1;
    for (ItemPtr l_entry : l_sorted)
        l_entry += EffectiveOrder(l_place++);
}

void TransferQueueManager::DetermineUploadsEffectiveOrder()
{
    std::vector<ItemPtr> l_entries;
    for (ItemPtr l_entry : g("upload_entry"))
        l_entries.push_back(l_entry);
    std::stable_sort(l_entries.begin(), l_entries.end(), &UploadEntrySortCompare);
    qint64 l_place = 0;
    for (ItemPtr l_entry : l_entries)
        l_entry += EffectiveOrder(l_place++);
}

bool TransferQueueManager::IsFreeToUpload() const
{
    return static_cast<quint64>(ActiveUploadCount()) <
           static_cast<quint64>(GetSettingInt("upload_slots"));
}

int TransferQueueManager::QueuedUploadCount() const
{
    const ItemPtr l_queued = d.GetType("upload_entry_status")->HasItem(transfer_status::Queued);
    return static_cast<int>(l_queued.GetItems("upload_entry").Size());
}

void TransferQueueManager::UnshareUser(QString i_user)
{
    const ItemPtr l_user = d.GetType("user")->GetItem(i_user);
    l_user.NewItem("unshared");
    for (ItemPtr l_entry : l_user.GetItems("upload_entry"))
    {
        if (peerMessenger)
            peerMessenger->DenyUpload(i_user, l_entry["filename_as_requested"].AsString(), NotShared);
        RemoveUpload(l_entry);
    }
}

void TransferQueueManager::ReshareUser(QString i_user)
{
    if (const ItemPtr l_user = d.GetType("user")->HasItem(i_user))
        l_user.Disconnect("unshared");
}

void TransferQueueManager::OnUploadPlaceInLineRequested(QString i_user, QString i_file)
{
    const ItemPtr l_user = d.GetType("user")->HasItem(i_user);
    const ItemPtr l_name = d.GetType("filename_as_requested")->HasItem(i_file);
    const ItemPtr l_entry = l_user && l_name ? d.GetItem(l_user, l_name, "upload_entry") : ItemPtr();
    const ItemPtr l_place = l_entry["effective_upload_order"];
    if (l_place && peerMessenger)
        peerMessenger->SendUploadPlaceInLine(i_user, i_file, l_place.AsInt());
}

void TransferQueueManager::OnUserShare(QString i_user, FileInfoMap& i_files,
                                       AttributeTranslationTable&)
{
    const ItemPtr l_user = d.GetType("user")->HasItem(i_user);
    if (l_user["empty_share_check_status"].AsString() != "requested")
        return;
    Type* lp_status = d.GetType("empty_share_check_status");
    // A folder without files still counts as sharing something.
    if (!i_files.empty())
    {
        l_user += lp_status->GetItem("not_empty");
        return;
    }
    l_user += lp_status->GetItem("empty");
    const QString l_message = GetSetting("empty_share_message");
    if (!IsSettingYes("check_for_empty_shares") || l_user.IsConnected("in_user_list") ||
        l_message.isEmpty())
        return;
    if (gp_server)
        gp_server->SendPrivateChat(i_user, l_message);
    Log("Shared", 1, QString("Sent empty share warning message to user %1").arg(i_user), ItemPtr());
    l_user += d.GetType("sent_empty_share_warning_message")->GetItem(l_message);
}
