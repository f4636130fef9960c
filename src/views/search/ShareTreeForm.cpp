#include "views/search/ShareTreeForm.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "resources/Resources.h"
#include "shares/FilterParser.h"
#include "shares/SharedFoldersManager.h"
#include "shell/ActionSetToolBar.h"
#include "shell/RowNodes.h"
#include "shell/UIFunctions.h"
#include "store/Data.h"
#include "store/GeneralFunctions.h"
#include "store/Settings.h"
#include "views/search/FilterHelpDialog.h"

namespace
{
const char* const FolderNode = "user_share_folder_node";
const char* const FileNode = "user_share_file_node";
const char* const ExpandLevelAction = "expand_level";

// The folders directly below a folder, through its child and parent links.
std::vector<ItemPtr> SubFolders(ItemPtr i_folder)
{
    std::vector<ItemPtr> l_folders;
    for (ItemPtr l_child : i_folder.GetItems("user_share_folder_child"))
        if (ItemPtr l_folder = l_child["user_share_folder_parent"]["user_share_folder"])
            l_folders.push_back(l_folder);
    return l_folders;
}

// Whether the row or a row above it is hidden.
bool IsHiddenOnItsPath(const QTreeWidgetItem* ip_row)
{
    for (; ip_row; ip_row = ip_row->parent())
        if (ip_row->isHidden())
            return true;
    return false;
}
} // namespace

ShareTreeForm::ShareTreeForm(QString i_user, const char* ip_tabRecord, QWidget* ip_parent)
    : QWidget(ip_parent), m_user(i_user), mp_tabRecord(ip_tabRecord)
{
    InitResources();
}

void ShareTreeForm::RemoveTabRecord()
{
    if (ItemPtr l_record = d.GetType(mp_tabRecord)->HasItem(Value(this)))
        l_record.Remove();
}

void ShareTreeForm::PrepareLists(QTreeWidget* ip_folderTree, QTreeWidget* ip_fileList,
                                 QLineEdit* ip_filterEdit, QPushButton* ip_filterHelpButton,
                                 const char* ip_folderSet, const char* ip_fileSet)
{
    mp_folderTree = ip_folderTree;
    mp_fileList = ip_fileList;
    mp_filterEdit = ip_filterEdit;
    mp_filterHelpButton = ip_filterHelpButton;
    ShowLists(false);

    mp_fileList->setSortingEnabled(true);
    mp_fileList->sortByColumn(0, Qt::AscendingOrder);
    mp_folderTree->setHeaderLabels({"Folder"});
    if (actionBar)
    {
        actionBar->RegisterWidget(mp_folderTree, ip_folderSet);
        actionBar->RegisterWidget(mp_fileList, ip_fileSet);
    }
    mp_fileList->setHeaderLabels({"File", "Size", "Attributes"});
    // Every row one line high: a changed row is then not laid out again.
    mp_fileList->setUniformRowHeights(true);
    mp_fileList->setColumnWidth(0, 200);
    FitColumn(mp_fileList, 1, 70, {CommafyNumber(LargestFigure::Size)});
    mp_fileList->header()->setStretchLastSection(true);

    connect(mp_folderTree, &QTreeWidget::currentItemChanged, this,
            &ShareTreeForm::OnCurrentItemChanged);
    connect(mp_filterEdit, &QLineEdit::textChanged, this, &ShareTreeForm::OnFilterTextChanged);
    connect(mp_filterHelpButton, &QPushButton::clicked, this, &ShareTreeForm::OnFilterHelpClicked);
    d.GetType("user")->GetItem(Value(m_user)) += d.GetType(mp_tabRecord)->GetItem(Value(this));
}

void ShareTreeForm::ShowLists(bool i_show)
{
    for (QWidget* lp_widget : {static_cast<QWidget*>(mp_folderTree), static_cast<QWidget*>(mp_fileList),
                               static_cast<QWidget*>(mp_filterEdit), static_cast<QWidget*>(mp_filterHelpButton)})
        lp_widget->setVisible(i_show);
}

