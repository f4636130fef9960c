#pragma once

#include <QStyledItemDelegate>

class QProgressBar;
class QTreeWidgetItem;

// Draws the progress bar of a transfer row whose transfer has stopped, as its bar widget last
// looked. A list keeps live bar widgets only on rows whose transfers run: every widget in a list
// costs each paint and each layout of the whole list, and a user may keep thousands of finished
// rows. The last text and value are kept on the row in the bar's place.
class TransferBarDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    static constexpr int MaximumHeight = 14;
    static constexpr int TextRole = Qt::UserRole + 40;
    static constexpr int ValueRole = Qt::UserRole + 41;

    // The bar's text and value kept on the row's cell, for the widget to go.
    static void Keep(QTreeWidgetItem* ip_row, int i_column, const QProgressBar& i_bar);
    static void Keep(QTreeWidgetItem* ip_row, int i_column, const QString& i_text, int i_value);
    static void Forget(QTreeWidgetItem* ip_row, int i_column);
    // Whether the cell holds a bar to draw.
    static bool Holds(const QTreeWidgetItem* ip_row, int i_column);

    void paint(QPainter* ip_painter, const QStyleOptionViewItem& i_option,
               const QModelIndex& i_index) const override;
};
