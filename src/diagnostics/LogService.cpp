#include "diagnostics/LogService.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLocale>

#include <time.h>

#include "diagnostics/LogSink.h"
#include "store/Data.h"

LogService logService;

namespace
{
// Levels come from our own callers (1 to 3); this only keeps a stray value from building a
// huge line.
const int kMaxIndentedLevels = 32;

const char* const kValueTypes[] = {"log_time", "log_area", "log_level", "log_text"};

Type* DeclareType(const char* ip_name, Primacy i_primacy, bool i_valueless)
{
    if (Type* lp_type = d.HasType(ip_name))
        return lp_type;
    return d.NewType(ip_name, i_primacy, i_valueless, true);
}

void Relate(Type* ip_type, Type* ip_other, OneOrMany i_thisSide, OneOrMany i_otherSide)
{
    if (!ip_type->IsRelated(ip_other))
        ip_type->RelateToType(ip_other, i_thisSide, i_otherSide, false);
}

// Area names are our own constants; still, none of them may lead the file out of the folder.
QString AreaFileStem(QString i_area)
{
    i_area.replace(QLatin1Char('/'), QLatin1Char('_'));
    i_area.replace(QLatin1Char('\\'), QLatin1Char('_'));
    i_area.replace(QChar(0), QLatin1Char('_'));
    if (i_area == QLatin1String(".") || i_area == QLatin1String(".."))
        i_area.replace(QLatin1Char('.'), QLatin1Char('_'));
    return i_area;
}
} // namespace

LogService::LogService() = default;

void LogService::Init()
{
    Type* lp_itemLog = DeclareType("item_log", Primary, true);
    for (const char* lp_name : kValueTypes)
        Relate(lp_itemLog, DeclareType(lp_name, Leaf, false), Many, One);
    Relate(lp_itemLog, DeclareType("log_order", Leaf, false), One, One);
    m_entryCounter = 0;
}

void LogService::RegisterLoggableItemType(const std::string& i_typeName)
{
    Relate(d.GetType(i_typeName), d.GetType("item_log"), One, Many);
}

void LogService::Log(const QString& i_area, int i_level, const QString& i_text, ItemPtr i_item)
{
    const QString l_stamp = CurrentStamp();
    const QString l_line =
        QLatin1Char('[') + l_stamp + QLatin1String("] ") + Indent(i_text, i_level);

    if (mp_sink)
        mp_sink->LogLine(i_area, l_line);

    if (!LoggingEnabled())
        return;
    if (i_item)
        RecordEntry(i_area, i_level, i_text, i_item);
    AppendToFile(i_area, l_stamp, l_line);
}

void LogService::InstallSink(LogSink* ip_sink)
{
    mp_sink = ip_sink;
}

void LogService::RemoveSink(LogSink* ip_sink)
{
    if (mp_sink == ip_sink)
        mp_sink = nullptr;
}

QString LogService::FileName(const QString& i_area) const
{
    return Folder() + QLatin1Char('/') + AreaFileStem(i_area) + QLatin1String(".log");
}

// Read at each write, not when the program's globals are made: a process that moves its home
// (as every test does) writes into the moved one.
QString LogService::Folder() const
{
    return m_folder.isEmpty() ? DefaultFolder() : m_folder;
}

QString LogService::DefaultFolder()
{
    return QDir::homePath() + QLatin1String("/trwk-client-logs");
}

QString LogService::Indent(const QString& i_text, int i_level)
{
    const int l_levels = qBound(0, i_level - 1, kMaxIndentedLevels);
    return QString(l_levels * 3, QLatin1Char(' ')) + i_text;
}

QString LogService::Stamp(const QDateTime& i_time)
{
    return QLocale::c().toString(i_time, QStringLiteral("ddd MMM d HH:mm:ss yyyy"));
}