void ShareTreeForm::FillFolderTree(ItemPtr i_share)
{
    Type* lp_nodes = d.GetType(FolderNode);

    // A parent's path is a proper prefix of its sub-folders' paths, so in byte order every
    // parent comes first and its row is there when a sub-folder looks for it.
    std::vector<std::pair<std::string_view, ItemPtr>> l_folders;
    for (ItemPtr l_folder : i_share.GetItems("user_share_folder"))
        if (ItemPtr l_name = l_folder["user_share_folder_name"])
            l_folders.emplace_back(l_name->GetValue().Bytes(), l_folder);
    std::sort(l_folders.begin(), l_folders.end(),
              [](const auto& i_a, const auto& i_b) { return i_a.first < i_b.first; });

    m_deepestLevel = 0;
    mp_folderTree->setUpdatesEnabled(false);
    // Rows are built apart from the tree and handed to it at once: the tree's model hears of
    // the top-level rows only, not of every row added below them.
    QList<QTreeWidgetItem*> l_topLevel;
    // Each path's row and level, for its sub-folders to find.
    std::unordered_map<std::string_view, std::pair<QTreeWidgetItem*, int>> l_rows;
    for (const auto& [l_pathBytes, l_folder] : l_folders)
    {
        const std::string l_path(l_pathBytes);
        const std::string l_parentPath = GetParentFolder(l_path);
        const auto l_parent = l_parentPath != l_path ? l_rows.find(l_parentPath) : l_rows.end();
        auto* lp_row = new QTreeWidgetItem(QStringList(ToQString(GetFileName(l_path))));
        int l_level = 0;
        if (l_parent != l_rows.end())
        {
            l_parent->second.first->addChild(lp_row);
            l_level = l_parent->second.second + 1;
            m_deepestLevel = std::max(m_deepestLevel, l_level);
        }
        else
            l_topLevel << lp_row;
        l_rows.emplace(l_pathBytes, std::make_pair(lp_row, l_level));
        lp_nodes->GetItem(Value(lp_row)) += l_folder;
    }
    mp_folderTree->addTopLevelItems(l_topLevel);
    if (IsSettingYes("expand_new_shares"))
        mp_folderTree->expandAll();
    mp_folderTree->setUpdatesEnabled(true);
}

void ShareTreeForm::ClearFileList()
{
    Type* lp_nodes = d.GetType(FileNode);
    {
        RemovalScope l_scope(d);
        for (int l_index = 0; l_index < mp_fileList->topLevelItemCount(); ++l_index)
            if (ItemPtr l_node = lp_nodes->HasItem(Value(mp_fileList->topLevelItem(l_index))))
                l_node.Remove();
    }
    mp_fileList->clear();
}

void ShareTreeForm::OnCurrentItemChanged(QTreeWidgetItem* ip_current, QTreeWidgetItem*)
{
    ClearFileList();
    const ItemPtr l_folder = FolderOfRow(ip_current);
    if (!l_folder)
        return;

    // The words that the folder names along the path already hold are not asked of the files.
    FilterParser l_filter;
    l_filter.Parse(mp_filterEdit->text());
    for (QTreeWidgetItem* lp_row = ip_current; lp_row; lp_row = lp_row->parent())
    {
        FilterParser l_rest;
        // A folder whose path holds an excluded word lists nothing, as its row is hidden.
        if (l_filter.IsMatching(lp_row->text(0), &l_rest, ItemPtr()) == FilterParser::Excluded)
            return;
        l_filter = l_rest;
    }

    Type* lp_nodes = d.GetType(FileNode);
    Type* lp_names = d.GetType("user_share_file_name");
    QList<QTreeWidgetItem*> l_rows;
    for (ItemPtr l_file : ConnectedSet(l_folder, d.GetType("user_share_file")))
    {
        const QString l_name = ItemPtr(ConnectedSet(l_file, lp_names)).AsString();
        if (l_filter.IsMatching(l_name, nullptr, l_file) != FilterParser::Matching)
            continue;
        auto* lp_row = new QTreeWidgetItem(
            QStringList{l_name, CommafyNumber(l_file["file_size"].AsInt64()),
                        sharedFoldersManager ? sharedFoldersManager->GetFileItemDisplayString(l_file) : QString()});
        lp_nodes->GetItem(Value(lp_row)) += l_file;
        l_rows << lp_row;
    }
    // Sorted once, not at every row.
    mp_fileList->setSortingEnabled(false);
    mp_fileList->addTopLevelItems(l_rows);
    mp_fileList->setSortingEnabled(true);
}

void ShareTreeForm::OnFilterTextChanged(QString i_text)
{
    FilterParser l_filter;
    l_filter.Parse(i_text);
    mp_folderTree->setUpdatesEnabled(false);
    for (int l_index = 0; l_index < mp_folderTree->topLevelItemCount(); ++l_index)
        FilterFolderNode(mp_folderTree->topLevelItem(l_index), l_filter);
    mp_folderTree->setUpdatesEnabled(true);

    QTreeWidgetItem* lp_current = mp_folderTree->currentItem();
    if (!lp_current)
        return;
    // No node may outlive its row, so a hidden folder's list goes with its nodes.
    if (IsHiddenOnItsPath(lp_current))
        ClearFileList();
    else
        OnCurrentItemChanged(lp_current, lp_current);
}

bool ShareTreeForm::HasEnoughMatchingFiles(QTreeWidgetItem* ip_row, const FilterParser& i_rest)
{
    int l_needed = std::max(1, i_rest.MinFilesInFolder());
    Type* lp_names = d.GetType("user_share_file_name");
    for (ItemPtr l_file : ConnectedSet(FolderOfRow(ip_row), d.GetType("user_share_file")))
        if (i_rest.IsMatching(ItemPtr(ConnectedSet(l_file, lp_names)).AsString(), nullptr, l_file) ==
                FilterParser::Matching &&
            --l_needed == 0)
            return true;
    return false;
}

