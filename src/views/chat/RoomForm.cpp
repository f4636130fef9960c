#include "views/chat/RoomForm.h"

#include <QFile>
#include <QFont>
#include <QHeaderView>
#include <QIcon>
#include <QMenu>
#include <QTimer>

#include <algorithm>

#include "resources/Resources.h"
#include "server/Server.h"
#include "shell/ActionSetToolBar.h"
#include "shell/Desktop.h"
#include "shell/ShowIsOver.h"
#include "shell/SizeManager.h"
#include "shell/UIFunctions.h"
#include "store/Data.h"
#include "store/GeneralFunctions.h"
#include "store/TimerManager.h"
#include "ui_RoomForm.h"
#include "views/chat/ChatLog.h"
#include "views/chat/ChatsForm.h"
#include "views/chat/QRoomUserListItemWidget.h"
#include "views/chat/UserMenuOptions.h"
#include "views/chat/UserNoteDialog.h"

namespace
{
const char* const NoteIcon = ":/icons/note_icon";
const int BoldWeight = 75;
const int NormalWeight = 50;

// A country without a flag of its own shows none rather than a broken image.
QIcon FlagIcon(const QString& i_countryCode)
{
    const QString l_path = ":/resources/flags/" + i_countryCode.toLower() + ".png";
    return i_countryCode.isEmpty() || !QFile::exists(l_path) ? QIcon() : QIcon(l_path);
}

QString SpeedText(qint64 i_bytesPerSecond)
{
    return i_bytesPerSecond == 0 ? QString()
                                 : QString::number(i_bytesPerSecond / 1024.0, 'f', 1);
}
} // namespace

RoomForm::RoomForm(QString i_room, QWidget* ip_parent)
    : QWidget(ip_parent), mp_ui(new Ui_RoomForm), m_room(i_room)
{
    InitResources();
    mp_ui->setupUi(this);
    QTreeWidget* lp_list = mp_ui->userList;
    lp_list->setHeaderLabels({"", "", "User", "", "Files", "K/s"});
    const int l_widths[] = {20, 25, 90, 25, 50, 40};
    for (int l_column = 0; l_column < 6; ++l_column)
        lp_list->setColumnWidth(l_column, l_widths[l_column]);
    FitColumn(lp_list, FilesColumn, l_widths[FilesColumn], {CommafyNumber(LargestFigure::Count)});
    FitColumn(lp_list, SpeedColumn, l_widths[SpeedColumn], {SpeedText(LargestFigure::BytesPerSecond)});
    // The speeds stretch to the list's edge: its pane holds every column, and a scroll bar for a
    // crowded room.
    mp_ui->splitter->setSizes({280, std::max(280, WidthOfAllColumns(lp_list))});
    mp_ui->splitter->setStretchFactor(0, 1);
    mp_ui->splitter->setStretchFactor(1, 0);
    lp_list->sortItems(UserColumn, Qt::AscendingOrder);
    lp_list->header()->setStretchLastSection(true);
    lp_list->headerItem()->setIcon(NoteColumn, QIcon(NoteIcon));

    ItemPtr l_room = RoomItem();
    if (Type* lp_forms = d.HasType("room_form"))
        l_room += lp_forms->GetItem(Value(this));

    // A row needs the user's statistics and country as well as the room, whichever comes last.
    PathNode* lp_added = new PathNode(&d, "user");
    new PathNode(lp_added, l_room, ConnectedAndNotify);
    for (const char* l_detail : {"average_download_speed", "shared_files_count", "country_code"})
        new PathNode(lp_added, l_detail, ConnectedAndNotify);
    d.AddPathEventHandler(lp_added, NewEventHandler(this, &RoomForm::OnUserAdded));

    PathNode* lp_removed = new PathNode(&d, "user");
    new PathNode(lp_removed, l_room, NotifyOnDisconnect);
    d.AddPathEventHandler(lp_removed, NewEventHandler(this, &RoomForm::OnUserRemoved));

    const std::pair<PathNodeRelation, void (RoomForm::*)(ItemPtr)> l_operatorPaths[] = {
        {ConnectedAndNotify, &RoomForm::OnOperatorAdded},
        {NotifyOnDisconnect, &RoomForm::OnOperatorRemoved}};
    for (const auto& [l_relation, lp_handler] : l_operatorPaths)
    {
        PathNode* lp_root = new PathNode(&d, "user");
        new PathNode(new PathNode(lp_root, "room_operators", l_relation), l_room,
                     ConnectedAndNotify);
        d.AddPathEventHandler(lp_root, NewEventHandler(this, lp_handler));
    }

    if (gp_server)
        connect(gp_server, &Server::RoomChat, this, &RoomForm::OnRoomChat);

    PathNode* lp_left = new PathNode(l_room);
    new PathNode(lp_left, "in_room", NotifyOnDisconnect);
    d.AddPathEventHandler(lp_left, NewEventHandler(this, &RoomForm::OnLeftRoom));

    if (actionBar)
    {
        actionBar->RegisterWidget(this, "room");
        actionBar->AddWidgetKey(this, "room", m_room);
        SetAutojoinText(l_room.IsConnected("room_autojoin"));
        // Fixed for the tab's life: a room's standing is taken as it was when it was joined.
        const bool l_owner = l_room.IsConnected("is_owner");
        actionBar->SetWidgetActionHidden(this, "give_up_membership",
                                         !(l_room.IsConnected("is_member") && !l_owner));
        actionBar->SetWidgetActionHidden(this, "give_up_ownership", !l_owner);
    }

    const std::pair<PathNodeRelation, void (RoomForm::*)(ItemPtr)> l_autojoinPaths[] = {
        {NotifyOnConnect, &RoomForm::OnRoomAutojoinOn},
        {NotifyOnDisconnect, &RoomForm::OnRoomAutojoinOff}};
    for (const auto& [l_relation, lp_handler] : l_autojoinPaths)
    {
        PathNode* lp_root = new PathNode(l_room);
        new PathNode(lp_root, "room_autojoin", l_relation);
        d.AddPathEventHandler(lp_root, NewEventHandler(this, lp_handler));
    }
    if (gp_server)
    {
        connect(gp_server, &Server::Connected, this, &RoomForm::OnConnected);
        connect(gp_server, &Server::Disconnected, this, &RoomForm::OnDisconnected);
    }

    mp_renderer = std::make_unique<ChatRenderer>(mp_ui->chatView, ChatRenderer::Kind::Room);
    if (timerManager)
        connect(timerManager->halfMinuteTimer, &QTimer::timeout, this,
                &RoomForm::CheckChatInactivity);

    // Every user of the store passes through these; users without a row are passed over.
    const std::pair<PathNodeRelation, void (RoomForm::*)(ItemPtr)> l_notePaths[] = {
        {NotifyOnConnect, &RoomForm::OnUserNoteChanged},
        {NotifyOnDisconnect, &RoomForm::OnUserNoteRemoved}};
    for (const auto& [l_relation, lp_handler] : l_notePaths)
    {
        PathNode* lp_root = new PathNode(&d, "user");
        new PathNode(lp_root, "user_note", l_relation);
        d.AddPathEventHandler(lp_root, NewEventHandler(this, lp_handler));
    }
    m_left = false;
}

