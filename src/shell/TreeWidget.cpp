#include "shell/TreeWidget.h"

TreeWidget::TreeWidget(QWidget* ip_parent) : QTreeWidget(ip_parent) {}

void TreeWidget::keyPressEvent(QKeyEvent* ip_event)
{
    emit KeyPressed(ip_event);
    QTreeWidget::keyPressEvent(ip_event);
}
