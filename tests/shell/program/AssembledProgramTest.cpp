// The assembled program as a user meets it: every context menu of every list, every toolbar
// action of every action set and every button of the window's pages, chosen one after the other
// in the real window after its real start-up. The walks read what the window holds at the time,
// so pages, sets and dialogs added later are covered without changes here.
#include <functional>

#include "ProgramFixture.h"
#include "shares/SharedFoldersManager.h"
#include "shell/ActionSetToolBar.h"
#include "shell/UIFunctions.h"

namespace
{
// Records every window shown ("Class: title") and keeps it to be closed after the step; a
// modal one is closed at once, so that a step which waits for an answer gets none and goes on.
class WindowWatcher : public QObject
{
public:
    WindowWatcher() { qApp->installEventFilter(this); }
    ~WindowWatcher() override { qApp->removeEventFilter(this); }

    bool eventFilter(QObject* ip_object, QEvent* ip_event) override
    {
        auto* lp_window = qobject_cast<QWidget*>(ip_object);
        if (ip_event->type() != QEvent::Show || !lp_window || !lp_window->isWindow() ||
            lp_window == mainWindow || qobject_cast<QMenu*>(lp_window) ||
            lp_window->windowType() == Qt::Popup || lp_window->windowType() == Qt::ToolTip)
            return false;
        m_shown << QString("%1: %2").arg(lp_window->metaObject()->className(), lp_window->windowTitle());
        m_open << lp_window;
        if (lp_window->isModal())
            QMetaObject::invokeMethod(lp_window, "close", Qt::QueuedConnection);
        return false;
    }

    void CloseAll()
    {
        for (const QPointer<QWidget>& lp_window : qAsConst(m_open))
            if (lp_window)
                lp_window->close();
        m_open.clear();
        FlushDeletes();
    }

    QStringList m_shown;

private:
    QList<QPointer<QWidget>> m_open;
};

// The widget's name after the name of the nearest form that holds it ("RoomForm/userList").
QString PlaceOf(const QWidget* ip_widget)
{
    for (const QWidget* lp_owner = ip_widget->parentWidget(); lp_owner; lp_owner = lp_owner->parentWidget())
        if (QString l_class = lp_owner->metaObject()->className(); l_class.endsWith("Form"))
            return l_class + "/" + ip_widget->objectName();
    return ip_widget->objectName();
}

// The leaf entries of a menu as paths ("Private Rooms/den/Give User Membership").
void MenuEntries(const QMenu* ip_menu, const QString& i_prefix, QList<QPair<QString, QAction*>>& o_entries)
{
    for (QAction* lp_action : ip_menu->actions())
    {
        if (lp_action->isSeparator() || !lp_action->isEnabled() || !lp_action->isVisible())
            continue;
        const QString l_path = i_prefix + lp_action->text();
        if (lp_action->menu())
            MenuEntries(lp_action->menu(), l_path + "/", o_entries);
        else
            o_entries << qMakePair(l_path, lp_action);
    }
}
} // namespace

class AssembledProgram : public ProgramFixture
{
protected:
    // One user action: no exception may come out of it, and whatever it opened is closed after.
    void Step(const QString& i_name, const std::function<void()>& i_action)
    {
        try
        {
            i_action();
        }
        catch (...)
        {
            ADD_FAILURE() << "an exception came out of " << i_name.toStdString();
        }
        QApplication::processEvents();
        m_windows.CloseAll();
        // The walk is for a listed user: taking him off the list is undone for the entries after.
        if (!m_bob.IsConnected("in_user_list"))
            m_bob.NewItem("in_user_list");
    }

