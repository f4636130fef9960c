#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

#include "support/support/FakeCentralHub.h"
#include "support/support/HeadlessClient.h"

// alice shares a folder at 512 KiB/s; bob finds a file of it by a search and fetches it, is
// killed half-way, asks for it again by its remote path and resumes from his partial file.
TEST(EndToEnd, AFoundFileArrivesWholeAfterARestart)
{
    FakeCentralHub l_hub;
    QTemporaryDir l_root;
    const QString l_share = l_root.filePath("Music");
    ASSERT_TRUE(QDir().mkpath(l_share) && QDir().mkpath(l_root.filePath("alice")) && QDir().mkpath(l_root.filePath("bob")));
    QByteArray l_song(3 << 20, '\0');
    QRandomGenerator(18).fillRange(reinterpret_cast<quint32*>(l_song.data()), l_song.size() / 4);
    QFile l_file(l_share + "/song.bin");
    ASSERT_TRUE(l_file.open(QIODevice::WriteOnly) && l_file.write(l_song) == l_song.size());
    l_file.close();
    const QString l_remoteFolder = QString(l_share).replace('/', '\\'), l_size = QString::number(l_song.size());
    const auto l_client = [&](const QString& i_user, const QStringList& i_arguments) {
        return std::make_unique<HeadlessClient>(l_root.filePath(i_user), QStringList{"--user", i_user} + i_arguments, l_hub.Port());
    };
    const QString l_partial = l_root.filePath("bob/downloads/downloading/Music/song.bin");

    auto lp_alice = l_client("alice", {"--share", l_share, "--limit", "512"});
    ASSERT_TRUE(lp_alice->Says("online"));
    auto lp_bob = l_client("bob", {"--search", "SONG"});
    ASSERT_TRUE(lp_bob->Says(QString("result alice %1\\song.bin %2").arg(l_remoteFolder, l_size)));
    ASSERT_TRUE(lp_bob->Says("status song.bin downloading"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo(l_partial).size() >= l_song.size() / 3; }, 20000));
    lp_bob->Kill();
    const qint64 l_kept = QFileInfo(l_partial).size();
    ASSERT_TRUE(l_kept > 0 && l_kept < l_song.size()) << "killed before the end";

    lp_bob = l_client("bob", {"--download", "alice", l_remoteFolder, "song.bin", l_size});
    ASSERT_TRUE(lp_bob->Says("status song.bin complete", 30000));
    QFile l_complete(l_root.filePath("bob/downloads/complete/Music/song.bin"));
    EXPECT_TRUE(l_complete.open(QIODevice::ReadOnly) && l_complete.readAll() == l_song);
    EXPECT_FALSE(QFile::exists(l_partial));
}
