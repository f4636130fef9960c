#pragma once

#include <QHash>
#include <QPoint>
#include <QString>
#include <QUrl>
#include <QWidget>

#include <memory>

#include "store/DataHandler.h"
#include "store/ItemPtr.h"
#include "views/chat/ChatRenderer.h"

class QTreeWidgetItem;
class Ui_RoomForm;

// The tab of one joined room: its chat above an input line, and its users beside them. It lives
// until the server link drops the room or the tab is closed; closing the tab leaves the room.
// While it lives it is recorded on its room by a `room_form` item valued by its address, which
// the opener checks before making a second tab for the room.
class RoomForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    RoomForm(QString i_room, QWidget* ip_parent = nullptr);
    ~RoomForm() override;

    // Once the store is loaded: the saved splitter and column sizes, and the input line as the
    // page's focus.
    void Init();

    QString RoomName() const { return m_room; }

    void AddStatusMessage(QString i_text);
    void LogChat(QString i_line);

    // Store handlers.
    void OnUserAdded(ItemPtr i_user);
    void OnUserRemoved(ItemPtr i_user);
    void OnOperatorAdded(ItemPtr i_user);
    void OnOperatorRemoved(ItemPtr i_user);
    void OnLeftRoom(ItemPtr i_room);
    void OnRoomAutojoinOn(ItemPtr i_room);
    void OnRoomAutojoinOff(ItemPtr i_room);
    void OnUserNoteChanged(ItemPtr i_user);
    void OnUserNoteRemoved(ItemPtr i_user);

public slots:
    void OnRoomChat(QString i_room, QString i_user, QString i_chat);
    void CheckChatInactivity();
    void OnEnterPressed();
    void OnConnected();
    void OnDisconnected();
    void OnUserItemClicked(QTreeWidgetItem* ip_item, int i_column);
    void OnUserItemDoubleClicked(QTreeWidgetItem* ip_item, int i_column);
    void OnUserListContextMenuRequested(QPoint i_point);
    void OnURLClicked(QUrl i_url);

private:
    // Looked up by name each time, so the form never holds a handle the store may free.
    ItemPtr RoomItem() const;
    QTreeWidgetItem* FindRow(ItemPtr i_user) const;
    void SetOperatorWeight(ItemPtr i_user, bool i_bold);
    void SetNoteIcon(ItemPtr i_user, bool i_shown);
    void SetAutojoinText(bool i_on);
    void UpdateUserCount();

    Ui_RoomForm* mp_ui;
    QString m_room;
    std::unique_ptr<ChatRenderer> mp_renderer;
    // The rows by user name. Searching the list instead makes it sort itself first, which
    // costs a full sort for every user joining.
    QHash<QString, QTreeWidgetItem*> m_rows;
    bool m_left = false;
};
