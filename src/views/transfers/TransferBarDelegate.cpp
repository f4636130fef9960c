#include "views/transfers/TransferBarDelegate.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionProgressBar>
#include <QTreeWidgetItem>

void TransferBarDelegate::Keep(QTreeWidgetItem* ip_row, int i_column, const QString& i_text, int i_value)
{
    ip_row->setData(i_column, TextRole, i_text);
    ip_row->setData(i_column, ValueRole, i_value);
}

bool TransferBarDelegate::Holds(const QTreeWidgetItem* ip_row, int i_column)
{
    return ip_row->data(i_column, TextRole).isValid();
}

void TransferBarDelegate::Forget(QTreeWidgetItem* ip_row, int i_column)
{
    if (!Holds(ip_row, i_column))
        return;
    ip_row->setData(i_column, TextRole, QVariant());
    ip_row->setData(i_column, ValueRole, QVariant());
}

// Where the list would place a bar widget in the cell, and what the widget would draw there: a
// widget of the viewport's palette and font, at most MaximumHeight high at the top of the cell.
void TransferBarDelegate::paint(QPainter* ip_painter, const QStyleOptionViewItem& i_option,
                                const QModelIndex& i_index) const
{
    QStyledItemDelegate::paint(ip_painter, i_option, i_index);
    const QVariant l_text = i_index.data(TextRole);
    const auto* lp_view = qobject_cast<const QAbstractItemView*>(i_option.widget);
    if (!l_text.isValid() || !lp_view)
        return;
    QStyle* lp_style = lp_view->style();
    QStyleOptionViewItem l_cell = i_option;
    initStyleOption(&l_cell, i_index);
    l_cell.showDecorationSelected = true;
    QRect l_rect = lp_style->subElementRect(QStyle::SE_ItemViewItemText, &l_cell, lp_view);
    l_rect.setHeight(qMin(l_rect.height(), MaximumHeight));

    const QWidget* lp_viewport = lp_view->viewport();
    QStyleOptionProgressBar l_bar;
    l_bar.initFrom(lp_viewport);
    l_bar.state &= QStyle::State_Enabled | QStyle::State_Active | QStyle::State_KeyboardFocusChange;
    l_bar.state |= QStyle::State_Horizontal;
    l_bar.styleObject = nullptr;
    l_bar.rect = QRect(QPoint(0, 0), l_rect.size());
    l_bar.minimum = 0;
    l_bar.maximum = 100;
    l_bar.progress = i_index.data(ValueRole).toInt();
    l_bar.textAlignment = Qt::AlignLeft;
    l_bar.textVisible = true;
    l_bar.text = l_text.toString();
    l_bar.orientation = Qt::Horizontal;
    l_bar.invertedAppearance = false;
    l_bar.bottomToTop = false;

    ip_painter->save();
    ip_painter->setRenderHints(QPainter::RenderHints());
    ip_painter->translate(l_rect.topLeft());
    ip_painter->setClipRect(l_bar.rect, Qt::IntersectClip);
    ip_painter->setFont(lp_viewport->font());
    ip_painter->setPen(l_bar.palette.color(QPalette::WindowText));
    ip_painter->setBrush(Qt::NoBrush);
    lp_style->drawControl(QStyle::CE_ProgressBar, &l_bar, ip_painter, nullptr);
    ip_painter->restore();
}
