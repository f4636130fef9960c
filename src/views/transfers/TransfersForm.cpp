#include "views/transfers/TransfersForm.h"

#include <QHeaderView>
#include <QIcon>
#include <QMetaObject>
#include <QProgressBar>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>

#include <algorithm>
#include <tuple>
#include <unordered_set>
#include <utility>

#include "resources/Resources.h"
#include "shell/ActionSetToolBar.h"
#include "shell/ColorSettings.h"
#include "shell/RowNodes.h"
#include "shell/ShowIsOver.h"
#include "shell/SizeManager.h"
#include "shell/TreeWidget.h"
#include "shell/UIFunctions.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/GeneralFunctions.h"
#include "store/SchemaDeclaration.h"
#include "store/Settings.h"
#include "store/TimerManager.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferStatus.h"
#include "ui_TransfersForm.h"
#include "views/transfers/TransferBarDelegate.h"
#include "views/transfers/TransferRowIcons.h"

TransfersForm* transfersForm = nullptr;

const TransfersForm::ListKind TransfersForm::Downloads = {
    "download_entry",       "download_entry_status",     "download_list_user_node",
    "download_list_folder_node", "download_list_node",   "remote_folder",
    "write_position",       transfer_status::Downloading, &TransfersForm::DownloadsList,
    &TransfersForm::m_downloadTallies, &TransfersForm::mp_heldDownloads};
const TransfersForm::ListKind TransfersForm::Uploads = {
    "upload_entry",       "upload_entry_status",     "upload_list_user_node",
    "upload_list_folder_node", "upload_list_node",   "shared_file_folder",
    "read_position",      transfer_status::Uploading, &TransfersForm::UploadsList,
    &TransfersForm::m_uploadTallies, &TransfersForm::mp_heldUploads};

namespace
{
struct Column
{
    const char* title;
    int width;
    // The largest figure the column shows in ordinary use; none for names and states.
    QString (*largest)();
};

const Column Columns[] = {
    {"User", 100, nullptr},
    {"Folder", 125, nullptr},
    {"File", 125, nullptr},
    {"Status", 100, nullptr},
    {"Progress", 140, [] { return TransfersForm::ProgressText(LargestFigure::Size, 100.0); }},
    {"   ETA", 80, [] { return TransfersForm::TimeLeftText(LargestFigure::SecondsLeft); }},
    {"Kbs", 40, [] { return TransfersForm::SpeedText(LargestFigure::BytesPerSecond); }},
    {"Size", 90, [] { return CommafyNumber(LargestFigure::Size); }},
    {"Place", 40, [] { return QString::number(LargestFigure::Queue); }}};
const int ProgressColumn = 4;
const int DownloadColumns = 9;
const int UploadColumns = 8;

const char* const TransferIcon = ":/icons/transfer_icon";

// The completed downloads are reached from the downloads set as well; the ids that no set
// offers are handled all the same.
const ToolbarAction Actions[] = {
    {"downloads", "expand_download_folders", "Expand Folders", TransferIcon},
    {"downloads", "expand_download_users", "Expand Users", TransferIcon},
    {"downloads", "clear_complete_downloads", "Clear Complete", TransferIcon},
    {"downloads", "complete_downloads", "Completed Downloads", TransferIcon},
    {"uploads", "expand_upload_folders", "Expand Folders", TransferIcon},
    {"uploads", "expand_upload_users", "Expand Users", TransferIcon},
    {"uploads", "clear_complete_and_aborted_uploads", "Clear Complete and Aborted", TransferIcon},
};

void SetUpColumns(QTreeWidget* ip_list, int i_count)
{
    QStringList l_titles;
    for (int l_column = 0; l_column < i_count; ++l_column)
        l_titles << TransfersForm::tr(Columns[l_column].title);
    ip_list->setHeaderLabels(l_titles);
    for (int l_column = 0; l_column < i_count; ++l_column)
        if (!Columns[l_column].largest)
            ip_list->setColumnWidth(l_column, Columns[l_column].width);
        else if (l_column != ProgressColumn)
            FitColumn(ip_list, l_column, Columns[l_column].width, {Columns[l_column].largest()});
    // A progress bar draws its text in its own font, inside its frame.
    QProgressBar l_bar(ip_list->viewport());
    const int l_frame = 2 * l_bar.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, &l_bar);
    ip_list->setColumnWidth(ProgressColumn, FittingColumnWidth(Columns[ProgressColumn].width, l_bar.font(),
                                                               {Columns[ProgressColumn].largest()},
                                                               CellPadding(ip_list) + l_frame));
    ip_list->header()->setSectionsMovable(false);
    // Every row is one line high: a layout then asks no row for its height.
    ip_list->setUniformRowHeights(true);
}

