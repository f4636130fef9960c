#include <QTcpSocket>

#include <algorithm>
#include <limits>
#include <vector>

#include "diagnostics/Log.h"
#include "store/ConnectionInfo.h"
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
} // namespace

void TransferQueueManager::ConnectUploadSignals()
{
    // The queue's order follows every status an upload takes and every change to its user's
    // standing, however it comes about.
    d.AddConnectionEventHandler(d.GetType("upload_entry"), d.GetType("upload_entry_status"),
                                NewEventHandler(this, &TransferQueueManager::OnUploadStatusConnected));
    d.AddDisconnectionEventHandler(d.GetType("user"), d.GetType("is_online"),
                                   NewEventHandler(this, &TransferQueueManager::OnUploadUserOnlineChanged));
    const std::pair<const char*, const char*> l_standing[] = {
        {"user", "is_privileged"}, {"user", "in_user_list"}, {"in_user_list", "user_list_group"}};
    for (const auto& [lp_a, lp_b] : l_standing)
    {
        d.AddConnectionEventHandler(d.GetType(lp_a), d.GetType(lp_b),
                                    NewEventHandler(this, &TransferQueueManager::OnUploadUserClassChanged));
        d.AddDisconnectionEventHandler(d.GetType(lp_a), d.GetType(lp_b),
                                       NewEventHandler(this, &TransferQueueManager::OnUploadUserClassChanged));
    }
    d.AddConnectionEventHandler(d.GetType("user_list_group"), d.GetType("group_download_priority"),
                                NewEventHandler(this, &TransferQueueManager::OnUploadGroupPriorityChanged));
    d.AddDisconnectionEventHandler(d.GetType("user_list_group"), d.GetType("group_download_priority"),
                                   NewEventHandler(this, &TransferQueueManager::OnUploadGroupPriorityChanged));

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

    if (m_uploadOrder.QueuedOf(l_user.Get()) >= GetSettingInt("max_queued_uploads_per_user"))
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
    return GroupPriorityOf(d.GetType("user")->HasItem(i_user));
}

int TransferQueueManager::GroupPriorityOf(ItemPtr i_user)
{
    int l_priority = 0;
    for (ItemPtr l_group : i_user["in_user_list"].GetItems("user_list_group"))
        l_priority = qMax(l_priority, l_group["group_download_priority"].AsInt());
    return l_priority;
}

// Group priority, then privilege: the same figure the queue's order files its users by.
bool TransferQueueManager::UploadEntrySortCompare(ItemPtr i_a, ItemPtr i_b)
{
    const ItemPtr l_userA = i_a["user"];
    const ItemPtr l_userB = i_b["user"];
    if (l_userA && l_userB)
    {
        const std::int64_t l_classA = UploadClassOf(l_userA);
        const std::int64_t l_classB = UploadClassOf(l_userB);
        if (l_classA != l_classB)
            return l_classA > l_classB;
    }
    return i_a["upload_order"].AsInt() < i_b["upload_order"].AsInt();
}

namespace
{
UploadQueueOrder::State UploadState(ItemPtr i_status)
{
    if (!i_status)
        return UploadQueueOrder::State::None;
    if (i_status.AsString() == transfer_status::Queued)
        return UploadQueueOrder::State::Queued;
    return i_status.IsConnected("is_active") ? UploadQueueOrder::State::Active
                                             : UploadQueueOrder::State::Finished;
}
} // namespace

std::int64_t TransferQueueManager::UploadClassOf(ItemPtr i_user)
{
    return std::int64_t(GroupPriorityOf(i_user)) * 2 + (i_user.IsConnected("is_privileged") ? 1 : 0);
}

ItemPtr TransferQueueManager::UploadEntryOf(UploadQueueOrder::Handle i_handle)
{
    return ItemPtr(static_cast<Item*>(const_cast<void*>(i_handle)));
}

// Also for an entry whose status came before the queue's order heard of it.
void TransferQueueManager::RecordUpload(ItemPtr i_entry)
{
    const ItemPtr l_user = i_entry["user"];
    if (l_user && !m_uploadOrder.KnowsUser(l_user.Get()))
        m_uploadOrder.AddUser(l_user.Get(), l_user.IsConnected("is_online"), UploadClassOf(l_user));
    m_uploadOrder.SetState(i_entry.Get(), l_user.Get(), UploadState(i_entry["upload_entry_status"]));
}

