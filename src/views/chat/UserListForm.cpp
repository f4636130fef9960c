#include "views/chat/UserListForm.h"

#include <QFile>
#include <QHeaderView>
#include <QIcon>
#include <QMenu>
#include <QMetaObject>

#include <utility>

#include "peer/PeerMessenger.h"
#include "resources/Resources.h"
#include "server/MemStream.h"
#include "server/Server.h"
#include "shell/ActionSetToolBar.h"
#include "shell/Desktop.h"
#include "shell/EventToolBar.h"
#include "shell/SizeManager.h"
#include "shell/UIFunctions.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/SchemaDeclaration.h"
#include "store/Settings.h"
#include "transfers/TransferQueueManager.h"
#include "ui_UserListForm.h"
#include "views/chat/AddUserDialog.h"
#include "views/chat/ChatsForm.h"
#include "views/chat/UserGroupConfigDialog.h"
#include "views/chat/UserInfoForm.h"
#include "views/chat/UserListItemWidget.h"
#include "views/chat/UserMenuOptions.h"

UserListForm* userListForm = nullptr;

namespace
{
const char* const OnlineIconPath = ":/icons/online_icon";

// Each ties a user to its row in one list; the value is the row's address.
const char* const NodeTypes[] = {"user_list_node", "unshared_list_node", "ignored_list_node",
                                 "online_alert_list_node"};

// The picture part of the reply: the whole file, or nothing when there is no readable file or
// when the reply would no longer fit in one peer frame, which the asker would refuse whole.
void WritePicture(MemStream& io_reply, qint64 i_restOfReply)
{
    const QString l_path = GetSetting("user_picture_file");
    QFile l_file(l_path);
    if (!l_path.isEmpty() && l_file.open(QIODevice::ReadOnly))
    {
        const qint64 l_size = l_file.size();
        const qint64 l_replySize = io_reply.GetWriteIndex() + 1 + 4 + l_size + i_restOfReply;
        if (l_replySize <= PeerMessenger::MaxFrameLength)
        {
            const QByteArray l_bytes = l_file.read(l_size);
            if (l_bytes.size() == l_size)
            {
                io_reply.Write(quint8(1));
                io_reply.Write(qint32(l_size));
                io_reply.WriteBuffer(l_bytes.constData(), l_bytes.size());
                return;
            }
        }
    }
    io_reply.Write(quint8(0));
}
} // namespace

UserListForm::UserListForm(QWidget* ip_parent)
    : QWidget(ip_parent), mp_ui(std::make_unique<Ui_UserListForm>())
{
    InitResources();
    mp_ui->setupUi(this);
    userListForm = this;
    m_onlineIcon = QIcon(OnlineIconPath);
    m_offlineIcon = QIcon(":/icons/offline_icon");
    m_noteIcon = QIcon(":/icons/note_icon");

    mp_ui->userList->setHeaderLabels({tr("User"), tr("Groups"), tr("Note")});
    mp_ui->userList->setColumnWidth(0, 200);
    mp_ui->userList->setColumnWidth(1, 300);
    for (QTreeWidget* lp_tree : {mp_ui->unsharedList, mp_ui->ignoredList})
    {
        lp_tree->setHeaderLabels({tr("User"), tr("Note")});
        lp_tree->setColumnWidth(0, 200);
    }
    mp_ui->onlineAlertList->setHeaderLabels({tr("User")});
    // Once sorting is on, the unshared and ignored lists start in ascending order of names.
    for (QTreeWidget* lp_tree : {mp_ui->unsharedList, mp_ui->ignoredList})
        lp_tree->header()->setSortIndicator(0, Qt::AscendingOrder);
    mp_ui->onlineAlertList->setColumnWidth(0, 200);

    const std::pair<QTreeWidget*, void (UserListForm::*)(QPoint)> l_menus[] = {
        {mp_ui->userList, &UserListForm::OnUserListContextMenuRequested},
        {mp_ui->unsharedList, &UserListForm::OnUnsharedListContextMenuRequested},
        {mp_ui->ignoredList, &UserListForm::OnIgnoredListContextMenuRequested},
        {mp_ui->onlineAlertList, &UserListForm::OnOnlineAlertListContextMenuRequested},
    };
    for (const auto& [lp_tree, l_slot] : l_menus)
    {
        connect(lp_tree, &QWidget::customContextMenuRequested, this, l_slot);
        RegisterWidgetForTabFocus(lp_tree, 1);
    }
    // A double-click on an alert row does nothing.
    for (QTreeWidget* lp_tree : {mp_ui->userList, mp_ui->unsharedList, mp_ui->ignoredList})
        connect(lp_tree, &QTreeWidget::itemDoubleClicked, this,
                &UserListForm::OnUserItemDoubleClicked);
}

