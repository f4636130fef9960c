#pragma once

#include <functional>
#include <vector>

#include "server/Server.h"
#include "shell/ShellFixture.h"
#include "store/DataSaver.h"
#include "store/TimerManager.h"
#include "support/TestSupport.h"
#include "views/chat/ChatRenderer.h"
#include "views/chat/UserNoteDialog.h"

// The settings the chat views read, at the values start-up writes.
inline void WriteChatSettingDefaults()
{
    for (const char* l_pair : {"chat_timestamps=activity_based", "log_room_chat=yes", "log_private_chat=yes",
                               "color_chat_username=#0033ff", "color_chat_timestamp=#0066ff",
                               "color_chat_status=#339933", "color_input_background=#ffffff",
                               "color_input_text=#000000"})
        SetSetting(QString(l_pair).section('=', 0, 0), QString(l_pair).section('=', 1));
}

// What the main window declares for the room views before the store is loaded.
inline void DeclareRoomViewTypes()
{
    DeclareTypes({{"room_form", Primary, false}, {"user_note", Intermediate, false}});
    DeclareRelations({{"room_form", "room", One, One}, {"user", "user_note", Many, One}});
    UserNoteDialog::Init();
}

inline ItemPtr Node(const char* i_type, const QString& i_value) { return d.GetType(i_type)->GetItem(i_value); }

// The resource icon shown, by name: "" for none, "?" for any other.
inline QString IconName(const QIcon& i_icon)
{
    if (i_icon.isNull())
        return QString();
    for (const char* l_name :
         {"online", "offline", "note", "info", "chat", "users", "remove_user", "add_user", "browse", "alert"})
        if (i_icon.pixmap(16).toImage() == QIcon(QString(":/icons/%1_icon").arg(l_name)).pixmap(16).toImage())
            return l_name;
    return "?";
}

// The texts of the actions that have one.
inline QStringList ActionTexts(const QList<QAction*>& i_actions)
{
    QStringList l_texts;
    for (QAction* lp_action : i_actions)
        if (!lp_action->text().isEmpty())
            l_texts << lp_action->text();
    return l_texts;
}

// "text icon" per tab, " *" marking the current one.
inline QStringList TabTexts(const QTabWidget* ip_tabs)
{
    QStringList l_tabs;
    for (int l_index = 0; l_index < ip_tabs->count(); ++l_index)
        l_tabs << ip_tabs->tabText(l_index) + " " + IconName(ip_tabs->tabIcon(l_index)) +
                      (l_index == ip_tabs->currentIndex() ? " *" : "");
    return l_tabs;
}

// A file's bytes, or "(none)" when it cannot be read.
inline QByteArray FileBytes(const QString& i_path)
{
    QFile l_file(i_path);
    return l_file.open(QIODevice::ReadOnly) ? l_file.readAll() : QByteArray("(none)");
}

// Return pressed in the form's chat field on the text given; what the field holds afterwards.
inline QString PressReturn(QWidget* ip_form, const QString& i_text)
{
    auto* lp_edit = ip_form->findChild<QLineEdit*>("chatEdit");
    lp_edit->setText(i_text);
    QTest::keyClick(lp_edit, Qt::Key_Return);
    return lp_edit->text();
}

// The paragraphs of a chat view or log viewer inside the form.
inline QStringList ViewLines(const QWidget* ip_form, const char* i_view = "chatView")
{
    return ip_form->findChild<QTextEdit*>(i_view)->toPlainText().split('\n');
}

// Each step's action, then the state it must leave; posted events (such as a pending sort) are
// handled in between.
using Step = std::pair<std::function<void()>, QStringList>;
inline void RunSteps(const std::function<QStringList()>& i_state, const std::vector<Step>& i_steps)
{
    for (const Step& l_step : i_steps)
    {
        l_step.first();
        QCoreApplication::sendPostedEvents();
        EXPECT_EQ(i_state(), l_step.second) << "step " << &l_step - i_steps.data();
    }
}

// The chat views' store as start-up leaves it, with the room views' types, the setting defaults, a
// home folder of the test's own, and a clock the test sets: 13:04:31 shows the 12-hour clock and a
// day without zero.
class ChatFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        qputenv("HOME", QByteArray::fromStdString(m_home.Path()));
        DeclareSettingsTypes();
        Server::CreateData();
        DeclareChatViewTypes();
        DeclareRoomViewTypes();
        WriteChatSettingDefaults();
    }

    ChatRenderer::Clock Clock() { return [this] { return m_now; }; }
    QDateTime m_now{QDate(2026, 3, 5), QTime(13, 4, 31)};

private:
    TemporaryFolder m_home;
    TimerManager m_timers;
    DataSaver m_saver;
};
