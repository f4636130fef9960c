#include "views/chat/ChatsForm.h"

#include <QIcon>

#include "resources/Resources.h"
#include "server/Server.h"
#include "shell/UIFunctions.h"
#include "store/Data.h"
#include "ui_ChatsForm.h"
#include "views/chat/ChatForm.h"

ChatsForm* chatsForm = nullptr;

namespace
{
const char* const OnlineIcon = ":/icons/online_icon";
const char* const OfflineIcon = ":/icons/offline_icon";
} // namespace

ChatsForm::ChatsForm(QWidget* ip_parent) : QWidget(ip_parent), mp_ui(std::make_unique<Ui_ChatsForm>())
{
    InitResources();
    mp_ui->setupUi(this);
    chatsForm = this;
}

ChatsForm::~ChatsForm()
{
    if (chatsForm == this)
        chatsForm = nullptr;
}

void ChatsForm::Init()
{
    const std::pair<PathNodeRelation, void (ChatsForm::*)(ItemPtr)> l_subscriptions[] = {
        {NotifyOnConnect, &ChatsForm::OnUserOnline},
        {NotConnectedAndNotify, &ChatsForm::OnUserOffline},
    };
    for (const auto& [l_relation, l_handler] : l_subscriptions)
    {
        PathNode* lp_root = new PathNode(&d, "user");
        new PathNode(lp_root, "is_online", l_relation);
        d.AddPathEventHandler(lp_root, NewEventHandler(this, l_handler));
    }
}

QTabWidget* ChatsForm::TabWidget() const
{
    return mp_ui->chatTabControl;
}

QString ChatsForm::TabText(QString i_name)
{
    return LiteralAmpersands(std::move(i_name));
}

ChatForm* ChatsForm::GetChatForm(QString i_user)
{
    ItemPtr l_user = d.GetType("user")->GetItem(i_user);
    if (ItemPtr l_record = l_user["user_chat_widget"])
        return l_record.AsPointer<ChatForm>();

    // The form records itself on the user as it is built.
    auto* lp_form = new ChatForm(i_user, mp_ui->chatTabControl, this);
    mp_ui->chatTabControl->addTab(
        lp_form, QIcon(l_user.IsConnected("is_online") ? OnlineIcon : OfflineIcon), TabText(i_user));
    l_user += d.GetType("user_chat_widget")->GetItem(Value(lp_form));
    if (gp_server)
        gp_server->TrackUser(i_user);
    return l_user["user_chat_widget"].AsPointer<ChatForm>();
}

ChatForm* ChatsForm::OpenChatForm(QString i_user)
{
    ChatForm* lp_form = GetChatForm(i_user);
    FocusWidgetAndParents(lp_form);
    return lp_form;
}

void ChatsForm::OnChatTabClosed(int i_index)
{
    // The page is a chat or a log viewer; deleting it takes its tab and its record away.
    delete mp_ui->chatTabControl->widget(i_index);
}

void ChatsForm::OnPrivateChat(QString i_user, QString i_chat, time_t /*i_time*/,
                              bool /*i_spontaneous*/)
{
    GetChatForm(i_user)->AddChat(i_user, i_chat);
}

void ChatsForm::SetTabIcon(ItemPtr i_user, bool i_online)
{
    ItemPtr l_record = i_user["user_chat_widget"];
    if (!l_record)
        return;
    const int l_index = mp_ui->chatTabControl->indexOf(l_record.AsPointer<ChatForm>());
    if (l_index >= 0)
        mp_ui->chatTabControl->setTabIcon(l_index, QIcon(i_online ? OnlineIcon : OfflineIcon));
}

void ChatsForm::OnUserOnline(ItemPtr i_user)
{
    SetTabIcon(i_user, true);
}

void ChatsForm::OnUserOffline(ItemPtr i_user)
{
    SetTabIcon(i_user, false);
}