bool ShareTreeForm::FilterFolderNode(QTreeWidgetItem* ip_row, FilterParser& i_filter)
{
    // One entry per row on the way down: what the row's name left of the filter for the rows
    // below, whether the row is shown so far, and the next sub-row to visit.
    struct Visit
    {
        QTreeWidgetItem* row;
        FilterParser rest;
        bool shown;
        int next;
    };
    std::vector<Visit> l_path;
    // Starts a row's visit; false when an excluded word hides it with everything below.
    const auto l_enter = [&l_path](QTreeWidgetItem* ip_entered, const FilterParser& i_above) {
        FilterParser l_rest;
        const int l_match = i_above.IsMatching(ip_entered->text(0), &l_rest, ItemPtr());
        if (l_match == FilterParser::Excluded)
        {
            ip_entered->setHidden(true);
            return false;
        }
        bool l_shown = l_match == FilterParser::Matching && !l_rest.HasAttributes() &&
                       l_rest.MinFilesInFolder() == 0;
        if (!l_shown)
            l_shown = HasEnoughMatchingFiles(ip_entered, l_rest);
        l_path.push_back({ip_entered, std::move(l_rest), l_shown, 0});
        return true;
    };

    if (!l_enter(ip_row, i_filter))
        return false;
    bool l_shown = false;
    while (!l_path.empty())
    {
        Visit& l_visit = l_path.back();
        if (l_visit.next < l_visit.row->childCount())
        {
            QTreeWidgetItem* lp_child = l_visit.row->child(l_visit.next++);
            // The copy keeps the filter alive while the path grows.
            const FilterParser l_rest = l_visit.rest;
            l_enter(lp_child, l_rest);
            continue;
        }
        l_shown = l_visit.shown;
        l_visit.row->setHidden(!l_shown);
        l_path.pop_back();
        if (!l_path.empty() && l_shown)
            l_path.back().shown = true;
    }
    return l_shown;
}

void ShareTreeForm::SetExpandLevel(int i_level)
{
    m_expandLevel = i_level;
    if (actionBar)
        actionBar->SetWidgetActionText(
            mp_folderTree, ExpandLevelAction,
            i_level == 0 ? QString("Expand Level") : QString("Expand Level [%1]").arg(i_level));
}

void ShareTreeForm::ExpandAll()
{
    mp_folderTree->expandAll();
    SetExpandLevel(0);
}

void ShareTreeForm::CollapseAll()
{
    mp_folderTree->collapseAll();
    SetExpandLevel(0);
}

void ShareTreeForm::ExpandLevel()
{
    if (m_expandLevel == m_deepestLevel)
        return;
    mp_folderTree->expandToDepth(m_expandLevel);
    SetExpandLevel(m_expandLevel + 1);
}

void ShareTreeForm::OnFilterHelpClicked()
{
    FilterHelpDialog::Open(this);
}

const ItemSet& ShareTreeForm::ConnectedSet(ItemPtr i_item, Type* ip_type)
{
    static const ItemSet s_none;
    const ItemSet* lp_set = i_item ? i_item->Connections().FindSet(ip_type) : nullptr;
    return lp_set ? *lp_set : s_none;
}

ItemPtr ShareTreeForm::FolderOfRow(QTreeWidgetItem* ip_row)
{
    return NodeOfRow(FolderNode, ip_row)["user_share_folder"];
}

ItemPtr ShareTreeForm::FileOfRow(QTreeWidgetItem* ip_row)
{
    return NodeOfRow(FileNode, ip_row)["user_share_file"];
}

QTreeWidgetItem* ShareTreeForm::RowOf(ItemPtr i_item, const char* ip_nodeType)
{
    return RowOfNode(i_item[ip_nodeType]);
}

ItemPtr ShareTreeForm::FolderInTree(ItemPtr i_share, const std::string& i_path)
{
    const ItemPtr l_name = d.GetType("user_share_folder_name")->HasItem(i_path);
    for (ItemPtr l_folder : ConnectedSet(l_name, d.GetType("user_share_folder")))
        if (l_folder.IsConnected(i_share))
            return l_folder;
    return ItemPtr();
}

std::string ShareTreeForm::FolderPath(ItemPtr i_folder)
{
    return i_folder["user_share_folder_name"].AsStdString();
}

std::string ShareTreeForm::FileName(ItemPtr i_file)
{
    return i_file["user_share_file_name"].AsStdString();
}

void ShareTreeForm::ForEachFolderBelow(ItemPtr i_folder,
                                       const std::function<void(ItemPtr, bool)>& i_visit)
{
    std::vector<std::pair<ItemPtr, bool>> l_pending{{i_folder, false}};
    while (!l_pending.empty())
    {
        const auto [l_folder, l_below] = l_pending.back();
        l_pending.pop_back();
        i_visit(l_folder, l_below);
        // Pushed last first, so that sub-folders are taken in their set's order.
        const std::vector<ItemPtr> l_subFolders = SubFolders(l_folder);
        for (auto l_sub = l_subFolders.rbegin(); l_sub != l_subFolders.rend(); ++l_sub)
            l_pending.emplace_back(*l_sub, true);
    }
}
