#pragma once

#include <QKeyEvent>
#include <QPoint>
#include <QString>
#include <QWidget>

#include <map>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "store/ConnectionInfo.h"
#include "store/DataHandler.h"
#include "store/DataLoadedEventHandler.h"
#include "store/ItemPtr.h"
#include "store/ItemSet.h"
#include "views/transfers/HeldTransferRows.h"
#include "views/transfers/IdleUploads.h"
#include "views/transfers/TransferRowTallies.h"

class QTreeWidget;
class QTreeWidgetItem;
class Item;
class Ui_TransfersForm;

// The transfers tab: downloads and uploads as trees of user, folder and file rows that follow
// the transfer queues' entries in the store. Each row is found from its item through a node
// item valued by the row's address, and the other way round. Group rows show the aggregate
// status of the entries below them and, while collapsed, their summed progress. There is one,
// reached through `transfersForm`.
class TransfersForm : public QWidget, public DataHandler, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    explicit TransfersForm(QWidget* ip_parent = nullptr);
    ~TransfersForm() override;
    TransfersForm(const TransfersForm&) = delete;
    TransfersForm& operator=(const TransfersForm&) = delete;

    // Before the store is loaded: the node types, subscriptions, toolbar sets and signals.
    void Init();
    // The stored upload settings into their widgets, and only then the widgets' slots.
    void DataLoaded() override;

    QTreeWidget* DownloadsList() const;
    QTreeWidget* UploadsList() const;

    // ---- Rows ----
    void OnDownloadEntryAdded(ItemPtr i_entry);
    void OnUploadEntryAdded(ItemPtr i_entry);
    void OnDownloadEntryRemoved(ItemPtr i_entry);
    void OnUploadEntryRemoved(ItemPtr i_entry);
    void OnDownloadPlaceInLine(ItemPtr i_entry);
    // The entries a user, folder or file row stands for.
    ItemSet GetNodeDownloadEntryItems(QTreeWidgetItem* ip_row) const;
    ItemSet GetNodeUploadEntryItems(QTreeWidgetItem* ip_row) const;
    // The user row above a row, or the row itself when it is one.
    QTreeWidgetItem* GetDownloadNodeUserNode(QTreeWidgetItem* ip_row) const;
    QTreeWidgetItem* GetUploadNodeUserNode(QTreeWidgetItem* ip_row) const;

    // ---- Status and colours ----
    void OnDownloadEntryStatusChange(ConnectionInfo& i_info);
    void OnUploadEntryStatusChange(ConnectionInfo& i_info);
    static QString GetDownloadEntriesAggregateStatus(const ItemSet& i_entries);
    static QString GetUploadEntriesAggregateStatus(const ItemSet& i_entries);
    static void SetItemColorByStatus(QTreeWidgetItem* ip_row, const QString& i_status);

    // ---- Progress ----
    static void GetDownloadsProgressStats(const ItemSet& i_entries, qint64& o_done, qint64& o_left,
                                          qint64& o_total);
    static void GetUploadsProgressStats(const ItemSet& i_entries, qint64& o_done, qint64& o_left,
                                        qint64& o_total);
    // "   1h:2m:5s" for 3725 seconds; hours are not folded into days.
    static QString TimeLeftText(qint64 i_seconds);
    // "1,048,576 (50.0%)".
    static QString ProgressText(qint64 i_done, double i_percent);
    // "12.5" for 12800 bytes a second: KiB/s with one decimal.
    static QString SpeedText(qint64 i_bytesPerSecond);

    // ---- Actions ----
    void DeleteSelectedDownloads();

    // While one lives, the rows of removed entries leave their lists only when the last one
    // ends, a whole group row in one step: the list then pays once per group rather than once
    // per row for every bar and open row it holds. Nothing reads the rows in between.
    class RowRemovals
    {
    public:
        RowRemovals();
        ~RowRemovals();
        RowRemovals(const RowRemovals&) = delete;
        RowRemovals& operator=(const RowRemovals&) = delete;

    private:
        TransfersForm* mp_form;
    };