std::size_t FileRows(const char* i_type)
{
    const Type* lp_nodes = d.HasType(i_type);
    return lp_nodes ? lp_nodes->ItemCount() : 0;
}

} // namespace

TransfersForm::TransfersForm(QWidget* ip_parent) : QWidget(ip_parent)
{
    transfersForm = this;
    InitResources();
    mp_ui = new Ui_TransfersForm;
    mp_ui->setupUi(this);

    SetUpColumns(mp_ui->downloadsList, DownloadColumns);
    SetUpColumns(mp_ui->uploadsList, UploadColumns);
    // No widget in either list: each would have the list lay every row out at every insertion.
    for (QTreeWidget* lp_list : {DownloadsList(), UploadsList()})
        lp_list->setItemDelegateForColumn(ProgressColumn, new TransferBarDelegate(lp_list));
    mp_heldDownloads = std::make_unique<HeldTransferRows>(DownloadsList(), [] { return FileRows(Downloads.fileNode); });
    mp_heldUploads = std::make_unique<HeldTransferRows>(UploadsList(), [] { return FileRows(Uploads.fileNode); });
    mp_ui->uploadsList->header()->setStretchLastSection(false);
    // The row of upload settings would otherwise hold the whole window at its width.
    mp_ui->uploadsTab->setMinimumWidth(300);

    connect(mp_ui->downloadsList, &QTreeWidget::itemDoubleClicked, this,
            &TransfersForm::OnDownloadListItemDoubleClicked);
    connect(mp_ui->downloadsList, &TreeWidget::KeyPressed, this,
            &TransfersForm::OnKeyPressedInDownloadList);
}

// The rows go with the lists; their nodes would name freed rows.
TransfersForm::~TransfersForm()
{
    // The form hears nothing of its own rows' nodes going: no figure is kept for a closing view.
    RemoveDataHandlers();
    if (m_recolorInstalled)
        ColorSettings::SetRecolorTransfers({});
    // A view made again, as tests do, must find no node of this one. When the program ends the
    // store goes with it, and thousands of rows' nodes are not taken out one by one first.
    if (!g_showIsOver)
        for (const ListKind* lp_kind : {&Downloads, &Uploads})
            for (const char* lp_type : {lp_kind->fileNode, lp_kind->folderNode, lp_kind->userNode})
                if (Type* lp_nodes = d.HasType(lp_type))
                    lp_nodes->GetItems().Remove();
    for (QTreeWidgetItem* lp_row : std::exchange(m_takenRows, {}))
        delete lp_row;
    delete mp_ui;
    if (transfersForm == this)
        transfersForm = nullptr;
}

QTreeWidget* TransfersForm::DownloadsList() const
{
    return mp_ui->downloadsList;
}

QTreeWidget* TransfersForm::UploadsList() const
{
    return mp_ui->uploadsList;
}

// A view made again, as tests and benchmarks do, finds its types declared.
void TransfersForm::DeclareNodeTypes(const ListKind& i_kind)
{
    if (d.HasType(i_kind.fileNode))
        return;
    DeclareTypes({{i_kind.userNode, Primary, false},
                  {i_kind.folderNode, Primary, false},
                  {i_kind.fileNode, Primary, false}});
    DeclareRelations({{i_kind.userNode, "user", One, One},
                      {i_kind.folderNode, i_kind.userNode, Many, One},
                      {i_kind.folderNode, i_kind.folderType, Many, One},
                      {i_kind.fileNode, i_kind.folderNode, Many, One},
                      {i_kind.fileNode, i_kind.entryType, One, One}});
}