void TransferQueueManager::OnUploadStatusConnected(ConnectionInfo& i_info)
{
    RecordUpload(ItemPtr(i_info.from));
}

// A user whose is_online item is replaced is offline for the moment between.
void TransferQueueManager::OnUploadUserOnlineChanged(ConnectionInfo& i_info)
{
    NoteUploadUserOnline(ItemPtr(i_info.from));
}

// Also first when a user comes online, before anything is started for it.
void TransferQueueManager::NoteUploadUserOnline(ItemPtr i_user)
{
    m_uploadOrder.SetOnline(i_user.Get(), i_user.IsConnected("is_online"));
}

void TransferQueueManager::OnUploadUserClassChanged(ConnectionInfo& i_info)
{
    const ItemPtr l_item(i_info.from);
    RefileUploadUser(l_item.GetType() == d.GetType("user") ? l_item : l_item["user"]);
}

void TransferQueueManager::OnUploadGroupPriorityChanged(ConnectionInfo& i_info)
{
    for (ItemPtr l_listed : ItemPtr(i_info.from).GetItems("in_user_list"))
        RefileUploadUser(l_listed["user"]);
}

void TransferQueueManager::RefileUploadUser(ItemPtr i_user)
{
    if (i_user && m_uploadOrder.KnowsUser(i_user.Get()))
        m_uploadOrder.SetUserClass(i_user.Get(), UploadClassOf(i_user));
}

// Most requests go last, after the last ordered upload. One that goes before it is put before
// the first upload it goes before, and all are numbered anew from 1; that numbering is kept as a
// mark, so it costs no more for a long queue than for a short one.
void TransferQueueManager::OrderNewUpload(ItemPtr i_entry)
{
    RecordUpload(i_entry);
    const int l_order = i_entry["upload_order"].AsInt();
    if (!m_lastOrderedUpload)
        m_lastOrderedUpload = UploadEntryOf(m_uploadOrder.Last());
    if (!m_lastOrderedUpload)
    {
        m_uploadOrder.Place(i_entry.Get(), 1, l_order);
        m_lastOrderedUpload = i_entry;
        return;
    }
    if (UploadEntrySortCompare(m_lastOrderedUpload, i_entry))
    {
        m_uploadOrder.Place(i_entry.Get(), UploadPlace(m_lastOrderedUpload).value_or(0) + 1, l_order);
        m_lastOrderedUpload = i_entry;
        return;
    }
    m_lastOrderedUpload = UploadEntryOf(m_uploadOrder.Last());
    m_uploadOrder.PlaceRenumbering(i_entry.Get(), l_order);
}

std::optional<qint64> TransferQueueManager::UploadPlace(ItemPtr i_entry) const
{
    return m_uploadOrder.PlaceOf(i_entry.Get());
}

void TransferQueueManager::DetermineUploadsEffectiveOrder()
{
    std::vector<ItemPtr> l_entries;
    for (ItemPtr l_entry : g("upload_entry"))
        l_entries.push_back(l_entry);
    std::stable_sort(l_entries.begin(), l_entries.end(), &UploadEntrySortCompare);
    std::vector<std::pair<UploadQueueOrder::Handle, int>> l_ordered;
    for (ItemPtr l_entry : l_entries)
    {
        RecordUpload(l_entry);
        l_ordered.emplace_back(l_entry.Get(), l_entry["upload_order"].AsInt());
    }
    m_uploadOrder.RenumberInOrder(l_ordered);
}

bool TransferQueueManager::IsFreeToUpload() const
{
    return static_cast<quint64>(ActiveUploadCount()) <
           static_cast<quint64>(GetSettingInt("upload_slots"));
}

int TransferQueueManager::QueuedUploadCount() const
{
    const ItemPtr l_queued = d.GetType("upload_entry_status")->HasItem(transfer_status::Queued);
    const ItemSet* lp_entries =
        l_queued ? l_queued->Connections().FindSet(d.GetType("upload_entry")) : nullptr;
    return lp_entries ? static_cast<int>(lp_entries->Size()) : 0;
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
    const std::optional<qint64> l_place = l_entry ? UploadPlace(l_entry) : std::nullopt;
    if (!l_place || !peerMessenger)
        return;
    // A place that would not fit the message's 32 bits is told as 0, as its text would read.
    const bool l_fits = *l_place >= std::numeric_limits<int>::min() && *l_place <= std::numeric_limits<int>::max();
    peerMessenger->SendUploadPlaceInLine(i_user, i_file, l_fits ? int(*l_place) : 0);
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