signals:
    void DownloadComplete(ItemPtr i_download);

public slots:
    void OnDownloadProgress(ItemPtr i_download);
    void OnUploadProgress(ItemPtr i_upload);
    void OnTransfersLoaded();
    void OnActionBarTriggered(QWidget* ip_widget, QString i_action);
    void OnUserOnline(ItemPtr i_user);
    void OnUserOffline(ItemPtr i_user);
    void OnUploadSpeedLimitCheckStateChanged(int i_state);
    void OnUploadSpeedLimitSpinValueChanged(int i_value);
    void OnUploadSlotsSpinValueChanged(int i_value);
    void OnDownloadsContextMenuRequested(QPoint i_point);
    void OnUploadsContextMenuRequested(QPoint i_point);
    void OnItemExpanded(QTreeWidgetItem* ip_item);
    void OnItemCollapsed(QTreeWidgetItem* ip_item);
    void OnCurrentTabChanged(int i_index);
    void OnClearDownloadsCheckStateChanged(int i_state);
    void OnClearUploadsCheckStateChanged(int i_state);
    void EveryHalfMinute();
    void OnDownloadComplete(ItemPtr i_download);
    void OnDownloadListItemDoubleClicked(QTreeWidgetItem* ip_item, int i_column);
    void OnKeyPressedInDownloadList(QKeyEvent* ip_event);
    void RecolorEntries();
    void UpdateActiveTransferCounts();

private slots:
    void ShowRemainingGroupStatuses();
    void DeleteTakenRows();

