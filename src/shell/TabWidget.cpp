#include "shell/TabWidget.h"

#include "shell/UIFunctions.h"

#include <QTabBar>

TabWidget::TabWidget(QWidget* ip_parent) : QTabWidget(ip_parent)
{
    connect(this, &QTabWidget::currentChanged, this, &TabWidget::OnTabChanged);
}

void TabWidget::MarkTabActivity(QWidget* ip_widget)
{
    ForEachHoldingTabWidget(ip_widget, [](QTabWidget* ip_tabs, int i_index) {
        if (qobject_cast<TabWidget*>(ip_tabs) && ip_tabs->currentIndex() != i_index)
            ip_tabs->tabBar()->setTabTextColor(i_index, Qt::blue);
        return true;
    });
}

void TabWidget::OnTabChanged(int i_index)
{
    if (i_index == -1)
        return;
    FindWidgetFocusProperty(widget(i_index), 0);
    // Clears an activity mark by leaving the caption no colour of its own: it is then drawn in the
    // palette's window text, which follows whatever colours the user saves.
    tabBar()->setTabTextColor(i_index, QColor());
}
