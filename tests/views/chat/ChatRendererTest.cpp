#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>

#include "ChatFixture.h"
#include "views/chat/ChatRenderer.h"

namespace
{
using Kind = ChatRenderer::Kind;

class ChatRendererTest : public ChatFixture
{
protected:
    QTextBrowser m_view;
    QStringList Lines() const { return m_view.toPlainText().split('\n'); }
};

TEST_F(ChatRendererTest, TimestampModesBuildTheLine)
{
    const QString l_name = "[<font color=\"#0033ff\">ann</font>] hello";
    const struct { const char* mode; QString line; } l_cases[] = {
        {"per_message_short", "[<font color=\"#0066ff\">13:04:31</font>]" + l_name},
        {"per_message_long", "[<font color=\"#0066ff\">Mar 5 1:04:31 pm</font>]" + l_name},
        {"activity_based", l_name},
        {"no_timestamps", l_name},
        {"per_message", l_name},
        {"", l_name},
    };
    for (const auto& l_case : l_cases)
        EXPECT_EQ(ChatRenderer::ChatLineHtml(l_case.mode, m_now, "ann", "hello"), l_case.line)
            << l_case.mode;
}

TEST_F(ChatRendererTest, EscapesTagsAndAmpersandsButNotQuotes)
{
    EXPECT_EQ(ChatRenderer::ChatLineHtml("", m_now, "a\"<b>", "x & <i>\"y\""),
              "[<font color=\"#0033ff\">a\"&lt;b&gt;</font>] x &amp; &lt;i&gt;\"y\"");
    EXPECT_EQ(ChatRenderer::StatusLineHtml("<b>&"),
              "* <font color=\"#339933\">&lt;b&gt;&amp;</font>");
}

TEST_F(ChatRendererTest, MeLinesAreStatusLinesLoggedWithAnAsterisk)
{
    // A room trims its lines first, so there "/me" and blanks is no longer an action.
    const struct { Kind kind; const char* text; const char* shown; } l_cases[] = {
        {Kind::Room, "   /me waves   ", "* ann waves"}, {Kind::Private, " /me waves ", "* ann waves"},
        {Kind::Private, "/me    ", "* ann "},           {Kind::Room, "/me    ", "[ann] /me"},
        {Kind::Private, "/me", "[ann] /me"},            {Kind::Room, "/mewaves", "[ann] /mewaves"},
        {Kind::Private, "/ME waves", "[ann] /ME waves"},
    };
    SetSetting("chat_timestamps", "no_timestamps");
    for (const auto& l_case : l_cases)
        {
            m_view.clear();
            ChatRenderer l_renderer(&m_view, l_case.kind, Clock());
            const ChatRenderer::ShownChat l_shown = l_renderer.AddChat("ann", l_case.text);
            EXPECT_EQ(m_view.toPlainText().trimmed(), QString(l_case.shown).trimmed()) << l_case.text;
            EXPECT_EQ(l_shown.isAction, l_case.shown[0] == '*');
            EXPECT_EQ(l_renderer.IsChatActive(), !l_shown.isAction);
            if (l_shown.isAction)
            {
                EXPECT_EQ(l_shown.logLine, QString("[Mar 5 1:04:31 pm] ") + l_case.shown);
            }
        }
}

TEST_F(ChatRendererTest, HttpAddressesBecomeOneLinkEach)
{
    ChatRenderer l_renderer(&m_view, Kind::Room, Clock());
    l_renderer.AddChat("ann", "see http://x.org/a?b=1&c=2. or ftp://x.org/f");
    QStringList l_links;
    for (QTextBlock l_block = m_view.document()->begin(); l_block.isValid(); l_block = l_block.next())
        for (auto l_it = l_block.begin(); !l_it.atEnd(); ++l_it)
            if (l_it.fragment().charFormat().isAnchor())
                l_links << l_it.fragment().charFormat().anchorHref() + " " + l_it.fragment().text();
    EXPECT_EQ(l_links, QStringList{"http://x.org/a?b=1&c=2 http://x.org/a?b=1&c=2"});
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
    m_now = l_first.addSecs(-3600 - 1);
    l_renderer.CheckChatInactivity();
    EXPECT_TRUE(l_renderer.IsChatActive());
    EXPECT_EQ(Lines().last(), "[bob] again");
}

TEST_F(ChatRendererTest, OtherModesClearTheFlagWithoutMarkers)
{
    SetSetting("chat_timestamps", "per_message_short");
    ChatRenderer l_renderer(&m_view, Kind::Room, Clock());
    l_renderer.AddChat("ann", "hello");
    m_now = m_now.addMSecs(300000);
    l_renderer.CheckChatInactivity();
    SetSetting("chat_timestamps", "activity_based");
    l_renderer.AddChat("ann", "back");
    EXPECT_EQ(Lines(), (QStringList{"[13:04:31][ann] hello", "* Chat started Mar 5 1:09:31 pm",
                                    "[ann] back"}));
}

TEST_F(ChatRendererTest, PrivateLinesCarryTheNoticePopup)
{
    const QString l_hundred(100, 'x');
    ChatRenderer l_private(&m_view, Kind::Private, Clock());
    ChatRenderer l_room(&m_view, Kind::Room, Clock());
    EXPECT_EQ(l_private.AddChat("ann", l_hundred).popup, "[ann] " + l_hundred);
    EXPECT_EQ(l_private.AddChat("ann", l_hundred + "y").popup, "[ann] " + l_hundred + " ...");
    EXPECT_EQ(l_private.AddChat("ann", "/me waves").popup, "");
    EXPECT_EQ(l_room.AddChat("ann", "hi").popup, "");
    EXPECT_EQ(l_private.AddChat("ann", " %1 %2 ").logLine, "[Mar 5 1:04:31 pm][ann]  %1 %2 ");
}

// Fills the view with a first paragraph and filler until its HTML source is the given size.
void FillTo(QTextBrowser& i_view, int i_size)
{
    const auto l_build = [&](int i_pad) {
        i_view.clear();
        i_view.append("FIRST");
        for (int l_line = 0; l_line < 900; ++l_line)
            i_view.append(QString(100, 'y'));
        i_view.append(QString(i_pad, 'x'));
    };
    l_build(1);
    l_build(1 + i_size - i_view.toHtml().size());
    ASSERT_EQ(i_view.toHtml().size(), i_size);
}

TEST_F(ChatRendererTest, BothViewsAreCutAboveTheLimit)
{
    SetSetting("chat_timestamps", "no_timestamps");
    for (Kind l_kind : {Kind::Room, Kind::Private})
        for (int l_size : {ChatRenderer::ViewHtmlLimit, ChatRenderer::ViewHtmlLimit + 1})
        {
            FillTo(m_view, l_size);
            ChatRenderer(&m_view, l_kind, Clock()).AddChat("ann", "last");
            const bool l_cut = l_size > ChatRenderer::ViewHtmlLimit;
            EXPECT_EQ(Lines().first() == "FIRST", !l_cut) << l_size;
            EXPECT_EQ(Lines().last(), "[ann] last");
            if (l_cut)
            {
                EXPECT_LT(m_view.toHtml().size(), l_size - ChatRenderer::ViewHtmlCut + 1000);
            }
        }
}
} // namespace
