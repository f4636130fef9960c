#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

#include "support/support/ByteNamedTree.h"
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

// alice shares names as unusual as a file system allows beside names no peer could ask for; bob
// asks for the unusual ones by their remote paths and gets each whole under its own name.
TEST(EndToEnd, UnusualNamesArriveWholeBesideNamesThatAreNotShared)
{
    FakeCentralHub l_hub;
    QTemporaryDir l_root;
    ASSERT_TRUE(QDir().mkpath(l_root.filePath("alice")) && QDir().mkpath(l_root.filePath("bob")));
    const ByteNamedTree l_pool(l_root.filePath("Pool"));
    // Below the shared folder, UTF-8.
    const QByteArray l_fetched[] = {"trailing dot.", "&amp; \xf0\x9f\x8e\xb5.txt", "new\nline.txt", ":?*\"<>|.txt",
                                    QByteArray(251, 'n') + ".txt", "Sub Folder/inner \xc3\xa9t\xc3\xa9.txt"};
    for (const char* l_left : {"back\\slash.txt", "a\\b/inside.txt", "caf\xe9.txt", "d\xe9j\xe0/inside.txt"})
        ASSERT_TRUE(l_pool.Write(l_left, "left out"));
    QStringList l_arguments{"--user", "bob"};
    std::vector<QByteArray> l_contents;
    for (const QByteArray& l_name : l_fetched)
    {
        // Of three blocks and a bit, different for every file.
        QByteArray l_content(3 * 8192 + 17 + int(l_contents.size()), '\0');
        QRandomGenerator(quint32(l_contents.size())).fillRange(reinterpret_cast<quint32*>(l_content.data()), l_content.size() / 4);
        ASSERT_TRUE(l_pool.Write(l_name, l_content));
        l_contents.push_back(l_content);
        const QString l_path = QString::fromUtf8(l_root.filePath("Pool").toUtf8() + '/' + l_name);
        l_arguments << "--download" << "alice" << QFileInfo(l_path).path().replace('/', '\\') << QFileInfo(l_path).fileName()
                    << QString::number(l_content.size());
    }
    const auto l_client = [&](const QString& i_user, const QStringList& i_arguments) {
        return std::make_unique<HeadlessClient>(l_root.filePath(i_user), i_arguments, l_hub.Port());
    };
    auto lp_alice = l_client("alice", {"--user", "alice", "--share", l_root.filePath("Pool")});
    ASSERT_TRUE(lp_alice->Says("online"));
    auto lp_bob = l_client("bob", l_arguments);
    for (std::size_t l_at = 0; l_at < l_contents.size(); ++l_at)
    {
        const QString l_name = QString::fromUtf8(l_fetched[l_at]);
        const QString l_kept = "bob/downloads/complete/" + (l_name.contains('/') ? l_name : "Pool/" + l_name);
        EXPECT_TRUE(lp_bob->Says("status " + QFileInfo(l_name).fileName().replace("\n", "\\x0a") + " complete", 30000)) << l_kept.toStdString();
        QFile l_file(l_root.filePath(l_kept));
        EXPECT_TRUE(l_file.open(QIODevice::ReadOnly) && l_file.readAll() == l_contents[l_at]) << l_kept.toStdString();
    }
}