void TransfersForm::Init()
{
    auto* lp_added = new PathNode(&d, "download_entry");
    for (const char* lp_part : {"user", "file_name", "file_size", "remote_folder"})
        new PathNode(lp_added, lp_part, ConnectedAndNotify);
    d.AddPathEventHandler(lp_added, NewEventHandler(this, &TransfersForm::OnDownloadEntryAdded));
    DeclareNodeTypes(Downloads);

    d.AddConnectionEventHandler(d.GetType("download_entry"), d.GetType("download_entry_status"),
                                NewEventHandler(this, &TransfersForm::OnDownloadEntryStatusChange));
    d.AddConnectionEventHandler(d.GetType("upload_entry"), d.GetType("upload_entry_status"),
                                NewEventHandler(this, &TransfersForm::OnUploadEntryStatusChange));
    // The stamp follows the status it dates.
    d.AddConnectionEventHandler(d.GetType("upload_entry"), d.GetType("last_status_change_time"),
                                NewEventHandler(this, &TransfersForm::OnUploadStamped));
    // A group's sums read the moved bytes of the entries whose transfer has a position.
    for (const auto& [lp_kind, l_handler] :
         {std::pair<const ListKind*, void (TransfersForm::*)(ConnectionInfo&)>{
              &Downloads, &TransfersForm::OnDownloadPositionChange},
          {&Uploads, &TransfersForm::OnUploadPositionChange}})
    {
        Type* lp_entries = d.GetType(lp_kind->entryType);
        Type* lp_positions = d.GetType(lp_kind->positionType);
        d.AddConnectionEventHandler(lp_entries, lp_positions, NewEventHandler(this, l_handler));
        d.AddDisconnectionEventHandler(lp_entries, lp_positions, NewEventHandler(this, l_handler));
    }
    // An entry whose size changes with no change of status, as an upload that a rescan cuts from
    // its file, counts anew. A shared file's size is heard only as it goes, replaced or removed:
    // every scanned file gets one, and hearing those would slow every scan.
    for (const auto& [lp_owner, lp_size, l_handler, l_comes] :
         {std::tuple<const char*, const char*, void (TransfersForm::*)(ConnectionInfo&), bool>{
              "download_entry", "file_size", &TransfersForm::OnDownloadSizeChange, true},
          {"upload_entry", "shared_file", &TransfersForm::OnUploadFileChange, true},
          {"shared_file", "shared_file_size", &TransfersForm::OnSharedFileSizeChange, false}})
    {
        Type* lp_owners = d.HasType(lp_owner);
        Type* lp_sizes = d.HasType(lp_size);
        if (!lp_owners || !lp_sizes)
            continue;
        if (l_comes)
            d.AddConnectionEventHandler(lp_owners, lp_sizes, NewEventHandler(this, l_handler));
        d.AddDisconnectionEventHandler(lp_owners, lp_sizes, NewEventHandler(this, l_handler));
    }
    if (transferQueueManager)
    {
        connect(transferQueueManager, &TransferQueueManager::DownloadProgressed, this,
                &TransfersForm::OnDownloadProgress);
        connect(transferQueueManager, &TransferQueueManager::UploadProgressed, this,
                &TransfersForm::OnUploadProgress);
    }

    auto* lp_upload = new PathNode(&d, "upload_entry");
    for (const char* lp_part : {"user", "shared_file"})
        new PathNode(lp_upload, lp_part, ConnectedAndNotify);
    d.AddPathEventHandler(lp_upload, NewEventHandler(this, &TransfersForm::OnUploadEntryAdded));
    DeclareNodeTypes(Uploads);

    if (transferQueueManager)
        connect(transferQueueManager, &TransferQueueManager::TransfersLoaded, this,
                &TransfersForm::OnTransfersLoaded);
    d.GetType("download_entry")
        ->m_removedEvent.AddHandler(NewEventHandler(this, &TransfersForm::OnDownloadEntryRemoved));
    d.GetType("upload_entry")
        ->m_removedEvent.AddHandler(NewEventHandler(this, &TransfersForm::OnUploadEntryRemoved));

    DeclareActionSets();

    for (const auto& [l_relation, l_handler] :
         {std::pair<PathNodeRelation, void (TransfersForm::*)(ItemPtr)>{
              NotifyOnConnect, &TransfersForm::OnUserOnline},
          {NotifyOnDisconnect, &TransfersForm::OnUserOffline}})
    {
        auto* lp_user = new PathNode(&d, "user");
        new PathNode(lp_user, "is_online", l_relation);
        d.AddPathEventHandler(lp_user, NewEventHandler(this, l_handler));
    }
    auto* lp_place = new PathNode(&d, "download_entry");
    new PathNode(lp_place, "place_in_line", ConnectedAndNotify);
    d.AddPathEventHandler(lp_place, NewEventHandler(this, &TransfersForm::OnDownloadPlaceInLine));

    if (dataSaver)
        dataSaver->AddDataLoadedEventHandler(this);
    for (QTreeWidget* lp_list : {DownloadsList(), UploadsList()})
    {
        connect(lp_list, &QTreeWidget::itemExpanded, this, &TransfersForm::OnItemExpanded);
        connect(lp_list, &QTreeWidget::itemCollapsed, this, &TransfersForm::OnItemCollapsed);
    }
    mp_ui->downloadsList->setFocus();
    if (timerManager)
        connect(timerManager->halfMinuteTimer, &QTimer::timeout, this,
                &TransfersForm::EveryHalfMinute);
    // The alerts run once the status change that raised them has finished.
    connect(this, &TransfersForm::DownloadComplete, this, &TransfersForm::OnDownloadComplete,
            Qt::QueuedConnection);
    RegisterWidgetForTabFocus(mp_ui->downloadsList, 1);
    RegisterWidgetForTabFocus(mp_ui->uploadsList, 1);

    if (!d.HasType("complete_download_alert"))
    {
        DeclareTypes({{"complete_download_alert", Primary, true}});
        DeclareRelations({{"complete_download_alert", "download_entry", One, One},
                          {"complete_download_alert", "user", Many, One},
                          {"complete_download_alert", "remote_folder", Many, One}});
    }
    ColorSettings::SetRecolorTransfers([this] { RecolorEntries(); });
    m_recolorInstalled = true;
    UpdateActiveTransferCounts();
}

