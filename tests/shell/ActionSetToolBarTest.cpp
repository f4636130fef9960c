#include "shell/ActionSetToolBar.h"

#include "FakeMainWindow.h"
#include "support/support/ServerFixture.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWidgetAction>

#include <climits>
#include <functional>

namespace
{
const QStringList FixedStart{"Available", "label"};
const QStringList FixedEnd{"", "spacer", "Support Tarnwick!"};
} // namespace

class ActionSetToolBarTest : public ServerFixture
{
protected:
    void SetUp() override
    {
        ServerFixture::SetUp();
        SetSetting("availability_status", "available");
        mp_bar = new ActionSetToolBar(&m_window);
        mp_bar->Init();
        mp_layout = new QVBoxLayout(&m_window);
        mp_layout->addWidget(mp_bar);
        mp_loose = Add(new QLineEdit);
        m_window.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&m_window));
    }

    template <class W>
    W* Add(W* ip_widget)
    {
        mp_layout->addWidget(ip_widget);
        ip_widget->show();
        return ip_widget;
    }

    // The toolbar from left to right: button texts, "label", "spacer", action texts (hidden
    // ones prefixed with "hidden ").
    QStringList Row() const
    {
        QStringList l_row;
        for (QAction* lp_action : mp_bar->actions())
        {
            if (auto* lp_widgetAction = qobject_cast<QWidgetAction*>(lp_action))
            {
                QWidget* lp_widget = lp_widgetAction->defaultWidget();
                if (auto* lp_button = qobject_cast<QPushButton*>(lp_widget))
                    l_row << lp_button->text();
                else
                    l_row << (qobject_cast<QLabel*>(lp_widget) ? "label" : "spacer");
            }
            else
                l_row << (lp_action->isVisible() ? "" : "hidden ") + lp_action->text();
        }
        return l_row;
    }

    // The set's part of the row, or the whole row when the fixed buttons are not in place.
    QStringList SetShown() const
    {
        const QStringList l_row = Row();
        if (l_row.mid(0, 2) != FixedStart || l_row.mid(l_row.size() - 3) != FixedEnd)
            return QStringList{"unexpected row:"} + l_row;
        return l_row.mid(2, l_row.size() - 5);
    }

    QAction* Action(const QString& i_text) const
    {
        for (QAction* lp_action : mp_bar->actions())
            if (lp_action->text() == i_text)
                return lp_action;
        return nullptr;
    }

    FakeMainWindow m_main;
    QWidget m_window;
    QVBoxLayout* mp_layout = nullptr;
    ActionSetToolBar* mp_bar = nullptr;
    QLineEdit* mp_loose = nullptr;
};

TEST_F(ActionSetToolBarTest, FollowsTheFocusThroughNestedTabWidgetsAndTheirBars)
{
    mp_bar->AddSetAction("outer", "outer_action", "Outer", ":/icons/room_icon", false);
    mp_bar->AddSetAction("inner", "inner_one", "Inner One", ":/icons/chat_icon", false);
    mp_bar->AddSetAction("inner", "inner_two", "Inner Two", ":/icons/chat_icon", false);
    auto* outer = Add(new QTabWidget);
    auto* pageA = new QWidget;
    auto* editA = new QLineEdit(pageA);
    outer->addTab(pageA, "a");
    auto* inner = new QTabWidget;
    outer->addTab(inner, "b");
    auto* pageC = new QWidget;
    auto* editC = new QLineEdit(pageC);
    inner->addTab(pageC, "c");
    mp_bar->RegisterWidget(pageA, "outer");
    mp_bar->RegisterWidget(pageC, "inner");

    const QStringList l_inner{"Inner One", "Inner Two"};
    const struct
    {
        const char* what;
        std::function<void()> focus;
        QStringList set;
    } l_steps[] = {
        {"a child of a registered page", [&] { editA->setFocus(); }, {"Outer"}},
        {"no registered ancestor", [&] { mp_loose->setFocus(); }, {}},
        {"the outer bar shows the inner tab widget",
         [&] {
             outer->setCurrentIndex(1);
             outer->tabBar()->setFocus();
         },
         l_inner},
        {"no registered ancestor again", [&] { mp_loose->setFocus(); }, {}},
        {"the inner bar", [&] { inner->tabBar()->setFocus(); }, l_inner},
        {"the outer tab widget itself", [&] { outer->setFocus(); }, l_inner},
        {"a child of the inner page", [&] { editC->setFocus(); }, l_inner},
        {"the outer bar on the first page",
         [&] {
             outer->setCurrentIndex(0);
             outer->tabBar()->setFocus();
         },
         {"Outer"}},
    };
    for (const auto& l_step : l_steps)
    {
        l_step.focus();
        EXPECT_EQ(SetShown(), l_step.set) << l_step.what;
    }
}

