#include <QDateTime>
#include <QLocale>

#include <time.h>

#include "LogFixture.h"

namespace
{
// Keeps each line as "area|[stamp] text".
struct RecordingSink : LogSink
{
    void LogLine(const QString& area, const QString& line) override { lines << area + "|" + line; }
    QStringList lines;
};

QString StampOf(const QString& line) { return line.section("|[", 1).section("] ", 0, 0); }
QByteArray FileLine(const QString& line) { return line.section('|', 1).toLatin1(); }
QByteArray Header(const QString& line) { return ("* Logging started at " + StampOf(line)).toLatin1(); }

class LogLines : public LogFixture
{
protected:
    void SetUp() override
    {
        logService.InstallSink(&sink);
        logService.Init();
        logService.RegisterLoggableItemType("user");
    }

    // The item's entries in number order as "order|area|level|text", each checked for its time.
    static QStringList EntriesOf(ItemPtr item)
    {
        QStringList entries;
        for (ItemPtr entry : item.GetItems("item_log").SortNumericBy("log_order", true))
        {
            EXPECT_TRUE(QDateTime::fromString(entry["log_time"].AsString(), Qt::TextDate).isValid());
            entries << QStringList{entry["log_order"].AsString(), entry["log_area"].AsString(),
                                   entry["log_level"].AsString(), entry["log_text"].AsString()}.join('|');
        }
        return entries;
    }

    RecordingSink sink;
    ItemPtr alice = d.GetType("user")->GetItem("alice");
};
} // namespace

TEST_F(LogLines, StampedInTheCLocaleIndentedByLevelAndSentToTheInstalledSinkOnly)
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(LogService::Stamp(QDateTime(QDate(2025, 1, 5), QTime(23, 5, 9))), "Sun Jan 5 23:05:09 2025");
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    for (int level : {-4, 0, 1, 2, 3})
        Log("server", level, "Connecting to %1", ItemPtr());
    const QString stamp = StampOf(sink.lines.last());
    EXPECT_TRUE(QLocale::c().toDateTime(stamp, "ddd MMM d HH:mm:ss yyyy") >= before) << stamp.toStdString();
    EXPECT_EQ(sink.lines.last(), "server|[" + stamp + "]       Connecting to %1");
    QStringList indents;
    for (const QString& line : sink.lines)
        indents << QString::number(line.section("] ", 1).indexOf('C'));
    EXPECT_EQ(indents, (QStringList{"0", "0", "0", "3", "6"}));
    QLocale::setDefault(QLocale::c());

    // A destroyed sink withdraws; removing a sink that is not the installed one changes nothing.
    {
        RecordingSink gone;
        logService.InstallSink(&gone);
    }
    Log("server", 1, "to nobody", ItemPtr());
    RecordingSink second;
    logService.InstallSink(&second);
    logService.RemoveSink(&sink);
    Log("server", 1, "to the second", ItemPtr());
    EXPECT_EQ(sink.lines.size(), 5);
    EXPECT_EQ(second.lines, QStringList{"server|[" + StampOf(second.lines.value(0)) + "] to the second"});
}

// Stamps are made from the C library's local time, with the zone read once: they must read as
// the toolkit's own, across changes to and from summer time and at the ends of days and years.
TEST(LogStamps, SameTextAsTheToolkitsLocalTimeWithTheZoneReadOnce)
{
    qputenv("TZ", "Europe/Berlin");
    tzset();
    const QDateTime spring(QDate(2025, 3, 30), QTime(1, 0), Qt::UTC);
    const QDateTime autumn(QDate(2025, 10, 26), QTime(1, 0), Qt::UTC);
    const QDateTime instants[] = {
        spring.addSecs(-1), spring, autumn.addSecs(-1), autumn, autumn.addSecs(3599),
        QDateTime(QDate(2024, 12, 31), QTime(22, 59, 59), Qt::UTC),
        QDateTime(QDate(2024, 12, 31), QTime(23, 0), Qt::UTC),
        QDateTime(QDate(2024, 2, 29), QTime(8, 5, 3), Qt::UTC),
        QDateTime(QDate(2031, 7, 4), QTime(12, 0), Qt::UTC),
        QDateTime(QDate(1999, 1, 1), QTime(0, 0), Qt::UTC),
    };
    QStringList expected, made;
    for (const QDateTime& instant : instants)
    {
        expected << LogService::Stamp(instant.toLocalTime());
        made << LogService::StampOfSecond(instant.toSecsSinceEpoch());
    }
    EXPECT_EQ(made, expected);
    EXPECT_EQ(made.mid(0, 5), (QStringList{"Sun Mar 30 01:59:59 2025", "Sun Mar 30 03:00:00 2025",
                                           "Sun Oct 26 02:59:59 2025", "Sun Oct 26 02:00:00 2025",
                                           "Sun Oct 26 02:59:59 2025"}));

    // The current stamp reads as the toolkit's current local time, taken around it.
    LogService service;
    const QString before = LogService::Stamp(QDateTime::currentDateTime());
    const QString current = service.CurrentStamp();
    const QString after = LogService::Stamp(QDateTime::currentDateTime());
    EXPECT_TRUE(current == before || current == after) << current.toStdString();

    // Lines do not look at the zone again: a zone named afterwards is not read.
    qputenv("TZ", "America/New_York");
    EXPECT_EQ(LogService::StampOfSecond(spring.toSecsSinceEpoch()), "Sun Mar 30 03:00:00 2025");
    qunsetenv("TZ");
    tzset();
}

