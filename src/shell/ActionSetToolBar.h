#pragma once

#include <QPointer>
#include <QString>
#include <QToolBar>

#include <cstddef>

#include "store/ItemPtr.h"

class QPushButton;
class QTreeWidget;
class QWidgetAction;

// One row of a view's table of toolbar actions, in AddSetAction's order.
struct ToolbarAction
{
    const char* set;
    const char* id;
    const char* text;
    const char* icon = nullptr;
    bool needsListSelection = false;
};

// The main window's one toolbar, whose buttons follow the keyboard focus. Views declare named
// action sets and register their widgets for a set; while the focus is in a registered widget
// (or below it) the toolbar shows that widget's set, and a click is emitted as
// ActionTriggered(widget, id). Keys attached to a widget (fixed values, or columns of the
// selected row of a tree) tell the receivers which room or user an action is for. The registry
// lives in the store as unsaved types, keyed by the widgets' addresses. The buttons of a widget
// the user no longer sees never stay: when registered widgets are shown or hidden (a tab page
// switched, opened or closed), the set is checked again, from the focus while it is visible and
// otherwise from the part of the window still shown where the focus went out of sight.
class ActionSetToolBar : public QToolBar
{
    Q_OBJECT

public:
    explicit ActionSetToolBar(QWidget* ip_parent = nullptr);
    ~ActionSetToolBar() override;

    // Follows the server link's privilege updates and starts following the focus.
    void Init();

    void AddSetAction(const QString& i_set, const QString& i_id, const QString& i_text,
                      const QString& i_icon, bool i_needsListSelection);
    template <std::size_t N>
    void AddSetActions(const ToolbarAction (&i_actions)[N])
    {
        for (const ToolbarAction& l_action : i_actions)
            AddSetAction(l_action.set, l_action.id, l_action.text, l_action.icon, l_action.needsListSelection);
    }
    void RegisterWidget(QWidget* ip_widget, const QString& i_set);
    void AddWidgetKey(QWidget* ip_widget, const QString& i_key, const QString& i_value);
    void AddWidgetColumnKey(QWidget* ip_widget, const QString& i_key, int i_column);
    // The key's current value; empty when it has none.
    QString GetKey(const QString& i_key);
    void SetWidgetActionText(QWidget* ip_widget, const QString& i_id, const QString& i_text);
    void SetWidgetActionHidden(QWidget* ip_widget, const QString& i_id, bool i_hidden);

    void ChangeSet(QWidget* ip_widget, const QString& i_set);
    void Clear();
    void ClearAndDeleteActions();
    void AddSupportTarnwickButton();

    QPushButton* StatusButton() const { return mp_statusButton; }
    QPushButton* SupportButton() const { return mp_supportButton; }
    // "Support Tarnwick!", or the days of privileges left, rounded to the nearest day.
    static QString SupportText(qint64 i_secondsLeft);

signals:
    void ActionTriggered(QWidget* ip_widget, QString i_action);

public slots:
    void OnApplicationFocusChanged(QWidget* ip_oldWidget, QWidget* ip_widget);
    void OnActionTriggered(bool i_checked);
    void OnWidgetDestroyed(QObject* ip_widget);
    void OnStatusButtonClicked();
    void OnSupportTarnwickButtonClicked();
    void OnReceivedOwnPrivilegesStatus(int i_seconds);

protected:
    bool eventFilter(QObject* ip_watched, QEvent* ip_event) override;

private:
    // Shows the set of the registered widget at or above the widget, a tab widget or bar
    // standing for its current page and a page registered nowhere for the first registered
    // widget shown on it; only the fixed buttons when there is none.
    void FollowFocus(QWidget* ip_widget);
    void ShowSetOf(QWidget* ip_widget, ItemPtr i_record);
    // The set of the registered widget at or above a shown widget, else of the first one the
    // user sees in it; only the fixed buttons for none.
    void ShowSetSeenIn(QWidget* ip_widget);
    // Once the event loop is back, checks that the set shown is that of a widget the user sees.
    void ScheduleReview();
    void ReviewShownSet();
    // The first registered widget of the subtree that the user sees, in reading order.
    static QWidget* FirstShownRegisteredWidget(QWidget* ip_widget);
    static ItemPtr WidgetRecord(const QObject* ip_widget);
    static void SetActiveKey(ItemPtr i_key, const QString& i_value);
    // The toolbar actions now shown for an id.
    static QList<QAction*> LiveActions(ItemPtr i_id);

    QString m_setName;
    // The first tree on the way from the focused widget up to the registered one.
    QPointer<QTreeWidget> mp_treeWidget;
    // The registered widget whose set is shown; cleared by its destruction.
    QWidget* mp_widget = nullptr;
    quint64 m_order = 0;
    bool m_busy = false;
    bool m_reviewPending = false;
    // Lives as long as the toolbar: rebuilds take it off and put it back, never delete it.
    QPushButton* mp_supportButton = nullptr;
    QWidgetAction* mp_supportAction = nullptr;
    QPushButton* mp_statusButton = nullptr;
    bool m_initialised = false;
};

extern ActionSetToolBar* actionBar;
