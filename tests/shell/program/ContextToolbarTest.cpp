#include <functional>
#include <tuple>

#include "ProgramFixture.h"
#include "peer/PeerMessenger.h"
#include "shares/SharedFoldersManager.h"
#include "shell/ActionSetToolBar.h"
#include "shell/EventToolBar.h"
#include "transfers/TransferQueueManager.h"
#include "views/chat/ChatsForm.h"
#include "views/chat/RoomForm.h"
#include "views/chat/UserListForm.h"
#include "views/search/SearchForm.h"
#include "views/search/SharesForm.h"
#include "views/transfers/TransfersForm.h"

class ContextToolbar;

// What the user does, and the buttons the toolbar must offer afterwards: those of the page the
// user then sees, never those of a page hidden on the way. Keys go to no hidden page either.
struct ToolbarCase
{
    const char* name;
    std::function<void(ContextToolbar&)> steps;
    QStringList shown;
    // The page the steps bring forward, which takes the keys then; none where the user only
    // selected or closed tabs.
    std::function<QWidget*(ContextToolbar&)> page = nullptr;
    // The room the room actions then act on, for a room tab.
    QString room = QString();
    // The window's picture afterwards, under that name.
    const char* picture = nullptr;
};

void PrintTo(const ToolbarCase& i_case, std::ostream* op_out)
{
    *op_out << i_case.name;
}

namespace
{
const QStringList BrowseSet{"Expand Level", "Collapse All", "Expand All"};
const QStringList UploadSet{"Upload Folder", "Expand Level", "Collapse All", "Expand All"};
const QStringList ResultSet{"Order by Available [on]", "Order by Fastest", "Expand Folders [on]",
                            "Expand Users [on]", "Add to Wishlist", "Stop Search"};
// Membership and ownership are given up only in rooms that have them.
const QStringList RoomSet{"Auto-Join Room [off]", "Chat Log"};
const QStringList RoomListSet{"Create Room", "Refresh Room List", "Accept Private Room Invitations"};
const QStringList ChatSet{"Chat Log"};
} // namespace

// The whole window, shown and active, with bob and carl in alice's user list; menus choose the
// entry the test names, as a click on it would.
class ContextToolbar : public ProgramFixture, public ::testing::WithParamInterface<ToolbarCase>
{
public:
    void Begin()
    {
        Desktop::SetPopupMenu([this](QMenu& io_menu, const QPoint&) {
            for (QAction* lp_action : io_menu.actions())
                if (lp_action->text() == m_entry)
                    lp_action->trigger();
        });
        StartLoggedIn();
        for (const char* l_user : {"bob", "carl"})
            d.GetType("user")->GetItem(l_user).NewItem("in_user_list");
        // Two folders side by side, so that a key in an upload tab's folder tree moves its row.
        for (const char* l_folder : {"Blues", "Jazz"})
        {
            ASSERT_TRUE(QDir(Home()).mkpath(l_folder));
            ASSERT_TRUE(WriteFile(Home() + "/" + l_folder + "/tune.mp3", QByteArray(4096, 'x')));
            sharedFoldersManager->AddSharedFolder(Home() + "/" + l_folder).NewItem("shared_public");
        }
        mp_window->resize(1100, 600);
        mp_window->show();
        QApplication::setActiveWindow(mp_window.get());
        // Without a window manager the window is active only to the toolkit.
        ASSERT_EQ(QApplication::activeWindow(), mp_window.get());
    }

    Ui_MainWindow* Ui() const { return mp_ui; }

    // What the toolbar offers once the window has handled what is pending.
    QStringList Shown()
    {
        Settle();
        return VisibleActionTexts(actionBar);
    }
    static void Settle()
    {
        for (int l_round = 0; l_round < 3; ++l_round)
        {
            QCoreApplication::processEvents();
            FlushDeletes();
        }
    }