UserListForm::~UserListForm()
{
    if (userListForm == this)
        userListForm = nullptr;
}

void UserListForm::Init()
{
    DeclareTypes({{"user_online_alert", Leaf, true}});
    DeclareRelations({{"user", "user_online_alert", Many, One}});
    dataSaver->AddSavedType("user_online_alert");
    dataSaver->AddSavedByConnectionType("user", "user_online_alert");
    dataSaver->AddDataLoadedEventHandler(this);
}

QTreeWidget* UserListForm::UserList() const
{
    return mp_ui->userList;
}

QTreeWidget* UserListForm::UnsharedList() const
{
    return mp_ui->unsharedList;
}

QTreeWidget* UserListForm::IgnoredList() const
{
    return mp_ui->ignoredList;
}

QTreeWidget* UserListForm::OnlineAlertList() const
{
    return mp_ui->onlineAlertList;
}

QTabWidget* UserListForm::UserInfoTabs() const
{
    return mp_ui->userInfoTabs;
}

void UserListForm::DataLoaded()
{
    for (const char* l_type : NodeTypes)
    {
        DeclareTypes({{l_type, Primary, false}});
        DeclareRelations({{"user", l_type, One, One}});
    }
    // Nothing is online yet: the link to the server is made after the load.
    for (ItemPtr l_user : g("user").Connected("in_user_list"))
        NewUserListRow(l_user);
    mp_ui->userList->sortByColumn(0, Qt::AscendingOrder);

    // The unshared mark belongs to the transfer queues; without them there is no such list.
    const bool l_unshared = d.HasType("unshared") != nullptr;
    if (l_unshared)
        for (ItemPtr l_user : g("user").Connected("unshared"))
            AddNotedRow(mp_ui->unsharedList, l_user, "unshared_list_node");
    mp_ui->unsharedList->setSortingEnabled(true);
    for (ItemPtr l_user : g("user").Connected("is_ignored"))
        AddNotedRow(mp_ui->ignoredList, l_user, "ignored_list_node");
    mp_ui->ignoredList->setSortingEnabled(true);

    const ItemSet l_alerted = g("user_online_alert").GetItems("user");
    for (ItemPtr l_user : l_alerted)
        NewOnlineAlertRow(l_user)->setIcon(0, m_offlineIcon);
    mp_ui->onlineAlertList->sortByColumn(0, Qt::AscendingOrder);

    using Handler = void (UserListForm::*)(ItemPtr);
    struct Subscription
    {
        const char* type;
        PathNodeRelation relation;
        Handler handler;
    };
    // A user going offline turns its alert row offline too, listed or not.
    const Subscription l_subscriptions[] = {
        {"is_online", NotifyOnConnect, &UserListForm::OnUserOnline},
        {"is_online", NotifyOnDisconnect, &UserListForm::OnUserOffline},
        {"in_user_list", NotifyOnConnect, &UserListForm::OnUserAddedToList},
        {"in_user_list", NotifyOnDisconnect, &UserListForm::OnUserRemovedFromList},
        {"unshared", NotifyOnConnect, &UserListForm::OnUserUnshared},
        {"unshared", NotifyOnDisconnect, &UserListForm::OnUserReshared},
        {"is_ignored", NotifyOnConnect, &UserListForm::OnUserIgnored},
        {"is_ignored", NotifyOnDisconnect, &UserListForm::OnUserUnignored},
        {"user_note", NotifyOnConnect, &UserListForm::OnUserNoteChanged},
        {"user_note", NotifyOnDisconnect, &UserListForm::OnUserNoteRemoved},
        {"user_online_alert", NotifyOnConnect, &UserListForm::OnUserOnlineAlertAdded},
        {"user_online_alert", NotifyOnDisconnect, &UserListForm::OnUserOnlineAlertRemoved},
    };
    for (const Subscription& l_subscription : l_subscriptions)
    {
        if (!l_unshared && std::string(l_subscription.type) == "unshared")
            continue;
        auto* lp_root = new PathNode(&d, "user");
        new PathNode(lp_root, l_subscription.type, l_subscription.relation);
        d.AddPathEventHandler(lp_root, NewEventHandler(this, l_subscription.handler));
    }

    if (actionBar)
    {
        actionBar->AddSetAction("user_list", "manual_add_user", tr("Add User"),
                                ":/icons/add_user_icon", false);
        actionBar->AddSetAction("user_list", "configure_user_groups", tr("Configure User Groups"),
                                ":/icons/users_icon", false);
        actionBar->RegisterWidget(mp_ui->userListTab, "user_list");
        connect(actionBar, &ActionSetToolBar::ActionTriggered, this,
                &UserListForm::OnActionBarTriggered);
    }

    for (const auto& [l_relation, l_handler] :
         {std::pair<PathNodeRelation, Handler>{NotifyOnConnect, &UserListForm::OnUserGroupAdded},
          {NotifyOnDisconnect, &UserListForm::OnUserGroupRemoved}})
    {
        auto* lp_root = new PathNode(&d, "user");
        auto* lp_listed = new PathNode(lp_root, "in_user_list", Connected);
        new PathNode(lp_listed, "user_list_group", l_relation);
        d.AddPathEventHandler(lp_root, NewEventHandler(this, l_handler));
    }

    if (sizeManager)
        sizeManager->RegisterTreeWidget("user_list", mp_ui->userList);
    connect(mp_ui->userInfoTabs, &QTabWidget::tabCloseRequested, this,
            &UserListForm::OnUserInfoTabCloseRequested);
    DeclareTypes({{"user_info_form", Primary, false}});
    DeclareRelations({{"user", "user_info_form", One, One}});
    if (peerMessenger)
        connect(peerMessenger, &PeerMessenger::UserInfoRequested, this,
                &UserListForm::OnUserInfoRequested);
    for (ItemPtr l_user : l_alerted)
        TrackUser(l_user);
}