RoomForm::~RoomForm()
{
    // Nothing the leave request or the record's removal sets off may reach a form half gone.
    RemoveDataHandlers();
    // At shut-down the server link may already be gone, and it has logged out by then.
    if (!m_left && !g_showIsOver && gp_server)
        gp_server->LeaveRoom(m_room);
    if (Type* lp_forms = d.HasType("room_form"))
        if (ItemPtr l_record = lp_forms->HasItem(Value(this)))
            l_record.Remove();
    delete mp_ui;
}

void RoomForm::Init()
{
    if (sizeManager)
    {
        sizeManager->RegisterSplitter("room_splitter", mp_ui->splitter, {});
        sizeManager->RegisterTreeWidget("room_user_list", mp_ui->userList);
    }
    RegisterWidgetForTabFocus(mp_ui->chatEdit, 1);
}

ItemPtr RoomForm::RoomItem() const
{
    return d.GetType("room")->GetItem(m_room);
}

QTreeWidgetItem* RoomForm::FindRow(ItemPtr i_user) const
{
    return m_rows.value(i_user.AsString());
}

void RoomForm::AddStatusMessage(QString i_text)
{
    mp_renderer->AddStatusMessage(i_text);
}

void RoomForm::LogChat(QString i_line)
{
    ChatLog::Write(ChatLog::Kind::Room, m_room, i_line);
}

// A row shows the figures of the moment the user joined; later ones are not shown.
void RoomForm::OnUserAdded(ItemPtr i_user)
{
    if (FindRow(i_user))
        return;
    ItemPtr l_room = RoomItem();
    // Filled before it joins the sorted list, which then places it once.
    auto* lp_row = new QRoomUserListItemWidget;
    lp_row->setText(UserColumn, i_user.AsString());

    const bool l_owner = static_cast<bool>(d.GetItem(l_room, i_user, "room_owner"));
    if (l_owner || d.GetItem(l_room, i_user, "room_operators"))
    {
        QFont l_font = lp_row->font(UserColumn);
        l_font.setWeight(BoldWeight);
        l_font.setUnderline(l_owner);
        lp_row->setFont(UserColumn, l_font);
    }
    lp_row->setIcon(FlagColumn, FlagIcon(i_user["country_code"].AsString()));
    lp_row->setText(FilesColumn, CommafyNumber(i_user["shared_files_count"].AsInt64()));
    lp_row->setText(SpeedColumn, SpeedText(i_user["average_download_speed"].AsInt()));
    if (i_user.IsConnected("user_note"))
        lp_row->setIcon(NoteColumn, QIcon(NoteIcon));
    mp_ui->userList->addTopLevelItem(lp_row);
    m_rows.insert(i_user.AsString(), lp_row);
    UpdateUserCount();
}

