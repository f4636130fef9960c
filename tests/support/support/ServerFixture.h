#pragma once

#include <QSignalSpy>
#include <QTimer>
#include <gtest/gtest.h>

#include "server/Server.h"
#include "store/DataSaver.h"
#include "store/Settings.h"
#include "store/TimerManager.h"
#include "support/support/ClientSchema.h"
#include "support/support/FakeCentralServer.h"
#include "support/support/FakeUpnpBackend.h"

// The start-up order the server link relies on: timers and data saver, the link, the settings
// types, then the link's own schema. The link is pointed at a fake central server.
class ServerFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        mp_timers = std::make_unique<TimerManager>();
        mp_saver = std::make_unique<DataSaver>();
        mp_server = std::make_unique<Server>(std::unique_ptr<FakeUpnpBackend>(mp_upnp = new FakeUpnpBackend));
        DeclareSettingsTypes();
        Server::CreateData();
        SetSetting("server_host", "127.0.0.1");
        SetSetting("server_port", QString::number(m_fake.Port()));
    }
    static void SetSetting(const char* i_key, const QString& i_value) { ::SetSetting(i_key, i_value); }
    static QString Setting(const char* i_key) { return GetSetting(i_key); }
    // The shared timer's tick, without waiting for it.
    static void Tick(QTimer* ip_timer) { QMetaObject::invokeMethod(ip_timer, "timeout"); }

    // Connects (as anna unless a user is set) and waits for the accepted login.
    ::testing::AssertionResult LogIn()
    {
        if (Setting("username").isEmpty())
        {
            SetSetting("username", "anna");
            SetSetting("password", "secret");
        }
        m_fake.AcceptLogins();
        QSignalSpy l_connected(mp_server.get(), &Server::Connected);
        mp_server->Connect();
        const bool l_accepted = QTest::qWaitFor([&] { return l_connected.count() == 1; }, 5000);
        return ::testing::AssertionResult(l_accepted) << "no accepted login";
    }

    // Sends a keep-alive, forced, and waits for it: whatever was sent before it has arrived.
    void Fence()
    {
        const int l_fences = m_fake.FramesWithCode(32).size();
        MemStream l_keepAlive;
        l_keepAlive.Write(qint32(32));
        mp_server->SendMessage(l_keepAlive, true);
        EXPECT_TRUE(QTest::qWaitFor([&] { return m_fake.FramesWithCode(32).size() > l_fences; }, 5000));
    }

    // Every frame sent so far but logins and keep-alives, behind a fence.
    QList<FakeCentralServer::Frame> SentFrames()
    {
        Fence();
        QList<FakeCentralServer::Frame> l_frames;
        for (const FakeCentralServer::Frame& l_frame : m_fake.Frames())
            if (l_frame.code != 1 && l_frame.code != 32)
                l_frames.append(l_frame);
        return l_frames;
    }

    FakeCentralServer m_fake;
    // Destroyed in the reverse of the start-up order.
    std::unique_ptr<TimerManager> mp_timers;
    std::unique_ptr<DataSaver> mp_saver;
    std::unique_ptr<Server> mp_server;
    // Owned by the server's port forwarder; read only once its answers are back.
    FakeUpnpBackend* mp_upnp = nullptr;
};
