#include <QDateTime>
#include <QLocale>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "LogFixture.h"
#include "RecordingSink.h"
#include "diagnostics/Log.h"
#include "diagnostics/LogService.h"
#include "store/Data.h"

namespace
{
class LogLines : public LogFixture
{
protected:
    void SetUp() override
    {
        LogFixture::SetUp();
        logService.InstallSink(&sink);
    }
    void TearDown() override { logService.RemoveSink(&sink); }

    RecordingSink sink;
};

class LogEntries : public LogLines
{
protected:
    void SetUp() override
    {
        LogLines::SetUp();
        logService.Init();
        logService.RegisterLoggableItemType("user");
        d.NewType("room", Primary, false, true);
    }

    static ItemPtr User(const char* name) { return d.GetType("user")->GetItem(name); }

    static std::vector<ItemPtr> EntriesOf(ItemPtr item)
    {
        return item.GetItems("item_log").SortNumericBy("log_order", true);
    }

    static std::size_t EntryCount() { return d.GetType("item_log")->ItemCount(); }
};

class ConnectionWatcher : public DataHandler
{
public:
    void OnUserConnected(ConnectionInfo info)
    {
        ItemPtr entry(info.to);
        if (entry.GetType()->GetName() != "item_log")
            return;
        for (const char* type : {"log_time", "log_area", "log_level", "log_text", "log_order"})
            missing += entry[type] ? 0 : 1;
        ++seen;
    }

    int seen = 0;
    int missing = 0;
};
} // namespace

TEST_F(LogLines, StampedLineIndentedThreeBlanksPerLevelAboveOne)
{
    const struct
    {
        int level;
        const char* indent;
    } cases[] = {{-4, ""}, {0, ""}, {1, ""}, {2, "   "}, {3, "      "}};

    for (const auto& c : cases)
    {
        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        Log("server", c.level, "Connecting to %1", ItemPtr());
        const QString stamp = StampOf(sink.LastLine());
        ASSERT_FALSE(stamp.isEmpty()) << sink.LastLine().toStdString();
        EXPECT_EQ(sink.LastLine(), "[" + stamp + "] " + c.indent + "Connecting to %1")
            << "level " << c.level;
        const QDateTime stamped = QDateTime::fromString(stamp, Qt::TextDate);
        EXPECT_TRUE(stamped >= before && stamped <= QDateTime::currentDateTime())
            << stamp.toStdString();
        EXPECT_EQ(sink.lines.last().first, "server");
    }
}

TEST_F(LogLines, StampsUseEnglishNamesWhateverTheLocale)
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));

    EXPECT_EQ(LogService::Stamp(QDateTime(QDate(1998, 5, 20), QTime(3, 40, 13))),
              "Wed May 20 03:40:13 1998");
    EXPECT_EQ(LogService::Stamp(QDateTime(QDate(2025, 1, 5), QTime(23, 5, 9))),
              "Sun Jan 5 23:05:09 2025");

    Log("server", 1, "x", ItemPtr());
    const QString stamp = StampOf(sink.LastLine());
    EXPECT_TRUE(QLocale::c().toDateTime(stamp, "ddd MMM d HH:mm:ss yyyy").isValid())
        << stamp.toStdString();
    QLocale::setDefault(QLocale::c());
}

TEST(LogWithoutPage, WorksOnAnEmptyStoreWithNoSink)
{
    ASSERT_EQ(logService.Sink(), nullptr);
    Log("server", 1, "Connecting", ItemPtr());
    EXPECT_TRUE(d.Types().empty());
}

TEST_F(LogLines, ADestroyedOrReplacedSinkGetsNoMoreLines)
{
    auto first = std::make_unique<RecordingSink>();
    logService.InstallSink(first.get());
    Log("server", 1, "to the first", ItemPtr());
    first.reset();
    Log("server", 1, "to nobody", ItemPtr());
    EXPECT_EQ(logService.Sink(), nullptr);

    RecordingSink second;
    logService.InstallSink(&sink);
    logService.InstallSink(&second);
    logService.RemoveSink(&sink); // not the installed one: no effect
    Log("server", 1, "to the second", ItemPtr());
    EXPECT_TRUE(sink.lines.isEmpty());
    ASSERT_EQ(second.lines.size(), 1);
    EXPECT_TRUE(second.LastLine().endsWith("] to the second"));
}