// "ddd MMM d HH:mm:ss yyyy" in the C locale, from the C library's local time: its first call
// here reads the time zone, and localtime_r goes on with what it read, unlike localtime.
QString LogService::StampOfSecond(qint64 i_seconds)
{
    static const bool s_zoneRead = (tzset(), true);
    Q_UNUSED(s_zoneRead);
    static const char* const s_days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const s_months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const time_t l_seconds = static_cast<time_t>(i_seconds);
    tm l_local{};
    if (!localtime_r(&l_seconds, &l_local) || l_local.tm_wday < 0 || l_local.tm_wday > 6 ||
        l_local.tm_mon < 0 || l_local.tm_mon > 11)
        return Stamp(QDateTime::fromSecsSinceEpoch(i_seconds));
    const auto l_two = [](int i_number) {
        return QString::number(i_number).rightJustified(2, QLatin1Char('0'));
    };
    return QLatin1String(s_days[l_local.tm_wday]) + QLatin1Char(' ') +
           QLatin1String(s_months[l_local.tm_mon]) + QLatin1Char(' ') +
           QString::number(l_local.tm_mday) + QLatin1Char(' ') + l_two(l_local.tm_hour) +
           QLatin1Char(':') + l_two(l_local.tm_min) + QLatin1Char(':') + l_two(l_local.tm_sec) +
           QLatin1Char(' ') +
           QString::number(l_local.tm_year + 1900).rightJustified(4, QLatin1Char('0'));
}

QString LogService::CurrentStamp()
{
    timespec l_now{};
    clock_gettime(CLOCK_REALTIME, &l_now);
    const qint64 l_second = static_cast<qint64>(l_now.tv_sec);
    if (m_stamp.isEmpty() || l_second != m_stampSecond)
    {
        m_stamp = StampOfSecond(l_second);
        m_stampSecond = l_second;
    }
    return m_stamp;
}

bool LogService::LoggingEnabled()
{
    // Nothing writes a default: without the setting, logging is off.
    Type* lp_global = d.HasType("global");
    if (!lp_global || !d.HasType("global_value") || lp_global->IsNull())
        return false;
    ItemPtr l_value = lp_global->HasItem("user_level_logging")["global_value"];
    return l_value && l_value.AsStdString() == "yes";
}

void LogService::RecordEntry(const QString& i_area, int i_level, const QString& i_text,
                             ItemPtr i_item)
{
    Type* lp_itemLog = d.HasType("item_log");
    if (!lp_itemLog || !lp_itemLog->IsRelated(i_item.GetType()))
        return;

    ItemPtr l_entry = lp_itemLog->NewItem();
    l_entry.Connect(d.GetType("log_time")->GetItem(CurrentStamp()));
    l_entry.Connect(d.GetType("log_area")->GetItem(i_area));
    l_entry.Connect(d.GetType("log_level")->GetItem(i_level));
    l_entry.Connect(d.GetType("log_text")->GetItem(i_text));
    l_entry.Connect(d.GetType("log_order")->GetItem(static_cast<long long>(m_entryCounter)));
    ++m_entryCounter;
    // Last, so that whoever follows the item's entries finds the values already in place.
    l_entry.Connect(i_item);
}

void LogService::AppendToFile(const QString& i_area, const QString& i_stamp, const QString& i_line)
{
    QDir l_folder(Folder());
    if (!l_folder.exists() && !l_folder.mkpath(QStringLiteral(".")))
        return;
    QFile l_file(FileName(i_area));
    if (!l_file.open(QIODevice::Append))
        return;

    // The header goes before the first line this run writes to the file, so that every run
    // stands apart even when logging was switched on after the area's first line.
    const bool l_needsHeader = !m_headedAreas.contains(i_area);
    QByteArray l_bytes;
    if (l_needsHeader)
        l_bytes +=
            (QLatin1String("* Logging started at ") + i_stamp + QLatin1Char('\n')).toLatin1();
    l_bytes += (i_line + QLatin1Char('\n')).toLatin1();
    if (l_file.write(l_bytes) == l_bytes.size() && l_needsHeader)
        m_headedAreas.insert(i_area);
    l_file.close();
}
