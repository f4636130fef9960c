#include "shell/EventToolBar.h"

#include "resources/Resources.h"
#include "shell/MainWindowHooks.h"
#include "shell/ShowIsOver.h"
#include "shell/UIFunctions.h"
#include "store/Data.h"
#include "store/SchemaDeclaration.h"

#include <QApplication>
#include <QIcon>

#include <algorithm>

EventToolBar* eventToolBar = nullptr;

EventToolBar::EventToolBar(QWidget* ip_parent) : QToolBar(ip_parent)
{
    InitResources();
    eventToolBar = this;
    setMovable(false);
    DeclareTypes(
        {{"event_toolbar_action", Primary, false}, {"event_toolbar_widget", Primary, false}});
    DeclareRelations({{"event_toolbar_action", "event_toolbar_widget", Many, One}});
    setIconSize(QSize(16, 16));
    setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    mp_placeholder = new QAction(this);
    ShowPlaceholder();
    m_blinkTimer.setInterval(1000);
    connect(&m_blinkTimer, &QTimer::timeout, this, &EventToolBar::OnIconAlertTimeout);
    connect(qApp, &QApplication::focusChanged, this, &EventToolBar::OnApplicationFocusChanged);
    hide();
}

EventToolBar::~EventToolBar()
{
    if (eventToolBar == this)
        eventToolBar = nullptr;
}

void EventToolBar::AddEvent(const QString& i_text, const QString& i_icon, QWidget* ip_widget,
                            const QString& i_popup)
{
    if (!IsMainWindowActive())
    {
        if (m_blinkIcons.isEmpty())
        {
            m_blinkPosition = 0;
            m_blinkTimer.start();
        }
        auto l_at = std::lower_bound(m_blinkIcons.begin(), m_blinkIcons.end(), i_icon);
        if (l_at == m_blinkIcons.end() || *l_at != i_icon)
            m_blinkIcons.insert(l_at, i_icon);
    }
    if (ip_widget->isVisible())
        return;
    if (!i_popup.isEmpty())
        PopupAlert(i_popup);
    if (m_placeholder)
    {
        removeAction(mp_placeholder);
        m_placeholder = false;
    }

    ItemPtr l_widget = d.GetType("event_toolbar_widget")->GetItem(static_cast<QObject*>(ip_widget));
    const ItemSet l_notices = l_widget.GetItems("event_toolbar_action");
    if (l_notices.Size() >= static_cast<std::size_t>(MaxNoticesPerWidget))
    {
        // The bar keeps the notices in the order they came, so the first one met is the oldest.
        for (QAction* lp_action : actions())
            if (l_notices.Contains(d.GetType("event_toolbar_action")->HasItem(lp_action)))
            {
                RemoveNotice(lp_action);
                break;
            }
    }

    const QString l_text = LiteralAmpersands(i_text);
    QAction* lp_action = addAction(QIcon(i_icon), l_text);
    lp_action->setIconText(l_text);
    connect(lp_action, &QAction::triggered, this, &EventToolBar::OnActionTriggered);
    d.GetType("event_toolbar_action")->GetItem(lp_action) += l_widget;
    connect(ip_widget, &QObject::destroyed, this, &EventToolBar::OnWidgetDestroyed,
            Qt::UniqueConnection);
    show();
}

void EventToolBar::RemoveEvents(QWidget* ip_widget)
{
    RemoveEventsOf(static_cast<QObject*>(ip_widget));
}

void EventToolBar::RemoveEventsOf(const Value& i_widgetAddress)
{
    ItemPtr l_widget = d.GetType("event_toolbar_widget")->HasItem(i_widgetAddress);
    if (!l_widget)
        return;
    RemovalScope l_scope(d);
    for (ItemPtr l_notice : l_widget.GetItems("event_toolbar_action"))
        RemoveNotice(l_notice.AsPointer<QAction>());
    ShowPlaceholderWhenEmpty();
    l_widget.Remove();
}

void EventToolBar::OnActionTriggered()
{
    if (g_showIsOver)
        return;
    auto* lp_action = qobject_cast<QAction*>(sender());
    ItemPtr l_notice = d.GetType("event_toolbar_action")->HasItem(static_cast<QObject*>(lp_action));
    if (!l_notice)
        return;
    ItemPtr l_widget = l_notice["event_toolbar_widget"];
    QWidget* lp_widget = l_widget.AsPointer<QWidget>();
    RemoveNotice(lp_action);
    ShowPlaceholderWhenEmpty();
    if (!l_widget.IsConnected("event_toolbar_action"))
        l_widget.Remove();
    FocusWidgetAndParents(lp_widget);
}

void EventToolBar::OnWidgetDestroyed(QObject* ip_widget)
{
    if (!g_showIsOver)
        RemoveEventsOf(ip_widget);
}

void EventToolBar::OnIconAlertTimeout()
{
    if (m_blinkIcons.isEmpty())
        return;
    if (m_blinkPosition >= m_blinkIcons.size())
    {
        m_blinkPosition = 0;
        ResetApplicationIcon();
        return;
    }
    SetApplicationIcon(m_blinkIcons.at(m_blinkPosition++));
}

void EventToolBar::OnApplicationFocusChanged(QWidget* /*ip_oldWidget*/, QWidget* /*ip_widget*/)
{
    if (g_showIsOver)
        return;
    m_blinkIcons.clear();
    m_blinkTimer.stop();
    ResetApplicationIcon();
}

// Takes the notice off the bar and drops its item; the widget's item is left to the caller.
void EventToolBar::RemoveNotice(QAction* ip_action)
{
    ItemPtr l_notice = d.GetType("event_toolbar_action")->HasItem(static_cast<QObject*>(ip_action));
    if (l_notice)
        l_notice.Remove();
    removeAction(ip_action);
    // The clicked notice is still inside its own triggered() signal.
    ip_action->deleteLater();
}

void EventToolBar::ShowPlaceholderWhenEmpty()
{
    if (actions().isEmpty())
    {
        ShowPlaceholder();
        hide();
    }
}

void EventToolBar::ShowPlaceholder()
{
    addAction(mp_placeholder);
    m_placeholder = true;
}
