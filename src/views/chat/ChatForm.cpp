#include "views/chat/ChatForm.h"

#include <QIcon>
#include <QMenu>
#include <QShowEvent>
#include <QTabWidget>
#include <QTimer>

#include "server/Server.h"
#include "shell/ActionSetToolBar.h"
#include "shell/Desktop.h"
#include "shell/EventToolBar.h"
#include "shell/UIFunctions.h"
#include "store/Data.h"
#include "store/Settings.h"
#include "store/TimerManager.h"
#include "ui_ChatForm.h"
#include "views/chat/ChatLog.h"
#include "views/chat/ChatLogForm.h"
#include "views/chat/ChatsForm.h"
#include "views/chat/UserMenuOptions.h"

const char* const ChatForm::NotSentText = "Not sent: not connected to the server.";

ChatForm::ChatForm(QString i_user, QTabWidget* ip_tabWidget, QWidget* ip_parent,
                   ChatRenderer::Clock i_clock)
    : QWidget(ip_parent), mp_ui(std::make_unique<Ui_ChatForm>()), m_user(std::move(i_user)),
      mp_tabWidget(ip_tabWidget)
{
    mp_ui->setupUi(this);
    // Whoever brings the form forward means the conversation: the typing goes to its line.
    setFocusProxy(mp_ui->chatEdit);
    ItemPtr l_user = d.GetType("user")->GetItem(m_user);
    l_user += d.GetType("user_chat_widget")->GetItem(Value(this));
    RegisterWidgetForTabFocus(mp_ui->chatEdit, 1);
    mp_renderer = std::make_unique<ChatRenderer>(mp_ui->chatView, ChatRenderer::Kind::Private,
                                                 std::move(i_clock));
    if (timerManager)
        connect(timerManager->halfMinuteTimer, &QTimer::timeout, this,
                &ChatForm::CheckChatInactivity);
    if (actionBar)
    {
        actionBar->RegisterWidget(this, "user_chat");
        connect(actionBar, &ActionSetToolBar::ActionTriggered, this, &ChatForm::OnActionTriggered);
    }

    // The warning the transfer queues sent this user, shown as the own line it was.
    if (d.HasType("sent_empty_share_warning_message"))
        if (ItemPtr l_warning = l_user["sent_empty_share_warning_message"])
            AddChat(GetSetting("username"), l_warning.AsString());

    const std::pair<PathNodeRelation, void (ChatForm::*)(ItemPtr)> l_subscriptions[] = {
        {NotifyOnConnect, &ChatForm::OnUserAway},
        {NotifyOnDisconnect, &ChatForm::OnUserAvailable},
    };
    for (const auto& [l_relation, l_handler] : l_subscriptions)
    {
        PathNode* lp_root = new PathNode(l_user);
        new PathNode(lp_root, "is_away", l_relation);
        d.AddPathEventHandler(lp_root, NewEventHandler(this, l_handler));
    }
    if (l_user.IsConnected("is_away"))
        AddStatusMessage(m_user + " is away.");
}

ChatForm::~ChatForm()
{
    // The user has no tab any more: the next message opens a new one.
    if (Type* lp_records = d.HasType("user_chat_widget"))
        if (ItemPtr l_record = lp_records->HasItem(Value(this)))
            l_record.Remove();
}

void ChatForm::Focus()
{
    FocusWidget(mp_ui->chatEdit);
}

void ChatForm::AddChat(QString i_user, QString i_text)
{
    const ChatRenderer::ShownChat l_shown = mp_renderer->AddChat(i_user, i_text);
    LogChat(l_shown.logLine);
    if (!l_shown.isAction && eventToolBar)
        eventToolBar->AddEvent(m_user, ":/icons/chat_icon", mp_ui->chatEdit, l_shown.popup);
}

void ChatForm::AddStatusMessage(QString i_text)
{
    mp_renderer->AddStatusMessage(i_text);
}

void ChatForm::LogChat(QString i_line)
{
    ChatLog::Write(ChatLog::Kind::User, m_user, i_line);
}

void ChatForm::OnUserAway(ItemPtr /*i_user*/)
{
    AddStatusMessage(m_user + " is away.");
}

void ChatForm::OnUserAvailable(ItemPtr /*i_user*/)
{
    AddStatusMessage(m_user + " is available.");
}

// A line of blanks is sent as typed; only an empty line is nothing.
void ChatForm::OnEnter()
{
    const QString l_text = mp_ui->chatEdit->text();
    if (l_text.isEmpty())
        return;
    AddChat(GetSetting("username"), l_text);
    if (gp_server && gp_server->IsConnected())
        gp_server->SendPrivateChat(m_user, l_text);
    else
        AddStatusMessage(NotSentText);
    mp_ui->chatEdit->clear();
}

void ChatForm::CheckChatInactivity()
{
    mp_renderer->CheckChatInactivity();
}

void ChatForm::OnContextMenuRequested(QPoint i_position)
{
    QMenu l_menu;
    UserMenuOptions l_options(&l_menu, m_user);
    Desktop::RunPopupMenu(l_menu, mp_ui->chatView->viewport()->mapToGlobal(i_position));
}

void ChatForm::OnURLClicked(QUrl i_url)
{
    Desktop::OpenUrl(i_url);
    mp_ui->chatEdit->setFocus(Qt::OtherFocusReason);
}

void ChatForm::OnActionTriggered(QWidget* ip_widget, QString i_id)
{
    if (ip_widget != this || i_id != QLatin1String("user_chat_log"))
        return;
    ItemPtr l_user = d.GetType("user")->GetItem(m_user);
    if (ItemPtr l_open = l_user["chat_log_form"])
    {
        FocusWidgetAndParents(l_open.AsPointer<ChatLogForm>());
        return;
    }
    auto* lp_viewer = new ChatLogForm(ChatLog::Path(ChatLog::Kind::User, m_user), this);
    mp_tabWidget->addTab(lp_viewer, QIcon(":/icons/note_icon"), ChatsForm::TabText(m_user));
    l_user += d.GetType("chat_log_form")->GetItem(Value(lp_viewer));
    FocusWidgetAndParents(lp_viewer);
}

void ChatForm::showEvent(QShowEvent* ip_event)
{
    QWidget::showEvent(ip_event);
    if (eventToolBar)
        eventToolBar->RemoveEvents(mp_ui->chatEdit);
}
