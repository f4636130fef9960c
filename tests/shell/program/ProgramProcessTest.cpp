#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

#include <gtest/gtest.h>

#include "support/TestSupport.h"
#include "support/support/FakeCentralServer.h"
#include "support/support/FakePeer.h"
#include "support/support/FakeWebHost.h"
#include "support/support/StoreFile.h"

namespace
{
// The real program in a temporary home whose store points it at the fake central server and
// web host and keeps UPnP off; its lock file lives in that home too.
class ProgramProcessTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_server.AcceptLogins();
        m_web.SetReply(404, QByteArray());
        m_seed = StoreFile()
                     .Setting("use_upnp", "no")
                     .Setting("server_host", "127.0.0.1")
                     .Setting("server_port", QString::number(m_server.Port()))
                     .Setting("web_host", "127.0.0.1")
                     .Setting("web_port", QString::number(m_web.Port()))
                     .Setting("username", "smoke")
                     .Setting("password", "test")
                     .Setting("listening_port", QString::number(FakePeer::FreePort()))
                     .Setting("obfuscated_listening_port", QString::number(FakePeer::FreePort()))
                     .AutojoinRoom("lobby")
                     .Bytes();
        QFile l_store(StorePath());
        ASSERT_TRUE(l_store.open(QIODevice::WriteOnly));
        l_store.write(m_seed);
        l_store.close();
        // The toolkit keeps some allocations for the life of the process.
        QFile l_suppressions(QString::fromStdString(m_home.File("lsan.supp")));
        ASSERT_TRUE(l_suppressions.open(QIODevice::WriteOnly));
        l_suppressions.write("leak:libQt5Gui\nleak:libQt5Widgets\nleak:libqoffscreen\n"
                             "leak:libfontconfig\nleak:libQt5Core\n");
    }

    void Launch(QProcess& io_process)
    {
        QProcessEnvironment l_environment = QProcessEnvironment::systemEnvironment();
        const QString l_home = QString::fromStdString(m_home.Path());
        l_environment.insert("HOME", l_home);
        l_environment.insert("XDG_RUNTIME_DIR", l_home);
        l_environment.insert("QT_QPA_PLATFORM", "offscreen");
        l_environment.insert("LSAN_OPTIONS", "suppressions=" + l_home + "/lsan.supp");
        io_process.setProcessEnvironment(l_environment);
        io_process.setProcessChannelMode(QProcess::ForwardedChannels);
        io_process.start(TARNWICK_PROGRAM, QStringList());
        ASSERT_TRUE(io_process.waitForStarted());
    }

    static void ExpectCleanExit(QProcess& io_process)
    {
        ASSERT_TRUE(io_process.waitForFinished(60000));
        EXPECT_EQ(io_process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(io_process.exitCode(), 0);
    }

    QString StorePath() const { return QString::fromStdString(m_home.File(".Tarnwick")); }
    QByteArray StoreBytes() const
    {
        QFile l_file(StorePath());
        return l_file.open(QIODevice::ReadOnly) ? l_file.readAll() : QByteArray();
    }

    TemporaryFolder m_home;
    FakeCentralServer m_server;
    FakeWebHost m_web;
    QByteArray m_seed;
};
} // namespace

TEST_F(ProgramProcessTest, LogsInJoinsItsAutojoinRoomTakesAPrivateMessageAndSavesWhenAskedToQuit)
{
    QProcess l_program;
    Launch(l_program);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_server.FramesWithCode(14).isEmpty(); }, 60000));
    EXPECT_EQ(m_server.FramesWithCode(1).size(), 1);
    EXPECT_TRUE(m_server.FramesWithCode(14)[0].fields.startsWith(WireFields().Text("lobby")));
    EXPECT_TRUE(m_web.WaitForRequests(1, 30000));
    // The message opens a chat tab for its sender, which follows the sender and logs the line.
    m_server.SendFrame(22, WireFields().Int32(1).Int32(0).Text("ann").Text("hi").Byte(0));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_server.FramesWithCode(5).isEmpty(); }, 60000));
    EXPECT_EQ(m_server.FramesWithCode(5)[0].fields, WireFields().Text("ann").Bytes());

    l_program.terminate();
    ExpectCleanExit(l_program);
    const QByteArray l_saved = StoreBytes();
    EXPECT_TRUE(l_saved.contains("data_version"));
    EXPECT_TRUE(l_saved.contains("lobby"));
    QFile l_log(QString::fromStdString(m_home.File("Tarnwick Chat Logs/Users/ann.log")));
    ASSERT_TRUE(l_log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(l_log.readAll().endsWith("][ann] hi\n"));
}

TEST_F(ProgramProcessTest, SecondInstanceEndsAtOnceAndLeavesTheStoreAlone)
{
    QProcess l_first;
    Launch(l_first);
    ASSERT_TRUE(m_server.WaitForFrames(1, 60000));

    QProcess l_second;
    Launch(l_second);
    ExpectCleanExit(l_second);
    EXPECT_EQ(StoreBytes(), m_seed);
    EXPECT_EQ(m_server.ConnectionCount(), 1);

    l_first.terminate();
    ExpectCleanExit(l_first);
}
