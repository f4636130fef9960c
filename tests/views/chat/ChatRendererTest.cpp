#include <QScrollBar>

#include <tuple>

#include "ChatFixture.h"
#include "store/GeneralFunctions.h"

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

// The ceiling as it was first written: the whole source exported for every chat line, and its
// kept part parsed again at a cut. Status lines never met the ceiling.
void AppendByExport(QTextBrowser& io_view, const QString& i_html)
{
    const QString l_source = io_view.toHtml();
    if (l_source.size() <= ChatRenderer::ViewHtmlLimit)
    {
        io_view.append(ConvertLinks(i_html));
        return;
    }
    QString l_kept = l_source.mid(ChatRenderer::ViewHtmlCut);
    const int l_feed = l_kept.indexOf(QLatin1Char('\n'));
    if (l_feed >= 0)
        l_kept.remove(0, l_feed + 1);
    io_view.setUpdatesEnabled(false);
    io_view.clear();
    io_view.append(l_kept);
    io_view.append(ConvertLinks(i_html));
    io_view.setUpdatesEnabled(true);
}

// Lines of many lengths, some longer than the part a cut drops, with links, markup to escape,
// letters beyond Latin-1, paragraph breaks and characters the document keeps as objects, shown
// and hidden, with the reader's selection and scrolling in the way: the renderer's view must be
// the one that exporting the source for every line gives, line for line.
TEST_F(ChatRendererTest, CutsAtTheSameLineAsExportingTheSourceForEveryLine)
{
    SetSetting("chat_timestamps", "per_message_long");
    const int l_lengths[] = {1, 120, 2400, 90, 6000, 700, 52000, 40, 3000, 30, 300, 4000};
    const QString l_pieces[] = {"word ", "http://example.org/x?a=1&b=2 ", "<b>not bold</b> ", "caf\u00e9 ", "\u0142\u00f3d\u017a ",
                                "\U0001F600 ", "a\u2029b ", "tab\tand  spaces ", "\"q\" & ", "\u2028", "obj\uFFFC ", "\uFDD0frame "};
    for (const bool l_shown : {true, false})
    {
        QTextBrowser l_reference;
        QTextBrowser l_view;
        for (QTextBrowser* lp_view : {&l_reference, &l_view})
        {
            lp_view->resize(400, 300);
            lp_view->setVisible(l_shown);
        }
        ChatRenderer l_renderer(&l_view, Kind::Room, Clock());
        int l_cuts = 0;
        for (int l_line = 0; l_line < (l_shown ? 90 : 50); ++l_line)
        {
            const int l_length = l_lengths[l_line % std::size(l_lengths)];
            // Objects and frames only now and then, so that most cuts keep plain lines.
            const int l_kinds = l_line % 23 == 22 ? 12 : 10;
            QString l_text;
            for (int l_piece = 0; l_text.size() < l_length; ++l_piece)
                l_text += l_pieces[(l_line * 7 + l_piece * 3) % l_kinds];
            l_text.truncate(l_length);
            if (l_line % 29 == 5)
                for (QTextBrowser* lp_view : {&l_reference, &l_view})
                {
                    QTextCursor l_selection(lp_view->document());
                    l_selection.setPosition(lp_view->document()->characterCount() / 3);
                    l_selection.setPosition(lp_view->document()->characterCount() / 2, QTextCursor::KeepAnchor);
                    lp_view->setTextCursor(l_selection);
                    lp_view->verticalScrollBar()->setValue(lp_view->verticalScrollBar()->maximum() / 4);
                }
            const int l_blocks = l_reference.document()->blockCount();
            if (l_line % 11 == 3)
            {
                l_reference.append(ConvertLinks(ChatRenderer::StatusLineHtml(l_text)));
                l_renderer.AddStatusMessage(l_text);
            }
            else
            {
                AppendByExport(l_reference, ChatRenderer::ChatLineHtml("per_message_long", m_now, "ann", l_text.trimmed()));
                l_renderer.AddChat("ann", l_text);
            }
            l_cuts += l_reference.document()->blockCount() < l_blocks;
            QCoreApplication::processEvents();
            ASSERT_EQ(l_view.document()->blockCount(), l_reference.document()->blockCount()) << l_line;
            ASSERT_EQ(l_view.toPlainText(), l_reference.toPlainText()) << l_line;
            EXPECT_EQ(l_view.textCursor().position(), l_reference.textCursor().position()) << l_line;
            EXPECT_EQ(l_view.textCursor().anchor(), l_reference.textCursor().anchor()) << l_line;
            EXPECT_EQ(l_view.verticalScrollBar()->value(), l_reference.verticalScrollBar()->value()) << l_line;
            if (l_line % 10 == 0)
            {
                ASSERT_EQ(l_view.toHtml(), l_reference.toHtml()) << l_line;
            }
        }
        EXPECT_EQ(l_view.toHtml(), l_reference.toHtml());
        EXPECT_GE(l_cuts, l_shown ? 12 : 5) << l_shown;
    }
}
} // namespace
