#pragma once

#include <QTreeWidgetItem>

#include "store/Data.h"
#include "store/ItemPtr.h"

// A list row and the node item that ties it to the store, whose value is the row's address in
// decimal text. Each list declares its own node types.

// The row a node stands for; null for a null node.
inline QTreeWidgetItem* RowOfNode(ItemPtr i_node)
{
    return i_node ? i_node.AsPointer<QTreeWidgetItem>() : nullptr;
}

// The row's node of that type, never created; null for a null row or a row without one.
inline ItemPtr NodeOfRow(const char* i_type, QTreeWidgetItem* ip_row)
{
    return ip_row ? d.GetType(i_type)->HasItem(Value(ip_row)) : ItemPtr();
}
