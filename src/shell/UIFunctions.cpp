#include "shell/UIFunctions.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOption>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVariant>
#include <QVector>
#include <QWidget>

#include <algorithm>

namespace
{
const char* const FocusProperty = "get_focus";

// The subtree's best candidate above io_best, in child order, skipping hidden subtrees.
void FindBestCandidate(QWidget* ip_widget, int& io_best, QWidget*& op_winner)
{
    if (!ip_widget->isVisible())
        return;
    const QVariant l_priority = ip_widget->property(FocusProperty);
    if (l_priority.isValid() && l_priority.toInt() > io_best)
    {
        io_best = l_priority.toInt();
        op_winner = ip_widget;
    }
    for (QObject* lp_child : ip_widget->children())
        if (lp_child->isWidgetType())
            FindBestCandidate(static_cast<QWidget*>(lp_child), io_best, op_winner);
}
} // namespace

QString LiteralAmpersands(QString i_text)
{
    return i_text.replace(QLatin1Char('&'), QLatin1String("&&"));
}

void ForEachHoldingTabWidget(QWidget* ip_widget,
                             const std::function<bool(QTabWidget*, int)>& i_visitor)
{
    if (ip_widget == nullptr)
        return;
    // Pages sit in a tab widget's internal stack rather than directly below it, so the walk
    // keeps every widget passed and asks the tab widget which of them is one of its pages.
    QVector<QWidget*> l_passed;
    l_passed.append(ip_widget);
    for (QWidget* lp_ancestor = ip_widget->parentWidget(); lp_ancestor != nullptr;
         lp_ancestor = lp_ancestor->parentWidget())
    {
        if (QTabWidget* lp_tabs = qobject_cast<QTabWidget*>(lp_ancestor))
        {
            for (int l_i = l_passed.size() - 1; l_i >= 0; --l_i)
            {
                const int l_index = lp_tabs->indexOf(l_passed.at(l_i));
                if (l_index != -1)
                {
                    if (!i_visitor(lp_tabs, l_index))
                        return;
                    break;
                }
            }
        }
        l_passed.append(lp_ancestor);
    }
}

QTabWidget* GetWidgetTabWidget(QWidget* ip_widget, int& io_index)
{
    QTabWidget* lp_found = nullptr;
    ForEachHoldingTabWidget(ip_widget, [&](QTabWidget* ip_tabs, int i_index) {
        lp_found = ip_tabs;
        io_index = i_index;
        return false;
    });
    return lp_found;
}

void ActivateWindow(QWidget* ip_widget)
{
    if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        ip_widget->activateWindow();
}

void FocusWidget(QWidget* ip_widget)
{
    if (ip_widget == nullptr)
        return;
    QWidget* lp_window = ip_widget->window();
    ActivateWindow(lp_window);
    // A widget out of sight does not take the focus, and a page stack that brings a page forward
    // hands the focus on from the page it hides to the widget that last had it on the new one,
    // even one on a sub-page hidden by now. So the focus leaves the pages first, and the widget
    // takes it once they are current.
    const bool l_outOfSight = !ip_widget->isVisible();
    if (l_outOfSight)
        if (QWidget* lp_focus = lp_window->focusWidget())
            lp_focus->clearFocus();
    ForEachHoldingTabWidget(ip_widget, [](QTabWidget* ip_tabs, int i_index) {
        ip_tabs->setCurrentIndex(i_index);
        return true;
    });
    // Unless a page brought forward handed it to the widget it prefers.
    QWidget* lp_handed = lp_window->focusWidget();
    if (!l_outOfSight || !lp_handed || !lp_handed->isVisible())
        ip_widget->setFocus(Qt::OtherFocusReason);
}

void RegisterWidgetForTabFocus(QWidget* ip_widget, int i_priority)
{
    ip_widget->setProperty(FocusProperty, i_priority);
    if (ip_widget->isVisible())
        ip_widget->setFocus(Qt::OtherFocusReason);
}

int FindWidgetFocusProperty(QWidget* ip_widget, int i_best)
{
    // One walk in child order finds the same widget as visiting every descendant from every
    // ancestor would, without the cost that grows twofold with each level of nesting; and only
    // the winner takes the focus, so the context toolbar sees one focus change, not several.
    QWidget* lp_winner = nullptr;
    FindBestCandidate(ip_widget, i_best, lp_winner);
    if (lp_winner)
        lp_winner->setFocus(Qt::OtherFocusReason);
    return i_best;
}

int CellPadding(const QWidget* ip_view)
{
    const int l_margin = ip_view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, ip_view) + 1;
    return 2 * l_margin + 2;
}

int FittingColumnWidth(int i_least, const QFont& i_font, const QStringList& i_figures, int i_padding)
{
    const QFontMetrics l_metrics(i_font);
    int l_widest = 0;
    for (const QString& l_figure : i_figures)
        l_widest = std::max(l_widest, l_metrics.horizontalAdvance(l_figure));
    return std::max(i_least, l_widest + i_padding);
}

void FitColumn(QTreeWidget* ip_list, int i_column, int i_least, const QStringList& i_figures)
{
    ip_list->setColumnWidth(i_column, FittingColumnWidth(i_least, ip_list->font(), i_figures, CellPadding(ip_list)));
}

int WidthOfAllColumns(const QTreeWidget* ip_list)
{
    int l_width = 2 * ip_list->frameWidth() + ip_list->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, ip_list);
    for (int l_column = 0; l_column < ip_list->columnCount(); ++l_column)
        l_width += ip_list->columnWidth(l_column);
    return l_width;
}

void FitFigureBox(QLineEdit* ip_box, const QStringList& i_figures)
{
    // A box keeps two pixels inside its contents on either side, and scrolls its text once the
    // text and the one pixel of its cursor no longer fit there.
    const int l_inside = 2 * 2 + 1;
    const QMargins l_margins = ip_box->textMargins() + ip_box->contentsMargins();
    const int l_text = FittingColumnWidth(0, ip_box->font(), i_figures, l_inside + l_margins.left() + l_margins.right());
    QStyleOptionFrame l_option;
    l_option.initFrom(ip_box);
    l_option.lineWidth = ip_box->hasFrame() ? ip_box->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &l_option, ip_box) : 0;
    const QSize l_box = ip_box->style()->sizeFromContents(QStyle::CT_LineEdit, &l_option,
                                                           QSize(l_text, ip_box->fontMetrics().height()), ip_box);
    ip_box->setMaximumWidth(std::max(ip_box->maximumWidth(), l_box.width()));
}
