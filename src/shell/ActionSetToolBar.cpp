#include "shell/ActionSetToolBar.h"

#include "resources/Resources.h"
#include "server/Server.h"
#include "shell/Desktop.h"
#include "shell/MainWindowHooks.h"
#include "shell/ShowIsOver.h"
#include "shell/WebHost.h"
#include "store/Data.h"
#include "store/SchemaDeclaration.h"
#include "store/Settings.h"

#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QWidgetAction>

#include <algorithm>
#include <utility>
#include <vector>

ActionSetToolBar* actionBar = nullptr;

namespace
{
const char* const OnlineIcon = ":/icons/online_icon";
const char* const AwayIcon = ":/icons/away_icon";

Type* T(const char* i_name)
{
    return d.GetType(i_name);
}

void DeclareToolbarTypes()
{
    DeclareTypes({
        {"toolbar_action_set", Primary, false},
        {"toolbar_action", Primary, true},
        {"toolbar_action_id", Primary, false},
        {"toolbar_action_text", Leaf, false},
        {"toolbar_action_icon", Leaf, false},
        {"toolbar_action_order", Leaf, false},
        {"needs_list_selection", Leaf, true},
        {"toolbar_action_widget", Primary, false},
        {"action_key_value_pair", Primary, true},
        {"action_key", Intermediate, false},
        {"action_value", Leaf, false},
        {"action_key_column_pair", Primary, true},
        {"action_column", Leaf, false},
        {"active_action_key", Primary, false},
        {"active_action_value", Leaf, false},
        {"widget_action_text", Leaf, false},
        {"widget_action_hidden", Leaf, true},
        {"toolbar_action_object", Intermediate, false},
    });
    DeclareRelations({
        {"toolbar_action", "toolbar_action_set", Many, One},
        {"toolbar_action_widget", "toolbar_action_set", Many, One},
        {"toolbar_action", "toolbar_action_id", Many, One},
        {"toolbar_action", "toolbar_action_text", Many, One},
        {"toolbar_action", "toolbar_action_icon", Many, One},
        {"toolbar_action", "toolbar_action_order", Many, One},
        {"toolbar_action", "needs_list_selection", Many, One},
        {"toolbar_action", "toolbar_action_object", One, One},
        {"widget_action_text", "toolbar_action_id", Many, Many},
        {"widget_action_hidden", "toolbar_action_id", Many, One},
        {"action_key_value_pair", "toolbar_action_widget", Many, One},
        {"action_key_column_pair", "toolbar_action_widget", Many, One},
        {"widget_action_text", "toolbar_action_widget", Many, Many},
        {"widget_action_hidden", "toolbar_action_widget", Many, One},
        {"action_key_value_pair", "action_key", Many, One},
        {"action_key_value_pair", "action_value", Many, One},
        {"action_key_column_pair", "action_key", Many, One},
        {"action_key_column_pair", "action_column", Many, One},
        {"active_action_key", "active_action_value", Many, One},
    });
}
} // namespace

ActionSetToolBar::ActionSetToolBar(QWidget* ip_parent) : QToolBar(ip_parent)
{
    InitResources();
    actionBar = this;
    connect(qApp, &QApplication::focusChanged, this, &ActionSetToolBar::OnApplicationFocusChanged);
    DeclareToolbarTypes();

    mp_supportButton = new QPushButton(SupportText(GetSettingInt("privileges_time_left")));
    mp_supportButton->setFocusPolicy(Qt::NoFocus);
    connect(mp_supportButton, &QPushButton::clicked, this,
            &ActionSetToolBar::OnSupportTarnwickButtonClicked);
    mp_supportAction = new QWidgetAction(this);
    mp_supportAction->setDefaultWidget(mp_supportButton);
    AddSupportTarnwickButton();
}

ActionSetToolBar::~ActionSetToolBar()
{
    if (actionBar == this)
        actionBar = nullptr;
}

void ActionSetToolBar::Init()
{
    if (gp_server)
        connect(gp_server, &Server::ReceivedOwnPrivilegesStatus, this,
                &ActionSetToolBar::OnReceivedOwnPrivilegesStatus);
    m_initialised = true;
}

