#include <tuple>

#include "ChatFixture.h"
#include "shell/ActionSetToolBar.h"
#include "views/chat/ChatLog.h"
#include "views/chat/ChatLogForm.h"

namespace
{
using Kind = ChatLog::Kind;

// Message boxes are answered No unless the test queues a Yes; opened addresses are recorded.
class ChatLogTest : public ChatFixture, protected FakeDesktop
{
protected:
    // A viewer of the log, recorded as open for the room or user as the openers record it.
    ChatLogForm& Open(Kind i_kind, const QString& i_name)
    {
        mp_form = std::make_unique<ChatLogForm>(ChatLog::Path(i_kind, i_name));
        d.GetType(i_kind == Kind::Room ? "room" : "user")->GetItem(i_name) +=
            d.GetType("chat_log_form")->GetItem(Value(mp_form.get()));
        mp_edit = mp_form->findChild<QTextEdit*>("logEdit");
        mp_back = mp_form->findChild<QPushButton*>("searchBackButton");
        mp_forward = mp_form->findChild<QPushButton*>("searchForwardButton");
        return *mp_form;
    }
    void Type(const QString& i_text) { mp_form->findChild<QLineEdit*>("searchEdit")->setText(i_text); }

    // The highlighted range as "start+length", then "<" and ">" for the enabled buttons.
    QString State()
    {
        QString l_state;
        for (const QTextEdit::ExtraSelection& l_mark : mp_edit->extraSelections())
            l_state += QString("%1+%2 ").arg(l_mark.cursor.selectionStart()).arg(l_mark.cursor.selectedText().size());
        return l_state + (mp_back->isEnabled() ? "<" : "") + (mp_forward->isEnabled() ? ">" : "");
    }

    std::unique_ptr<ChatLogForm> mp_form;
    QTextEdit* mp_edit = nullptr;
    QPushButton* mp_back = nullptr;
    QPushButton* mp_forward = nullptr;
};

TEST_F(ChatLogTest, WritesUtf8LinesOnlyWhileItsSettingIsYes)
{
    const std::tuple<Kind, const char*, const char*> l_cases[] = {{Kind::Room, "log_room_chat", "Rooms"},
                                                                  {Kind::User, "log_private_chat", "Users"}};
    for (const auto& [l_kind, l_key, l_folder] : l_cases)
    {
        const QString l_path = QDir::homePath() + "/Tarnwick Chat Logs/" + l_folder + "/Zoë's.log";
        ASSERT_EQ(ChatLog::Path(l_kind, "Zoë's"), l_path);
        Open(l_kind, "Zoë's");
        SetSetting(l_key, "no");
        ChatLog::Write(l_kind, "Zoë's", "unseen");
        EXPECT_EQ(FileBytes(l_path), "(none)");
        SetSetting(l_key, "yes");
        ChatLog::Write(l_kind, "Zoë's", "[Mar 5 1:04:31 pm][zoë] héllo");
        ChatLog::Write(l_kind, "Zoë's", "two\nlines");
        EXPECT_EQ(FileBytes(l_path), "[Mar 5 1:04:31 pm][zo\xc3\xab] h\xc3\xa9llo\ntwo\nlines\n");
        EXPECT_EQ(mp_edit->toPlainText(), "[Mar 5 1:04:31 pm][zoë] héllo\ntwo\nlines");
    }
}

TEST_F(ChatLogTest, NamesKeepTheirFileUnlessTheyCouldLeaveOrHideIt)
{
    const QStringList l_safe = QString("ann|Some Room|ünï|a~b|%2fx|x.|" + QString(251, 'n')).split('|');
    QSet<QString> l_files;
    for (const QString& l_name : l_safe)
        EXPECT_EQ(*l_files.insert(ChatLog::FileName(l_name)), l_name + ".log");

    const QString l_long(300, 'n');
    const QStringList l_hostile =
        QString("../x|a/b|..|.|\\x|x\ny|/etc/passwd|.hidden|/x|%2fx/|.%2fx|a~b/").split('|') +
        QStringList{l_long, l_long + "/", l_long + "m", QString(252, 'n'),
                    QString(130, QChar(0xe9)), QString(100, '/'), QString(QChar(0xd800))};
    const QString l_folder = QDir(ChatLog::Folder(Kind::Room)).absolutePath();
    for (const QString& l_name : l_hostile)
    {
        const QString l_file = *l_files.insert(ChatLog::FileName(l_name));
        ChatLog::Write(Kind::Room, l_name, "line");
        EXPECT_EQ(QFileInfo(l_folder + "/" + l_file).absolutePath(), l_folder) << l_file.toStdString();
        EXPECT_EQ(FileBytes(l_folder + "/" + l_file), "line\n") << l_file.toStdString();
    }
    // No two names share a file, and nothing was written beside the logs' own folder.
    EXPECT_EQ(l_files.size(), l_safe.size() + l_hostile.size());
    EXPECT_EQ(QDir::home().entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"Tarnwick Chat Logs"});
}

