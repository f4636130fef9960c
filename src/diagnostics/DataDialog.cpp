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

QString AddressText(ItemPtr item)
{
    return QString::number(static_cast<quint64>(reinterpret_cast<quintptr>(item.Get())));
}

QString ChildRowText(ItemPtr item)
{
    const QString typeName = QString::fromStdString(item.GetType()->GetName());
    if (item.GetType()->IsNull())
        return QLatin1Char('[') + typeName + QLatin1String(", null]");
    return QLatin1Char('[') + typeName + QLatin1String("] ") + item.AsString();
}
} // namespace

DataDialog::DataDialog(Data* data, QWidget* parent) : QDialog(parent), mp_ui(new Ui_DataDialog)
{
    dataDialog = this;
    mp_ui->setupUi(this);

    mp_ui->typeSplitter->setSizes({kTypePaneWidth, width() - kTypePaneWidth});
    mp_ui->typeSplitter->setStretchFactor(0, 0);
    mp_ui->typeSplitter->setStretchFactor(1, 1);

    QTreeWidget* typeList = mp_ui->typeList;
    typeList->setColumnCount(3);
    typeList->setHeaderLabels({QStringLiteral("Type"), QString(), QStringLiteral("#")});
    for (int column = 0; column < 3; ++column)
        typeList->header()->setSectionResizeMode(column, QHeaderView::ResizeToContents);

    for (const auto& entry : data->Types())
    {
        Type* type = entry.second;
        auto* row = new QTreeWidgetItem(typeList);
        row->setText(0, QString::fromStdString(entry.first));
        row->setText(1, type->IsNull() ? QStringLiteral("null   ") : QStringLiteral("value   "));
        row->setText(2, QString::number(type->ItemCount()));
        m_typeRows[entry.first] = row;
        m_typeNames[row] = entry.first;
    }

    typeList->sortItems(0, Qt::AscendingOrder);
    mp_ui->itemList->sortItems(Qt::AscendingOrder);
    mp_ui->itemList->setSortingEnabled(true);

    setAttribute(Qt::WA_DeleteOnClose);

    data->m_newItemEvent.AddHandler(NewEventHandler(this, &DataDialog::OnItemAdded));
    data->m_removedEvent.AddHandler(NewEventHandler(this, &DataDialog::OnItemRemoved));
    data->m_typeRemovedEvent.AddHandler(NewEventHandler(this, &DataDialog::OnTypeRemoved));
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

    const QList<QTreeWidgetItem*> selected = mp_ui->typeList->selectedItems();
    if (selected.isEmpty())
        return;
    auto name = m_typeNames.find(selected.first());
    if (name == m_typeNames.end())
        return;
    mp_currentType = d.HasType(name->second);
    if (!mp_currentType)
        return;

    const bool valueless = mp_currentType->IsNull();
    for (ItemPtr item : mp_currentType->GetItems())
    {
        auto* row = new QListWidgetItem(valueless ? AddressText(item) : item.AsString());
        mp_ui->itemList->addItem(row);
        m_listRows[item] = row;
        m_listItems[row] = item;
    }
}

void DataDialog::OnItemClicked(QListWidgetItem* row)
{
    mp_ui->itemDataTree->clear();
    ForgetTreeRows();

    auto item = m_listItems.find(row);
    if (item == m_listItems.end())
        return;
    m_rootItem = item->second;
    auto* rootRow = new QTreeWidgetItem(mp_ui->itemDataTree);
    rootRow->setText(0, m_rootItem.AsString());
    // Recorded first, so that the expansions below take it for a loaded row.
    m_treeRows[m_rootItem].insert(rootRow);
    m_treeItems[rootRow] = m_rootItem;
    AddItemSubnodes(m_rootItem, rootRow, {m_rootItem.GetType()});
}

void DataDialog::AddItemSubnodes(ItemPtr item, QTreeWidgetItem* parentRow,
                                 std::set<Type*> excludedTypes)
{
    const TypeItemsMap& connections = item->Connections();
    for (auto group = connections.Begin(); group != connections.End(); ++group)
    {
        if (excludedTypes.count(group.GetType()) != 0)
            continue;
        for (ItemPtr connected : *group.Set())
        {
            auto* row = new QTreeWidgetItem(parentRow);
            row->setText(0, ChildRowText(connected));
            m_treeRows[connected].insert(row);
            m_treeItems[row] = connected;
            if (!connected->Connections().Empty())
                new QTreeWidgetItem(row, QStringList{QStringLiteral("~~unloaded~~")});
        }
        parentRow->setExpanded(true);
    }
}

void DataDialog::OnDataSubItemExpanded(QTreeWidgetItem* row)
{
    // Only a row whose one child is the placeholder still has its level to load.
    if (row->childCount() != 1 || m_treeItems.count(row->child(0)) != 0)
        return;
    auto item = m_treeItems.find(row);
    if (item == m_treeItems.end())
        return;
    delete row->takeChild(0);
    AddItemSubnodes(item->second, row, {item->second.GetType()});
    mp_ui->itemDataTree->setCurrentItem(row);
}

void DataDialog::OnItemAdded(ItemPtr item)
{
    Type* type = item.GetType();
    UpdateCount(type);
    if (type != mp_currentType || m_listRows.count(item) != 0)
        return;
    auto* row = new QListWidgetItem(item.AsString());
    mp_ui->itemList->insertItem(0, row);
    m_listRows[item] = row;
    m_listItems[row] = item;
}

void DataDialog::OnItemRemoved(ItemPtr item)
{
    Type* type = item.GetType();
    UpdateCount(type);

    if (type == mp_currentType)
    {
        auto row = m_listRows.find(item);
        if (row != m_listRows.end())
        {
            m_listItems.erase(row->second);
            delete row->second;
            m_listRows.erase(row);
        }
    }

    if (m_rootItem && item == m_rootItem)
    {
        mp_ui->itemDataTree->clear();
        ForgetTreeRows();
        return;
    }

    auto rows = m_treeRows.find(item);
    if (rows == m_treeRows.end())
        return;
    // One row of the item may lie inside another's subtree; each goes only once.
    const std::vector<QTreeWidgetItem*> shown(rows->second.begin(), rows->second.end());
    for (QTreeWidgetItem* row : shown)
    {
        if (m_treeItems.count(row) == 0)
            continue;
        ForgetSubtree(row);
        delete row;
    }
}

void DataDialog::OnTypeRemoved(Type* type)
{
    // Its items have gone already; what is left is its row and any reference to it.
    if (type == mp_currentType)
    {
        ForgetItemRows();
        mp_ui->itemList->clear();
        mp_currentType = nullptr;
    }
    auto row = m_typeRows.find(type->GetName());
    if (row == m_typeRows.end())
        return;
    QTreeWidgetItem* typeRow = row->second;
    m_typeNames.erase(typeRow);
    m_typeRows.erase(row);
    delete typeRow;
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

void DataDialog::ForgetSubtree(QTreeWidgetItem* row)
{
    for (int index = 0; index < row->childCount(); ++index)
        ForgetSubtree(row->child(index));
    auto item = m_treeItems.find(row);
    if (item == m_treeItems.end())
        return;
    auto rows = m_treeRows.find(item->second);
    if (rows != m_treeRows.end())
    {
        rows->second.erase(row);
        if (rows->second.empty())
            m_treeRows.erase(rows);
    }
    m_treeItems.erase(item);
}

void DataDialog::UpdateCount(Type* type)
{
    // A type declared after the dialog opened has no row.
    auto row = m_typeRows.find(type->GetName());
    if (row != m_typeRows.end())
        row->second->setText(2, QString::number(type->ItemCount()));
}
