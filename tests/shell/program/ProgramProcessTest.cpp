#include "ProgramFixture.h"
#include "support/support/FakeWebHost.h"

namespace
{
// The real program in a temporary home, which also holds its lock file.
class ProgramProcessTest : public ProgramFixture
{
protected:
    void Launch(QProcess& io_process)
    {
        QProcessEnvironment l_environment = QProcessEnvironment::systemEnvironment();
        for (const char* l_folder : {"HOME", "XDG_RUNTIME_DIR"})
            l_environment.insert(l_folder, Home());
        l_environment.insert("QT_QPA_PLATFORM", "offscreen");
        // The toolkit keeps some allocations for the life of the process.
        l_environment.insert("LSAN_OPTIONS", "suppressions=" + Home() + "/lsan.supp");
        ASSERT_TRUE(WriteFile(Home() + "/lsan.supp", "leak:libQt5Gui\nleak:libQt5Widgets\n"
                              "leak:libqoffscreen\nleak:libfontconfig\nleak:libQt5Core\n"));
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
};
} // namespace

TEST_F(ProgramProcessTest, LogsInJoinsTakesAPrivateMessageAndSavesOnQuitWhileASecondInstanceEndsAtOnce)
{
    FakeWebHost l_web;
    m_server.AcceptLogins();
    l_web.SetReply(404, QByteArray());
    const QByteArray l_seed = m_store.Setting("web_port", QString::number(l_web.Port()))
                                  .Setting("listening_port", QString::number(FakePeer::FreePort()))
                                  .Setting("obfuscated_listening_port", QString::number(FakePeer::FreePort()))
                                  .AutojoinRoom("lobby")
                                  .Bytes();
    ASSERT_TRUE(WriteFile(StorePath(), l_seed));
    QProcess l_program, l_second;
    Launch(l_program);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_server.FramesWithCode(14).isEmpty(); }, 60000));
    EXPECT_EQ(m_server.FramesWithCode(1).size(), 1);
    EXPECT_TRUE(m_server.FramesWithCode(14)[0].fields.startsWith(WireFields().Text("lobby")));
    EXPECT_TRUE(l_web.WaitForRequests(1, 30000));
    Launch(l_second);
    ExpectCleanExit(l_second);
    EXPECT_EQ(StoreBytes(), l_seed);
    EXPECT_EQ(m_server.ConnectionCount(), 1);
    // The message opens a chat tab for its sender, which follows the sender and logs the line.
    m_server.SendFrame(22, WireFields().Int32(1).Int32(0).Text("ann").Text("hi").Byte(0));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_server.FramesWithCode(5).isEmpty(); }, 60000));
    EXPECT_EQ(m_server.FramesWithCode(5)[0].fields, WireFields().Text("ann").Bytes());
    l_program.terminate();
    ExpectCleanExit(l_program);
    EXPECT_TRUE(StoreBytes().contains("data_version") && StoreBytes().contains("lobby"));
    QFile l_log(Home() + "/Tarnwick Chat Logs/Users/ann.log");
    ASSERT_TRUE(l_log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(l_log.readAll().endsWith("][ann] hi\n"));
}