void TransfersForm::DeclareActionSets()
{
    if (!actionBar)
        return;
    actionBar->AddSetActions(Actions);
    actionBar->RegisterWidget(mp_ui->downloadsList, "downloads");
    actionBar->SetWidgetActionText(mp_ui->downloadsList, "expand_download_folders",
                                   tr("Expand Folders [on]"));
    actionBar->SetWidgetActionText(mp_ui->downloadsList, "expand_download_users",
                                   tr("Expand Users [on]"));
    actionBar->RegisterWidget(mp_ui->uploadsList, "uploads");
    actionBar->SetWidgetActionText(mp_ui->uploadsList, "expand_upload_folders",
                                   tr("Expand Folders [on]"));
    actionBar->SetWidgetActionText(mp_ui->uploadsList, "expand_upload_users",
                                   tr("Expand Users [on]"));
    connect(actionBar, &ActionSetToolBar::ActionTriggered, this,
            &TransfersForm::OnActionBarTriggered);
}

void TransfersForm::DataLoaded()
{
    m_storeLoaded = true;
    mp_ui->uploadLimitSpinBox->setValue(static_cast<int>(GetSettingInt("upload_speed_limit")));
    mp_ui->uploadSlotsSpinBox->setValue(static_cast<int>(GetSettingInt("upload_slots")));
    mp_ui->uploadLimitCheckBox->setChecked(IsSettingYes("upload_speed_limit_enabled"));
    mp_ui->clearDownloadsCheckBox->setChecked(IsSettingYes("clear_complete_downloads"));
    mp_ui->clearUploadsCheckBox->setChecked(IsSettingYes("clear_complete_aborted_uploads"));
    ConnectSettingWidgets();
    if (sizeManager)
    {
        sizeManager->RegisterTreeWidget("download_list", mp_ui->downloadsList);
        sizeManager->RegisterTreeWidget("upload_list", mp_ui->uploadsList);
    }
}