    // Opens the widget's context menu over bob's row, or over its first row, or (not a list) over
    // its middle, and chooses the first entry this menu has not had chosen yet, until none is
    // left or the menu is gone. True when an entry was chosen.
    bool WalkMenu(QWidget* ip_widget)
    {
        bool l_chose = false;
        for (;;)
        {
            if (!ip_widget)
                return l_chose;
            FocusWidgetAndParents(ip_widget);
            QApplication::processEvents();
            QPoint l_point = ip_widget->rect().center();
            QString l_row;
            if (auto* lp_tree = qobject_cast<QTreeWidget*>(ip_widget))
            {
                QTreeWidgetItem* lp_row = lp_tree->topLevelItem(0);
                if (!lp_row)
                    return l_chose;
                l_row = lp_row->text(0);
                for (int l_index = 0; l_index < lp_tree->topLevelItemCount(); ++l_index)
                    for (int l_column = 0; l_column < lp_tree->columnCount(); ++l_column)
                        if (lp_tree->topLevelItem(l_index)->text(l_column) == "bob")
                            lp_row = lp_tree->topLevelItem(l_index), l_row = "bob";
                lp_tree->setCurrentItem(lp_row);
                lp_tree->scrollToItem(lp_row);
                l_point = lp_tree->visualItemRect(lp_row).center();
            }
            const QString l_target = PlaceOf(ip_widget) + " " + l_row;
            QString l_chosen;
            Desktop::SetPopupMenu([&](QMenu& io_menu, const QPoint&) {
                QList<QPair<QString, QAction*>> l_entries;
                MenuEntries(&io_menu, "", l_entries);
                for (const auto& l_entry : l_entries)
                    if (!m_chosen[l_target].contains(l_entry.first))
                    {
                        l_chosen = l_entry.first;
                        m_chosen[l_target] << l_chosen;
                        l_entry.second->trigger();
                        return;
                    }
            });
            Step("the menu of " + l_target, [&] { emit ip_widget->customContextMenuRequested(l_point); });
            Desktop::SetPopupMenu({});
            if (l_chosen.isEmpty())
                return l_chose;
            l_chose = true;
        }
    }

    // Every widget of the window with a menu of its own, again while choosing adds some.
    void WalkMenus()
    {
        QSet<QWidget*> l_walked;
        for (bool l_more = true; l_more;)
        {
            l_more = false;
            QList<QPointer<QWidget>> l_widgets;
            for (QWidget* lp_widget : mp_window->findChildren<QWidget*>())
                if (lp_widget->contextMenuPolicy() == Qt::CustomContextMenu && !l_walked.contains(lp_widget))
                    l_widgets << lp_widget;
            for (const QPointer<QWidget>& lp_widget : l_widgets)
                if (lp_widget && WalkMenu(lp_widget))
                {
                    l_walked.insert(lp_widget);
                    l_more = true;
                }
        }
    }

    // Gives the toolbar the widget's set as a click into its first list (its first row selected)
    // would, or the set alone for a set that no widget shows.
    static void ShowSet(QWidget* ip_widget, const QString& i_set)
    {
        if (!ip_widget)
        {
            actionBar->OnApplicationFocusChanged(nullptr, mainWindow);
            actionBar->ChangeSet(nullptr, i_set);
            return;
        }
        QWidget* lp_focus = ip_widget;
        auto* lp_tree = qobject_cast<QTreeWidget*>(ip_widget);
        if (!lp_tree)
            lp_tree = ip_widget->findChild<QTreeWidget*>();
        if (lp_tree)
        {
            lp_focus = lp_tree;
            if (lp_tree->topLevelItemCount() > 0)
                lp_tree->setCurrentItem(lp_tree->topLevelItem(0));
        }
        actionBar->OnApplicationFocusChanged(nullptr, lp_focus);
    }

    static QAction* ShownAction(const QString& i_id)
    {
        for (QAction* lp_action : actionBar->actions())
        {
            ItemPtr l_action = d.GetType("toolbar_action_object")->HasItem(static_cast<QObject*>(lp_action));
            if (l_action && l_action["toolbar_action"]["toolbar_action_id"].AsString() == i_id)
                return lp_action;
        }
        return nullptr;
    }

    // Every action of every set the toolbar holds, for each widget registered for the set,
    // again while choosing registers new widgets. Each "set id" chosen or hidden is recorded.
    void WalkToolbar()
    {
        QSet<QString> l_walked;
        for (bool l_more = true; l_more;)
        {
            l_more = false;
            for (ItemPtr l_set : d.GetType("toolbar_action_set")->GetItems())
            {
                const QString l_setName = l_set.AsString();
                QStringList l_ids;
                for (ItemPtr l_action : l_set.GetItems("toolbar_action").SortNumericBy("toolbar_action_order", true))
                    l_ids << l_action["toolbar_action_id"].AsString();
                QList<QPointer<QWidget>> l_widgets;
                for (ItemPtr l_record : l_set.GetItems("toolbar_action_widget"))
                    l_widgets << qobject_cast<QWidget*>(l_record.AsPointer<QObject>());
                if (l_widgets.isEmpty())
                    l_widgets << QPointer<QWidget>();
                for (const QPointer<QWidget>& lp_widget : l_widgets)
                {
                    const QString l_key = l_setName + QString::number(quintptr(lp_widget.data()));
                    if (l_walked.contains(l_key))
                        continue;
                    l_walked.insert(l_key);
                    l_more = true;
                    const bool l_hasWidget = lp_widget;
                    for (const QString& l_id : l_ids)
                    {
                        if (l_hasWidget && !lp_widget)
                            break;
                        ShowSet(lp_widget, l_setName);
                        QAction* lp_action = ShownAction(l_id);
                        if (!lp_action || !lp_action->isVisible())
                        {
                            m_hidden << l_setName + " " + l_id;
                            continue;
                        }
                        m_triggered << l_setName + " " + l_id;
                        Step("the toolbar action " + l_setName + " " + l_id, [lp_action] { lp_action->trigger(); });
                    }
                }
            }
        }
    }

