#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTextEdit>

#include "ChatFixture.h"
#include "views/chat/ChatLog.h"
#include "views/chat/ChatLogForm.h"

namespace
{
class ChatLogFormTest : public ChatFixture
{
protected:
    void Open(const QStringList& i_lines)
    {
        for (const QString& l_line : i_lines)
            ChatLog::Write(ChatLog::Kind::Room, "lobby", l_line);
        mp_form = std::make_unique<ChatLogForm>(ChatLog::Path(ChatLog::Kind::Room, "lobby"));
        mp_edit = mp_form->findChild<QTextEdit*>("logEdit");
    }
    void Type(const QString& i_text) { mp_form->findChild<QLineEdit*>("searchEdit")->setText(i_text); }
    void Click(const char* i_button) { mp_form->findChild<QPushButton*>(i_button)->click(); }

    // The highlighted range as "start+length", and which buttons are enabled ("<", ">").
    std::string State() const
    {
        std::string l_state;
        for (const QTextEdit::ExtraSelection& l_mark : mp_edit->extraSelections())
            l_state += std::to_string(l_mark.cursor.selectionStart()) + "+" +
                       std::to_string(l_mark.cursor.selectedText().size()) + " ";
        l_state += mp_form->findChild<QPushButton*>("searchBackButton")->isEnabled() ? "<" : "";
        l_state += mp_form->findChild<QPushButton*>("searchForwardButton")->isEnabled() ? ">" : "";
        return l_state;
    }

    std::unique_ptr<ChatLogForm> mp_form;
    QTextEdit* mp_edit = nullptr;
};

TEST_F(ChatLogFormTest, FindHighlightsMatchesAndSetsTheButtons)
{
    // "alpha" at 0, 11 and 23; "beta" and "bet" once, "aa" twice in a row.
    Open({"alpha", "beta ALPHA", "gamma alpha", "aaa"});
    Type("Alpha");
    EXPECT_EQ(State(), "0+5 >");
    Click("searchForwardButton");
    EXPECT_EQ(State(), "11+5 <>");
    Click("searchForwardButton");
    EXPECT_EQ(State(), "23+5 <");
    mp_form->OnSearchForward();
    EXPECT_EQ(State(), "23+5 <");
    Click("searchBackButton");
    EXPECT_EQ(State(), "11+5 <>");
    Type("aa");
    EXPECT_EQ(State(), "29+2 >");
    Type("zzz");
    EXPECT_EQ(State(), "");
    Type("bet");
    Type("");
    EXPECT_EQ(State(), "");

    const QTextCharFormat l_colours = (Type("beta"), mp_edit->extraSelections().at(0).format);
    EXPECT_EQ(l_colours.foreground().color(), QColor("#ffffff"));
    EXPECT_EQ(l_colours.background().color(), QColor("#000000"));
}

TEST_F(ChatLogFormTest, ClearLogAsksFirstAndTheNextLineStartsAgain)
{
    Open({"one"});
    const QString l_path = ChatLog::Path(ChatLog::Kind::Room, "lobby");
    for (bool l_yes : {false, true})
    {
        mp_form->SetClearConfirmation([l_yes] { return l_yes; });
        mp_form->OnActionTriggered(nullptr, "clear_chat_log");
        EXPECT_TRUE(QFile::exists(l_path));
        mp_form->OnActionTriggered(mp_form.get(), "clear_chat_log");
        EXPECT_EQ(QFile::exists(l_path), !l_yes);
        EXPECT_EQ(mp_edit->toPlainText(), l_yes ? "" : "one");
    }
    ChatLog::Write(ChatLog::Kind::Room, "lobby", "two");
    EXPECT_TRUE(QFile::exists(l_path));
}

TEST_F(ChatLogFormTest, OpenLogFolderShowsTheFolderOfThatLog)
{
    Open({"one"});
    QList<QUrl> l_opened;
    mp_form->SetUrlOpener([&](const QUrl& i_url) { l_opened << i_url; });
    mp_form->OnActionTriggered(mp_form.get(), "user_chat_log");
    mp_form->OnActionTriggered(mp_form.get(), "open_log_folder");
    EXPECT_EQ(l_opened, QList<QUrl>{QUrl::fromLocalFile(ChatLog::Folder(ChatLog::Kind::Room))});

    // A viewer of a log that does not exist yet has no file to act on.
    ChatLogForm l_empty(ChatLog::Path(ChatLog::Kind::User, "nobody"));
    l_empty.SetUrlOpener([&](const QUrl& i_url) { l_opened << i_url; });
    l_empty.OnActionTriggered(&l_empty, "open_log_folder");
    EXPECT_EQ(l_opened.size(), 1);
    EXPECT_EQ(l_empty.Path(), "");
}
} // namespace
