#pragma once

#include "ChatFixture.h"
#include "peer/PeerLinkFixture.h"
#include "shell/ViewPages.h"
#include "views/chat/ChatsForm.h"
#include "views/chat/UserListForm.h"

// The main window's share of the users views, beside a messenger and fake peers: the toolbars,
// a "Rooms" page shown first, the "Chat" page and the "Users" page, the note and unshared types
// as their owners declare them, and the user list initialised before a load.
class UsersFixture : public PeerLinkFixture, protected ViewPages
{
protected:
    void SetUp() override
    {
        PeerLinkFixture::SetUp();
        BuildViewPages();
        DeclareChatViewTypes();
        DeclareTypes({{"user_note", Intermediate, false}, {"unshared", Leaf, true}});
        DeclareRelations({{"user", "user_note", Many, One}, {"user", "unshared", Many, One}});
        for (const char* l_type : {"user_note", "unshared"})
        {
            mp_saver->AddSavedType(l_type);
            mp_saver->AddSavedByConnectionType("user", l_type);
        }
        WriteChatSettingDefaults();
        mp_pages->addTab(mp_chats = new ChatsForm, "Chat");
        mp_pages->addTab(mp_users = new UserListForm, "Users");
        mp_chats->Init();
        mp_users->Init();
        mp_pages->show();
    }

    void TearDown() override
    {
        mp_pages.reset();
        PeerLinkFixture::TearDown();
    }

    // The store the builder makes, saved, emptied and loaded again, as at the next start.
    void LoadAfterRestart(const std::function<void()>& i_builder = {})
    {
        if (i_builder)
            i_builder();
        const QString l_path = QString::fromStdString(m_home.File("store"));
        ASSERT_TRUE(mp_saver->Save(l_path));
        d.RemoveAllItems();
        mp_saver->Load(l_path);
    }

    // Each row as its cells, "text (icon)" for a cell with an icon, joined by "|".
    static QStringList Rows(QTreeWidget* ip_tree)
    {
        QStringList l_rows;
        for (int l_index = 0; l_index < ip_tree->topLevelItemCount(); ++l_index)
        {
            const QTreeWidgetItem* lp_row = ip_tree->topLevelItem(l_index);
            QStringList l_cells;
            for (int l_column = 0; l_column < ip_tree->columnCount(); ++l_column)
                l_cells << QString("%1 (%2)").arg(lp_row->text(l_column), IconName(lp_row->icon(l_column)))
                               .remove(" ()");
            l_rows << l_cells.join('|');
        }
        return l_rows;
    }

    // The fields of every frame of that code sent so far, behind a fence.
    QList<QByteArray> SentFields(qint32 i_code)
    {
        QList<QByteArray> l_fields;
        for (const FakeCentralServer::Frame& l_frame : SentFrames())
            if (l_frame.code == i_code)
                l_fields << l_frame.fields;
        return l_fields;
    }

    static ItemPtr Group(const char* i_name) { return Node("user_list_group", i_name); }
    static void List(const char* i_user, std::initializer_list<const char*> i_groups = {})
    {
        const ItemPtr l_entry = User(i_user)["in_user_list"] ? User(i_user)["in_user_list"]
                                                                : User(i_user).NewItem("in_user_list");
        for (const char* l_group : i_groups)
            l_entry += Group(l_group);
    }
    static void Note(const char* i_user, const char* i_note) { User(i_user) += Node("user_note", i_note); }

    ChatsForm* mp_chats = nullptr;
    UserListForm* mp_users = nullptr;
};