void ActionSetToolBar::AddSetAction(const QString& i_set, const QString& i_id,
                                    const QString& i_text, const QString& i_icon,
                                    bool i_needsListSelection)
{
    ItemPtr l_action = T("toolbar_action_set")->GetItem(i_set).NewItem("toolbar_action");
    l_action += T("toolbar_action_id")->GetItem(i_id);
    l_action += T("toolbar_action_icon")->GetItem(i_icon);
    l_action += T("toolbar_action_text")->GetItem(i_text);
    l_action += T("toolbar_action_order")->GetItem(static_cast<unsigned long long>(m_order++));
    if (i_needsListSelection)
        l_action += T("needs_list_selection")->GetGlobalNullItem();
}

void ActionSetToolBar::RegisterWidget(QWidget* ip_widget, const QString& i_set)
{
    T("toolbar_action_widget")->GetItem(static_cast<QObject*>(ip_widget)) +=
        T("toolbar_action_set")->GetItem(i_set);
    connect(ip_widget, &QObject::destroyed, this, &ActionSetToolBar::OnWidgetDestroyed);
    ip_widget->installEventFilter(this);
}

void ActionSetToolBar::AddWidgetKey(QWidget* ip_widget, const QString& i_key,
                                    const QString& i_value)
{
    ItemPtr l_record = WidgetRecord(ip_widget);
    if (!l_record)
        return;
    ItemPtr l_pair = T("action_key_value_pair")->NewItem();
    l_pair += T("action_key")->GetItem(i_key);
    l_pair += T("action_value")->GetItem(i_value);
    l_pair += l_record;
}

void ActionSetToolBar::AddWidgetColumnKey(QWidget* ip_widget, const QString& i_key, int i_column)
{
    ItemPtr l_record = WidgetRecord(ip_widget);
    if (!l_record)
        return;
    ItemPtr l_pair = T("action_key_column_pair")->NewItem();
    l_pair += T("action_key")->GetItem(i_key);
    l_pair += T("action_column")->GetItem(i_column);
    l_pair += l_record;
}

QString ActionSetToolBar::GetKey(const QString& i_key)
{
    return T("active_action_key")->GetItem(i_key)["active_action_value"].AsString();
}

void ActionSetToolBar::SetWidgetActionText(QWidget* ip_widget, const QString& i_id,
                                           const QString& i_text)
{
    if (g_showIsOver)
        return;
    ItemPtr l_record = WidgetRecord(ip_widget);
    ItemPtr l_id = T("toolbar_action_id")->HasItem(i_id);
    if (!l_record || !l_id)
        return;
    if (ItemPtr l_old = d.GetItem(l_record, l_id, "widget_action_text"))
        l_record.Disconnect(l_old);
    ItemPtr l_text = T("widget_action_text")->GetItem(i_text);
    l_text += l_record;
    l_text += l_id;
    if (ip_widget == mp_widget)
        for (QAction* lp_action : LiveActions(l_id))
            lp_action->setText(i_text);
}

void ActionSetToolBar::SetWidgetActionHidden(QWidget* ip_widget, const QString& i_id,
                                             bool i_hidden)
{
    ItemPtr l_record = WidgetRecord(ip_widget);
    ItemPtr l_id = T("toolbar_action_id")->HasItem(i_id);
    if (!l_record || !l_id)
        return;
    ItemPtr l_mark = d.GetItem(l_record, l_id, "widget_action_hidden");
    if (!i_hidden)
    {
        if (l_mark)
            l_mark.Remove();
        return;
    }
    if (l_mark)
        return;
    l_mark = T("widget_action_hidden")->NewItem();
    l_mark += l_id;
    l_mark += l_record;
    if (ip_widget == mp_widget)
        for (QAction* lp_action : LiveActions(l_id))
            lp_action->setVisible(false);
}

