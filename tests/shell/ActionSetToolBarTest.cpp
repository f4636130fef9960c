#include "shell/ActionSetToolBar.h"

#include <climits>

#include "ShellFixture.h"
#include "support/support/ServerFixture.h"

class ActionSetToolBarTest : public ServerFixture, protected FakeDesktop
{
protected:
    void SetUp() override
    {
        ServerFixture::SetUp();
        SetSetting("availability_status", "available");
        mp_bar = new ActionSetToolBar(&m_window);
        mp_bar->Init();
        mp_loose = Add(new QLineEdit);
        m_window.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&m_window));
    }

    // Only the focus matters here, so widgets may overlap.
    template <class W>
    W* Add(W* ip_widget)
    {
        ip_widget->setParent(&m_window);
        ip_widget->show();
        return ip_widget;
    }

    // The set's actions shown now, hidden ones as "hidden <text>"; the fixed buttons have none.
    QStringList SetShown() const
    {
        QStringList l_texts;
        for (QAction* lp_action : mp_bar->actions())
            if (!lp_action->text().isEmpty())
                l_texts << (lp_action->isVisible() ? "" : "hidden ") + lp_action->text();
        return l_texts;
    }

    FakeMainWindow m_main;
    QWidget m_window;
    ActionSetToolBar* mp_bar = nullptr;
    QLineEdit* mp_loose = nullptr;
};

TEST_F(ActionSetToolBarTest, FollowsTheFocusThroughNestedTabWidgetsAndTheirBars)
{
    mp_bar->AddSetAction("outer", "outer_action", "Outer", ":/icons/room_icon", false);
    for (const char* l_id : {"Inner One", "Inner Two"})
        mp_bar->AddSetAction("inner", l_id, l_id, ":/icons/chat_icon", false);
    auto *outer = Add(new QTabWidget), *inner = new QTabWidget;
    auto *pageA = new QWidget, *pageC = new QWidget;
    auto *editA = new QLineEdit(pageA), *editC = new QLineEdit(pageC);
    outer->addTab(pageA, "a");
    outer->addTab(inner, "b");
    inner->addTab(pageC, "c");
    mp_bar->RegisterWidget(pageA, "outer");
    mp_bar->RegisterWidget(pageC, "inner");
    // Each step: the widget focused, after making this page of the outer tabs current.
    const QStringList l_inner{"Inner One", "Inner Two"};
    const struct { QWidget* focus; int outerPage; QStringList set; } l_steps[] = {
        {editA, 0, {"Outer"}}, {mp_loose, 0, {}}, {outer->tabBar(), 1, l_inner}, {mp_loose, 1, {}},
        {inner->tabBar(), 1, l_inner}, {outer, 1, l_inner}, {editC, 1, l_inner},
        {outer->tabBar(), 0, {"Outer"}}};
    for (const auto& l_step : l_steps)
    {
        outer->setCurrentIndex(l_step.outerPage);
        l_step.focus->setFocus();
        EXPECT_EQ(SetShown(), l_step.set) << l_step.focus->metaObject()->className();
    }
}

TEST_F(ActionSetToolBarTest, KeysComeFromTheWidgetOnFocusAndFromTheFirstSelectedRowOnAClick)
{
    mp_bar->AddSetAction("user", "message_user", "Message", ":/icons/chat_icon", true);
    auto* tree = Add(new QTreeWidget);
    tree->setColumnCount(2);
    for (const char* l_name : {"ann", "bob", "cid"})
        tree->addTopLevelItem(new QTreeWidgetItem(QStringList{l_name, "x"}));
    mp_bar->RegisterWidget(tree, "user");
    mp_bar->AddWidgetColumnKey(tree, "user", 0);
    mp_bar->AddWidgetKey(tree, "room", "lobby");
    auto* panel = Add(new QLineEdit);
    mp_bar->RegisterWidget(panel, "user");
    QSignalSpy l_triggered(mp_bar, &ActionSetToolBar::ActionTriggered);
    // The set's one action follows the status button and the label.
    const auto l_click = [this] { mp_bar->actions().at(2)->trigger(); };
    EXPECT_EQ(mp_bar->GetKey("room"), "");
    tree->setFocus();
    EXPECT_EQ(mp_bar->GetKey("room"), "lobby");
    l_click();
    EXPECT_EQ(l_triggered.count(), 0) << "needs a selected row";
    tree->topLevelItem(1)->setSelected(true);
    l_click();
    ASSERT_EQ(l_triggered.count(), 1);
    EXPECT_EQ(l_triggered.at(0), QVariantList({QVariant::fromValue<QWidget*>(tree), "message_user"}));
    EXPECT_EQ(mp_bar->GetKey("user"), "bob");
    // Without a tree on the way up there is no selection to need; the column key keeps its value.
    panel->setFocus();
    l_click();
    ASSERT_EQ(l_triggered.count(), 2);
    EXPECT_EQ(l_triggered.at(1).first().value<QWidget*>(), panel);
    EXPECT_EQ(mp_bar->GetKey("user") + mp_bar->GetKey("room"), "boblobby");
}