// Only after the stored values are shown, so that showing them writes nothing back.
void TransfersForm::ConnectSettingWidgets()
{
    const auto l_valueChanged = QOverload<int>::of(&QSpinBox::valueChanged);
    connect(mp_ui->uploadLimitSpinBox, l_valueChanged, this,
            &TransfersForm::OnUploadSpeedLimitSpinValueChanged);
    connect(mp_ui->uploadLimitCheckBox, &QCheckBox::stateChanged, this,
            &TransfersForm::OnUploadSpeedLimitCheckStateChanged);
    connect(mp_ui->clearDownloadsCheckBox, &QCheckBox::stateChanged, this,
            &TransfersForm::OnClearDownloadsCheckStateChanged);
    connect(mp_ui->clearUploadsCheckBox, &QCheckBox::stateChanged, this,
            &TransfersForm::OnClearUploadsCheckStateChanged);
    connect(mp_ui->uploadSlotsSpinBox, l_valueChanged, this,
            &TransfersForm::OnUploadSlotsSpinValueChanged);
}

// The saved downloads in queue order. Each row's status is shown as it is made, and each group
// row's aggregate once at the end. The rows are held back while they are built, and the list
// takes them in one step.
void TransfersForm::OnTransfersLoaded()
{
    m_transfersLoaded = true;
    m_loadingRows = true;
    Held(Downloads).HoldAll(true);
    for (ItemPtr l_entry : g("download_entry").SortNumericBy("download_order", true))
        OnDownloadEntryAdded(l_entry);
    m_loadingRows = false;
    Held(Downloads).HoldAll(false);
    for (QTreeWidgetItem* lp_row : Held(Downloads).Join())
    {
        for (int l_child = 0; l_child < lp_row->childCount(); ++l_child)
            ShowGroupStatus(Downloads, lp_row->child(l_child));
        ShowGroupStatus(Downloads, lp_row);
    }
    UpdateActiveTransferCounts();
}

void TransfersForm::JoinHeldRows()
{
    mp_heldDownloads->Join();
    mp_heldUploads->Join();
}

void TransfersForm::OpenNewRow(const ListKind& i_kind, QTreeWidgetItem* ip_row)
{
    Held(i_kind).Open(ip_row);
    // A held row opens unheard as it joins its list; what opening does to its figures is done now,
    // as for a row that opened in the list as it was made.
    if (!ip_row->treeWidget())
        ForgetGroupFigures(ip_row);
}

QTreeWidgetItem* TransfersForm::UserRow(const ListKind& i_kind, ItemPtr i_user, bool i_expand)
{
    if (const ItemPtr l_node = i_user[i_kind.userNode])
        return RowOfNode(l_node);
    QTreeWidgetItem* lp_row = Held(i_kind).NewRow(nullptr);
    i_user += d.GetType(i_kind.userNode)->GetItem(Value(lp_row));
    lp_row->setText(0, i_user.AsString());
    lp_row->setIcon(0, TransferRowIcons::Online(i_user.IsConnected("is_online")));
    if (i_expand)
        OpenNewRow(i_kind, lp_row);
    return lp_row;
}