void ActionSetToolBar::ChangeSet(QWidget* ip_widget, const QString& i_set)
{
    if (m_setName == i_set && mp_widget == ip_widget)
        return;
    m_setName = i_set;
    mp_widget = ip_widget;
    ClearAndDeleteActions();

    ItemPtr l_record = WidgetRecord(ip_widget);
    const std::vector<ItemPtr> l_actions = T("toolbar_action_set")
                                               ->GetItem(i_set)
                                               .GetItems("toolbar_action")
                                               .SortNumericBy("toolbar_action_order", true);
    for (ItemPtr l_action : l_actions)
    {
        ItemPtr l_id = l_action["toolbar_action_id"];
        QString l_text = l_action["toolbar_action_text"].AsString();
        if (ItemPtr l_override = d.GetItem(l_record, l_id, "widget_action_text"))
            l_text = l_override.AsString();
        QAction* lp_action = addAction(QIcon(l_action["toolbar_action_icon"].AsString()), l_text);
        if (d.GetItem(l_record, l_id, "widget_action_hidden"))
            lp_action->setVisible(false);
        connect(lp_action, &QAction::triggered, this, &ActionSetToolBar::OnActionTriggered);
        l_action += T("toolbar_action_object")->GetItem(lp_action);
    }
    AddSupportTarnwickButton();
}

void ActionSetToolBar::Clear()
{
    m_setName.clear();
    mp_widget = nullptr;
    ClearAndDeleteActions();
}

void ActionSetToolBar::ClearAndDeleteActions()
{
    for (QAction* lp_action : actions())
    {
        removeAction(lp_action);
        if (lp_action != mp_supportAction)
            lp_action->deleteLater();
    }
    // Only actions on the toolbar have records, so a text or a mark set after this finds none.
    T("toolbar_action_object")->RemoveAllItems();

    const bool l_available = GetSetting("availability_status") == QLatin1String("available");
    mp_statusButton = new QPushButton(QIcon(l_available ? OnlineIcon : AwayIcon),
                                      l_available ? tr("Available") : tr("Away"));
    mp_statusButton->setFocusPolicy(Qt::NoFocus);
    addWidget(mp_statusButton);
    addWidget(new QLabel(" "));
    connect(mp_statusButton, &QPushButton::clicked, this, &ActionSetToolBar::OnStatusButtonClicked);
}

void ActionSetToolBar::AddSupportTarnwickButton()
{
    addAction(QString());
    auto* lp_spacer = new QWidget;
    lp_spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    addWidget(lp_spacer);
    addAction(mp_supportAction);
}

QString ActionSetToolBar::SupportText(qint64 i_secondsLeft)
{
    if (i_secondsLeft <= 0)
        return tr("Support Tarnwick!");
    return tr("%1 Days Left").arg((i_secondsLeft + 43200) / 86400);
}

void ActionSetToolBar::OnApplicationFocusChanged(QWidget* /*ip_oldWidget*/, QWidget* ip_widget)
{
    if (!m_initialised || g_showIsOver || m_busy || ip_widget == nullptr)
        return;
    // A tab widget that brings a page forward gives the focus back to the widget that last had
    // it on that page, even when that widget sits on a sub-page that is hidden by now; and a
    // view brings a widget forward by focusing it before its pages are made current. Which of
    // the two it was is known once the pages have settled.
    if (!ip_widget->isVisible())
        ScheduleReview();
    FollowFocus(ip_widget);
}

void ActionSetToolBar::FollowFocus(QWidget* ip_widget)
{
    m_busy = true;

    // A tab widget or its tab bar stands for the page it shows, through every nesting level.
    QWidget* lp_widget = ip_widget;
    QWidget* lp_page = nullptr;
    for (;;)
    {
        QTabWidget* lp_tabs = qobject_cast<QTabWidget*>(lp_widget);
        if (!lp_tabs && qobject_cast<QTabBar*>(lp_widget))
            lp_tabs = qobject_cast<QTabWidget*>(lp_widget->parentWidget());
        if (!lp_tabs || !lp_tabs->currentWidget())
            break;
        lp_widget = lp_page = lp_tabs->currentWidget();
    }

    mp_treeWidget = nullptr;
    ItemPtr l_record;
    for (; lp_widget != nullptr; lp_widget = lp_widget->parentWidget())
    {
        l_record = WidgetRecord(lp_widget);
        if (!mp_treeWidget)
            mp_treeWidget = qobject_cast<QTreeWidget*>(lp_widget);
        if (l_record)
            break;
    }
    // What lies in no registered widget stands for what the user sees in it: a page (a tab bar
    // keeps the focus when a page goes away under it), or a tab that a view brought forward.
    if (l_record)
        ShowSetOf(lp_widget, l_record);
    else
        ShowSetSeenIn(lp_page ? lp_page : ip_widget);
    m_busy = false;
}

