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
    explicit DataDialog(Data* data, QWidget* parent = nullptr);
    ~DataDialog() override;

    // Adds one level of the connection tree under parentRow, leaving out the excluded types.
    void AddItemSubnodes(ItemPtr item, QTreeWidgetItem* parentRow, std::set<Type*> excludedTypes);

    void OnItemAdded(ItemPtr item);
    void OnItemRemoved(ItemPtr item);
    void OnTypeRemoved(Type* type);

public slots:
    void OnTypeItemSelectionChanged();
    void OnItemClicked(QListWidgetItem* row);
    void OnDataSubItemExpanded(QTreeWidgetItem* row);

private:
    void ForgetItemRows();
    void ForgetTreeRows();
    // Forgets the row and every recorded row below it; the widget deletes them.
    void ForgetSubtree(QTreeWidgetItem* row);
    void UpdateCount(Type* type);

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
