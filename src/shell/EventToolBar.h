#pragma once

#include <QStringList>
#include <QTimer>
#include <QToolBar>

#include "store/Value.h"

// Notices of events in views the user is not looking at: one button per notice, which brings
// the owning view to the front. While the main window is inactive the application icon blinks
// through the icons of the new notices. The bar is hidden while it holds no notice.
class EventToolBar : public QToolBar
{
    Q_OBJECT

public:
    // A flooding user must not grow the bar without end: past this many notices of one view,
    // the oldest of that view goes.
    static const int MaxNoticesPerWidget = 20;

    explicit EventToolBar(QWidget* ip_parent = nullptr);
    ~EventToolBar() override;

    // Raises a notice leading to the widget. The popup text, when not empty, becomes a tray
    // balloon. A visible widget gets no notice; only the blinking may start.
    void AddEvent(const QString& i_text, const QString& i_icon, QWidget* ip_widget,
                  const QString& i_popup);
    // Removes every notice of the widget; views call it when they are shown.
    void RemoveEvents(QWidget* ip_widget);

    bool IsBlinking() const { return m_blinkTimer.isActive(); }

public slots:
    void OnActionTriggered();
    void OnWidgetDestroyed(QObject* ip_widget);
    void OnIconAlertTimeout();
    void OnApplicationFocusChanged(QWidget* ip_oldWidget, QWidget* ip_widget);

private:
    void RemoveEventsOf(const Value& i_widgetAddress);
    void RemoveNotice(QAction* ip_action);
    void ShowPlaceholderWhenEmpty();
    void ShowPlaceholder();

    // An action with an empty text, on the bar while it holds no notice.
    QAction* mp_placeholder = nullptr;
    bool m_placeholder = false;
    // Sorted, without duplicates.
    QStringList m_blinkIcons;
    int m_blinkPosition = 0;
    QTimer m_blinkTimer;
};

extern EventToolBar* eventToolBar;