    // Every enabled push button of the window's pages, once.
    void WalkButtons()
    {
        QList<QPointer<QPushButton>> l_buttons;
        for (QPushButton* lp_button : mp_window->centralWidget()->findChildren<QPushButton*>())
            l_buttons << lp_button;
        for (const QPointer<QPushButton>& lp_button : l_buttons)
            if (lp_button && lp_button->isEnabled())
                Step("the button " + lp_button->objectName(), [lp_button] { lp_button->click(); });
    }

    WindowWatcher m_windows;
    ItemPtr m_bob;
    QMap<QString, QStringList> m_chosen;
    QStringList m_triggered, m_hidden;
};

TEST_F(AssembledProgram, EveryMenuEntryToolbarActionAndButtonRunsAndTheStoreStillSaves)
{
    m_store.Setting("user_level_logging", "yes").Setting("privileges_time_left", "86400");
    StartLoggedIn();
    mp_window->show();
    // bob is in the user list and with us in a private room we own; a folder is shared.
    m_bob = d.GetType("user")->GetItem("bob");
    m_bob.NewItem("in_user_list");
    m_server.SendFrame(64, WireFields().Texts({"lobby"}).Int32s({3}).Texts({"den"}).Int32s({2})
                               .Texts({}).Int32s({}).Texts({}));
    // Each user's figures: speed, a 64-bit count, files and folders.
    WireFields l_join = WireFields().Text("den").Texts({"alice", "bob"}).Int32s({1, 1}).Int32(2);
    for (int l_user = 0; l_user < 2; ++l_user)
        l_join.Int32(1024).Int32(0).Int32(0).Int32(10).Int32(1);
    m_server.SendFrame(14, l_join.Int32s({}).Texts({"de", "fr"}));
    ASSERT_TRUE(QTest::qWaitFor([] { return d.GetType("room")->GetItem("den").IsConnected("room_form"); }, 5000));
    ASSERT_TRUE(d.GetType("room")->GetItem("den").IsConnected("is_owner"));
    ASSERT_TRUE(QDir(Home()).mkpath("Music"));
    sharedFoldersManager->AddSharedFolder(Home() + "/Music");

    WalkMenus();
    WalkToolbar();
    WalkButtons();

    // The user menu was walked for bob in the user list, to its note and its last entries.
    const QStringList l_listed = m_chosen["UserListForm/userList bob"];
    for (const char* l_entry : {"Add user note", "Private Rooms/den/Give User Membership", "See User Log"})
        EXPECT_TRUE(l_listed.contains(l_entry)) << l_entry << " in " << l_listed.join(", ").toStdString();
    // Every action of every set was chosen where it shows.
    QStringList l_actions;
    for (ItemPtr l_action : d.GetType("toolbar_action")->GetItems())
        l_actions << l_action["toolbar_action_set"].AsString() + " " + l_action["toolbar_action_id"].AsString();
    for (const QString& l_action : l_actions)
        EXPECT_TRUE(m_triggered.contains(l_action) || m_hidden.contains(l_action)) << l_action.toStdString();
    // The dialogs of the users views, the options pages and the toolbar's sets were opened.
    QStringList l_classes;
    for (const QString& l_window : m_windows.m_shown)
        l_classes << l_window.section(':', 0, 0);
    for (const char* l_class : {"UserNoteDialog", "UserGroupsDialog", "GiftPrivilegesDialog", "ItemLogDialog",
                                "UserGroupConfigDialog", "AddUserDialog", "CreateRoomDialog", "ChangeListeningPortDialog",
                                "ChangeUsernamePasswordDialog", "ColorSelectionDialog", "ExcludedExtensionsDialog",
                                "AddSharedFolderDialog", "SharedFilesRescannedDialog"})
        EXPECT_TRUE(l_classes.contains(l_class)) << l_class << " in " << l_classes.join(", ").toStdString();

    // The store still saves, with what the walk left in it.
    SetSetting("chat_timestamps", "per_message_long");
    mp_window->EveryFiveMinutes();
    EXPECT_EQ(m_log.Count("Failure to save"), 0);
    EXPECT_TRUE(StoreBytes().contains("per_message_long"));
    EXPECT_TRUE(dataSaver->CanLoad(StorePath()));
}