private:
    // The store types of one list; the two lists differ only in these and in what a file row
    // shows.
    struct ListKind
    {
        const char* entryType;
        const char* statusType;
        const char* userNode;
        const char* folderNode;
        const char* fileNode;
        // What a folder row stands for: the remote folder, or our shared file's folder.
        const char* folderType;
        const char* positionType;
        // The one active status that wins a group's aggregate.
        const char* runningStatus;
        QTreeWidget* (TransfersForm::*list)() const;
        TransferRowTallies TransfersForm::*tallies;
        std::unique_ptr<HeldTransferRows> TransfersForm::*held;
    };
    static const ListKind Downloads;
    static const ListKind Uploads;

    void DeclareNodeTypes(const ListKind& i_kind);
    void DeclareActionSets();
    void ConnectSettingWidgets();
    // The row of a user, folder and file for a new entry, made as needed; null when the entry
    // lacks a part a row needs or already has its row.
    QTreeWidgetItem* NewEntryRow(const ListKind& i_kind, ItemPtr i_entry, ItemPtr i_folder,
                                 bool i_expandUsers, bool i_expandFolders);
    void RemoveEntryRow(const ListKind& i_kind, ItemPtr i_entry);
    // Out of the list; while rows are removed together, only once they all are.
    void DropRow(const ListKind& i_kind, QTreeWidgetItem* ip_row);
    void DropRemovedRows();
    QTreeWidgetItem* UserRow(const ListKind& i_kind, ItemPtr i_user, bool i_expand);
    HeldTransferRows& Held(const ListKind& i_kind) const { return *(this->*i_kind.held); }
    // Opens a new group row, held or not, with what opening does to its figures.
    void OpenNewRow(const ListKind& i_kind, QTreeWidgetItem* ip_row);
    // Before the user acts on the lists, every row the store holds is in them.
    void JoinHeldRows();
    ItemSet NodeEntryItems(const ListKind& i_kind, QTreeWidgetItem* ip_row) const;
    void OnDownloadPositionChange(ConnectionInfo& i_info);
    void OnUploadPositionChange(ConnectionInfo& i_info);
    void OnDownloadSizeChange(ConnectionInfo& i_info);
    void OnUploadFileChange(ConnectionInfo& i_info);
    void OnSharedFileSizeChange(ConnectionInfo& i_info);
    void OnUploadStamped(ConnectionInfo& i_info);
    QTreeWidgetItem* NodeUserRow(const ListKind& i_kind, QTreeWidgetItem* ip_row) const;
    static bool IsGroupRow(const ListKind& i_kind, QTreeWidgetItem* ip_row);
    static QString AggregateStatus(const ListKind& i_kind, const ItemSet& i_entries);
    void ShowEntryStatus(const ListKind& i_kind, ItemPtr i_entry, ItemPtr i_status);
    // A group row's aggregate: its status text while collapsed, its colour always.
    void ShowGroupStatus(const ListKind& i_kind, QTreeWidgetItem* ip_row);
    void ShowGroupAggregate(const ListKind& i_kind, QTreeWidgetItem* ip_row, const QString& i_status);
    void RecolorList(const ListKind& i_kind);
    void ShowProgress(const ListKind& i_kind, ItemPtr i_entry);
    // The group row's summed bar and time left; false when its entries hold no bytes.
    bool ShowGroupProgress(const ListKind& i_kind, QTreeWidgetItem* ip_row, qint32 i_speed);
    // The bar of a group row that lost entries shows what the others add up to.
    void ShowRemainingGroupBar(const ListKind& i_kind, QTreeWidgetItem* ip_row);
    // The row's bar, made by its first report and drawn in its cell from what the row keeps.
    static void SetBar(QTreeWidgetItem* ip_row, qint64 i_done, double i_percent);
    static void ForgetGroupFigures(QTreeWidgetItem* ip_row);
    void ToggleExpansion(QTreeWidget* ip_list, bool& io_flag, const char* i_action,
                         const QString& i_text, bool i_folders);
    void ClearCompleteDownloads();
    void ClearCompleteAndAbortedUploads();
    void AddSelectedUsersToList();
    void ShowCompleteDownloads();
    void RequestActiveTransferCounts();
    void RememberRemainingGroup(const ListKind& i_kind, QTreeWidgetItem* ip_row);
    void ForgetRemainingGroup(QTreeWidgetItem* ip_row);

    Ui_TransfersForm* mp_ui = nullptr;
    bool m_transfersLoaded = false;
    bool m_expandDownloadFolders = true;
    bool m_expandDownloadUsers = true;
    bool m_expandUploadFolders = true;
    bool m_expandUploadUsers = true;

    bool m_storeLoaded = false;
    bool m_recolorInstalled = false;
    // Each group row's aggregate and sums, changed with each entry below it.
    TransferRowTallies m_downloadTallies{false};
    TransferRowTallies m_uploadTallies{true};
    // While the saved downloads get their rows, the group rows are shown once at the end.
    bool m_loadingRows = false;
    // The rows each list holds back while it is shown and long; the saved downloads' rows are
    // held while they are built and join the list in one step.
    std::unique_ptr<HeldTransferRows> mp_heldDownloads;
    std::unique_ptr<HeldTransferRows> mp_heldUploads;
    bool m_countsRequested = false;
    // Group rows that lost a row below them and have not yet shown what is left; a group row
    // leaves here when it goes.
    std::set<std::pair<const ListKind*, QTreeWidgetItem*>> m_remainingGroups;
    // Rows removed from the store while RowRemovals live, each after the rows below it.
    int m_rowRemovals = 0;
    std::vector<QTreeWidgetItem*> m_removedRows;
    // Removed rows already out of their list, deleted a slice at a time from the event loop: a
    // clearing of thousands of rows then keeps the window answering.
    std::vector<QTreeWidgetItem*> m_takenRows;
    // The uploads the half-minute clean-up may find idle.
    IdleUploads m_idleUploads;
    // Completions announced and not yet handled; a download removed meanwhile leaves here, so
    // its queued completion finds nothing.
    std::map<Item*, int> m_pendingCompletions;
};

extern TransfersForm* transfersForm;
