#include "store/DataSaver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace
{
// A decimal number as a save numbers its temporary file: from 1, no leading zeros.
bool IsSaveNumber(const QStringRef& i_text)
{
    if (i_text.isEmpty() || i_text.at(0) == QLatin1Char('0'))
        return false;
    for (QChar l_char : i_text)
        if (l_char < QLatin1Char('0') || l_char > QLatin1Char('9'))
            return false;
    return true;
}
} // namespace

void DataSaver::RemoveLeftovers(const QString& i_path)
{
    const QFileInfo l_store(i_path);
    const QString l_prefix = l_store.fileName() + QLatin1Char('.');
    const QDir l_folder = l_store.absoluteDir();
    // Only plain files: a link or a folder under such a name was never written by a save.
    for (const QString& l_name :
         l_folder.entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks))
        if (l_name.startsWith(l_prefix) && IsSaveNumber(l_name.midRef(l_prefix.size())))
            QFile::remove(l_folder.filePath(l_name));
}