TEST_F(ChatLogTest, TheViewerShowsLinesAsPlainTextInPieces)
{
    ChatLog::Write(Kind::User, "ann", "<b>x</b> <img src=\"y\">");
    ChatLog::Write(Kind::User, "ann", QString(70000, 'z'));
    Open(Kind::User, "ann");
    ChatLog::Write(Kind::User, "ann", "  <i>late</i>  ");
    EXPECT_EQ(mp_edit->toPlainText().split('\n'), (QStringList{"<b>x</b> <img src=\"y\">", QString(65535, 'z'),
                                                             QString(70000 - 65535, 'z'), "<i>late</i>"}));

    // Closing the viewer ends its record, so the next line reaches only the file.
    mp_form.reset();
    EXPECT_FALSE(d.GetType("user")->GetItem("ann")["chat_log_form"]);
}

TEST_F(ChatLogTest, FindHighlightsMatchesAndSetsTheButtons)
{
    // "alpha" at 0, 11 and 23 in any case; "aa" at 29 and 30.
    for (const char* l_line : {"alpha", "beta ALPHA", "gamma alpha", "aaa"})
        ChatLog::Write(Kind::Room, "lobby", l_line);
    Open(Kind::Room, "lobby");
    RunSteps([&] { return QStringList{State()}; },
             {
                 {[&] { Type("Alpha"); }, {"0+5 >"}},
                 {[&] { mp_forward->click(); }, {"11+5 <>"}},
                 {[&] { mp_forward->click(); }, {"23+5 <"}},
                 {[&] { mp_form->OnSearchForward(); }, {"23+5 <"}},
                 {[&] { mp_back->click(); }, {"11+5 <>"}},
                 {[&] { Type("aa"); }, {"29+2 >"}},
                 {[&] { Type("zzz"); }, {""}},
                 {[&] { Type("beta"); }, {"6+4 "}},
                 {[&] { Type(""); }, {""}},
             });
    // The input field's colours, reversed.
    Type("beta");
    const QTextCharFormat l_mark = mp_edit->extraSelections().at(0).format;
    EXPECT_EQ(l_mark.foreground().color().name() + l_mark.background().color().name(), "#ffffff#000000");
}

TEST_F(ChatLogTest, ToolbarActionsActOnThisViewersLogOnly)
{
    ActionSetToolBar l_bar;
    const QString l_path = ChatLog::Path(Kind::Room, "lobby");
    ChatLog::Write(Kind::Room, "lobby", "one");
    ChatLogForm& l_form = Open(Kind::Room, "lobby");
    const auto l_state = [&] { return FileBytes(l_path) + mp_edit->toPlainText().toUtf8(); };
    emit l_bar.ActionTriggered(nullptr, "clear_chat_log");
    emit l_bar.ActionTriggered(&l_form, "clear_chat_log");
    EXPECT_EQ(l_state(), "one\none");
    m_answers << QMessageBox::Yes;
    emit l_bar.ActionTriggered(&l_form, "clear_chat_log");
    EXPECT_EQ(l_state(), "(none)");
    ChatLog::Write(Kind::Room, "lobby", "two");
    EXPECT_EQ(l_state(), "two\ntwo");
    emit l_bar.ActionTriggered(&l_form, "open_log_folder");
    const QString l_asked = "Clear log?: Are you sure you want to erase the contents of this log?";
    EXPECT_EQ(m_boxes, (QStringList{l_asked, l_asked}));
    EXPECT_EQ(m_opened, QStringList(QUrl::fromLocalFile(ChatLog::Folder(Kind::Room)).toString(QUrl::FullyEncoded)));

    // Only a viewer of a readable log is registered for the set.
    const auto l_registered = [](QWidget* ip_form) {
        return d.GetType("toolbar_action_widget")->HasItem(Value(ip_form))["toolbar_action_set"];
    };
    EXPECT_EQ(l_registered(&l_form).AsString(), "chat_log");
    EXPECT_FALSE(l_registered(&Open(Kind::User, "nobody")));
}
} // namespace