TEST_F(LogLines, OneHeaderPerAreaPerRun)
{
    EnableLogging();
    Log("server", 1, "Connecting", ItemPtr());
    const QString first = sink.LastLine();
    Log("server", 2, "Resolving host", ItemPtr());
    const QString second = sink.LastLine();
    Log("Peer Messenger", 3, "Listening", ItemPtr());
    const QString third = sink.LastLine();

    EXPECT_EQ(FileLines("server"),
              (QList<QByteArray>{("* Logging started at " + StampOf(first)).toLatin1(),
                                 first.toLatin1(), second.toLatin1()}));
    EXPECT_TRUE(second.endsWith("]    Resolving host"));
    EXPECT_EQ(FileLines("Peer Messenger"),
              (QList<QByteArray>{("* Logging started at " + StampOf(third)).toLatin1(),
                                 third.toLatin1()}));

    // The next run appends its own header to the same file.
    LogService nextRun;
    nextRun.SetFolder(Folder());
    RecordingSink nextSink;
    nextRun.InstallSink(&nextSink);
    nextRun.Log("server", 1, "Connecting again", ItemPtr());
    nextRun.Log("server", 1, "Connected", ItemPtr());
    const QList<QByteArray> lines = FileLines("server");
    ASSERT_EQ(lines.size(), 6);
    EXPECT_EQ(lines[3], ("* Logging started at " + StampOf(nextSink.lines[0].second)).toLatin1());
    EXPECT_EQ(lines[4], nextSink.lines[0].second.toLatin1());
    EXPECT_EQ(lines[5], nextSink.lines[1].second.toLatin1());
    nextRun.RemoveSink(&nextSink);
}

TEST_F(LogLines, SwitchingLoggingOnLaterStillStartsTheRunWithAHeader)
{
    Log("Configuration Data", 1, "Loading configuration data from /home/x/.Tarnwick", ItemPtr());
    EnableLogging();
    Log("Configuration Data", 1, "Data loaded successfully.", ItemPtr());

    const QList<QByteArray> lines = FileLines("Configuration Data");
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0], ("* Logging started at " + StampOf(sink.LastLine())).toLatin1());
    EXPECT_EQ(lines[1], sink.LastLine().toLatin1());
}

TEST_F(LogLines, FileTextIsLatin1)
{
    EnableLogging();
    Log("server", 1, QString::fromUtf8("Ren\xc3\xa9 \xc5\x81ukasz \xe5\xa4\xaa"), ItemPtr());

    const QList<QByteArray> lines = FileLines("server");
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[1].endsWith(QByteArray("] Ren\xe9 ?ukasz ?"))) << lines[1].toStdString();
    EXPECT_TRUE(sink.LastLine().endsWith(QString::fromUtf8("] Ren\xc3\xa9 \xc5\x81ukasz \xe5\xa4\xaa")));
}

TEST_F(LogLines, FolderIsCreatedAndAreaNamesStayInsideIt)
{
    EnableLogging();
    const QString nested = Folder() + "/logs/run";
    logService.SetFolder(nested);
    Log("Transfer Queue", 1, "Queued", ItemPtr());
    Log("../../outside", 1, "Queued", ItemPtr());

    EXPECT_TRUE(QFile::exists(nested + "/Transfer Queue.log"));
    EXPECT_EQ(QDir(nested).entryList(QDir::Files | QDir::Hidden).size(), 2);
    EXPECT_EQ(QDir(Folder()).entryList(QDir::Files | QDir::Hidden), QStringList());
    EXPECT_FALSE(QFile::exists(Folder() + "/outside.log"));
}

