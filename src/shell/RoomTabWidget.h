#pragma once

#include <QTabWidget>

// The tab widget of the private chat tabs; a class of its own so that forms can name it.
class RoomTabWidget : public QTabWidget
{
    Q_OBJECT

public:
    explicit RoomTabWidget(QWidget* ip_parent = nullptr);
};