void ActionSetToolBar::ShowSetOf(QWidget* ip_widget, ItemPtr i_record)
{
    if (!i_record)
    {
        Clear();
        AddSupportTarnwickButton();
        return;
    }
    ChangeSet(ip_widget, i_record["toolbar_action_set"].AsString());
    for (ItemPtr l_pair : i_record.GetItems("action_key_value_pair"))
        SetActiveKey(l_pair["action_key"], l_pair["action_value"].AsString());
}

void ActionSetToolBar::ShowSetSeenIn(QWidget* ip_widget)
{
    QWidget* lp_registered = ip_widget;
    while (lp_registered && !WidgetRecord(lp_registered))
        lp_registered = lp_registered->parentWidget();
    if (!lp_registered && ip_widget)
        lp_registered = FirstShownRegisteredWidget(ip_widget);
    mp_treeWidget = qobject_cast<QTreeWidget*>(lp_registered);
    ShowSetOf(lp_registered, lp_registered ? WidgetRecord(lp_registered) : ItemPtr());
}

void ActionSetToolBar::ScheduleReview()
{
    if (m_reviewPending || g_showIsOver)
        return;
    m_reviewPending = true;
    // Pages are hidden before their successors are shown: only afterwards is it clear what the
    // user sees, and one review serves every page switched on the way.
    QTimer::singleShot(0, this, &ActionSetToolBar::ReviewShownSet);
}

void ActionSetToolBar::ReviewShownSet()
{
    m_reviewPending = false;
    if (!m_initialised || g_showIsOver || m_busy)
        return;
    QWidget* lp_focus = QApplication::focusWidget();
    if (!lp_focus)
        lp_focus = window()->focusWidget();
    if (lp_focus && lp_focus->isVisible())
    {
        FollowFocus(lp_focus);
        return;
    }
    QWidget* lp_hidden = lp_focus ? lp_focus : mp_widget;
    if (lp_hidden && lp_hidden->isVisible())
        return;

    // Out of sight, the focus (or the widget whose set is shown) tells no more than where to
    // look: the nearest part of the window still shown. Without either, the whole window.
    QWidget* lp_seen = lp_hidden ? lp_hidden->parentWidget() : window();
    while (lp_seen && !lp_seen->isVisible())
        lp_seen = lp_seen->parentWidget();
    m_busy = true;
    ShowSetSeenIn(lp_seen);
    m_busy = false;
}

QWidget* ActionSetToolBar::FirstShownRegisteredWidget(QWidget* ip_widget)
{
    // Siblings in reading order, top to bottom and then left to right: the order of children
    // is their stacking order, which splitters and raised widgets rearrange.
    std::vector<QWidget*> l_shown;
    for (QObject* lp_child : ip_widget->children())
    {
        auto* lp_widget = qobject_cast<QWidget*>(lp_child);
        if (lp_widget && !lp_widget->isWindow() && lp_widget->isVisible())
            l_shown.push_back(lp_widget);
    }
    std::stable_sort(l_shown.begin(), l_shown.end(), [](const QWidget* ip_a, const QWidget* ip_b) {
        return std::make_pair(ip_a->y(), ip_a->x()) < std::make_pair(ip_b->y(), ip_b->x());
    });
    for (QWidget* lp_widget : l_shown)
    {
        if (WidgetRecord(lp_widget))
            return lp_widget;
        if (QWidget* lp_found = FirstShownRegisteredWidget(lp_widget))
            return lp_found;
    }
    return nullptr;
}