TEST_F(LogEntries, NumberedInCallOrderAcrossAreasAndItems)
{
    EnableLogging();
    ItemPtr alice = User("alice");
    ItemPtr bob = User("bob");
    Log("server", 1, "Alice is online", alice);
    Log("Peer Messenger", 3, "Bob sent %1 bytes", bob);
    Log("server", 1, "No user here", ItemPtr());
    Log("Transfer Queue", 2, "Alice queued", alice);

    EXPECT_EQ(EntryCount(), 3u);
    const std::vector<ItemPtr> aliceEntries = EntriesOf(alice);
    const std::vector<ItemPtr> bobEntries = EntriesOf(bob);
    ASSERT_EQ(aliceEntries.size(), 2u);
    ASSERT_EQ(bobEntries.size(), 1u);

    const struct
    {
        ItemPtr entry;
        ItemPtr user;
        const char* order;
        const char* area;
        const char* level;
        const char* text;
    } expected[] = {
        {aliceEntries[0], alice, "0", "server", "1", "Alice is online"},
        {bobEntries[0], bob, "1", "Peer Messenger", "3", "Bob sent %1 bytes"},
        {aliceEntries[1], alice, "2", "Transfer Queue", "2", "Alice queued"},
    };
    for (const auto& e : expected)
    {
        EXPECT_EQ(e.entry["log_order"].AsStdString(), e.order);
        EXPECT_EQ(e.entry["log_area"].AsStdString(), e.area);
        EXPECT_EQ(e.entry["log_level"].AsStdString(), e.level);
        EXPECT_EQ(e.entry["log_text"].AsStdString(), e.text) << "no stamp, no indentation";
        EXPECT_TRUE(QDateTime::fromString(e.entry["log_time"].AsString(), Qt::TextDate).isValid());
        EXPECT_EQ(e.entry["user"], e.user);
    }
}

TEST_F(LogEntries, EqualValuesShareOneValueItemButEachEntryHasItsOwnNumber)
{
    EnableLogging();
    ItemPtr alice = User("alice");
    Log("server", 1, "Ping", alice);
    Log("server", 1, "Ping", alice);

    const std::vector<ItemPtr> entries = EntriesOf(alice);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0]["log_text"], entries[1]["log_text"]);
    EXPECT_EQ(entries[0]["log_area"], entries[1]["log_area"]);
    EXPECT_NE(entries[0]["log_order"], entries[1]["log_order"]);
    EXPECT_EQ(d.GetType("log_text")->ItemCount(), 1u);
    EXPECT_EQ(d.GetType("log_order")->ItemCount(), 2u);
}

TEST_F(LogEntries, FilesAndEntriesOnlyWhileTheSettingIsExactlyYes)
{
    ItemPtr alice = User("alice");
    Log("server", 1, "no setting at all", alice);
    for (const char* value : {"no", "Yes", "yes ", ""})
    {
        SetSetting("user_level_logging", value);
        Log("server", 1, "setting not yes", alice);
    }
    EXPECT_TRUE(Files().isEmpty());
    EXPECT_EQ(EntryCount(), 0u);
    EXPECT_EQ(sink.lines.size(), 5) << "the page sees every line";

    EnableLogging();
    Log("server", 1, "now on", alice);
    EXPECT_EQ(Files(), QStringList{"server.log"});
    EXPECT_EQ(EntryCount(), 1u);
}

TEST_F(LogEntries, TheItemIsLinkedLastSoItsWatchersSeeEveryValue)
{
    ConnectionWatcher watcher;
    d.GetType("user")->m_connectedEvent.AddHandler(
        watcher.NewEventHandler(&watcher, &ConnectionWatcher::OnUserConnected));
    EnableLogging();
    Log("server", 1, "Alice is online", User("alice"));
    Log("server", 2, "Alice is away", User("alice"));

    EXPECT_EQ(watcher.seen, 2);
    EXPECT_EQ(watcher.missing, 0);
}

TEST_F(LogEntries, AnItemOfAnUnregisteredTypeGetsNoEntryButTheLineIsWritten)
{
    EnableLogging();
    Log("server", 1, "Joined room", d.GetType("room")->GetItem("lobby"));

    EXPECT_EQ(EntryCount(), 0u);
    EXPECT_EQ(FileLines("server").size(), 2);
}

TEST_F(LogEntries, AFileThatCannotBeOpenedStillLeavesTheEntryAndTheLine)
{
    EnableLogging();
    QFile blocker(Folder() + "/blocker");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    logService.SetFolder(blocker.fileName() + "/logs");

    Log("server", 1, "Alice is online", User("alice"));

    EXPECT_EQ(EntryCount(), 1u);
    EXPECT_EQ(sink.lines.size(), 1);
    EXPECT_EQ(Files(), QStringList{"blocker"});
}