void RoomForm::OnUserRemoved(ItemPtr i_user)
{
    QTreeWidgetItem* lp_row = m_rows.take(i_user.AsString());
    if (!lp_row)
        return;
    delete lp_row;
    UpdateUserCount();
}

// The room list shows the count of every user in the room, with a row or not. Counted in place:
// copying the room's users for every join would make filling a crowded room quadratic.
void RoomForm::UpdateUserCount()
{
    ItemPtr l_room = RoomItem();
    const ItemSet* lp_users = l_room->Connections().FindSet(d.GetType("user"));
    l_room += d.GetType("user_count")->GetItem(static_cast<int>(lp_users ? lp_users->Size() : 0));
}

void RoomForm::SetOperatorWeight(ItemPtr i_user, bool i_bold)
{
    QTreeWidgetItem* lp_row = FindRow(i_user);
    if (!lp_row)
        return;
    QFont l_font = lp_row->font(UserColumn);
    l_font.setWeight(i_bold ? BoldWeight : NormalWeight);
    lp_row->setFont(UserColumn, l_font);
}

void RoomForm::OnOperatorAdded(ItemPtr i_user)
{
    SetOperatorWeight(i_user, true);
}

void RoomForm::OnOperatorRemoved(ItemPtr i_user)
{
    SetOperatorWeight(i_user, false);
}

void RoomForm::SetNoteIcon(ItemPtr i_user, bool i_shown)
{
    if (QTreeWidgetItem* lp_row = FindRow(i_user))
        lp_row->setIcon(NoteColumn, i_shown ? QIcon(NoteIcon) : QIcon());
}

void RoomForm::OnUserNoteChanged(ItemPtr i_user)
{
    SetNoteIcon(i_user, true);
}

void RoomForm::OnUserNoteRemoved(ItemPtr i_user)
{
    SetNoteIcon(i_user, false);
}

void RoomForm::SetAutojoinText(bool i_on)
{
    if (actionBar)
        actionBar->SetWidgetActionText(this, "toggle_room_autojoin",
                                       i_on ? "Auto-Join Room [on]" : "Auto-Join Room [off]");
}

void RoomForm::OnRoomAutojoinOn(ItemPtr)
{
    SetAutojoinText(true);
}

void RoomForm::OnRoomAutojoinOff(ItemPtr)
{
    SetAutojoinText(false);
}

// The server link dropped the room: it is left already, so no leave request goes out.
void RoomForm::OnLeftRoom(ItemPtr)
{
    m_left = true;
    delete this;
}

void RoomForm::OnRoomChat(QString i_room, QString i_user, QString i_chat)
{
    if (i_room != m_room)
        return;
    LogChat(mp_renderer->AddChat(i_user, i_chat).logLine);
}

void RoomForm::CheckChatInactivity()
{
    mp_renderer->CheckChatInactivity();
}

// Sent as typed; the line shows when the server passes it back to the room.
void RoomForm::OnEnterPressed()
{
    const QString l_text = mp_ui->chatEdit->text();
    if (l_text.isEmpty())
        return;
    if (gp_server)
        gp_server->SendRoomChat(m_room, l_text);
    mp_ui->chatEdit->clear();
}

void RoomForm::OnConnected()
{
    AddStatusMessage(
        QString("Reconnected at %1.").arg(ChatRenderer::ShortTime(QDateTime::currentDateTime())));
    if (gp_server)
        gp_server->EnterRoom(m_room, false);
}

// The tab keeps its rows and its joined state until the next login joins the room again.
void RoomForm::OnDisconnected()
{
    AddStatusMessage(
        QString("Disconnected at %1.").arg(ChatRenderer::ShortTime(QDateTime::currentDateTime())));
}

void RoomForm::OnUserItemClicked(QTreeWidgetItem* ip_item, int i_column)
{
    if (!ip_item || i_column != NoteColumn)
        return;
    const QString l_user = ip_item->text(UserColumn);
    ItemPtr l_item = d.GetType("user")->HasItem(l_user);
    if (l_item && l_item.IsConnected("user_note"))
        UserNoteDialog::GetDialog(l_user)->show();
}

void RoomForm::OnUserItemDoubleClicked(QTreeWidgetItem* ip_item, int /*i_column*/)
{
    if (ip_item && chatsForm)
        chatsForm->OpenChatForm(ip_item->text(UserColumn));
}

void RoomForm::OnUserListContextMenuRequested(QPoint i_point)
{
    QTreeWidgetItem* lp_row = mp_ui->userList->itemAt(i_point);
    if (!lp_row)
        return;
    QMenu l_menu;
    UserMenuOptions l_options(&l_menu, lp_row->text(UserColumn));
    Desktop::RunPopupMenu(l_menu, mp_ui->userList->viewport()->mapToGlobal(i_point));
}

void RoomForm::OnURLClicked(QUrl i_url)
{
    Desktop::OpenUrl(i_url);
    mp_ui->chatEdit->setFocus(Qt::OtherFocusReason);
}
