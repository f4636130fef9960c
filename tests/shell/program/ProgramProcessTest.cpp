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

// A peer asks for 16,000 of our files at once. The window keeps answering while they wait, so a
// request to stop ends the program on its own, its store saved whole.
TEST_F(ProgramProcessTest, WithSixteenThousandUploadsWaitingAStopRequestEndsItOnItsOwnItsStoreSavedWhole)
{
    constexpr int kFiles = 16000;
    const QString l_shared = Home() + "/shared";
    const auto l_local = [&](int i_file) { return l_shared + QString("/folder%1/file%2.mp3").arg(i_file / 500).arg(i_file); };
    for (int l_file = 0; l_file < kFiles; ++l_file)
    {
        if (l_file % 500 == 0)
        {
            ASSERT_TRUE(QDir().mkpath(QFileInfo(l_local(l_file)).path()));
        }
        ASSERT_TRUE(WriteFile(l_local(l_file), "x"));
    }
    m_server.AcceptLogins();
    const quint16 l_port = FakePeer::FreePort();
    ASSERT_TRUE(WriteFile(StorePath(), m_store.Setting("listening_port", QString::number(l_port))
                                           .Setting("obfuscated_listening_port", QString::number(FakePeer::FreePort()))
                                           .Setting("max_queued_uploads_per_user", "99999")
                                           .Valueless("shared_public")
                                           .Link("shared_folder", l_shared, "shared_public", QString())
                                           .Bytes()));
    QProcess l_program;
    Launch(l_program);
    FakePeer l_peer;
    ASSERT_TRUE(QTest::qWaitFor([&] { return l_peer.ConnectTo(l_port); }, 120000));
    l_peer.SendFrame(FakePeer::InitBody("peer", "P"));
    const auto l_remote = [&](int i_file) { return QString(l_local(i_file)).replace('/', '\\'); };
    QByteArray l_requests;
    for (int l_file = 0; l_file < kFiles; ++l_file)
        l_requests += FakePeer::Frame(WireFields().UInt32(43).Text(l_remote(l_file)));
    // Its place in line is asked for last, so its answer comes once every request was taken.
    l_requests += FakePeer::Frame(WireFields().UInt32(51).Text(l_remote(kFiles - 1)));
    l_peer.SendRaw(l_requests);
    const QByteArray l_answer = WireFields().UInt32(44).Text(l_remote(kFiles - 1)).Int32(kFiles).Bytes();
    ASSERT_TRUE(QTest::qWaitFor([&] { return l_peer.Bodies().contains(l_answer); }, 240000));

    l_program.terminate();
    ExpectCleanExit(l_program);
    const QStringList l_links = StoreFile::Links(StoreBytes());
    EXPECT_TRUE(l_links.contains(QString("global=transfer_order_counter~global_value=%1").arg(kFiles + 1)));
    EXPECT_TRUE(l_links.contains("global=max_queued_uploads_per_user~global_value=99999"));
    // Every shared file the uploads asked for is saved with its name.
    QSet<QString> l_names;
    for (const QString& l_link : l_links)
        for (const QString& l_end : l_link.split('~'))
            if (l_end.startsWith("shared_file_name="))
                l_names << l_end;
    EXPECT_EQ(l_names.size(), kFiles);
    int l_missing = 0;
    for (int l_file = 0; l_file < kFiles; ++l_file)
        l_missing += !l_names.contains(QString("shared_file_name=file%1.mp3").arg(l_file));
    EXPECT_EQ(l_missing, 0);
}