QTreeWidgetItem* TransfersForm::NewEntryRow(const ListKind& i_kind, ItemPtr i_entry,
                                            ItemPtr i_folder, bool i_expandUsers,
                                            bool i_expandFolders)
{
    const ItemPtr l_user = i_entry["user"];
    if (!l_user || !i_folder || i_entry[i_kind.fileNode])
        return nullptr;
    QTreeWidgetItem* lp_userRow = UserRow(i_kind, l_user, i_expandUsers);
    const ItemPtr l_userNode = l_user[i_kind.userNode];

    ItemPtr l_folderNode = d.GetItem(l_userNode, i_folder, i_kind.folderNode);
    QTreeWidgetItem* lp_folderRow = RowOfNode(l_folderNode);
    if (!l_folderNode)
    {
        lp_folderRow = Held(i_kind).NewRow(lp_userRow);
        l_folderNode = d.GetType(i_kind.folderNode)->GetItem(Value(lp_folderRow));
        l_folderNode += l_userNode;
        l_folderNode += i_folder;
        lp_folderRow->setText(1, ReversePathname(i_folder.AsString()));
        if (i_expandFolders)
            OpenNewRow(i_kind, lp_folderRow);
    }

    QTreeWidgetItem* lp_row = Held(i_kind).NewRow(lp_folderRow);
    // The list lays every shown row out again whenever rows come under an open one; a row that
    // can have none below it is laid out without asking.
    lp_row->setFlags(lp_row->flags() | Qt::ItemNeverHasChildren);
    const ItemPtr l_node = d.GetType(i_kind.fileNode)->GetItem(Value(lp_row));
    i_entry += l_node;
    l_node += l_folderNode;
    (this->*i_kind.tallies).Join(i_entry, lp_folderRow, lp_userRow);
    return lp_row;
}

void TransfersForm::OnDownloadEntryAdded(ItemPtr i_entry)
{
    if (!m_transfersLoaded)
        return;
    QTreeWidgetItem* lp_row = NewEntryRow(Downloads, i_entry, i_entry["remote_folder"],
                                          m_expandDownloadUsers, m_expandDownloadFolders);
    if (!lp_row)
        return;
    lp_row->setText(2, i_entry["file_name"].AsString());
    lp_row->setText(7, CommafyNumber(i_entry["file_size"].AsInt64()));
    if (const ItemPtr l_status = i_entry["download_entry_status"])
    {
        ConnectionInfo l_info{i_entry.Get(), l_status.Get()};
        OnDownloadEntryStatusChange(l_info);
    }
}

void TransfersForm::OnUploadEntryAdded(ItemPtr i_entry)
{
    const ItemPtr l_file = i_entry["shared_file"];
    QTreeWidgetItem* lp_row = NewEntryRow(Uploads, i_entry, l_file["shared_file_folder"],
                                          m_expandUploadUsers, m_expandUploadFolders);
    if (!lp_row)
        return;
    lp_row->setText(2, ToQString(GetFileName(l_file["shared_file_name"].AsStdString())));
    lp_row->setText(7, CommafyNumber(l_file["shared_file_size"].AsInt64()));
}

// A group row goes with the last entry below it; one that keeps some shows what is left.
void TransfersForm::RemoveEntryRow(const ListKind& i_kind, ItemPtr i_entry)
{
    const ItemPtr l_node = i_entry[i_kind.fileNode];
    if (!l_node)
        return;
    QTreeWidgetItem* lp_row = RowOfNode(l_node);
    QTreeWidgetItem* lp_folderRow = Held(i_kind).Parent(lp_row);
    QTreeWidgetItem* lp_userRow = lp_folderRow ? Held(i_kind).Parent(lp_folderRow) : nullptr;
    TransferRowTallies& l_tallies = this->*i_kind.tallies;
    l_tallies.Leave(i_entry);
    l_node.Remove();
    DropRow(i_kind, lp_row);
    for (const auto& [lp_group, lp_nodeType] :
         {std::pair{lp_folderRow, i_kind.folderNode}, {lp_userRow, i_kind.userNode}})
    {
        if (!lp_group)
            continue;
        const TransferGroupTally* lp_tally = l_tallies.Find(lp_group);
        if (lp_tally && lp_tally->Entries() > 0)
        {
            RememberRemainingGroup(i_kind, lp_group);
            continue;
        }
        const ItemPtr l_groupNode = NodeOfRow(lp_nodeType, lp_group);
        ForgetRemainingGroup(lp_group);
        l_tallies.Forget(lp_group);
        DropRow(i_kind, lp_group);
        if (l_groupNode)
            l_groupNode.Remove();
    }
}

TransfersForm::RowRemovals::RowRemovals() : mp_form(transfersForm)
{
    if (mp_form)
        ++mp_form->m_rowRemovals;
}

