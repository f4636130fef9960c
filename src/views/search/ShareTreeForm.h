#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <string>

#include "store/DataHandler.h"
#include "store/ItemPtr.h"
#include "store/ItemSet.h"

class FilterParser;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class Type;

// What a browse tab and an upload tab have in common: a `user_share` tree shown as a folder tree
// beside the file list of the current folder, filtered by the text of a filter box. Each folder
// row is tied to its `user_share_folder` by a `user_share_folder_node` valued by the row's
// address, each file row to its `user_share_file` by a `user_share_file_node`; file rows and
// their nodes exist only for the folder listed now.
//
// Lists nest as deep as a peer's list can make them (thousands of levels), so every walk down a
// tree keeps its own stack instead of recursing.
class ShareTreeForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    // Applies the filter to the folder row and every row below it; true when the row is shown.
    bool FilterFolderNode(QTreeWidgetItem* ip_row, FilterParser& i_filter);

    // The folder of that path in that tree; null when the tree has none. A path's name item is
    // shared by the folders of that path in every tree.
    static ItemPtr FolderInTree(ItemPtr i_share, const std::string& i_path);

    void ExpandAll();
    void CollapseAll();
    // Opens one more level of the folder tree, until the deepest level is open.
    void ExpandLevel();

    // Drops the tab's tree and record; the form goes at the next turn of the event loop. Called
    // once its tab was taken out of the tab control.
    virtual void Delete() = 0;

public slots:
    // Lists the files of the current row's folder that pass the filter.
    void OnCurrentItemChanged(QTreeWidgetItem* ip_current, QTreeWidgetItem* ip_previous);
    void OnFilterTextChanged(QString i_text);
    void OnFilterHelpClicked();

protected:
    // The tab's record is an item of that type valued by the tab's address, tied to the user.
    ShareTreeForm(QString i_user, const char* ip_tabRecord, QWidget* ip_parent);

    // Called by the tab's constructor once its layout exists: the file list's columns and
    // order, the toolbar sets of the two lists, the signals every tab follows and the record.
    void PrepareLists(QTreeWidget* ip_folderTree, QTreeWidget* ip_fileList, QLineEdit* ip_filterEdit,
                      QPushButton* ip_filterHelpButton, const char* ip_folderSet, const char* ip_fileSet);
    void RemoveTabRecord();
    void ShowLists(bool i_show);

    // One row per folder of the share in the byte order of the folder paths, a sub-folder
    // under its parent's row when the parent is part of the share.
    void FillFolderTree(ItemPtr i_share);
    // Drops the file rows and their nodes.
    void ClearFileList();

    // The items of a type connected to an item, read in place: a filter keystroke, a click or a
    // folder's download walks many of these sets and copies none. Empty for a null item.
    static const ItemSet& ConnectedSet(ItemPtr i_item, Type* ip_type);
    // The store items behind a row; null for a row without one.
    static ItemPtr FolderOfRow(QTreeWidgetItem* ip_row);
    static ItemPtr FileOfRow(QTreeWidgetItem* ip_row);
    // The row showing a file or folder now; null when there is none.
    static QTreeWidgetItem* RowOf(ItemPtr i_item, const char* ip_nodeType);
    // The folder's full path and the file's name, as received.
    static std::string FolderPath(ItemPtr i_folder);
    static std::string FileName(ItemPtr i_file);
    // The folder, then every folder below it, depth first; `below` is false only for the first.
    static void ForEachFolderBelow(ItemPtr i_folder,
                                   const std::function<void(ItemPtr i_folder, bool i_below)>& i_visit);

    // The browsed user, or the user our files are offered to.
    const QString m_user;
    QTreeWidget* mp_folderTree = nullptr;
    QTreeWidget* mp_fileList = nullptr;
    QLineEdit* mp_filterEdit = nullptr;
    QPushButton* mp_filterHelpButton = nullptr;

    // The `user_share` shown; null until a tree is handed over.
    ItemPtr m_share;
    // Of the folder rows: a top-level row is level 0.
    int m_deepestLevel = 0;
    // How many levels ExpandLevel has opened since the last fill, expand or collapse.
    int m_expandLevel = 0;

private:
    void SetExpandLevel(int i_level);

    const char* const mp_tabRecord;
    // Whether enough of the folder's own files pass what the folder's name left of the filter.
    static bool HasEnoughMatchingFiles(QTreeWidgetItem* ip_row, const FilterParser& i_rest);
};