QTreeWidgetItem* UserListForm::NewUserListRow(ItemPtr i_user)
{
    auto* lp_row = new UserListItemWidget(mp_ui->userList);
    lp_row->setText(0, i_user.AsString());
    lp_row->setIcon(0, m_offlineIcon);
    i_user += d.GetType("user_list_node")->GetItem(Value(static_cast<QTreeWidgetItem*>(lp_row)));
    TrackUser(i_user);
    UpdateUserGroupsDisplay(i_user.AsString());
    if (ItemPtr l_note = i_user["user_note"])
        SetNote(lp_row, 2, l_note);
    return lp_row;
}

QTreeWidgetItem* UserListForm::NewOnlineAlertRow(ItemPtr i_user)
{
    auto* lp_row = new QTreeWidgetItem(mp_ui->onlineAlertList);
    lp_row->setText(0, i_user.AsString());
    i_user += d.GetType("online_alert_list_node")->GetItem(Value(lp_row));
    return lp_row;
}

void UserListForm::AddNotedRow(QTreeWidget* ip_tree, ItemPtr i_user, const char* i_nodeType)
{
    auto* lp_row = new QTreeWidgetItem(ip_tree);
    lp_row->setText(0, i_user.AsString());
    if (ItemPtr l_note = i_user["user_note"])
        SetNote(lp_row, 1, l_note);
    i_user += d.GetType(i_nodeType)->GetItem(Value(lp_row));
}

QTreeWidgetItem* UserListForm::Row(ItemPtr i_user, const char* i_nodeType)
{
    const ItemPtr l_node = i_user[i_nodeType];
    return l_node ? l_node.AsPointer<QTreeWidgetItem>() : nullptr;
}

void UserListForm::RemoveRow(ItemPtr i_user, const char* i_nodeType)
{
    const ItemPtr l_node = i_user[i_nodeType];
    if (!l_node)
        return;
    delete l_node.AsPointer<QTreeWidgetItem>();
    l_node.Remove();
}

void UserListForm::SetNote(QTreeWidgetItem* ip_row, int i_column, ItemPtr i_note) const
{
    ip_row->setText(i_column, i_note ? i_note.AsString() : QString());
    ip_row->setIcon(i_column, i_note ? m_noteIcon : QIcon());
}

void UserListForm::TrackUser(ItemPtr i_user)
{
    if (gp_server)
        gp_server->TrackUser(i_user.AsString());
}

void UserListForm::RequestUserListSort()
{
    if (m_sortPending)
        return;
    m_sortPending = true;
    QMetaObject::invokeMethod(this, &UserListForm::SortUserList, Qt::QueuedConnection);
}

