#pragma once

#include <QTextBrowser>
#include <gtest/gtest.h>

#include "server/Server.h"
#include "store/DataSaver.h"
#include "store/Settings.h"
#include "store/TimerManager.h"
#include "support/TestSupport.h"
#include "support/support/ClientSchema.h"
#include "views/chat/ChatRenderer.h"

// The settings the chat views read, at the values start-up writes.
inline void WriteChatSettingDefaults()
{
    for (const char* l_pair : {"chat_timestamps=activity_based", "log_room_chat=yes",
                               "log_private_chat=yes", "color_chat_username=#0033ff",
                               "color_chat_timestamp=#0066ff", "color_chat_status=#339933",
                               "color_input_background=#ffffff", "color_input_text=#000000"})
        SetSetting(QString(l_pair).section('=', 0, 0), QString(l_pair).section('=', 1));
}

// The chat views' store as start-up leaves it, with the setting defaults, a home folder of the
// test's own, and a clock the test sets: 13:04:31 shows the 12-hour clock and a day without zero.
class ChatFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        qputenv("HOME", QByteArray::fromStdString(m_home.Path()));
        DeclareSettingsTypes();
        Server::CreateData();
        DeclareChatViewTypes();
        WriteChatSettingDefaults();
    }

    ChatRenderer::Clock Clock()
    {
        return [this] { return m_now; };
    }
    QDateTime m_now{QDate(2026, 3, 5), QTime(13, 4, 31)};

private:
    TemporaryFolder m_home;
    TimerManager m_timers;
    DataSaver m_saver;
};
