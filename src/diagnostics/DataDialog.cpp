#include "diagnostics/DataDialog.h"

#include <QHeaderView>
#include <QListWidget>
#include <QSplitter>
#include <QTreeWidget>

#include <vector>

#include "store/Data.h"
#include "ui_DataDialog.h"

DataDialog* dataDialog = nullptr;

namespace
{
const int kTypePaneWidth = 350;

QString AddressText(ItemPtr i_item)
{
    return QString::number(static_cast<quint64>(reinterpret_cast<quintptr>(i_item.Get())));
}

QString ChildRowText(ItemPtr i_item)
{
    const QString l_typeName = QString::fromStdString(i_item.GetType()->GetName());
    if (i_item.GetType()->IsNull())
        return QLatin1Char('[') + l_typeName + QLatin1String(", null]");
    return QLatin1Char('[') + l_typeName + QLatin1String("] ") + i_item.AsString();
}
} // namespace

DataDialog::DataDialog(Data* ip_data, QWidget* ip_parent)
    : QDialog(ip_parent), mp_ui(new Ui_DataDialog)
{
    dataDialog = this;
    mp_ui->setupUi(this);

    mp_ui->typeSplitter->setSizes({kTypePaneWidth, width() - kTypePaneWidth});
    mp_ui->typeSplitter->setStretchFactor(0, 0);
    mp_ui->typeSplitter->setStretchFactor(1, 1);

    QTreeWidget* lp_typeList = mp_ui->typeList;
    lp_typeList->setColumnCount(3);
    lp_typeList->setHeaderLabels({QStringLiteral("Type"), QString(), QStringLiteral("#")});
    for (int l_column = 0; l_column < 3; ++l_column)
        lp_typeList->header()->setSectionResizeMode(l_column, QHeaderView::ResizeToContents);

    for (const auto& l_entry : ip_data->Types())
    {
        Type* lp_type = l_entry.second;
        auto* lp_row = new QTreeWidgetItem(lp_typeList);
        lp_row->setText(0, QString::fromStdString(l_entry.first));
        lp_row->setText(1,
                        lp_type->IsNull() ? QStringLiteral("null   ") : QStringLiteral("value   "));
        lp_row->setText(2, QString::number(lp_type->ItemCount()));
        m_typeRows[l_entry.first] = lp_row;
        m_typeNames[lp_row] = l_entry.first;
    }

    lp_typeList->sortItems(0, Qt::AscendingOrder);
    mp_ui->itemList->sortItems(Qt::AscendingOrder);
    mp_ui->itemList->setSortingEnabled(true);

    setAttribute(Qt::WA_DeleteOnClose);

    ip_data->m_newItemEvent.AddHandler(NewEventHandler(this, &DataDialog::OnItemAdded));
    ip_data->m_removedEvent.AddHandler(NewEventHandler(this, &DataDialog::OnItemRemoved));
    ip_data->m_typeRemovedEvent.AddHandler(NewEventHandler(this, &DataDialog::OnTypeRemoved));
}

DataDialog::~DataDialog()
{
    if (dataDialog == this)
        dataDialog = nullptr;
    delete mp_ui;
}

void DataDialog::OnTypeItemSelectionChanged()
{
    ForgetItemRows();
    ForgetTreeRows();
    mp_ui->itemList->clear();
    mp_ui->itemDataTree->clear();
    mp_currentType = nullptr;

    const QList<QTreeWidgetItem*> l_selected = mp_ui->typeList->selectedItems();
    if (l_selected.isEmpty())
        return;
    auto l_name = m_typeNames.find(l_selected.first());
    if (l_name == m_typeNames.end())
        return;
    mp_currentType = d.HasType(l_name->second);
    if (!mp_currentType)
        return;

    const bool l_valueless = mp_currentType->IsNull();
    for (ItemPtr l_item : mp_currentType->GetItems())
    {
        auto* lp_row = new QListWidgetItem(l_valueless ? AddressText(l_item) : l_item.AsString());
        mp_ui->itemList->addItem(lp_row);
        m_listRows[l_item] = lp_row;
        m_listItems[lp_row] = l_item;
    }
}

void DataDialog::OnItemClicked(QListWidgetItem* ip_row)
{
    mp_ui->itemDataTree->clear();
    ForgetTreeRows();

    auto l_item = m_listItems.find(ip_row);
    if (l_item == m_listItems.end())
        return;
    m_rootItem = l_item->second;
    auto* lp_rootRow = new QTreeWidgetItem(mp_ui->itemDataTree);
    lp_rootRow->setText(0, m_rootItem.AsString());
    // Recorded first, so that the expansions below take it for a loaded row.
    m_treeRows[m_rootItem].insert(lp_rootRow);
    m_treeItems[lp_rootRow] = m_rootItem;
    AddItemSubnodes(m_rootItem, lp_rootRow, {m_rootItem.GetType()});
}

