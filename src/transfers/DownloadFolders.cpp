#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <vector>

#include "diagnostics/Log.h"
#include "store/GeneralFunctions.h"
#include "store/Settings.h"
#include "store/ToQString.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferStatus.h"

namespace
{
// A NUL would cut the text conversion short, and with it the rest of the name.
std::string WithoutNul(std::string i_bytes)
{
    std::replace(i_bytes.begin(), i_bytes.end(), '\0', '_');
    return i_bytes;
}

// One path component as it may be used locally: it names nothing above its folder and holds
// no separator. Benign names pass unchanged.
QString CleanComponent(QString i_name)
{
    i_name.replace(QLatin1Char('/'), QLatin1Char('_'))
        .replace(QLatin1Char('\\'), QLatin1Char('_'))
        .replace(QChar(0), QLatin1Char('_'));
    if (i_name.isEmpty() || i_name == QLatin1String(".") || i_name == QLatin1String(".."))
        return QStringLiteral("_");
    return i_name;
}

QString FileNameText(ItemPtr i_entry)
{
    return CleanComponent(ToQString(WithoutNul(i_entry["file_name"].AsStdString())));
}

// Without a separator once one trailing separator is dropped, a path is its own last component
// and its own parent: the topmost component.
bool HasSeparator(std::string i_path)
{
    if (!i_path.empty() && (i_path.back() == '/' || i_path.back() == '\\'))
        i_path.pop_back();
    return i_path.find_last_of("/\\") != std::string::npos;
}

// The setting's "/" become "\" here; they are turned back when the disk is touched.
QString BaseFolder(bool i_complete)
{
    return GetSetting("download_folder").replace(QLatin1Char('/'), QLatin1Char('\\')) +
           (i_complete ? "\\complete" : "\\downloading");
}
} // namespace

// The last components are taken as the remote folder gives them, the text conversion applying
// to all of them at once. When the level asks for more components than the folder has, the
// topmost one is kept once rather than repeated, and a level below 0 counts as 0.
QStringList TransferQueueManager::KeptRemoteLevels(ItemPtr i_entry)
{
    std::string l_folder = i_entry["remote_folder"].AsStdString();
    if (l_folder.empty())
        return QStringList();
    const qint64 l_level = qMax<qint64>(0, i_entry["subfolder_save_level"].AsInt64());
    std::vector<std::string> l_kept;
    for (qint64 l_taken = 0; l_taken <= l_level; ++l_taken)
    {
        l_kept.push_back(WithoutNul(GetFileName(l_folder)));
        if (!HasSeparator(l_folder))
            break;
        l_folder = GetParentFolder(l_folder);
    }
    std::string l_suffix;
    for (auto l_level = l_kept.rbegin(); l_level != l_kept.rend(); ++l_level)
    {
        if (l_level != l_kept.rbegin())
            l_suffix += '\\';
        l_suffix += *l_level;
    }
    QStringList l_levels = ToQString(l_suffix).split(QLatin1Char('\\'));
    for (QString& l_name : l_levels)
        l_name = CleanComponent(l_name);
    return l_levels;
}

QString TransferQueueManager::CheckedDownloadPath(ItemPtr i_entry, const QString& i_path,
                                                  bool i_complete)
{
    const QString l_root =
        QDir::cleanPath(GetSetting("download_folder") + (i_complete ? "/complete" : "/downloading"));
    const QString l_local = QDir::cleanPath(QString(i_path).replace(QLatin1Char('\\'), QLatin1Char('/')));
    if (l_local == l_root || l_local.startsWith(l_root + QLatin1Char('/')))
        return i_path;
    if (i_entry["download_entry_status"].AsString() != QLatin1String(transfer_status::LocalError))
    {
        Log("Transfer Queue", 1,
            QString("Download path %1 lies outside the download folder %2, marking local error")
                .arg(l_local, l_root),
            i_entry["user"]);
        SetDownloadEntryStatus(i_entry, transfer_status::LocalError);
    }
    return QString();
}

QString TransferQueueManager::GetDownloadTargetFolder(ItemPtr i_entry, bool i_complete)
{
    QString l_folder = BaseFolder(i_complete);
    for (const QString& l_level : KeptRemoteLevels(i_entry))
        l_folder += QLatin1Char('\\') + l_level;
    return CheckedDownloadPath(i_entry, l_folder, i_complete);
}

QString TransferQueueManager::GetDownloadRelativeDownloadFolder(ItemPtr i_entry)
{
    return KeptRemoteLevels(i_entry).join(QLatin1Char('\\'));
}

// A cleaned file name is one component below the folder, so the folder's check covers it.
QString TransferQueueManager::GetDownloadTargetPath(ItemPtr i_entry, bool i_complete)
{
    const QString l_folder = GetDownloadTargetFolder(i_entry, i_complete);
    if (l_folder.isEmpty())
        return QString();
    return l_folder + QLatin1Char('\\') + FileNameText(i_entry);
}

bool TransferQueueManager::DoesDownloadItemCompleteFilenameExist(ItemPtr i_entry)
{
    const QString l_path = GetDownloadTargetPath(i_entry, true);
    return !l_path.isEmpty() &&
           QFileInfo::exists(QString(l_path).replace(QLatin1Char('\\'), QLatin1Char('/')));
}

void TransferQueueManager::RemoveDownloadDownloadingFolderIfAppropriate(ItemPtr i_entry)
{
    const QStringList l_levels = KeptRemoteLevels(i_entry);
    if (l_levels.isEmpty())
        return;
    if (!mp_downloadIndex->AllComplete(i_entry["remote_folder"]))
        return;
    QString l_folder = GetDownloadTargetFolder(i_entry, false);
    if (l_folder.isEmpty())
        return;
    l_folder.replace(QLatin1Char('\\'), QLatin1Char('/'));
    // A folder that is not empty, or cannot be removed, stays.
    QDir l_dir;
    for (int l_step = 0; l_step < l_levels.size(); ++l_step)
    {
        l_dir.rmdir(l_folder);
        l_folder.truncate(l_folder.lastIndexOf(QLatin1Char('/')));
    }
}
