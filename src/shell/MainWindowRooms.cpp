// The main window's rooms panel: the room list kept in step with the server's rooms, the room
// tabs, and the toolbar actions of the room list and of a room.
#include <QHeaderView>
#include <QMenu>
#include <QTreeWidget>

#include "server/Server.h"
#include "shell/ActionSetToolBar.h"
#include "shell/Desktop.h"
#include "shell/MainWindow.h"
#include "shell/TabWidget.h"
#include "shell/UIFunctions.h"
#include "store/Data.h"
#include "store/PathNode.h"
#include "store/Settings.h"
#include "store/Type.h"
#include "ui_MainWindow.h"
#include "views/chat/ChatLog.h"
#include "views/chat/ChatLogForm.h"
#include "views/chat/QRoomListItemWidget.h"
#include "views/chat/RoomForm.h"

namespace
{
const char* const RoomIcon = ":/icons/room_icon";
} // namespace

void MainWindow::SubscribeRoomsPanel()
{
    Type* lp_room = d.GetType("room");
    lp_room->m_newItemEvent.AddHandler(NewEventHandler(this, &MainWindow::OnRoomAdded));
    const struct
    {
        const char* flag;
        PathNodeRelation relation;
        void (MainWindow::*handler)(ItemPtr);
    } l_paths[] = {
        {"user_count", ConnectedAndNotify, &MainWindow::OnRoomUserCountChanged},
        {"is_owner", ConnectedAndNotify, &MainWindow::OnBecomingRoomOwner},
        {"is_operator", ConnectedAndNotify, &MainWindow::OnBecomingRoomOperator},
        {"is_member", ConnectedAndNotify, &MainWindow::OnBecomingRoomMember},
        {"is_member", NotConnectedAndNotify, &MainWindow::OnLosingRoomRole},
        {"is_operator", NotConnectedAndNotify, &MainWindow::OnLosingRoomRole},
        {"is_owner", NotConnectedAndNotify, &MainWindow::OnLosingRoomRole},
    };
    for (const auto& l_path : l_paths)
    {
        PathNode* lp_root = new PathNode(&d, "room");
        new PathNode(lp_root, l_path.flag, l_path.relation);
        d.AddPathEventHandler(lp_root, NewEventHandler(this, l_path.handler));
    }
    mp_ui->roomList->sortByColumn(0, Qt::AscendingOrder);
    d.AddConnectionEventHandler(lp_room, d.GetType("in_room"),
                                NewEventHandler(this, &MainWindow::OnEnteredRoom));
}

QTreeWidgetItem* MainWindow::RoomRow(ItemPtr i_room)
{
    ItemPtr l_node = i_room["room_node"];
    return l_node ? l_node.AsPointer<QTreeWidgetItem>() : nullptr;
}

void MainWindow::OnRoomAdded(ItemPtr i_room)
{
    if (RoomRow(i_room))
        return;
    // Its order puts the rooms we own, operate and belong to first.
    auto* lp_row = new QRoomListItemWidget(mp_ui->roomList);
    lp_row->setText(0, i_room.AsString());
    i_room += d.GetType("room_node")->NewItem(Value(lp_row));
}

void MainWindow::OnRoomUserCountChanged(ItemPtr i_room)
{
    QTreeWidgetItem* lp_row = RoomRow(i_room);
    if (!lp_row)
        return;
    ItemPtr l_count = i_room["user_count"];
    lp_row->setText(1, l_count && l_count.AsInt() != 0 ? l_count.AsString() : QString());
}

void MainWindow::SetRoomFont(ItemPtr i_room, const std::function<void(QFont&)>& i_change)
{
    QTreeWidgetItem* lp_row = RoomRow(i_room);
    if (!lp_row)
        return;
    QFont l_font = lp_row->font(0);
    i_change(l_font);
    lp_row->setFont(0, l_font);
    QHeaderView* lp_header = mp_ui->roomList->header();
    mp_ui->roomList->sortItems(lp_header->sortIndicatorSection(), lp_header->sortIndicatorOrder());
}

