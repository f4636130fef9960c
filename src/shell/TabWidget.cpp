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
    tabBar()->setTabTextColor(i_index, Qt::black);
}
