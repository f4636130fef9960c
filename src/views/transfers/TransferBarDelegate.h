#pragma once

#include <QStyledItemDelegate>

class QTreeWidgetItem;

// Draws the progress bar of a transfer row, running or stopped, as a bar widget in its place
// would look. A list holds no widget for a bar: every widget in a list has the list lay all its
// rows out at each new row, and a user may keep thousands of rows. The text and value are kept on
// the row's cell, the text as the cell's accessible text, which is its name to a screen reader.
class TransferBarDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    static constexpr int MaximumHeight = 14;
    static constexpr int TextRole = Qt::AccessibleTextRole;
    static constexpr int ValueRole = Qt::UserRole + 41;

    static void Keep(QTreeWidgetItem* ip_row, int i_column, const QString& i_text, int i_value);
    static void Forget(QTreeWidgetItem* ip_row, int i_column);
    // Whether the cell holds a bar to draw.
    static bool Holds(const QTreeWidgetItem* ip_row, int i_column);

    void paint(QPainter* ip_painter, const QStyleOptionViewItem& i_option,
               const QModelIndex& i_index) const override;
};
