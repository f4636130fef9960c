#include "shell/RoomTabWidget.h"

RoomTabWidget::RoomTabWidget(QWidget* ip_parent) : QTabWidget(ip_parent) {}
