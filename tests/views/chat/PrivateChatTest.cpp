#include "UsersFixture.h"
#include "views/chat/ChatForm.h"
#include "views/chat/ChatLog.h"
#include "views/chat/ChatLogForm.h"

namespace
{
// The users views with the "user_chat" set; private messages come as the server link hands them on.
class PrivateChatTest : public UsersFixture
{
protected:
    void SetUp() override
    {
        UsersFixture::SetUp();
        DeclareTypes({{"sent_empty_share_warning_message", Leaf, false}});
        DeclareRelations({{"user", "sent_empty_share_warning_message", Many, One}});
        SetSetting("username", "anna");
        SetSetting("password", "secret");
        mp_actions->AddSetAction("user_chat", "user_chat_log", "Chat Log", ":/icons/note_icon", false);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(mp_pages.get()));
    }

    void Receive(const QString& i_user, const QString& i_text) { mp_chats->OnPrivateChat(i_user, i_text, 0, true); }
    static QStringList WithoutTimes(QStringList i_lines)
    {
        return i_lines.replaceInStrings(QRegularExpression("^\\[[^]]*\\]"), "");
    }
    static QStringList LogLines(const QString& i_user)
    {
        const QString l_text = QString::fromUtf8(FileBytes(ChatLog::Path(ChatLog::Kind::User, i_user)));
        return WithoutTimes(l_text.split('\n', Qt::SkipEmptyParts));
    }
    QStringList Tabs() const { return TabTexts(mp_chats->TabWidget()); }
};

TEST_F(PrivateChatTest, OneTabPerUserWhoseIconFollowsTheOnlineMark)
{
    RunSteps([&] { return Tabs(); },
             {
                 {[&] { Receive("ann", "one"); }, {"ann offline *"}},
                 {[&] { Receive("ann", "two"); }, {"ann offline *"}},
                 {[&] { Receive("b&c", "hi"); }, {"ann offline *", "b&&c offline"}},
                 {[&] { User("ann").NewItem("is_online"); }, {"ann online *", "b&&c offline"}},
                 {[&] { mp_chats->OnChatTabClosed(0); }, {"b&&c offline *"}},
                 {[&] { Receive("ann", "three"); }, {"b&&c offline *", "ann online"}},
                 {[&] { User("b&c").NewItem("is_online"); }, {"b&&c online *", "ann online"}},
                 {[&] { User("ann").Disconnect("is_online"); }, {"b&&c online *", "ann offline"}},
             });
    // The closed tab took its lines with it.
    EXPECT_EQ(ViewLines(mp_chats->GetChatForm("ann")).filter("[ann]"), QStringList{"[ann] three"});
}

TEST_F(PrivateChatTest, ReturnShowsLogsThenSendsAndSaysWhenNothingLeft)
{
    SetSetting("chat_timestamps", "no_timestamps");
    ChatForm* lp_form = mp_chats->OpenChatForm("ann");
    QStringList l_atSending;
    QObject::connect(mp_server.get(), &Server::PrivateChatSent,
                     [&] { l_atSending << ViewLines(lp_form).last() + "|" + LogLines("ann").last(); });
    PressReturn(lp_form, "early");
    PressReturn(lp_form, "");
    ASSERT_TRUE(LogIn());
    PressReturn(lp_form, "");
    PressReturn(lp_form, "  ");
    EXPECT_EQ(PressReturn(lp_form, "hi"), "");

    EXPECT_EQ(ViewLines(lp_form),
              (QStringList{"[anna] early", "* " + QString(ChatForm::NotSentText), "[anna] ", "[anna] hi"}));
    EXPECT_EQ(LogLines("ann"), (QStringList{"[anna] early", "[anna]   ", "[anna] hi"}));
    EXPECT_EQ(l_atSending, (QStringList{"[anna] |[anna]   ", "[anna] hi|[anna] hi"}));
    // Neither the offline line nor the empty ones went out: the blanks are the first sent.
    EXPECT_EQ(SentFields(22),
              (QList<QByteArray>{WireFields().Text("ann").Text("  "), WireFields().Text("ann").Text("hi")}));
}

TEST_F(PrivateChatTest, TheWarningSentOpensTheTabAndAwayChangesAreStatusLines)
{
    SetSetting("chat_timestamps", "no_timestamps");
    User("ann") += d.GetType("sent_empty_share_warning_message")->GetItem("Share something first.");
    User("ann").NewItem("is_away");
    ChatForm* lp_form = mp_chats->GetChatForm("ann");
    QStringList l_lines{"[anna] Share something first.", "* ann is away."};
    RunSteps([&] { return ViewLines(lp_form); },
             {
                 {[] {}, l_lines},
                 {[&] { User("ann").Disconnect("is_away"); }, l_lines << "* ann is available."},
                 {[&] { User("ann").NewItem("is_away"); }, l_lines << "* ann is away."},
             });
    EXPECT_EQ(LogLines("ann"), QStringList{"[anna] Share something first."});
}

TEST_F(PrivateChatTest, NoticesOnlyWhileTheTabIsHidden)
{
    RunSteps([&] { return ActionTexts(mp_events->actions()); },
             {
                 {[&] { Receive("a&n", "one"); }, {"a&&n"}},
                 {[&] { Receive("a&n", "/me waves"); }, {"a&&n"}},
                 {[&] { mp_pages->setCurrentIndex(1); }, {}},
                 {[&] { Receive("a&n", "two"); }, {}},
                 {[&] { PressReturn(mp_chats->GetChatForm("a&n"), "own"); }, {}},
                 {[&] { Receive("bob", "hi"); }, {"bob"}},
                 {[&] { PressReturn(mp_chats->GetChatForm("bob"), "own"); }, {"bob", "bob"}},
                 {[&] { mp_chats->OpenChatForm("bob"); }, {}},
             });
}

TEST_F(PrivateChatTest, ChatLogOpensOneViewerBesideTheTabThenFocusesIt)
{
    mp_pages->setCurrentIndex(1);
    ChatForm* lp_form = mp_chats->OpenChatForm("a&b");
    lp_form->AddChat("a&b", "<b>hello</b>");
    const auto l_trigger = [&](QWidget* ip_form, const char* i_id) {
        return [=] { emit mp_actions->ActionTriggered(ip_form, i_id); };
    };
    RunSteps([&] { return Tabs(); },
             {
                 {l_trigger(nullptr, "user_chat_log"), {"a&&b offline *"}},
                 {l_trigger(lp_form, "clear_chat_log"), {"a&&b offline *"}},
                 {l_trigger(lp_form, "user_chat_log"), {"a&&b offline", "a&&b note *"}},
                 {[&] { mp_chats->TabWidget()->setCurrentIndex(0); }, {"a&&b offline *", "a&&b note"}},
                 {l_trigger(lp_form, "user_chat_log"), {"a&&b offline", "a&&b note *"}},
             });
    auto* lp_viewer = User("a&b")["chat_log_form"].AsPointer<ChatLogForm>();
    EXPECT_EQ(lp_viewer->Path(), ChatLog::Path(ChatLog::Kind::User, "a&b"));
}
} // namespace