TEST_F(ActionSetToolBarTest, KeysComeFromTheWidgetOnFocusAndFromTheFirstSelectedRowOnAClick)
{
    mp_bar->AddSetAction("room", "give_up", "Give Up Room", ":/icons/room_icon", false);
    mp_bar->AddSetAction("user", "message_user", "Message", ":/icons/chat_icon", true);
    auto* room = Add(new QLineEdit);
    mp_bar->RegisterWidget(room, "room");
    mp_bar->AddWidgetKey(room, "room", "lobby");
    auto* tree = Add(new QTreeWidget);
    tree->setColumnCount(2);
    for (const char* l_name : {"ann", "bob", "cid"})
        tree->addTopLevelItem(new QTreeWidgetItem(QStringList{l_name, "x"}));
    mp_bar->RegisterWidget(tree, "user");
    mp_bar->AddWidgetColumnKey(tree, "user", 0);
    auto* panel = Add(new QLineEdit);
    mp_bar->RegisterWidget(panel, "user");
    QSignalSpy l_triggered(mp_bar, &ActionSetToolBar::ActionTriggered);

    EXPECT_EQ(mp_bar->GetKey("room"), "");
    room->setFocus();
    EXPECT_EQ(mp_bar->GetKey("room"), "lobby");

    tree->setFocus();
    tree->clearSelection();
    Action("Message")->trigger();
    EXPECT_EQ(l_triggered.count(), 0) << "needs a selected row";

    tree->topLevelItem(1)->setSelected(true);
    Action("Message")->trigger();
    ASSERT_EQ(l_triggered.count(), 1);
    EXPECT_EQ(l_triggered.at(0).at(0).value<QWidget*>(), tree);
    EXPECT_EQ(l_triggered.at(0).at(1).toString(), "message_user");
    EXPECT_EQ(mp_bar->GetKey("user"), "bob");

    // Without a tree on the way up there is no selection to need; the column key keeps its value.
    panel->setFocus();
    Action("Message")->trigger();
    ASSERT_EQ(l_triggered.count(), 2);
    EXPECT_EQ(l_triggered.at(1).at(0).value<QWidget*>(), panel);
    EXPECT_EQ(mp_bar->GetKey("user"), "bob");
    EXPECT_EQ(mp_bar->GetKey("room"), "lobby");
}

TEST_F(ActionSetToolBarTest, TwoWidgetsOfOneSetKeepTheirOwnTextsAndMarks)
{
    mp_bar->AddSetAction("room", "autojoin", "Auto-Join Room", ":/icons/room_icon", false);
    mp_bar->AddSetAction("room", "give_up", "Give Up Room", ":/icons/room_icon", false);
    auto* first = Add(new QLineEdit);
    auto* second = Add(new QLineEdit);
    for (QLineEdit* lp_tab : {first, second})
    {
        mp_bar->RegisterWidget(lp_tab, "room");
        mp_bar->AddWidgetKey(lp_tab, "room", lp_tab == first ? "first" : "second");
    }
    mp_bar->SetWidgetActionText(first, "autojoin", "Auto-Join Room [on]");
    mp_bar->SetWidgetActionHidden(second, "give_up", true);

    first->setFocus();
    EXPECT_EQ(SetShown(), QStringList({"Auto-Join Room [on]", "Give Up Room"}));
    EXPECT_EQ(mp_bar->GetKey("room"), "first");
    second->setFocus();
    EXPECT_EQ(SetShown(), QStringList({"Auto-Join Room", "hidden Give Up Room"}));
    EXPECT_EQ(mp_bar->GetKey("room"), "second");

    mp_bar->SetWidgetActionText(first, "autojoin", "Auto-Join Room [off]");
    EXPECT_EQ(SetShown(), QStringList({"Auto-Join Room", "hidden Give Up Room"}));
    mp_bar->SetWidgetActionText(second, "autojoin", "Auto-Join Room [on]");
    mp_bar->SetWidgetActionHidden(second, "give_up", false);
    EXPECT_EQ(SetShown(), QStringList({"Auto-Join Room [on]", "hidden Give Up Room"}))
        << "a cleared mark shows from the next rebuild";

    first->setFocus();
    EXPECT_EQ(SetShown(), QStringList({"Auto-Join Room [off]", "Give Up Room"}));
    second->setFocus();
    EXPECT_EQ(SetShown(), QStringList({"Auto-Join Room [on]", "Give Up Room"}));
}