TEST(LogWithoutPage, WorksOnAnEmptyStoreWithNoSink)
{
    Log("server", 1, "Connecting", ItemPtr());
    EXPECT_TRUE(d.Types().empty());
}

TEST_F(LogLines, FilesAreLatin1InsideTheirFolderWithOneHeaderPerAreaPerRun)
{
    Log("server", 1, "Before logging was on", ItemPtr());
    EnableLogging();
    const QString nested = Folder() + "/logs/run";
    DiagnosticsTesting::SetLogFolder(logService, nested);
    Log("server", 1, "Connecting", ItemPtr());
    Log("server", 2, QString::fromUtf8("Ren\xc3\xa9 \xc5\x81ukasz \xe5\xa4\xaa"), ItemPtr());
    Log("../../outside", 3, "Listening", ItemPtr());
    const QStringList& lines = sink.lines;
    EXPECT_TRUE(lines[2].endsWith(QString::fromUtf8("]    Ren\xc3\xa9 \xc5\x81ukasz \xe5\xa4\xaa")));
    const QList<QByteArray> written = FileLines("server");
    ASSERT_EQ(written.size(), 3);
    EXPECT_EQ(written.mid(0, 2), (QList<QByteArray>{Header(lines[1]), FileLine(lines[1])}));
    EXPECT_TRUE(written[2].endsWith("]    Ren\xe9 ?ukasz ?")) << written[2].toStdString();
    EXPECT_EQ(FileLines("../../outside"), (QList<QByteArray>{Header(lines[3]), FileLine(lines[3])}));
    EXPECT_EQ(QDir(Folder()).entryList(QDir::Files | QDir::Hidden), QStringList());

    // Each run heads its first line, even when logging was switched on after the area's first.
    LogService nextRun;
    DiagnosticsTesting::SetLogFolder(nextRun, nested);
    RecordingSink next;
    nextRun.InstallSink(&next);
    nextRun.Log("server", 1, "Connecting again", ItemPtr());
    nextRun.Log("server", 1, "Connected", ItemPtr());
    EXPECT_EQ(FileLines("server").mid(3),
              (QList<QByteArray>{Header(next.lines[0]), FileLine(next.lines[0]), FileLine(next.lines[1])}));
}

TEST_F(LogLines, FilesAndNumberedEntriesOnlyWhileTheSettingIsYes)
{
    Log("server", 1, "no setting at all", alice);
    for (const char* value : {"no", "Yes", "yes ", ""})
    {
        SetSetting("user_level_logging", value);
        Log("server", 1, "setting not yes", alice);
    }
    EXPECT_TRUE(Files().isEmpty() && d.GetType("item_log")->ItemCount() == 0u);
    EnableLogging();
    ItemPtr bob = d.GetType("user")->GetItem("bob");
    Log("server", 1, "Alice is online", alice);
    Log("Peer Messenger", 3, "Bob sent %1 bytes", bob);
    Log("server", 1, "Joined room", d.NewType("room", Primary, false, true)->GetItem("lobby"));
    Log("Transfer Queue", 2, "Alice queued", alice);
    Log("server", 1, "Alice is online", alice);
    EXPECT_EQ(Files(), (QStringList{"Peer Messenger.log", "server.log", "Transfer Queue.log"}));
    EXPECT_EQ(FileLines("server").size(), 4);
    // No stamp and no indentation in the text.
    EXPECT_EQ(EntriesOf(alice), (QStringList{"0|server|1|Alice is online", "2|Transfer Queue|2|Alice queued",
                                             "3|server|1|Alice is online"}));
    EXPECT_EQ(EntriesOf(bob), QStringList{"1|Peer Messenger|3|Bob sent %1 bytes"});
}