    // A click on a view's tab, on a tab of a page, into a widget.
    void ShowView(QWidget* ip_page) { mp_ui->tabControl->setCurrentWidget(ip_page); Settle(); }
    static void SelectTab(QTabWidget* ip_tabs, int i_index) { ip_tabs->setCurrentIndex(i_index); Settle(); }
    static void ClickInto(QWidget* ip_widget) { ip_widget->setFocus(Qt::MouseFocusReason); Settle(); }
    // A click on a list's first row; a row follows it, for a key to move to.
    static void ClickFirstRow(QTreeWidget* ip_list)
    {
        ASSERT_GT(ip_list->topLevelItemCount(), 1) << ip_list->objectName().toStdString();
        ip_list->setCurrentItem(ip_list->topLevelItem(0));
        ClickInto(ip_list);
    }
    // A click on a tab's close button.
    static void CloseTab(QTabWidget* ip_tabs, int i_index) { emit ip_tabs->tabCloseRequested(i_index); Settle(); }

    // The user's menu over the user's row of a list, and the entry chosen in it.
    void FromMenu(QTreeWidget* ip_list, const QString& i_user, const QString& i_entry)
    {
        ClickInto(ip_list);
        QTreeWidgetItem* lp_row = nullptr;
        for (QTreeWidgetItemIterator l_it(ip_list); *l_it && !lp_row; ++l_it)
            for (int l_column = 0; l_column < ip_list->columnCount(); ++l_column)
                if ((*l_it)->text(l_column) == i_user)
                    lp_row = *l_it;
        ASSERT_TRUE(lp_row) << i_user.toStdString();
        ip_list->setCurrentItem(lp_row);
        m_entry = i_entry;
        QMetaObject::invokeMethod(ip_list, "customContextMenuRequested",
                                  Q_ARG(QPoint, ip_list->visualItemRect(lp_row).center()));
        Settle();
    }
    void FromUserList(const QString& i_user, const QString& i_entry)
    {
        ShowView(mp_ui->tab_2);
        FromMenu(mp_ui->userListForm->UserList(), i_user, i_entry);
    }
    void FromRoom(const QString& i_room, const QString& i_user, const QString& i_entry)
    {
        ShowView(mp_ui->roomsTab);
        QWidget* lp_room = Room(i_room);
        SelectTab(mp_ui->roomsTabControl, mp_ui->roomsTabControl->indexOf(lp_room));
        FromMenu(Child<QTreeWidget>(lp_room, "userList"), i_user, i_entry);
    }

    // The server says we are in the room, with alice and bob.
    void Join(const QString& i_room)
    {
        WireFields l_join = WireFields().Text(i_room).Texts({"alice", "bob"}).Int32s({1, 1}).Int32(2);
        for (int l_user = 0; l_user < 2; ++l_user)
            l_join.Int32(1024).Int32(0).Int32(0).Int32(10).Int32(1);
        m_server.SendFrame(14, l_join.Int32s({}).Texts({"de", "fr"}));
        ASSERT_TRUE(QTest::qWaitFor([&] { return Room(i_room) != nullptr; }, 5000));
        Settle();
    }
    static QWidget* Room(const QString& i_room)
    {
        const ItemPtr l_record = d.GetType("room")->GetItem(i_room)["room_form"];
        return l_record ? l_record.AsPointer<QWidget>() : nullptr;
    }

    // The page of those tabs titled so.
    static QWidget* TabTitled(QTabWidget* ip_tabs, const QString& i_title)
    {
        for (int l_index = 0; l_index < ip_tabs->count(); ++l_index)
            if (ip_tabs->tabText(l_index) == i_title)
                return ip_tabs->widget(l_index);
        return nullptr;
    }