void UserListForm::SortUserList()
{
    if (!m_sortPending)
        return;
    m_sortPending = false;
    mp_ui->userList->sortByColumn(0, Qt::AscendingOrder);
}

void UserListForm::OnUserOnline(ItemPtr i_user)
{
    if (i_user.IsConnected("in_user_list"))
        if (QTreeWidgetItem* lp_row = Row(i_user, "user_list_node"))
        {
            lp_row->setIcon(0, m_onlineIcon);
            RequestUserListSort();
        }
    if (i_user.IsConnected("user_online_alert") && eventToolBar)
        eventToolBar->AddEvent(i_user.AsString() + " online", OnlineIconPath, mp_ui->onlineAlertList,
                               i_user.AsString() + " is online");
    if (QTreeWidgetItem* lp_row = Row(i_user, "online_alert_list_node"))
        lp_row->setIcon(0, m_onlineIcon);
}

void UserListForm::OnUserOffline(ItemPtr i_user)
{
    if (i_user.IsConnected("in_user_list"))
        if (QTreeWidgetItem* lp_row = Row(i_user, "user_list_node"))
        {
            lp_row->setIcon(0, m_offlineIcon);
            RequestUserListSort();
        }
    if (QTreeWidgetItem* lp_row = Row(i_user, "online_alert_list_node"))
        lp_row->setIcon(0, m_offlineIcon);
}

void UserListForm::OnUserAddedToList(ItemPtr i_user)
{
    auto* lp_row = new UserListItemWidget(mp_ui->userList);
    lp_row->setText(0, i_user.AsString());
    lp_row->setIcon(0, m_offlineIcon);
    i_user += d.GetType("user_list_node")->GetItem(Value(static_cast<QTreeWidgetItem*>(lp_row)));
    if (i_user.IsConnected("is_online"))
        OnUserOnline(i_user);
    TrackUser(i_user);
    UpdateUserGroupsDisplay(i_user.AsString());
    if (ItemPtr l_note = i_user["user_note"])
        SetNote(lp_row, 2, l_note);
    m_sortPending = false;
    mp_ui->userList->sortByColumn(0, Qt::AscendingOrder);
}

void UserListForm::OnUserRemovedFromList(ItemPtr i_user)
{
    RemoveRow(i_user, "user_list_node");
}

void UserListForm::OnUserUnshared(ItemPtr i_user)
{
    AddNotedRow(mp_ui->unsharedList, i_user, "unshared_list_node");
}

void UserListForm::OnUserReshared(ItemPtr i_user)
{
    RemoveRow(i_user, "unshared_list_node");
}

void UserListForm::OnUserIgnored(ItemPtr i_user)
{
    AddNotedRow(mp_ui->ignoredList, i_user, "ignored_list_node");
}

void UserListForm::OnUserUnignored(ItemPtr i_user)
{
    RemoveRow(i_user, "ignored_list_node");
}

void UserListForm::OnUserNoteChanged(ItemPtr i_user)
{
    const ItemPtr l_note = i_user["user_note"];
    if (QTreeWidgetItem* lp_row = Row(i_user, "user_list_node"))
        SetNote(lp_row, 2, l_note);
    for (const char* l_node : {"unshared_list_node", "ignored_list_node"})
        if (QTreeWidgetItem* lp_row = Row(i_user, l_node))
            SetNote(lp_row, 1, l_note);
}

void UserListForm::OnUserNoteRemoved(ItemPtr i_user)
{
    if (QTreeWidgetItem* lp_row = Row(i_user, "user_list_node"))
        SetNote(lp_row, 2, ItemPtr());
    for (const char* l_node : {"unshared_list_node", "ignored_list_node"})
        if (QTreeWidgetItem* lp_row = Row(i_user, l_node))
            SetNote(lp_row, 1, ItemPtr());
}

void UserListForm::OnUserOnlineAlertAdded(ItemPtr i_user)
{
    QTreeWidgetItem* lp_row = NewOnlineAlertRow(i_user);
    mp_ui->onlineAlertList->sortByColumn(0, Qt::AscendingOrder);
    lp_row->setIcon(0, OnlineIcon(i_user.IsConnected("is_online")));
}

void UserListForm::OnUserOnlineAlertRemoved(ItemPtr i_user)
{
    RemoveRow(i_user, "online_alert_list_node");
}

void UserListForm::OnUserGroupAdded(ItemPtr i_user)
{
    UpdateUserGroupsDisplay(i_user.AsString());
}

