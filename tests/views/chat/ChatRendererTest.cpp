#include <tuple>

#include "ChatFixture.h"

namespace
{
using Kind = ChatRenderer::Kind;

class ChatRendererTest : public ChatFixture
{
protected:
    QTextBrowser m_view;
    QStringList Lines() const { return m_view.toPlainText().split('\n'); }
};

TEST_F(ChatRendererTest, BuildsTheLineByTimestampModeAndEscapesMarkup)
{
    const QString l_line = "[<font color=\"#0033ff\">a\"&lt;b&gt;</font>] x &amp; &lt;i&gt;\"y\"";
    const std::pair<const char*, QString> l_cases[] = {
        {"per_message_short", "[<font color=\"#0066ff\">13:04:31</font>]"},
        {"per_message_long", "[<font color=\"#0066ff\">Mar 5 1:04:31 pm</font>]"},
        {"activity_based", ""}, {"per_message", ""}, {"", ""}};
    for (const auto& [l_mode, l_time] : l_cases)
        EXPECT_EQ(ChatRenderer::ChatLineHtml(l_mode, m_now, "a\"<b>", "x & <i>\"y\""), l_time + l_line) << l_mode;
    EXPECT_EQ(ChatRenderer::StatusLineHtml("<b>&"), "* <font color=\"#339933\">&lt;b&gt;&amp;</font>");
    const QString l_hundred(100, 'x');
    EXPECT_EQ(ChatRenderer::NoticePopup("ann", l_hundred), "[ann] " + l_hundred);
    EXPECT_EQ(ChatRenderer::NoticePopup("ann", l_hundred + "y"), "[ann] " + l_hundred + " ...");
}

TEST_F(ChatRendererTest, MeLinesAreLoggedWithAnAsteriskAndRaiseNoNotice)
{
    // A room trims its lines first, so there "/me" and blanks is no longer an action.
    const std::tuple<Kind, const char*, const char*> l_cases[] = {
        {Kind::Room, "   /me waves   ", "* ann waves"},
        {Kind::Private, " /me waves ", "* ann waves"},
        {Kind::Private, "/me    ", "* ann "},
        {Kind::Room, "/me    ", "[ann] /me"},
        {Kind::Private, "/mewaves", "[ann] /mewaves"},
        {Kind::Private, "/ME waves", "[ann] /ME waves"},
    };
    SetSetting("chat_timestamps", "no_timestamps");
    for (const auto& [l_kind, l_text, l_line] : l_cases)
    {
        m_view.clear();
        ChatRenderer l_renderer(&m_view, l_kind, Clock());
        const ChatRenderer::ShownChat l_shown = l_renderer.AddChat("ann", l_text);
        EXPECT_EQ(m_view.toPlainText().trimmed(), QString(l_line).trimmed()) << l_text;
        EXPECT_EQ(l_renderer.IsChatActive(), !l_shown.isAction);
        EXPECT_EQ(l_shown.logLine, "[Mar 5 1:04:31 pm]" + (l_shown.isAction ? QString(" ") + l_line
                                                                              : "[ann] " + QString(l_text).trimmed()));
        const bool l_notice = l_kind == Kind::Private && !l_shown.isAction;
        EXPECT_EQ(l_shown.popup, l_notice ? "[ann] " + QString(l_text) : "");
    }
}

TEST_F(ChatRendererTest, ActivityMarkersFollowTheClock)
{
    ChatRenderer l_renderer(&m_view, Kind::Private, Clock());
    const QDateTime l_first = m_now;
    l_renderer.AddChat("ann", "hello");
    m_now = l_first.addMSecs(299999);
    l_renderer.CheckChatInactivity();
    EXPECT_EQ(Lines(), (QStringList{"* Chat started Mar 5 1:04:31 pm", "[ann] hello"}));
    m_now = l_first.addMSecs(300000);
    l_renderer.CheckChatInactivity();
    EXPECT_EQ(Lines().last(), "* Chat ended Mar 5 1:04:31 pm");

    // With the clock set back the last line lies in the future, and the chat never ends.
    m_now = l_first.addSecs(-3600);
    l_renderer.AddChat("bob", "again");
    m_now = m_now.addSecs(-1);
    l_renderer.CheckChatInactivity();
    EXPECT_TRUE(l_renderer.IsChatActive());

    // Other modes end the chat without a marker; the next line in this mode starts one.
    SetSetting("chat_timestamps", "no_timestamps");
    m_now = l_first.addSecs(600);
    l_renderer.CheckChatInactivity();
    SetSetting("chat_timestamps", "activity_based");
    l_renderer.AddChat("ann", "back");
    EXPECT_EQ(Lines().mid(4), (QStringList{"[bob] again", "* Chat started Mar 5 1:14:31 pm", "[ann] back"}));
}

// The line after a cut keeps its link.
TEST_F(ChatRendererTest, BothViewsAreCutAboveTheLimit)
{
    SetSetting("chat_timestamps", "no_timestamps");
    // A first paragraph and filler, padded until the view's source is the size wanted.
    const auto l_fill = [&](int i_pad) {
        m_view.clear();
        m_view.append("FIRST");
        for (int l_line = 0; l_line < 900; ++l_line)
            m_view.append(QString(100, 'y'));
        m_view.append(QString(i_pad, 'x'));
    };
    for (Kind l_kind : {Kind::Room, Kind::Private})
        for (int l_size : {ChatRenderer::ViewHtmlLimit, ChatRenderer::ViewHtmlLimit + 1})
        {
            l_fill(1);
            l_fill(1 + l_size - m_view.toHtml().size());
            ASSERT_EQ(m_view.toHtml().size(), l_size);
            ChatRenderer(&m_view, l_kind, Clock()).AddChat("ann", "http://x.org/?b=1&c=2");
            const bool l_cut = l_size > ChatRenderer::ViewHtmlLimit;
            EXPECT_EQ(Lines().first() == "FIRST", !l_cut) << l_size;
            EXPECT_EQ(Lines().last(), "[ann] http://x.org/?b=1&c=2");
            EXPECT_TRUE(m_view.toHtml().contains("<a href=\"http://x.org/?b=1&amp;c=2\">"));
            EXPECT_EQ(m_view.toHtml().size() < l_size - ChatRenderer::ViewHtmlCut + 1000, l_cut);
        }
}
} // namespace