TransfersForm::RowRemovals::~RowRemovals()
{
    if (mp_form && --mp_form->m_rowRemovals == 0)
        mp_form->DropRemovedRows();
}

void TransfersForm::DropRow(const ListKind& i_kind, QTreeWidgetItem* ip_row)
{
    if (m_rowRemovals > 0)
        m_removedRows.push_back(ip_row);
    else
    {
        Held(i_kind).Take(ip_row);
        delete ip_row;
    }
}

// A removed row whose parent went too goes with it; a held row that waits for its parent has
// none yet. Each leaves its list at once; the rows are deleted later.
void TransfersForm::DropRemovedRows()
{
    const std::vector<QTreeWidgetItem*> l_rows = std::exchange(m_removedRows, {});
    const std::unordered_set<QTreeWidgetItem*> l_removed(l_rows.begin(), l_rows.end());
    for (QTreeWidgetItem* lp_row : l_rows)
    {
        QTreeWidgetItem* lp_parent = lp_row->parent();
        const bool l_held = mp_heldDownloads->Take(lp_row) || mp_heldUploads->Take(lp_row);
        if (!l_held && l_removed.count(lp_parent))
            continue;
        if (lp_parent)
            lp_parent->removeChild(lp_row);
        else if (QTreeWidget* lp_list = lp_row->treeWidget())
            lp_list->takeTopLevelItem(lp_list->indexOfTopLevelItem(lp_row));
        if (m_takenRows.empty())
            QMetaObject::invokeMethod(this, "DeleteTakenRows", Qt::QueuedConnection);
        m_takenRows.push_back(lp_row);
    }
}

void TransfersForm::DeleteTakenRows()
{
    constexpr int l_slice = 2000;
    for (int l_deleted = 0; l_deleted < l_slice && !m_takenRows.empty(); ++l_deleted)
    {
        QTreeWidgetItem* lp_row = m_takenRows.back();
        m_takenRows.pop_back();
        for (QTreeWidgetItem* lp_child : lp_row->takeChildren())
            m_takenRows.push_back(lp_child);
        delete lp_row;
    }
    if (!m_takenRows.empty())
        QMetaObject::invokeMethod(this, "DeleteTakenRows", Qt::QueuedConnection);
}

// Many removals in one turn of the event loop, as a clearing makes, show each group once.
void TransfersForm::RememberRemainingGroup(const ListKind& i_kind, QTreeWidgetItem* ip_row)
{
    if (m_remainingGroups.empty())
        QMetaObject::invokeMethod(this, "ShowRemainingGroupStatuses", Qt::QueuedConnection);
    m_remainingGroups.emplace(&i_kind, ip_row);
}

void TransfersForm::ForgetRemainingGroup(QTreeWidgetItem* ip_row)
{
    for (const ListKind* lp_kind : {&Downloads, &Uploads})
        m_remainingGroups.erase({lp_kind, ip_row});
}

void TransfersForm::ShowRemainingGroupStatuses()
{
    for (const auto& [lp_kind, lp_row] : std::exchange(m_remainingGroups, {}))
    {
        ShowRemainingGroupBar(*lp_kind, lp_row);
        ShowGroupStatus(*lp_kind, lp_row);
    }
}

void TransfersForm::OnDownloadEntryRemoved(ItemPtr i_entry)
{
    m_pendingCompletions.erase(i_entry.Get());
    RemoveEntryRow(Downloads, i_entry);
    RequestActiveTransferCounts();
}

void TransfersForm::OnUploadEntryRemoved(ItemPtr i_entry)
{
    m_idleUploads.Forget(i_entry);
    RemoveEntryRow(Uploads, i_entry);
    RequestActiveTransferCounts();
}

void TransfersForm::OnUploadStamped(ConnectionInfo& i_info)
{
    m_idleUploads.Note(ItemPtr(i_info.from));
}

void TransfersForm::OnUserOnline(ItemPtr i_user)
{
    for (const ListKind* lp_kind : {&Downloads, &Uploads})
        if (QTreeWidgetItem* lp_row = RowOfNode(i_user[lp_kind->userNode]))
            lp_row->setIcon(0, TransferRowIcons::Online(true));
}

