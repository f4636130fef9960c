#pragma once

#include <QDateTime>
#include <QTextBrowser>
#include <gtest/gtest.h>

#include <memory>

#include "server/Server.h"
#include "store/DataSaver.h"
#include "store/Settings.h"
#include "store/TimerManager.h"
#include "support/TestSupport.h"
#include "support/support/ClientSchema.h"
#include "views/chat/ChatRenderer.h"

// The chat views' store as the main window leaves it after start-up, with the setting defaults,
// a home folder of the test's own, and a clock the test sets.
class ChatFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        qputenv("HOME", QByteArray::fromStdString(m_home.Path()));
        mp_timers = std::make_unique<TimerManager>();
        mp_saver = std::make_unique<DataSaver>();
        DeclareSettingsTypes();
        Server::CreateData();
        DeclareChatViewTypes();
        for (const auto& l_default : std::initializer_list<std::pair<const char*, const char*>>{
                                     {"chat_timestamps", "activity_based"},
                                      {"log_room_chat", "yes"}, {"log_private_chat", "yes"},
                                      {"color_chat_username", "#0033ff"},
                                      {"color_chat_timestamp", "#0066ff"},
                                      {"color_chat_status", "#339933"},
                                      {"color_input_background", "#ffffff"},
                                      {"color_input_text", "#000000"}})
            SetSetting(l_default.first, l_default.second);
    }

    void TearDown() override
    {
        mp_saver.reset();
        mp_timers.reset();
    }

    QString Home() const { return QString::fromStdString(m_home.Path()); }

    // 13:04:31 on 5 March: an afternoon hour shows the 12-hour clock and the day's lack of a zero.
    QDateTime m_now{QDate(2026, 3, 5), QTime(13, 4, 31)};
    ChatRenderer::Clock Clock()
    {
        return [this] { return m_now; };
    }

private:
    TemporaryFolder m_home;
    std::unique_ptr<TimerManager> mp_timers;
    std::unique_ptr<DataSaver> mp_saver;
};