TEST_F(ActionSetToolBarTest, ADestroyedWidgetLeavesNothingAndTheSupportButtonSurvivesRebuilds)
{
    mp_bar->AddSetAction("room", "give_up", "Give Up Room", ":/icons/room_icon", false);
    QPushButton* lp_support = mp_bar->SupportButton();
    auto* tab = Add(new QLineEdit);
    mp_bar->RegisterWidget(tab, "room");
    mp_bar->AddWidgetKey(tab, "room", "lobby");
    mp_bar->AddWidgetColumnKey(tab, "user", 0);
    mp_bar->SetWidgetActionText(tab, "give_up", "Give Up Lobby");
    mp_bar->SetWidgetActionHidden(tab, "give_up", true);
    tab->setFocus();
    EXPECT_EQ(SetShown(), QStringList{"hidden Give Up Lobby"});

    delete tab;
    EXPECT_EQ(Row(), FixedStart + FixedEnd);
    for (const char* l_type : {"toolbar_action_widget", "action_key_value_pair",
                               "action_key_column_pair", "widget_action_text",
                               "widget_action_hidden", "toolbar_action_object"})
        EXPECT_EQ(d.GetType(l_type)->ItemCount(), 0u) << l_type;

    // The stored button is the one on the toolbar after every rebuild, and it still works.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(mp_bar->SupportButton(), lp_support);
    emit mp_server->ReceivedOwnPrivilegesStatus(86400);
    EXPECT_EQ(Row().last(), "1 Days Left");
    SetSetting("username", QString::fromUtf8("Zoë & co"));
    lp_support->click();
    EXPECT_EQ(m_main.m_urls,
              QStringList{"http://www.tarnwick.net:80/qtlogin.php?username=Zo%C3%AB%20%26%20co"});
}

TEST_F(ActionSetToolBarTest, SupportTextRoundsTheDaysLeft)
{
    const struct
    {
        int seconds;
        const char* text;
    } l_cases[] = {{0, "Support Tarnwick!"},   {-1, "Support Tarnwick!"},
                   {1, "0 Days Left"},         {43199, "0 Days Left"},
                   {43200, "1 Days Left"},     {3 * 86400, "3 Days Left"},
                   {INT_MAX, "24855 Days Left"}};
    for (const auto& l_case : l_cases)
    {
        emit mp_server->ReceivedOwnPrivilegesStatus(l_case.seconds);
        EXPECT_EQ(mp_bar->SupportButton()->text(), l_case.text) << l_case.seconds;
    }
}

TEST_F(ActionSetToolBarTest, TheStatusButtonChangesTheApplicationIconOnlyWhileLoggedIn)
{
    mp_loose->setFocus();
    const struct
    {
        bool loggedIn;
        const char* from;
        const char* showAway;
        const char* to;
        const char* icon;
        QStringList calls;
    } l_cases[] = {
        {false, "available", "yes", "away", ":/icons/away_icon", {}},
        {false, "away", "yes", "available", ":/icons/online_icon", {}},
        {true, "available", "no", "away", ":/icons/away_icon", {}},
        {true, "available", "yes", "away", ":/icons/away_icon", {"icon :/icons/away_icon"}},
        {true, "away", "no", "available", ":/icons/online_icon", {"icon :/icons/online_icon"}},
    };
    for (const auto& l_case : l_cases)
    {
        if (l_case.loggedIn && !mp_server->IsConnected())
        {
            ASSERT_TRUE(LogIn());
        }
        SetSetting("availability_status", l_case.from);
        SetSetting("show_away_status_in_application_icon", l_case.showAway);
        m_main.m_calls.clear();
        mp_bar->StatusButton()->click();
        EXPECT_EQ(Setting("availability_status"), l_case.to);
        EXPECT_EQ(mp_bar->StatusButton()->text(), l_case.to == QString("away") ? "Away" : "Available");
        EXPECT_TRUE(ShowsIcon(mp_bar->StatusButton()->icon(), l_case.icon));
        EXPECT_EQ(m_main.m_calls, l_case.calls) << l_case.loggedIn << l_case.from << l_case.showAway;
    }
}
