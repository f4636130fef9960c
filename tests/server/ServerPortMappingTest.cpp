#include <gtest/gtest.h>

#include <QStringList>

#include "diagnostics/LogService.h"
#include "diagnostics/LogSink.h"
#include "support/support/ServerFixture.h"

namespace
{
class LineCollector : public LogSink
{
public:
    LineCollector() { logService.InstallSink(this); }
    ~LineCollector() override { logService.RemoveSink(this); }
    void LogLine(const QString& area, const QString& line) override
    {
        lines << area + ": " + line.section("] ", 1);
    }
    int Count(const QString& prefix) const { return lines.filter(QRegExp("^" + prefix)).size(); }
    QStringList lines;
};

class ServerPortMappingTest : public ServerFixture
{
protected:
    // One line ends each mapping; the backend is read only once the worker has answered.
    int Mapped() const { return m_log.Count("Port Forwarding: Port 223[56] (successfully|mapping)"); }
    int Adds() const { return mp_upnp->m_calls.filter(QRegExp("^add")).size(); }
    LineCollector m_log;
};
} // namespace

TEST_F(ServerPortMappingTest, ConnectingDiscoversAndTheFirstLoginMapsBothPorts)
{
    SetSetting("use_upnp", "yes");
    SetSetting("listening_port", "2235");
    SetSetting("obfuscated_listening_port", "2236");
    ASSERT_TRUE(LogIn());
    ASSERT_TRUE(QTest::qWaitFor([&] { return Mapped() == 2; }, 5000))
        << m_log.lines.join("\n").toStdString();
    EXPECT_EQ(Adds(), 2);
    EXPECT_EQ(mp_upnp->m_calls.filter("discover").size(), 1);

    Tick(mp_timers->hourTimer);
    EXPECT_EQ(m_log.Count("server: Renewing UPnP port mapping."), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Mapped() == 4; }, 5000));
    EXPECT_EQ(Adds(), 4);
    EXPECT_EQ(mp_upnp->m_calls.filter("discover").size(), 1);
}

TEST_F(ServerPortMappingTest, WithForwardingOffTheGatewayIsNeverAsked)
{
    SetSetting("use_upnp", "no");
    ASSERT_TRUE(LogIn());
    Tick(mp_timers->hourTimer);
    QTest::qWait(200);
    EXPECT_EQ(m_log.Count("Port Forwarding"), 0);
    EXPECT_EQ(m_log.Count("server: Renewing"), 0);
}
