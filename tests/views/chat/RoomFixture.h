#pragma once

#include <QPointer>
#include <QTabWidget>
#include <QTreeWidget>
#include <QWidgetAction>

#include <memory>

#include "shell/ActionSetToolBar.h"
#include "shell/SizeManager.h"
#include "store/Settings.h"
#include "support/TestSupport.h"
#include "support/support/ServerMessageFixture.h"
#include "views/chat/RoomForm.h"
#include "views/chat/UserNoteDialog.h"

// What the main window declares for the room views before the store is loaded: the open room
// tab's record and the saved notes, then the note dialogs' record.
inline void DeclareRoomViewTypes()
{
    DeclareTypes({{"room_form", Primary, false}, {"user_note", Intermediate, false}});
    DeclareRelations({{"room_form", "room", One, One}, {"user", "user_note", Many, One}});
    UserNoteDialog::Init();
}

// Stands in for the main window's room tabs: a room that becomes joined gets a tab unless its
// `room_form` shows one open, and closing a tab deletes its form.
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
        ItemPtr l_room(i_info.from);
        if (l_room.IsConnected("room_form"))
            return;
        auto* lp_form = new RoomForm(l_room.AsString());
        m_tabs.addTab(lp_form, l_room.AsString());
        lp_form->Init();
    }

    QTabWidget m_tabs;
};

// A logged-in link whose room "lobby" is joined through the server's answer, with its tab open.
class RoomFixture : public ServerMessageFixture
{
protected:
    void SetUp() override
    {
        qputenv("HOME", QByteArray::fromStdString(m_home.Path()));
        ServerMessageFixture::SetUp();
        DeclareChatViewTypes();
        DeclareRoomViewTypes();
        for (const char* l_pair : {"chat_timestamps=no_timestamps", "log_room_chat=yes",
                                   "color_chat_username=#0033ff", "color_chat_timestamp=#0066ff",
                                   "color_chat_status=#339933"})
            ::SetSetting(QString(l_pair).section('=', 0, 0), QString(l_pair).section('=', 1));
        mp_bar = std::make_unique<ActionSetToolBar>();
        for (const char* l_id : {"toggle_room_autojoin", "room_chat_log", "give_up_membership",
                                 "give_up_ownership"})
            mp_bar->AddSetAction("room", l_id, l_id, ":/icons/room_icon", false);
        mp_sizes = std::make_unique<SizeManager>();
        mp_tabs = std::make_unique<FakeRoomTabs>();
    }

    void TearDown() override
    {
        mp_tabs.reset();
        mp_sizes.reset();
        mp_bar.reset();
        ServerMessageFixture::TearDown();
    }

    // The server's answer to a join, with no users: they come one by one in the tests.
    void Join(const QString& i_room)
    {
        Deliver(14, WireFields().Text(i_room).Texts({}).Int32s({}).Int32(0).Int32s({}).Texts({}));
    }

    RoomForm* Form(int i_index = 0)
    {
        return qobject_cast<RoomForm*>(mp_tabs->m_tabs.widget(i_index));
    }
    QTreeWidget* List(RoomForm* ip_form) { return ip_form->findChild<QTreeWidget*>("userList"); }

    // The room set's actions as the toolbar shows them for the form ("hidden " before a hidden one).
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
    std::unique_ptr<FakeRoomTabs> mp_tabs;
};
