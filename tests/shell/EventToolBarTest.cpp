#include "shell/EventToolBar.h"

#include "ShellFixture.h"

// A window with the bar and a tab widget whose first page is shown and whose other two, a chat
// and another view, are hidden.
class EventToolBarTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto* lp_layout = new QVBoxLayout(&m_window);
        lp_layout->addWidget(mp_bar = new EventToolBar(&m_window));
        lp_layout->addWidget(mp_tabs = new QTabWidget);
        for (QLineEdit** lpp_view : {&mp_shown, &mp_chat, &mp_other})
            mp_tabs->addTab(*lpp_view = new QLineEdit, "view");
        m_window.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&m_window));
        m_main.m_calls.clear();
    }

    // The notice buttons' texts, as the buttons hold them.
    QStringList Buttons() const
    {
        QStringList l_texts;
        for (QAction* lp_action : mp_bar->actions())
            if (!lp_action->text().isEmpty())
                l_texts << qobject_cast<QToolButton*>(mp_bar->widgetForAction(lp_action))->text();
        return l_texts;
    }

    FakeMainWindow m_main;
    QWidget m_window;
    EventToolBar* mp_bar = nullptr;
    QTabWidget* mp_tabs = nullptr;
    QLineEdit *mp_shown = nullptr, *mp_chat = nullptr, *mp_other = nullptr;
};

TEST_F(EventToolBarTest, AVisibleViewGetsNoNoticeAndOnlyAnInactiveWindowBlinks)
{
    const struct { bool active, visible; const char* popup; QStringList buttons, calls; } l_cases[] = {
        {true, true, "hi", {}, {}}, {false, true, "hi", {}, {}},
        {true, false, "hi", {"Message from ann"}, {"popup hi"}},
        {false, false, "", {"Message from ann"}, {}}};
    for (const auto& l_case : l_cases)
    {
        SCOPED_TRACE(std::to_string(l_case.active) + std::to_string(l_case.visible));
        m_main.m_active = l_case.active;
        m_main.m_calls.clear();
        QWidget* lp_view = l_case.visible ? mp_shown : mp_chat;
        mp_bar->AddEvent("Message from ann", ":/icons/chat_icon", lp_view, l_case.popup);
        EXPECT_EQ(Buttons(), l_case.buttons);
        EXPECT_EQ(m_main.m_calls, l_case.calls);
        EXPECT_EQ(mp_bar->IsBlinking(), !l_case.active);
        EXPECT_EQ(mp_bar->isVisible(), !l_case.buttons.isEmpty());
        mp_bar->RemoveEvents(lp_view);
        mp_bar->OnApplicationFocusChanged(nullptr, nullptr);
    }
    // Blinking goes through the icons in their order, then the normal icon, until the focus moves.
    m_main.m_calls.clear();
    m_main.m_active = false;
    mp_bar->AddEvent("a", ":/icons/chat_icon", mp_chat, "");
    mp_bar->AddEvent("b", ":/icons/alert_icon", mp_chat, "");
    mp_bar->AddEvent("c", ":/icons/chat_icon", mp_other, "");
    for (int l_tick = 0; l_tick < 5; ++l_tick)
        mp_bar->OnIconAlertTimeout();
    const QString l_alert = "icon :/icons/alert_icon", l_chat = "icon :/icons/chat_icon";
    EXPECT_EQ(m_main.m_calls, QStringList({l_alert, l_chat, "reset", l_alert, l_chat}));
    m_main.m_calls.clear();
    mp_shown->setFocus();
    EXPECT_FALSE(mp_bar->IsBlinking());
    mp_bar->OnIconAlertTimeout();
    EXPECT_EQ(m_main.m_calls, QStringList{"reset"});
}

TEST_F(EventToolBarTest, NoticesGoByAClickWithTheirViewOrPastTwentyAndShowAnAmpersandAsItIs)
{
    mp_bar->AddEvent("Tom & Jerry", ":/icons/info_icon", mp_other, "");
    QStringList l_newest;
    for (int l_i = 0; l_i < 25; ++l_i)
    {
        mp_bar->AddEvent(QString("line %1").arg(l_i), ":/icons/chat_icon", mp_chat, "");
        if (l_i >= 5)
            l_newest << QString("line %1").arg(l_i);
    }
    mp_bar->RemoveEvents(mp_shown);
    // A button marks its shortcut letter with '&' and shows a doubled one as a single '&'.
    EXPECT_EQ(Buttons(), QStringList("Tom && Jerry") + l_newest);
    mp_bar->actions().at(2)->trigger();
    l_newest.removeOne("line 6");
    EXPECT_EQ(Buttons(), QStringList("Tom && Jerry") + l_newest);
    EXPECT_EQ(mp_tabs->currentWidget(), mp_chat) << "the click brings the view forward";
    EXPECT_EQ(m_window.focusWidget(), mp_chat);
    mp_bar->RemoveEvents(mp_chat); // what the shown view's showEvent does
    EXPECT_EQ(Buttons(), QStringList{"Tom && Jerry"});
    EXPECT_TRUE(mp_bar->isVisible());
    delete mp_other;
    EXPECT_EQ(Buttons(), QStringList());
    EXPECT_FALSE(mp_bar->isVisible());
    EXPECT_EQ(d.GetType("event_toolbar_widget")->ItemCount() + d.GetType("event_toolbar_action")->ItemCount(), 0u);
}