void TransfersForm::OnUserOffline(ItemPtr i_user)
{
    for (const ListKind* lp_kind : {&Downloads, &Uploads})
        if (QTreeWidgetItem* lp_row = RowOfNode(i_user[lp_kind->userNode]))
            lp_row->setIcon(0, TransferRowIcons::Online(false));
}

void TransfersForm::OnDownloadPlaceInLine(ItemPtr i_entry)
{
    if (QTreeWidgetItem* lp_row = RowOfNode(i_entry[Downloads.fileNode]))
        lp_row->setText(8, i_entry["place_in_line"].AsString());
}

// Many removals in one turn of the event loop ask once; the count is taken once they are gone.
void TransfersForm::RequestActiveTransferCounts()
{
    if (m_countsRequested)
        return;
    m_countsRequested = true;
    QMetaObject::invokeMethod(this, "UpdateActiveTransferCounts", Qt::QueuedConnection);
}

void TransfersForm::UpdateActiveTransferCounts()
{
    m_countsRequested = false;
    int l_index = -1;
    QTabWidget* lp_tabs = GetWidgetTabWidget(this, l_index);
    if (!lp_tabs || !transferQueueManager)
        return;
    const QString l_title = tr("Transfers [%1/%2]")
                                .arg(transferQueueManager->ActiveDownloadCount())
                                .arg(transferQueueManager->ActiveUploadCount());
    // Setting a tab's text lays the whole tab bar out again, even for the same text.
    if (lp_tabs->tabText(l_index) != l_title)
        lp_tabs->setTabText(l_index, l_title);
}

bool TransfersForm::IsGroupRow(const ListKind& i_kind, QTreeWidgetItem* ip_row)
{
    return NodeOfRow(i_kind.userNode, ip_row) || NodeOfRow(i_kind.folderNode, ip_row);
}

ItemSet TransfersForm::NodeEntryItems(const ListKind& i_kind, QTreeWidgetItem* ip_row) const
{
    if (const ItemPtr l_userNode = NodeOfRow(i_kind.userNode, ip_row))
        return l_userNode.GetItems(i_kind.folderNode)
            .GetItems(i_kind.fileNode)
            .GetItems(i_kind.entryType);
    if (const ItemPtr l_folderNode = NodeOfRow(i_kind.folderNode, ip_row))
        return l_folderNode.GetItems(i_kind.fileNode).GetItems(i_kind.entryType);
    if (const ItemPtr l_entry = NodeOfRow(i_kind.fileNode, ip_row)[i_kind.entryType])
        return ItemSet(l_entry);
    return ItemSet();
}

ItemSet TransfersForm::GetNodeDownloadEntryItems(QTreeWidgetItem* ip_row) const
{
    return NodeEntryItems(Downloads, ip_row);
}

ItemSet TransfersForm::GetNodeUploadEntryItems(QTreeWidgetItem* ip_row) const
{
    return NodeEntryItems(Uploads, ip_row);
}

QTreeWidgetItem* TransfersForm::NodeUserRow(const ListKind& i_kind, QTreeWidgetItem* ip_row) const
{
    if (!ip_row || NodeOfRow(i_kind.userNode, ip_row))
        return ip_row;
    const HeldTransferRows& l_held = Held(i_kind);
    if (NodeOfRow(i_kind.folderNode, ip_row))
        return l_held.Parent(ip_row);
    QTreeWidgetItem* lp_folderRow = l_held.Parent(ip_row);
    return lp_folderRow ? l_held.Parent(lp_folderRow) : nullptr;
}

QTreeWidgetItem* TransfersForm::GetDownloadNodeUserNode(QTreeWidgetItem* ip_row) const
{
    return NodeUserRow(Downloads, ip_row);
}

QTreeWidgetItem* TransfersForm::GetUploadNodeUserNode(QTreeWidgetItem* ip_row) const
{
    return NodeUserRow(Uploads, ip_row);
}

void TransfersForm::OnCurrentTabChanged(int)
{
}