TEST_F(ActionSetToolBarTest, TwoWidgetsOfOneSetKeepTheirOwnTextsAndMarksUntilDestroyed)
{
    mp_bar->AddSetAction("room", "autojoin", "Auto-Join Room", ":/icons/room_icon", false);
    mp_bar->AddSetAction("room", "give_up", "Give Up Room", ":/icons/room_icon", false);
    auto *first = Add(new QLineEdit), *second = Add(new QLineEdit);
    for (auto* lp_widget : {first, second})
        mp_bar->RegisterWidget(lp_widget, "room");
    mp_bar->AddWidgetKey(first, "room", "first");
    mp_bar->AddWidgetKey(second, "room", "second");
    mp_bar->AddWidgetColumnKey(second, "user", 0);
    mp_bar->SetWidgetActionText(first, "autojoin", "Auto-Join Room [on]");
    mp_bar->SetWidgetActionHidden(second, "give_up", true);
    first->setFocus();
    EXPECT_EQ(SetShown(), QStringList({"Auto-Join Room [on]", "Give Up Room"}));
    EXPECT_EQ(mp_bar->GetKey("room"), "first");
    second->setFocus();
    EXPECT_EQ(SetShown(), QStringList({"Auto-Join Room", "hidden Give Up Room"}));
    EXPECT_EQ(mp_bar->GetKey("room"), "second");
    mp_bar->SetWidgetActionText(second, "autojoin", "Auto-Join Room [on]");
    mp_bar->SetWidgetActionText(first, "autojoin", "Auto-Join Room [off]");
    mp_bar->SetWidgetActionHidden(second, "give_up", false);
    EXPECT_EQ(SetShown(), QStringList({"Auto-Join Room [on]", "hidden Give Up Room"}))
        << "only the shown widget's text changes at once; a cleared mark waits for the next rebuild";
    // The support button, made once, ends the toolbar after every rebuild, as the status button
    // starts it.
    QPushButton* lp_support = mp_bar->SupportButton();
    const auto l_framed = [&] {
        return mp_bar->widgetForAction(mp_bar->actions().first()) == mp_bar->StatusButton() &&
               mp_bar->widgetForAction(mp_bar->actions().last()) == lp_support;
    };
    first->setFocus();
    second->setFocus();
    EXPECT_EQ(SetShown(), QStringList({"Auto-Join Room [on]", "Give Up Room"}));
    EXPECT_TRUE(l_framed());
    // A widget made later at the same address must not inherit the room or the texts.
    mp_bar->SetWidgetActionHidden(second, "give_up", true);
    delete second;
    FlushDeletes();
    EXPECT_EQ(SetShown(), QStringList());
    for (const auto& l_left : std::map<const char*, std::size_t>{
             {"toolbar_action_widget", 1}, {"action_key_value_pair", 1},
             {"action_key_column_pair", 0}, {"widget_action_hidden", 0}, {"toolbar_action_object", 0}})
        EXPECT_EQ(d.GetType(l_left.first)->ItemCount(), l_left.second) << l_left.first;
    EXPECT_FALSE(d.GetType("widget_action_text")->HasItem("Auto-Join Room [on]"));
}

TEST_F(ActionSetToolBarTest, TheSupportAndStatusButtons)
{
    const std::pair<int, const char*> l_daysLeft[] = {
        {0, "Support Tarnwick!"}, {-1, "Support Tarnwick!"}, {1, "0 Days Left"},
        {43199, "0 Days Left"},   {43200, "1 Days Left"},     {INT_MAX, "24855 Days Left"}};
    for (const auto& l_case : l_daysLeft)
    {
        emit mp_server->ReceivedOwnPrivilegesStatus(l_case.first);
        EXPECT_EQ(mp_bar->SupportButton()->text(), l_case.second) << l_case.first;
    }
    SetSetting("username", QString::fromUtf8("Zoë & co"));
    mp_bar->SupportButton()->click();
    EXPECT_EQ(m_opened, QStringList{"http://www.tarnwick.net:80/qtlogin.php?username=Zo%C3%AB%20%26%20co"});
    // The status button changes the application icon only while logged in.
    mp_loose->setFocus();
    const struct { bool loggedIn; const char *from, *showAway, *to; QStringList calls; } l_cases[] = {
        {false, "available", "yes", "away", {}}, {false, "away", "yes", "available", {}},
        {true, "available", "no", "away", {}},
        {true, "available", "yes", "away", {"icon :/icons/away_icon"}},
        {true, "away", "no", "available", {"icon :/icons/online_icon"}}};
    for (const auto& l_case : l_cases)
    {
        SCOPED_TRACE(std::to_string(l_case.loggedIn) + l_case.from + l_case.showAway);
        ASSERT_TRUE(!l_case.loggedIn || mp_server->IsConnected() || LogIn());
        SetSetting("availability_status", l_case.from);
        SetSetting("show_away_status_in_application_icon", l_case.showAway);
        m_main.m_calls.clear();
        mp_bar->StatusButton()->click();
        EXPECT_EQ(Setting("availability_status"), l_case.to);
        const bool l_away = QString(l_case.to) == "away";
        EXPECT_EQ(mp_bar->StatusButton()->text(), l_away ? "Away" : "Available");
        EXPECT_TRUE(ShowsIcon(mp_bar->StatusButton()->icon(),
                              l_away ? ":/icons/away_icon" : ":/icons/online_icon"));
        EXPECT_EQ(m_main.m_calls, l_case.calls);
    }
}