void MainWindow::OnBecomingRoomMember(ItemPtr i_room)
{
    if (i_room.IsConnected("is_owner") || i_room.IsConnected("is_operator"))
        return;
    SetRoomFont(i_room, [](QFont& io_font) { io_font.setItalic(true); });
}

void MainWindow::OnBecomingRoomOperator(ItemPtr i_room)
{
    SetRoomFont(i_room, [](QFont& io_font) {
        io_font.setItalic(true);
        io_font.setWeight(QFont::Bold);
    });
}

void MainWindow::OnBecomingRoomOwner(ItemPtr i_room)
{
    SetRoomFont(i_room, [](QFont& io_font) {
        io_font.setItalic(true);
        io_font.setUnderline(true);
        io_font.setWeight(QFont::Bold);
    });
}

void MainWindow::OnLosingRoomRole(ItemPtr i_room)
{
    SetRoomFont(i_room, [i_room](QFont& io_font) {
        io_font.setItalic(i_room.IsConnected("is_member"));
        io_font.setUnderline(i_room.IsConnected("is_owner"));
        io_font.setWeight(i_room.IsConnected("is_operator") ? QFont::Bold : QFont::Normal);
    });
}

void MainWindow::OnEnteredRoom(ConnectionInfo& i_connection)
{
    OpenRoomTab(ItemPtr(i_connection.from));
}

void MainWindow::OpenRoomTab(ItemPtr i_room)
{
    if (i_room.IsConnected("room_form"))
        return;
    auto* lp_form = new RoomForm(i_room.AsString());
    mp_ui->roomsTabControl->addTab(lp_form, QIcon(RoomIcon), LiteralAmpersands(i_room.AsString()));
    lp_form->Init();
    FocusWidget(lp_form);
}

void MainWindow::OnRoomListItemDoubleClicked(QTreeWidgetItem* ip_item, int i_column)
{
    if (ip_item && i_column == 0)
        mp_server->EnterRoom(ip_item->text(0), false);
}

void MainWindow::OnRoomListContextMenuRequested(const QPoint& i_point)
{
    if (!mp_ui->roomList->itemAt(i_point))
        return;
    QMenu l_menu;
    connect(l_menu.addAction(QIcon(RoomIcon), tr("Enter Room")), &QAction::triggered, this,
            &MainWindow::OnEnterRoom);
    RunPopupMenu(l_menu, mp_ui->roomList, i_point);
}

void MainWindow::OnEnterRoom()
{
    const QList<QTreeWidgetItem*> l_rows = mp_ui->roomList->selectedItems();
    if (!l_rows.isEmpty())
        mp_server->EnterRoom(l_rows.first()->text(0), false);
}

void MainWindow::OnRoomTabClosed(int i_index)
{
    // The page's destruction leaves the room on the server.
    delete mp_ui->roomsTabControl->widget(i_index);
}

void MainWindow::OnPrivateRoomAddEnabled(bool i_enabled)
{
    SetFlagSetting("enable_private_room_add", i_enabled);
    actionBar->SetWidgetActionText(mp_ui->roomList, QStringLiteral("enable_private_room_add"),
                                   i_enabled ? tr("Reject Private Room Invitations")
                                             : tr("Accept Private Room Invitations"));
}

void MainWindow::OpenRoomChatLog(const QString& i_room)
{
    ItemPtr l_room = d.GetType("room")->NewItem(i_room);
    ItemPtr l_viewer = l_room["chat_log_form"];
    QWidget* lp_form = l_viewer ? l_viewer.AsPointer<QWidget>() : nullptr;
    if (!lp_form)
    {
        // The log's file name is the one the chat log writer uses: a room name that could leave
        // the folder is mapped.
        lp_form = new ChatLogForm(ChatLog::Path(ChatLog::Kind::Room, i_room));
        mp_ui->roomsTabControl->addTab(lp_form, QIcon(":/icons/note_icon"), LiteralAmpersands(i_room));
        l_room += d.GetType("chat_log_form")->NewItem(Value(lp_form));
    }
    FocusWidgetAndParents(lp_form);
}