void DataDialog::AddItemSubnodes(ItemPtr i_item, QTreeWidgetItem* ip_parentRow,
                                 std::set<Type*> i_excludedTypes)
{
    const TypeItemsMap& l_connections = i_item->Connections();
    for (auto l_group = l_connections.Begin(); l_group != l_connections.End(); ++l_group)
    {
        if (i_excludedTypes.count(l_group.GetType()) != 0)
            continue;
        for (ItemPtr l_connected : *l_group.Set())
        {
            auto* lp_row = new QTreeWidgetItem(ip_parentRow);
            lp_row->setText(0, ChildRowText(l_connected));
            m_treeRows[l_connected].insert(lp_row);
            m_treeItems[lp_row] = l_connected;
            if (!l_connected->Connections().Empty())
                new QTreeWidgetItem(lp_row, QStringList{QStringLiteral("~~unloaded~~")});
        }
        ip_parentRow->setExpanded(true);
    }
}

void DataDialog::OnDataSubItemExpanded(QTreeWidgetItem* ip_row)
{
    // Only a row whose one child is the placeholder still has its level to load.
    if (ip_row->childCount() != 1 || m_treeItems.count(ip_row->child(0)) != 0)
        return;
    auto l_item = m_treeItems.find(ip_row);
    if (l_item == m_treeItems.end())
        return;
    delete ip_row->takeChild(0);
    AddItemSubnodes(l_item->second, ip_row, {l_item->second.GetType()});
    mp_ui->itemDataTree->setCurrentItem(ip_row);
}

void DataDialog::OnItemAdded(ItemPtr i_item)
{
    Type* lp_type = i_item.GetType();
    UpdateCount(lp_type);
    if (lp_type != mp_currentType || m_listRows.count(i_item) != 0)
        return;
    auto* lp_row = new QListWidgetItem(i_item.AsString());
    mp_ui->itemList->insertItem(0, lp_row);
    m_listRows[i_item] = lp_row;
    m_listItems[lp_row] = i_item;
}

void DataDialog::OnItemRemoved(ItemPtr i_item)
{
    Type* lp_type = i_item.GetType();
    UpdateCount(lp_type);

    if (lp_type == mp_currentType)
    {
        auto l_row = m_listRows.find(i_item);
        if (l_row != m_listRows.end())
        {
            m_listItems.erase(l_row->second);
            delete l_row->second;
            m_listRows.erase(l_row);
        }
    }

    if (m_rootItem && i_item == m_rootItem)
    {
        mp_ui->itemDataTree->clear();
        ForgetTreeRows();
        return;
    }

    auto l_rows = m_treeRows.find(i_item);
    if (l_rows == m_treeRows.end())
        return;
    // One row of the item may lie inside another's subtree; each goes only once.
    const std::vector<QTreeWidgetItem*> l_shown(l_rows->second.begin(), l_rows->second.end());
    for (QTreeWidgetItem* lp_row : l_shown)
    {
        if (m_treeItems.count(lp_row) == 0)
            continue;
        ForgetSubtree(lp_row);
        delete lp_row;
    }
}

void DataDialog::OnTypeRemoved(Type* ip_type)
{
    // Its items have gone already; what is left is its row and any reference to it.
    if (ip_type == mp_currentType)
    {
        ForgetItemRows();
        mp_ui->itemList->clear();
        mp_currentType = nullptr;
    }
    auto l_row = m_typeRows.find(ip_type->GetName());
    if (l_row == m_typeRows.end())
        return;
    QTreeWidgetItem* lp_typeRow = l_row->second;
    m_typeNames.erase(lp_typeRow);
    m_typeRows.erase(l_row);
    delete lp_typeRow;
}

void DataDialog::ForgetItemRows()
{
    m_listRows.clear();
    m_listItems.clear();
}

void DataDialog::ForgetTreeRows()
{
    m_treeRows.clear();
    m_treeItems.clear();
    m_rootItem = ItemPtr();
}

void DataDialog::ForgetSubtree(QTreeWidgetItem* ip_row)
{
    for (int l_index = 0; l_index < ip_row->childCount(); ++l_index)
        ForgetSubtree(ip_row->child(l_index));
    auto l_item = m_treeItems.find(ip_row);
    if (l_item == m_treeItems.end())
        return;
    auto l_rows = m_treeRows.find(l_item->second);
    if (l_rows != m_treeRows.end())
    {
        l_rows->second.erase(ip_row);
        if (l_rows->second.empty())
            m_treeRows.erase(l_rows);
    }
    m_treeItems.erase(l_item);
}

void DataDialog::UpdateCount(Type* ip_type)
{
    // A type declared after the dialog opened has no row.
    auto l_row = m_typeRows.find(ip_type->GetName());
    if (l_row != m_typeRows.end())
        l_row->second->setText(2, QString::number(ip_type->ItemCount()));
}