    QTabWidget* ShareTabs() const { return mp_ui->sharesForm->TabControl(); }
    // The share tab titled so, and its folder tree.
    QWidget* ShareTab(const QString& i_title) const { return TabTitled(ShareTabs(), i_title); }
    QTreeWidget* FolderTree(const QString& i_title) const { return Child<QTreeWidget>(ShareTab(i_title), "folderTree"); }
    // An upload tab for bob, opened from the user list and clicked into: the focus is in its
    // folder tree, where a page switched away from leaves it.
    void WorkInUploadTab()
    {
        FromUserList("bob", "Upload to user");
        ClickFirstRow(FolderTree("Upload to bob"));
    }
    // The user's list of a folder with its sub-folder and of another folder arrives for the open
    // browse tab.
    static void ListArrives(const QString& i_user)
    {
        FileInfoMap l_list;
        for (const auto& [l_folder, l_file, l_size] : {std::tuple<const char*, const char*, qint64>{"Music", "intro.mp3", 2048000},
                                                       {"Music\\Albums", "first.mp3", 5120000},
                                                       {"Music\\Albums", "second.mp3", 4096000},
                                                       {"Video", "clip.avi", 8192000}})
        {
            FileInfo l_record;
            l_record.name = l_file;
            l_record.size = l_size;
            l_list[l_folder].insert(l_record);
        }
        AttributeTranslationTable l_attributes;
        emit peerMessenger->UserShare(i_user, l_list, l_attributes);
        Settle();
    }
    // bob's browse tab with his list, and the upload tab for him; the focus was in both.
    void BothShareTabs()
    {
        FromUserList("bob", "Browse user's files");
        ListArrives("bob");
        ClickFirstRow(FolderTree("bob"));
        WorkInUploadTab();
    }
    // The notice of that text on the event toolbar, clicked.
    static void ClickNotice(const QString& i_text)
    {
        QAction* lp_notice = nullptr;
        for (QAction* lp_action : eventToolBar->actions())
            if (lp_action->text() == i_text)
                lp_notice = lp_action;
        ASSERT_TRUE(lp_notice) << i_text.toStdString();
        lp_notice->trigger();
        Settle();
    }

    QTabWidget* ResultTabs() const { return Child<QTabWidget>(searchForm, "searchTabControl"); }
    // The text typed in the search view and entered.
    void Search(const QString& i_text)
    {
        ShowView(mp_ui->searchTab);
        auto* lp_edit = Child<QLineEdit>(searchForm, "searchEdit");
        ClickInto(lp_edit);
        lp_edit->setText(i_text);
        searchForm->OnSearchEntered();
        Settle();
    }

    QWidget* ResultTab(const QString& i_text) const { return TabTitled(ResultTabs(), i_text); }
    // A download of bob's found by that search, whose search is run again from its menu on the
    // transfers page.
    void RerunSearchOfADownload(const QString& i_text)
    {
        transferQueueManager->AddDownload("bob", "a.mp3", "Music", 10, 0) += d.GetType("search_request_text")->GetItem(i_text);
        ShowView(mp_ui->transfersForm);
        QTreeWidget* lp_list = mp_ui->transfersForm->DownloadsList();
        QTreeWidgetItem* lp_file = lp_list->topLevelItem(0)->child(0)->child(0);
        lp_list->setCurrentItem(lp_file);
        ClickInto(lp_list);
        m_entry = "Re-run Search: " + i_text;
        mp_ui->transfersForm->OnDownloadsContextMenuRequested(lp_list->visualItemRect(lp_file).center());
        Settle();
    }

    QTabWidget* ChatTabs() const { return chatsForm->TabWidget(); }
    QWidget* ChatTab(const QString& i_user) const { return TabTitled(ChatTabs(), i_user); }

