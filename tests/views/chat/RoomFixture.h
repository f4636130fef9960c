#pragma once

#include <memory>

#include "ChatFixture.h"
#include "shell/ActionSetToolBar.h"
#include "shell/SizeManager.h"
#include "support/support/ServerMessageFixture.h"
#include "views/chat/RoomForm.h"
#include "views/chat/UserNoteDialog.h"

// What the main window declares for the room views before the store is loaded.
inline void DeclareRoomViewTypes()
{
    DeclareTypes({{"room_form", Primary, false}, {"user_note", Intermediate, false}});
    DeclareRelations({{"room_form", "room", One, One}, {"user", "user_note", Many, One}});
    UserNoteDialog::Init();
}

inline ItemPtr Node(const char* i_type, const QString& i_value)
{
    return d.GetType(i_type)->GetItem(i_value);
}

// The chat views' store with the room views' types, without a link.
class RoomViewFixture : public ChatFixture
{
protected:
    void SetUp() override
    {
        ChatFixture::SetUp();
        DeclareRoomViewTypes();
    }
};

// The main window's room tabs: a room that becomes joined gets a tab unless its `room_form`
// shows one open.
class FakeRoomTabs : public DataHandler
{
public:
    FakeRoomTabs()
    {
        d.AddConnectionEventHandler(d.GetType("room"), d.GetType("in_room"),
                                    NewEventHandler(this, &FakeRoomTabs::OnEnteredRoom));
    }
    void OnEnteredRoom(ConnectionInfo& i_info)
    {
        if (ItemPtr l_room(i_info.from); !l_room.IsConnected("room_form"))
        {
            auto* lp_form = new RoomForm(l_room.AsString());
            m_tabs.addTab(lp_form, l_room.AsString());
            lp_form->Init();
        }
    }
    QTabWidget m_tabs;
};

// A logged-in link with the main window's share of the room views in place.
class RoomFixture : public ServerMessageFixture
{
protected:
    void SetUp() override
    {
        qputenv("HOME", QByteArray::fromStdString(m_home.Path()));
        ServerMessageFixture::SetUp();
        DeclareChatViewTypes();
        DeclareRoomViewTypes();
        ::SetSetting("chat_timestamps", "no_timestamps");
        ::SetSetting("log_room_chat", "yes");
        mp_bar = std::make_unique<ActionSetToolBar>();
        for (const char* l_id : {"toggle_room_autojoin", "room_chat_log", "give_up_membership", "give_up_ownership"})
            mp_bar->AddSetAction("room", l_id, l_id, ":/icons/room_icon", false);
        mp_sizes = std::make_unique<SizeManager>();
        mp_tabs = std::make_unique<FakeRoomTabs>();
    }
    // The server's answer to a join, without users.
    void Join(const QString& i_room)
    {
        Deliver(14, WireFields().Text(i_room).Texts({}).Int32s({}).Int32(0).Int32s({}).Texts({}));
    }
    RoomForm* Form(int i_index = 0) { return qobject_cast<RoomForm*>(mp_tabs->m_tabs.widget(i_index)); }
    QTreeWidgetItem* Row(const QString& i_user)
    {
        return Form()->findChild<QTreeWidget*>("userList")->findItems(i_user, Qt::MatchExactly, 2).value(0);
    }
    // The room set's actions as the toolbar shows them for the form.
    QStringList Actions(RoomForm* ip_form)
    {
        mp_bar->ChangeSet(ip_form, "room");
        QStringList l_shown;
        for (QAction* lp_action : mp_bar->actions())
            if (!qobject_cast<QWidgetAction*>(lp_action) && !lp_action->text().isEmpty())
                l_shown << (lp_action->isVisible() ? "" : "hidden ") + lp_action->text();
        return l_shown;
    }

    TemporaryFolder m_home;
    std::unique_ptr<ActionSetToolBar> mp_bar;
    std::unique_ptr<SizeManager> mp_sizes;
    // Destroyed first, once the link is gone: the tabs then send nothing as they close.
    std::unique_ptr<FakeRoomTabs> mp_tabs;
};
