#pragma once

#include <QTreeWidget>

class QKeyEvent;

// A tree widget that tells its listeners of every key press before it moves its own selection.
class TreeWidget : public QTreeWidget
{
    Q_OBJECT

public:
    explicit TreeWidget(QWidget* ip_parent = nullptr);

signals:
    void KeyPressed(QKeyEvent* ip_event);

protected:
    void keyPressEvent(QKeyEvent* ip_event) override;
};