bool ActionSetToolBar::eventFilter(QObject* ip_watched, QEvent* ip_event)
{
    // Only registered widgets are watched: a page switch shows or hides some of them.
    if (ip_event->type() == QEvent::Show || ip_event->type() == QEvent::Hide)
        ScheduleReview();
    return QToolBar::eventFilter(ip_watched, ip_event);
}

void ActionSetToolBar::OnActionTriggered(bool /*i_checked*/)
{
    ItemPtr l_action =
        T("toolbar_action_object")->HasItem(static_cast<QObject*>(sender()))["toolbar_action"];
    if (!l_action)
        return;
    if (mp_treeWidget)
    {
        const QList<QTreeWidgetItem*> l_selected = mp_treeWidget->selectedItems();
        if (l_selected.isEmpty() && l_action.IsConnected("needs_list_selection"))
            return;
        if (!l_selected.isEmpty())
            for (ItemPtr l_pair : WidgetRecord(mp_widget).GetItems("action_key_column_pair"))
                SetActiveKey(l_pair["action_key"],
                             l_selected.first()->text(l_pair["action_column"].AsInt()));
    }
    emit ActionTriggered(mp_widget, l_action["toolbar_action_id"].AsString());
}

void ActionSetToolBar::OnWidgetDestroyed(QObject* ip_widget)
{
    // Only the address is used: the widget part of the object is gone by now.
    const bool l_shown = ip_widget == mp_widget;
    if (l_shown)
        mp_widget = nullptr;
    if (g_showIsOver)
        return;
    if (l_shown)
    {
        Clear();
        AddSupportTarnwickButton();
        ScheduleReview();
    }

    // A widget created later at the same address must not inherit this one's keys, texts or
    // marks (a new room tab would act on the room of a closed one).
    ItemPtr l_record = WidgetRecord(ip_widget);
    if (!l_record)
        return;
    l_record.GetItems("action_key_value_pair").Remove();
    l_record.GetItems("action_key_column_pair").Remove();
    l_record.GetItems("widget_action_hidden").Remove();
    const ItemSet l_texts = l_record.GetItems("widget_action_text");
    l_record.Remove();
    for (ItemPtr l_text : l_texts)
        if (!l_text.IsConnected("toolbar_action_widget"))
            l_text.Remove();
}

void ActionSetToolBar::OnStatusButtonClicked()
{
    const bool l_goingAway = GetSetting("availability_status") == QLatin1String("available");
    if (gp_server)
        gp_server->SetAvailabilityStatus(!l_goingAway);
    else
        SetSetting("availability_status", l_goingAway ? "away" : "available");
    const QString l_icon = l_goingAway ? AwayIcon : OnlineIcon;
    mp_statusButton->setIcon(QIcon(l_icon));
    mp_statusButton->setText(l_goingAway ? tr("Away") : tr("Available"));
    const bool l_loggedIn = gp_server && gp_server->IsConnected();
    if (l_loggedIn && (!l_goingAway || IsSettingYes("show_away_status_in_application_icon")))
        SetApplicationIcon(l_icon);
}

void ActionSetToolBar::OnSupportTarnwickButtonClicked()
{
    const QString l_user = QString::fromLatin1(QUrl::toPercentEncoding(GetSetting("username")));
    Desktop::OpenUrl(WebHostUrl("/qtlogin.php?username=" + l_user));
}

void ActionSetToolBar::OnReceivedOwnPrivilegesStatus(int i_seconds)
{
    mp_supportButton->setText(SupportText(i_seconds));
}

ItemPtr ActionSetToolBar::WidgetRecord(const QObject* ip_widget)
{
    return T("toolbar_action_widget")->HasItem(ip_widget);
}

void ActionSetToolBar::SetActiveKey(ItemPtr i_key, const QString& i_value)
{
    T("active_action_key")->GetItem(i_key.GetValue()) += T("active_action_value")->GetItem(i_value);
}

QList<QAction*> ActionSetToolBar::LiveActions(ItemPtr i_id)
{
    QList<QAction*> l_actions;
    for (ItemPtr l_object : T("toolbar_action_object")->GetItems())
        if (l_object["toolbar_action"]["toolbar_action_id"] == i_id)
            l_actions << l_object.AsPointer<QAction>();
    return l_actions;
}
