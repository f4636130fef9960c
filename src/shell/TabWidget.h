#pragma once

#include <QTabWidget>

// A tab widget whose selected page hands the keyboard focus to the page's preferred widget
// (see RegisterWidgetForTabFocus), and whose tabs can be marked as having news.
class TabWidget : public QTabWidget
{
    Q_OBJECT

public:
    explicit TabWidget(QWidget* ip_parent = nullptr);

    // Colours blue the tab holding the widget in every enclosing TabWidget where that tab is
    // not the current one; selecting the tab gives it the palette's window text colour again.
    static void MarkTabActivity(QWidget* ip_widget);

public slots:
    void OnTabChanged(int i_index);
};
