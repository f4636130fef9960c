#include "diagnostics/LogService.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLocale>

#include "diagnostics/LogSink.h"
#include "store/Data.h"

LogService logService;

namespace
{
// Levels come from our own callers (1 to 3); this only keeps a stray value from building a
// huge line.
const int kMaxIndentedLevels = 32;

const char* const kValueTypes[] = {"log_time", "log_area", "log_level", "log_text"};

Type* DeclareType(const char* name, Primacy primacy, bool valueless)
{
    if (Type* type = d.HasType(name))
        return type;
    return d.NewType(name, primacy, valueless, true);
}

void Relate(Type* type, Type* other, OneOrMany thisSide, OneOrMany otherSide)
{
    if (!type->IsRelated(other))
        type->RelateToType(other, thisSide, otherSide, false);
}

// Area names are our own constants; still, none of them may lead the file out of the folder.
QString AreaFileStem(QString area)
{
    area.replace(QLatin1Char('/'), QLatin1Char('_'));
    area.replace(QLatin1Char('\\'), QLatin1Char('_'));
    area.replace(QChar(0), QLatin1Char('_'));
    if (area == QLatin1String(".") || area == QLatin1String(".."))
        area.replace(QLatin1Char('.'), QLatin1Char('_'));
    return area;
}
} // namespace

LogService::LogService() : m_folder(DefaultFolder()) {}

void LogService::Init()
{
    Type* itemLog = DeclareType("item_log", Primary, true);
    for (const char* name : kValueTypes)
        Relate(itemLog, DeclareType(name, Leaf, false), Many, One);
    Relate(itemLog, DeclareType("log_order", Leaf, false), One, One);
    m_entryCounter = 0;
}

void LogService::RegisterLoggableItemType(const std::string& typeName)
{
    Relate(d.GetType(typeName), d.GetType("item_log"), One, Many);
}

void LogService::Log(const QString& area, int level, const QString& text, ItemPtr item)
{
    const QString stamp = Stamp(QDateTime::currentDateTime());
    const QString line = QLatin1Char('[') + stamp + QLatin1String("] ") + Indent(text, level);

    if (mp_sink)
        mp_sink->LogLine(area, line);

    if (!LoggingEnabled())
        return;
    if (item)
        RecordEntry(area, level, text, item);
    AppendToFile(area, stamp, line);
}

void LogService::InstallSink(LogSink* sink)
{
    mp_sink = sink;
}

void LogService::RemoveSink(LogSink* sink)
{
    if (mp_sink == sink)
        mp_sink = nullptr;
}

QString LogService::FileName(const QString& area) const
{
    return m_folder + QLatin1Char('/') + AreaFileStem(area) + QLatin1String(".log");
}

QString LogService::DefaultFolder()
{
    return QDir::homePath() + QLatin1String("/trwk-client-logs");
}

QString LogService::Indent(const QString& text, int level)
{
    const int levels = qBound(0, level - 1, kMaxIndentedLevels);
    return QString(levels * 3, QLatin1Char(' ')) + text;
}

QString LogService::Stamp(const QDateTime& time)
{
    return QLocale::c().toString(time, QStringLiteral("ddd MMM d HH:mm:ss yyyy"));
}

bool LogService::LoggingEnabled()
{
    // Nothing writes a default: without the setting, logging is off.
    Type* global = d.HasType("global");
    if (!global || !d.HasType("global_value") || global->IsNull())
        return false;
    ItemPtr value = global->HasItem("user_level_logging")["global_value"];
    return value && value.AsStdString() == "yes";
}

void LogService::RecordEntry(const QString& area, int level, const QString& text, ItemPtr item)
{
    Type* itemLog = d.HasType("item_log");
    if (!itemLog || !itemLog->IsRelated(item.GetType()))
        return;

    ItemPtr entry = itemLog->NewItem();
    entry.Connect(d.GetType("log_time")->GetItem(Stamp(QDateTime::currentDateTime())));
    entry.Connect(d.GetType("log_area")->GetItem(area));
    entry.Connect(d.GetType("log_level")->GetItem(level));
    entry.Connect(d.GetType("log_text")->GetItem(text));
    entry.Connect(d.GetType("log_order")->GetItem(static_cast<long long>(m_entryCounter)));
    ++m_entryCounter;
    // Last, so that whoever follows the item's entries finds the values already in place.
    entry.Connect(item);
}

void LogService::AppendToFile(const QString& area, const QString& stamp, const QString& line)
{
    QDir folder(m_folder);
    if (!folder.exists() && !folder.mkpath(QStringLiteral(".")))
        return;
    QFile file(FileName(area));
    if (!file.open(QIODevice::Append))
        return;

    // The header goes before the first line this run writes to the file, so that every run
    // stands apart even when logging was switched on after the area's first line.
    const bool needsHeader = !m_headedAreas.contains(area);
    QByteArray bytes;
    if (needsHeader)
        bytes += (QLatin1String("* Logging started at ") + stamp + QLatin1Char('\n')).toLatin1();
    bytes += (line + QLatin1Char('\n')).toLatin1();
    if (file.write(bytes) == bytes.size() && needsHeader)
        m_headedAreas.insert(area);
    file.close();
}
