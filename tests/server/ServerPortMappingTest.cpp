#include <gtest/gtest.h>

#include <QRegExp>
#include <QTest>

#include "support/support/LogLines.h"
#include "support/support/ServerFixture.h"

namespace
{
class ServerPortMappingTest : public ServerFixture
{
protected:
    // One line ends each mapping; the backend is read only once the worker has answered.
    int Mapped() const { return m_log.Count("Port Forwarding: Port 223[56] (successfully|mapping)"); }
    int Calls(const char* i_pattern) const { return mp_upnp->m_calls.filter(QRegExp(i_pattern)).size(); }
    LogLines m_log;
};

TEST_F(ServerPortMappingTest, ConnectingDiscoversOnceAndEveryHourRemapsBothPorts)
{
    SetSetting("use_upnp", "yes");
    SetSetting("listening_port", "2235");
    SetSetting("obfuscated_listening_port", "2236");
    ASSERT_TRUE(LogIn());
    ASSERT_TRUE(QTest::qWaitFor([&] { return Mapped() == 2; }, 5000)) << m_log.m_lines.join("\n").toStdString();
    EXPECT_EQ(Calls("^add"), 2);

    Tick(mp_timers->hourTimer);
    EXPECT_EQ(m_log.Count("server: Renewing UPnP port mapping."), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Mapped() == 4; }, 5000));
    EXPECT_EQ(Calls("^add"), 4);
    EXPECT_EQ(Calls("^discover"), 1);
}

TEST_F(ServerPortMappingTest, ForwardingIsOnByDefaultAndOffMeansTheGatewayIsNeverAsked)
{
    mp_saver->EmitDataLoaded();
    EXPECT_EQ(Setting("use_upnp"), "yes");
    SetSetting("use_upnp", "no");
    mp_saver->EmitDataLoaded();
    EXPECT_EQ(Setting("use_upnp"), "no");

    ASSERT_TRUE(LogIn());
    Tick(mp_timers->hourTimer);
    EXPECT_EQ(m_log.Count("server: Renewing"), 0);
    // The gateway is asked on the worker; a keep-alive round trip later nothing has gone to it.
    Fence();
    EXPECT_EQ(m_log.Count("Port Forwarding"), 0);
}
} // namespace
