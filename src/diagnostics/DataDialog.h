#pragma once

#include <QDialog>

#include <map>
#include <set>
#include <string>

#include "store/DataHandler.h"
#include "store/ItemPtr.h"

class Data;
class QListWidgetItem;
class QTreeWidgetItem;
class Type;
class Ui_DataDialog;

// Browses the live store: every type with its item count, the items of the selected type and
// a tree of one item's connections, loaded one level per expansion. Counts, list and tree
// follow item creation and removal while the dialog is open.
class DataDialog : public QDialog, public DataHandler
{
    Q_OBJECT

public:
    explicit DataDialog(Data* ip_data, QWidget* ip_parent = nullptr);
    ~DataDialog() override;

    // Adds one level of the connection tree under parentRow, leaving out the excluded types.
    void AddItemSubnodes(ItemPtr i_item, QTreeWidgetItem* ip_parentRow,
                         std::set<Type*> i_excludedTypes);

    void OnItemAdded(ItemPtr i_item);
    void OnItemRemoved(ItemPtr i_item);
    void OnTypeRemoved(Type* ip_type);

public slots:
    void OnTypeItemSelectionChanged();
    void OnItemClicked(QListWidgetItem* ip_row);
    void OnDataSubItemExpanded(QTreeWidgetItem* ip_row);

private:
    void ForgetItemRows();
    void ForgetTreeRows();
    // Forgets the row and every recorded row below it; the widget deletes them.
    void ForgetSubtree(QTreeWidgetItem* ip_row);
    void UpdateCount(Type* ip_type);

    Ui_DataDialog* mp_ui;
    std::map<std::string, QTreeWidgetItem*> m_typeRows;
    std::map<QTreeWidgetItem*, std::string> m_typeNames;
    Type* mp_currentType = nullptr;
    ItemPtr m_rootItem;
    std::map<ItemPtr, QListWidgetItem*> m_listRows;
    std::map<QListWidgetItem*, ItemPtr> m_listItems;
    std::map<ItemPtr, std::set<QTreeWidgetItem*>> m_treeRows;
    std::map<QTreeWidgetItem*, ItemPtr> m_treeItems;
};

extern DataDialog* dataDialog;
