#include "views/search/SearchForm.h"

#include <QCheckBox>
#include <QMenu>
#include <QTreeWidget>

#include <vector>

#include "shell/Desktop.h"
#include "shell/RowNodes.h"
#include "store/Data.h"
#include "ui_SearchForm.h"

namespace
{
const int CheckColumn = 0;
const int TextColumn = 1;

Type* T(const char* i_name)
{
    return d.GetType(i_name);
}

ItemPtr Enabled()
{
    return T("wish_list_item_enabled")->GetGlobalNullItem();
}

// What a row stands for: its text without the blanks around it.
QString EntryText(const QTreeWidgetItem* ip_row)
{
    return ip_row->text(TextColumn).trimmed();
}
} // namespace

void SearchForm::OnWishListItemAdded(ItemPtr i_entry)
{
    m_addingWishListRow = true;
    auto* lp_row = new QTreeWidgetItem(mp_ui->wishList);
    lp_row->setText(TextColumn, i_entry.AsString());
    lp_row->setFlags(lp_row->flags() | Qt::ItemIsEditable);
    auto* lp_box = new QCheckBox;
    // The box covers its cell, and so the text under it.
    lp_box->setAutoFillBackground(true);
    mp_ui->wishList->setItemWidget(lp_row, CheckColumn, lp_box);
    lp_row->setTextAlignment(CheckColumn, Qt::AlignHCenter);
    // The text under the box lets the column sort by state.
    if (i_entry.IsConnected(Enabled()))
    {
        lp_row->setText(CheckColumn, QStringLiteral("Y"));
        lp_box->setChecked(true);
    }
    ItemPtr l_node = T("wish_list_node")->GetItem(Value(lp_row));
    i_entry += l_node;
    l_node += T("wish_list_node_checkbox")->GetItem(Value(lp_box));
    connect(lp_box, &QCheckBox::stateChanged, this, &SearchForm::OnWishListItemCheckStateChanged);
    m_addingWishListRow = false;
}

void SearchForm::OnWishListItemCheckStateChanged(int i_state)
{
    ItemPtr l_node = T("wish_list_node_checkbox")->HasItem(Value(sender()))["wish_list_node"];
    ItemPtr l_entry = l_node["wish_list_item"];
    if (!l_entry)
        return;
    auto* lp_row = l_node.AsPointer<QTreeWidgetItem>();
    if (i_state == Qt::Checked)
    {
        l_entry += Enabled();
        lp_row->setText(CheckColumn, QStringLiteral("Y"));
    }
    else if (i_state == Qt::Unchecked)
    {
        l_entry.Disconnect("wish_list_item_enabled");
        lp_row->setText(CheckColumn, QString());
    }
}

// An edited row stands for the entry of its new text: a new entry, none when that text already
// has a row, and the row goes with its entry when the text is blank.
void SearchForm::OnWishListItemChanged(QTreeWidgetItem* /*ip_row*/, int i_column)
{
    if (i_column != TextColumn || m_addingWishListRow)
        return;
    QTreeWidget* lp_list = mp_ui->wishList;
    QSet<QString> l_rowTexts;
    for (int l_index = 0; l_index < lp_list->topLevelItemCount(); ++l_index)
        l_rowTexts.insert(EntryText(lp_list->topLevelItem(l_index)));

    // Entries that lost their row; without their node, their removal leaves the rows alone.
    std::vector<ItemPtr> l_lost;
    for (ItemPtr l_entry : g("wish_list_item"))
        if (!l_rowTexts.contains(l_entry.AsString()))
            l_lost.push_back(l_entry);
    for (ItemPtr l_entry : l_lost)
    {
        l_entry.Disconnect("wish_list_node");
        l_entry.Remove();
    }

    for (int l_index = 0; l_index < lp_list->topLevelItemCount(); ++l_index)
    {
        QTreeWidgetItem* lp_row = lp_list->topLevelItem(l_index);
        const QString l_text = EntryText(lp_row);
        if (l_text.isEmpty())
            return RequestDeleteNode(lp_row);
        if (T("wish_list_item")->HasItem(Value(l_text)))
            continue;
        ItemPtr l_entry = T("wish_list_item")->NewItem(Value(l_text));
        ItemPtr l_node = T("wish_list_node")->HasItem(Value(lp_row));
        if (!l_node)
            continue;
        l_entry += l_node;
        auto* lp_box = l_node["wish_list_node_checkbox"].AsPointer<QCheckBox>();
        if (lp_box && lp_box->isChecked())
            l_entry += Enabled();
    }

    for (ItemPtr l_node : g("wish_list_node").NotConnected("wish_list_item"))
        RequestDeleteNode(l_node.AsPointer<QTreeWidgetItem>());
}

// Never inside the row's own change notification.
void SearchForm::RequestDeleteNode(QTreeWidgetItem* ip_row)
{
    QMetaObject::invokeMethod(this, "DeleteNode", Qt::QueuedConnection, Q_ARG(QTreeWidgetItem*, ip_row));
}

// The row's check box goes with the row.
void SearchForm::OnWishListItemRemoved(ItemPtr i_entry)
{
    DeleteNode(RowOfNode(i_entry["wish_list_node"]));
}

void SearchForm::OnWishListContextMenuRequested(QPoint i_point)
{
    QTreeWidget* lp_list = mp_ui->wishList;
    if (!lp_list->itemAt(i_point))
        return;
    QMenu l_menu;
    connect(l_menu.addAction(QIcon(":/icons/wishlist_icon"), tr("Remove Wish List Search")), &QAction::triggered,
            this, &SearchForm::OnRemoveWishListItemRequested);
    Desktop::RunPopupMenu(l_menu, lp_list->viewport()->mapToGlobal(i_point));
}

void SearchForm::OnRemoveWishListItemRequested()
{
    const QList<QTreeWidgetItem*> l_rows = mp_ui->wishList->selectedItems();
    std::vector<ItemPtr> l_entries;
    for (QTreeWidgetItem* lp_row : l_rows)
        if (ItemPtr l_entry = NodeOfRow("wish_list_node", lp_row)["wish_list_item"])
            l_entries.push_back(l_entry);
    for (ItemPtr l_entry : l_entries)
        l_entry.Remove();
}