void UserListForm::OnUserGroupRemoved(ItemPtr i_user)
{
    UpdateUserGroupsDisplay(i_user.AsString());
}

void UserListForm::UpdateUserGroupsDisplay(QString i_user)
{
    const ItemPtr l_user = d.GetType("user")->GetItem(i_user);
    QTreeWidgetItem* lp_row = Row(l_user, "user_list_node");
    if (!lp_row)
        return;
    QStringList l_names;
    for (ItemPtr l_group : l_user["in_user_list"].GetItems("user_list_group").SortAlphabetic(true))
        l_names << l_group.AsString();
    lp_row->setText(1, l_names.join(", "));
}

void UserListForm::ShowContextMenu(QTreeWidget* ip_tree, QPoint i_position)
{
    QTreeWidgetItem* lp_row = ip_tree->itemAt(i_position);
    if (!lp_row)
        return;
    QMenu l_menu;
    UserMenuOptions l_options(&l_menu, lp_row->text(0));
    Desktop::RunPopupMenu(l_menu, ip_tree->viewport()->mapToGlobal(i_position));
}

void UserListForm::OnUserListContextMenuRequested(QPoint i_position)
{
    ShowContextMenu(mp_ui->userList, i_position);
}

void UserListForm::OnUnsharedListContextMenuRequested(QPoint i_position)
{
    ShowContextMenu(mp_ui->unsharedList, i_position);
}

void UserListForm::OnIgnoredListContextMenuRequested(QPoint i_position)
{
    ShowContextMenu(mp_ui->ignoredList, i_position);
}

void UserListForm::OnOnlineAlertListContextMenuRequested(QPoint i_position)
{
    ShowContextMenu(mp_ui->onlineAlertList, i_position);
}

void UserListForm::OnUserItemDoubleClicked(QTreeWidgetItem* ip_item, int /*i_column*/)
{
    if (ip_item && chatsForm)
        chatsForm->OpenChatForm(ip_item->text(0));
}

void UserListForm::OnActionBarTriggered(QWidget* /*ip_widget*/, QString i_action)
{
    if (i_action == QLatin1String("configure_user_groups"))
    {
        if (userGroupConfigDialog)
            userGroupConfigDialog->setFocus(Qt::OtherFocusReason);
        else
            (new UserGroupConfigDialog(this))->show();
    }
    else if (i_action == QLatin1String("manual_add_user"))
        (new AddUserDialog(this))->show();
}

UserInfoForm* UserListForm::GetUserInfoForm(QString i_user)
{
    const ItemPtr l_user = d.GetType("user")->GetItem(i_user);
    if (const ItemPtr l_open = l_user["user_info_form"])
        return l_open.AsPointer<UserInfoForm>();
    auto* lp_form = new UserInfoForm(this);
    lp_form->Init(i_user);
    mp_ui->userInfoTabs->addTab(lp_form, QIcon(":/icons/info_icon"), ChatsForm::TabText(i_user));
    l_user += d.GetType("user_info_form")->GetItem(Value(lp_form));
    return lp_form;
}

void UserListForm::OnUserInfoTabCloseRequested(int i_index)
{
    auto* lp_form = qobject_cast<UserInfoForm*>(mp_ui->userInfoTabs->widget(i_index));
    if (!lp_form)
        return;
    mp_ui->userInfoTabs->removeTab(i_index);
    if (const ItemPtr l_record = d.GetType("user_info_form")->HasItem(Value(lp_form)))
        l_record.Remove();
    lp_form->deleteLater();
}

void UserListForm::OnUserInfoRequested(QString i_user)
{
    MemStream l_reply;
    l_reply.Write(quint32(16));
    const QByteArray l_description = GetSetting("user_description").toUtf8();
    l_reply.Write(quint32(l_description.size()));
    l_reply.WriteBuffer(l_description.constData(), l_description.size());
    // Upload slots, queued uploads and the free-slot flag follow the picture.
    WritePicture(l_reply, 4 + 4 + 1);
    // Without the transfer queues nothing is queued, and every slot is free.
    const qint64 l_slots = GetSettingInt("upload_slots");
    l_reply.Write(qint32(l_slots));
    l_reply.Write(qint32(transferQueueManager ? transferQueueManager->QueuedUploadCount() : 0));
    const bool l_free = transferQueueManager ? transferQueueManager->IsFreeToUpload() : l_slots > 0;
    l_reply.Write(quint8(l_free ? 1 : 0));
    if (peerMessenger)
        peerMessenger->SendMessage(i_user, l_reply);
}