    // The keyboard focus lies on the page, and a key the user presses then leaves every list
    // out of sight as it was: its current row and its selection. Without a page, only the latter.
    void KeysReach(QWidget* ip_page)
    {
        Settle();
        QWidget* lp_focus = QApplication::focusWidget();
        if (ip_page)
        {
            ASSERT_TRUE(lp_focus) << "no focus";
            EXPECT_TRUE(lp_focus->isVisible()) << "on the hidden " << Path(lp_focus);
            EXPECT_TRUE(lp_focus == ip_page || ip_page->isAncestorOf(lp_focus)) << "on " << Path(lp_focus);
        }
        // Each list out of sight, with the texts of its current row and of its selected rows.
        const auto l_rows = [](QAbstractItemView* ip_view) {
            QStringList l_texts{ip_view->currentIndex().data().toString()};
            for (const QModelIndex& l_index : ip_view->selectionModel()->selectedIndexes())
                l_texts << l_index.data().toString();
            return l_texts;
        };
        std::vector<std::pair<QAbstractItemView*, QStringList>> l_hidden;
        for (QAbstractItemView* lp_view : mp_window->findChildren<QAbstractItemView*>())
            if (!lp_view->isVisible() && !qobject_cast<QHeaderView*>(lp_view))
                l_hidden.emplace_back(lp_view, l_rows(lp_view));
        // As the user presses it: to whatever holds the window's focus.
        QTest::keyClick(mp_window->windowHandle(), Qt::Key_Down);
        Settle();
        for (const auto& [lp_view, l_before] : l_hidden)
        {
            EXPECT_EQ(l_rows(lp_view), l_before) << "current and selected rows of the hidden " << Path(lp_view);
        }
    }
    // The widget's object names from the window down, for messages.
    std::string Path(const QWidget* ip_widget) const
    {
        QStringList l_names;
        for (const QWidget* lp_up = ip_widget; lp_up && lp_up != mp_window.get(); lp_up = lp_up->parentWidget())
            l_names.prepend(lp_up->objectName().isEmpty() ? lp_up->metaObject()->className() : lp_up->objectName());
        return l_names.join('/').toStdString();
    }

    QString m_entry;
};

TEST_P(ContextToolbar, ShowsTheButtonsOfThePageShown)
{
    ASSERT_NO_FATAL_FAILURE(Begin());
    GetParam().steps(*this);
    EXPECT_EQ(Shown(), GetParam().shown);
    if (!GetParam().room.isEmpty())
    {
        EXPECT_EQ(actionBar->GetKey("room"), GetParam().room);
    }
    if (GetParam().picture)
        Picture(mp_window.get(), GetParam().picture);
}

TEST_P(ContextToolbar, KeysReachOnlyThePageShown)
{
    ASSERT_NO_FATAL_FAILURE(Begin());
    GetParam().steps(*this);
    QWidget* lp_page = nullptr;
    if (GetParam().page)
    {
        lp_page = GetParam().page(*this);
        ASSERT_TRUE(lp_page) << "no such page";
    }
    KeysReach(lp_page);
}

