#include "views/chat/ChatLog.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "store/Data.h"
#include "store/Settings.h"
#include "views/chat/ChatLogForm.h"

namespace
{
// A whole file name ("name.log") within the 255 bytes that common file systems allow: every
// name that could ever have named a log keeps it.
constexpr int MaxStemBytes = 255 - 4;
// A mapped name starts with this, which no name kept as it is can start with.
const QChar MappedMark = QLatin1Char('.');
// Separates a long name's cut from its hash; escaped everywhere else in a mapped name.
const QChar HashMark = QLatin1Char('~');

bool IsLoneSurrogate(const QString& i_name, int i_index)
{
    const QChar l_char = i_name.at(i_index);
    if (l_char.isHighSurrogate())
        return i_index + 1 >= i_name.size() || !i_name.at(i_index + 1).isLowSurrogate();
    if (l_char.isLowSurrogate())
        return i_index == 0 || !i_name.at(i_index - 1).isHighSurrogate();
    return false;
}

bool MustEscape(const QString& i_name, int i_index)
{
    const QChar l_char = i_name.at(i_index);
    return l_char == QLatin1Char('/') || l_char == QLatin1Char('\\') ||
           l_char.category() == QChar::Other_Control || IsLoneSurrogate(i_name, i_index);
}

bool IsKeptAsItIs(const QString& i_name)
{
    if (i_name.startsWith(QLatin1Char('.')))
        return false;
    for (int l_index = 0; l_index < i_name.size(); ++l_index)
        if (MustEscape(i_name, l_index))
            return false;
    return i_name.toUtf8().size() <= MaxStemBytes;
}

// "%" and two hex digits for a code below 256, "%u" and four otherwise: one reading only, so
// two names never share an escaped form.
QString Escaped(const QString& i_name)
{
    QString l_escaped;
    for (int l_index = 0; l_index < i_name.size(); ++l_index)
    {
        const QChar l_char = i_name.at(l_index);
        if (!MustEscape(i_name, l_index) && l_char != QLatin1Char('%') && l_char != HashMark)
        {
            l_escaped += l_char;
            continue;
        }
        const ushort l_code = l_char.unicode();
        l_escaped += l_code < 256 ? QStringLiteral("%%1").arg(l_code, 2, 16, QLatin1Char('0'))
                                  : QStringLiteral("%u%1").arg(l_code, 4, 16, QLatin1Char('0'));
    }
    return l_escaped;
}

// Cut at a whole character and never inside an escape.
QString CutToBytes(const QString& i_text, int i_bytes)
{
    int l_end = 0;
    int l_bytes = 0;
    while (l_end < i_text.size())
    {
        int l_next = l_end + 1;
        if (i_text.at(l_end) == QLatin1Char('%'))
            l_next = l_end + (i_text.mid(l_end + 1, 1) == QLatin1String("u") ? 6 : 3);
        else if (i_text.at(l_end).isHighSurrogate() && l_next < i_text.size())
            ++l_next;
        const int l_size = i_text.mid(l_end, l_next - l_end).toUtf8().size();
        if (l_bytes + l_size > i_bytes)
            break;
        l_bytes += l_size;
        l_end = l_next;
    }
    return i_text.left(l_end);
}
} // namespace

QString ChatLog::Folder(Kind i_kind)
{
    return QDir::homePath() + (i_kind == Kind::Room ? "/Tarnwick Chat Logs/Rooms"
                                                    : "/Tarnwick Chat Logs/Users");
}

QString ChatLog::FileName(const QString& i_name)
{
    if (IsKeptAsItIs(i_name))
        return i_name + ".log";
    const QString l_stem = MappedMark + Escaped(i_name);
    if (l_stem.toUtf8().size() <= MaxStemBytes)
        return l_stem + ".log";
    // The hash covers the UTF-16 of the whole name, so names that share a long start differ.
    const QByteArray l_hash = QCryptographicHash::hash(
        QByteArray(reinterpret_cast<const char*>(i_name.utf16()), i_name.size() * 2),
        QCryptographicHash::Sha1).toHex().left(16);
    return CutToBytes(l_stem, MaxStemBytes - 1 - l_hash.size()) + HashMark +
           QString::fromLatin1(l_hash) + ".log";
}

QString ChatLog::Path(Kind i_kind, const QString& i_name)
{
    return Folder(i_kind) + "/" + FileName(i_name);
}

void ChatLog::Write(Kind i_kind, const QString& i_name, const QString& i_line)
{
    if (!IsSettingYes(i_kind == Kind::Room ? "log_room_chat" : "log_private_chat"))
        return;

    // The file name cannot name another folder; checked here as well, since a line written
    // elsewhere could overwrite or grow any file of the user's.
    const QString l_folder = Folder(i_kind);
    QDir().mkpath(l_folder);
    QFile l_file(Path(i_kind, i_name));
    if (QFileInfo(l_file).absolutePath() == QDir(l_folder).absolutePath() &&
        l_file.open(QIODevice::WriteOnly | QIODevice::Append))
    {
        l_file.write(i_line.toUtf8() + '\n');
        l_file.close();
    }

    Type* lp_subjects = d.HasType(i_kind == Kind::Room ? "room" : "user");
    if (!lp_subjects)
        return;
    ItemPtr l_viewer = lp_subjects->HasItem(i_name)["chat_log_form"];
    if (l_viewer)
        l_viewer.AsPointer<ChatLogForm>()->AddLine(i_line);
}
