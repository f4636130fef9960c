#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QSet>
#include <QTextEdit>

#include "ChatFixture.h"
#include "store/Data.h"
#include "views/chat/ChatLog.h"
#include "views/chat/ChatLogForm.h"

namespace
{
using Kind = ChatLog::Kind;

class ChatLogTest : public ChatFixture
{
protected:
    static QByteArray Bytes(const QString& i_path)
    {
        QFile l_file(i_path);
        return l_file.open(QIODevice::ReadOnly) ? l_file.readAll() : QByteArray("(none)");
    }
    // A viewer recorded as open for the room or user, as the openers record it.
    static ChatLogForm* OpenViewer(Kind i_kind, const QString& i_name)
    {
        auto* lp_form = new ChatLogForm(ChatLog::Path(i_kind, i_name));
        d.GetType(i_kind == Kind::Room ? "room" : "user")->GetItem(i_name) +=
            d.GetType("chat_log_form")->GetItem(Value(lp_form));
        return lp_form;
    }
    static QString Shown(ChatLogForm* ip_form)
    {
        return ip_form->findChild<QTextEdit*>("logEdit")->toPlainText();
    }
};

TEST_F(ChatLogTest, WritesUtf8LinesOnlyWhileItsSettingIsYes)
{
    const struct { Kind kind; const char* key; const char* folder; } l_cases[] = {
        {Kind::Room, "log_room_chat", "/Tarnwick Chat Logs/Rooms/"},
        {Kind::User, "log_private_chat", "/Tarnwick Chat Logs/Users/"},
    };
    for (const auto& l_case : l_cases)
    {
        const QString l_path = Home() + l_case.folder + "Zoë's.log";
        ASSERT_EQ(ChatLog::Path(l_case.kind, "Zoë's"), l_path);
        std::unique_ptr<ChatLogForm> lp_viewer(OpenViewer(l_case.kind, "Zoë's"));
        SetSetting(l_case.key, "no");
        ChatLog::Write(l_case.kind, "Zoë's", "[Mar 5 1:04:31 pm][zoë] unseen");
        EXPECT_FALSE(QFileInfo::exists(l_path));
        SetSetting(l_case.key, "yes");
        ChatLog::Write(l_case.kind, "Zoë's", "[Mar 5 1:04:31 pm][zoë] héllo");
        ChatLog::Write(l_case.kind, "Zoë's", "two\nlines");
        EXPECT_EQ(Bytes(l_path), "[Mar 5 1:04:31 pm][zo\xc3\xab] h\xc3\xa9llo\ntwo\nlines\n");
        EXPECT_EQ(Shown(lp_viewer.get()), "[Mar 5 1:04:31 pm][zoë] héllo\ntwo\nlines");
    }
}

TEST_F(ChatLogTest, NamesKeepTheirFileUnlessTheyCouldLeaveOrHideIt)
{
    for (const QString& l_name : QStringList{"ann", "Some Room", "ünï", "a~b", "%2fx", "x.", QString(200, 'n')})
        EXPECT_EQ(ChatLog::FileName(l_name), l_name + ".log");

    const QString l_long(300, 'n');
    const QStringList l_hostile = {"../x", "a/b", "..", ".", "\\x", "x\ny", "/etc/passwd",
                                   ".hidden", "/x", "%2fx/", ".%2fx", "a~b/", l_long,
                                   l_long + "/", l_long + "m", QString(201, 'n'),
                                   QString(120, QChar(0x00e9)), QString(QChar(0xd800))};
    QSet<QString> l_files = {"ann.log", "a~b.log", "%2fx.log", QString(200, 'n') + ".log"};
    const QString l_folder = QDir(ChatLog::Folder(Kind::Room)).absolutePath();
    for (const QString& l_name : l_hostile)
    {
        const QString l_file = ChatLog::FileName(l_name);
        l_files << l_file;
        EXPECT_LE(l_file.toUtf8().size(), 255) << l_name.left(20).toStdString();
        ChatLog::Write(Kind::Room, l_name, "line");
        const QFileInfo l_info(ChatLog::Path(Kind::Room, l_name));
        EXPECT_EQ(l_info.absolutePath(), l_folder) << l_name.left(20).toStdString();
        EXPECT_EQ(Bytes(l_info.filePath()), "line\n") << l_name.left(20).toStdString();
    }
    EXPECT_EQ(l_files.size(), l_hostile.size() + 4);
    EXPECT_EQ(QDir(Home()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{"Tarnwick Chat Logs"});
}

TEST_F(ChatLogTest, TheViewerShowsLinesAsPlainTextInPieces)
{
    ChatLog::Write(Kind::User, "ann", "<b>x</b> <img src=\"y\">");
    ChatLog::Write(Kind::User, "ann", QString(70000, 'z'));
    std::unique_ptr<ChatLogForm> lp_viewer(OpenViewer(Kind::User, "ann"));
    ChatLog::Write(Kind::User, "ann", "  <i>late</i>  ");
    const QStringList l_lines = Shown(lp_viewer.get()).split('\n');
    EXPECT_EQ(l_lines, (QStringList{"<b>x</b> <img src=\"y\">", QString(65535, 'z'),
                                    QString(70000 - 65535, 'z'), "<i>late</i>"}));
    EXPECT_EQ(lp_viewer->Path(), ChatLog::Path(Kind::User, "ann"));

    // Closing the viewer ends its record, so the next line reaches only the file.
    lp_viewer.reset();
    EXPECT_FALSE(d.GetType("user")->GetItem("ann")["chat_log_form"]);
    ChatLog::Write(Kind::User, "ann", "after");
}
} // namespace