const ToolbarCase ToolbarCases[] = {
    // Share tabs. A browse tab shows its trees once the list is there.
    {"BrowseOtherUserBesideUploadBeforeTheList",
     [](ContextToolbar& t) {
         t.WorkInUploadTab();
         t.FromUserList("carl", "Browse user's files");
     },
     QStringList(), [](ContextToolbar& t) { return t.ShareTab("carl"); }},
    {"BrowseOtherUserBesideUpload",
     [](ContextToolbar& t) {
         t.WorkInUploadTab();
         t.FromUserList("carl", "Browse user's files");
         EXPECT_EQ(t.Shown(), QStringList()) << "before the list";
         t.ListArrives("carl");
     },
     BrowseSet, [](ContextToolbar& t) { return t.ShareTab("carl"); }, QString(), "toolbar-browse-beside-upload.png"},
    {"BrowseOwnUserBesideUpload",
     [](ContextToolbar& t) {
         t.Join("den");
         t.FromRoom("den", "bob", "Upload to user");
         t.ClickFirstRow(t.FolderTree("Upload to bob"));
         t.FromRoom("den", "alice", "Browse user's files");
         t.ListArrives("alice");
     },
     BrowseSet, [](ContextToolbar& t) { return t.ShareTab("alice"); }},
    {"OpenBrowseTabBesideUpload",
     [](ContextToolbar& t) {
         t.BothShareTabs();
         t.FromUserList("bob", "Browse user's files");
     },
     BrowseSet, [](ContextToolbar& t) { return t.ShareTab("bob"); }},
    {"BrowseTabFromItsNotice",
     [](ContextToolbar& t) {
         t.FromUserList("bob", "Browse user's files");
         t.WorkInUploadTab();
         t.ShowView(t.Ui()->tab_2);
         t.ListArrives("bob");
         t.ClickNotice("bob");
     },
     BrowseSet, [](ContextToolbar& t) { return t.ShareTab("bob"); }},
    {"UploadBesideBrowse",
     [](ContextToolbar& t) {
         t.FromUserList("bob", "Browse user's files");
         t.ListArrives("bob");
         t.ClickFirstRow(t.FolderTree("bob"));
         t.FromUserList("bob", "Upload to user");
     },
     UploadSet, [](ContextToolbar& t) { return t.ShareTab("Upload to bob"); }},
    {"OpenUploadTabBesideBrowse",
     [](ContextToolbar& t) {
         t.BothShareTabs();
         t.SelectTab(t.ShareTabs(), t.ShareTabs()->indexOf(t.ShareTab("bob")));
         t.ClickFirstRow(t.FolderTree("bob"));
         t.FromUserList("bob", "Upload to user");
     },
     UploadSet, [](ContextToolbar& t) { return t.ShareTab("Upload to bob"); }},
    {"BrowseTabSelected",
     [](ContextToolbar& t) {
         t.BothShareTabs();
         t.SelectTab(t.ShareTabs(), t.ShareTabs()->indexOf(t.ShareTab("bob")));
     },
     BrowseSet},
    {"UploadTabSelected",
     [](ContextToolbar& t) {
         t.BothShareTabs();
         t.SelectTab(t.ShareTabs(), t.ShareTabs()->indexOf(t.ShareTab("bob")));
         t.SelectTab(t.ShareTabs(), t.ShareTabs()->indexOf(t.ShareTab("Upload to bob")));
     },
     UploadSet},
    {"CurrentUploadTabClosed",
     [](ContextToolbar& t) {
         t.BothShareTabs();
         t.CloseTab(t.ShareTabs(), t.ShareTabs()->currentIndex());
     },
     BrowseSet},
    {"CurrentBrowseTabClosed",
     [](ContextToolbar& t) {
         t.BothShareTabs();
         t.SelectTab(t.ShareTabs(), t.ShareTabs()->indexOf(t.ShareTab("bob")));
         t.CloseTab(t.ShareTabs(), t.ShareTabs()->currentIndex());
     },
     UploadSet},
    // Search result tabs.
    {"ResultTabOpenedBesideAnother",
     [](ContextToolbar& t) {
         t.Search("jazz");
         t.ClickInto(t.ResultTabs()->widget(0));
         t.WorkInUploadTab();
         t.Search("blues");
     },
     ResultSet, [](ContextToolbar& t) { return t.ResultTab("blues"); }},
    {"ResultTabOpenedFromTheTransfersView",
     [](ContextToolbar& t) {
         t.Search("blues");
         t.WorkInUploadTab();
         t.RerunSearchOfADownload("jazz");
     },
     ResultSet, [](ContextToolbar& t) { return t.ResultTab("jazz"); }},
    {"ResultTabSelectedFromTheBrowseView",
     [](ContextToolbar& t) {
         t.Search("jazz");
         t.Search("blues");
         t.WorkInUploadTab();
         t.ShowView(t.Ui()->searchTab);
         t.SelectTab(t.ResultTabs(), 0);
     },
     ResultSet},
    {"CurrentResultTabClosed",
     [](ContextToolbar& t) {
         t.Search("jazz");
         t.Search("blues");
         t.CloseTab(t.ResultTabs(), t.ResultTabs()->currentIndex());
     },
     ResultSet},
    {"LastResultTabClosed",
     [](ContextToolbar& t) {
         t.Search("jazz");
         t.CloseTab(t.ResultTabs(), 0);
     },
     QStringList()},
    // Room chat tabs.
    {"RoomJoinedWhileInTheBrowseView",
     [](ContextToolbar& t) {
         t.WorkInUploadTab();
         t.Join("den");
     },
     RoomSet, [](ContextToolbar& t) { return t.Room("den"); }, "den"},
    {"RoomJoinedWhileInAnotherRoom",
     [](ContextToolbar& t) {
         t.Join("den");
         t.WorkInUploadTab();
         t.ShowView(t.Ui()->roomsTab);
         t.ClickFirstRow(Child<QTreeWidget>(t.Room("den"), "userList"));
         t.Join("pub");
     },
     RoomSet, [](ContextToolbar& t) { return t.Room("pub"); }, "pub"},
    {"RoomTabSelected",
     [](ContextToolbar& t) {
         t.Join("den");
         t.Join("pub");
         t.ClickInto(Child<QLineEdit>(t.Room("pub"), "chatEdit"));
         t.SelectTab(t.Ui()->roomsTabControl, t.Ui()->roomsTabControl->indexOf(t.Room("den")));
     },
     RoomSet, nullptr, "den"},
    {"CurrentRoomLeft",
     [](ContextToolbar& t) {
         t.Join("den");
         t.Join("pub");
         t.CloseTab(t.Ui()->roomsTabControl, t.Ui()->roomsTabControl->indexOf(t.Room("pub")));
     },
     RoomSet, nullptr, "den"},
    {"LastRoomLeft",
     [](ContextToolbar& t) {
         t.Join("den");
         t.CloseTab(t.Ui()->roomsTabControl, 0);
     },
     RoomListSet},
    // Private chat tabs.
    {"ChatOpenedFromTheUserList",
     [](ContextToolbar& t) {
         t.WorkInUploadTab();
         t.FromUserList("bob", "Message user");
     },
     ChatSet, [](ContextToolbar& t) { return t.ChatTab("bob"); }},
    {"ChatOpenedFromARoom",
     [](ContextToolbar& t) {
         t.Join("den");
         t.FromRoom("den", "bob", "Message user");
     },
     ChatSet, [](ContextToolbar& t) { return t.ChatTab("bob"); }},
    {"OpenChatBesideUpload",
     [](ContextToolbar& t) {
         t.FromUserList("bob", "Message user");
         t.FromUserList("carl", "Message user");
         t.WorkInUploadTab();
         t.FromUserList("bob", "Message user");
     },
     ChatSet, [](ContextToolbar& t) { return t.ChatTab("bob"); }},
    {"ChatTabSelected",
     [](ContextToolbar& t) {
         t.FromUserList("bob", "Message user");
         t.FromUserList("carl", "Message user");
         t.WorkInUploadTab();
         t.ShowView(t.Ui()->chatTab);
         t.SelectTab(t.ChatTabs(), 0);
     },
     ChatSet},
    {"CurrentChatTabClosed",
     [](ContextToolbar& t) {
         t.FromUserList("bob", "Message user");
         t.FromUserList("carl", "Message user");
         t.CloseTab(t.ChatTabs(), t.ChatTabs()->currentIndex());
     },
     ChatSet},
    {"LastChatTabClosed",
     [](ContextToolbar& t) {
         t.FromUserList("bob", "Message user");
         t.CloseTab(t.ChatTabs(), 0);
     },
     QStringList()},
};

INSTANTIATE_TEST_SUITE_P(Pages, ContextToolbar, ::testing::ValuesIn(ToolbarCases),
                         [](const ::testing::TestParamInfo<ToolbarCase>& i_info) { return std::string(i_info.param.name); });
