#pragma once

#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

#include "diagnostics/LogService.h"
#include "store/Data.h"
#include "support/TestSupport.h"

// A store with the settings and user types the log reads, and the log files in a fresh
// temporary folder.
class LogFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Type* global = d.NewType("global", Primary, false, true);
        global->RelateToType(d.NewType("global_value", Leaf, false, false), Many, One, false);
        d.NewType("user", Primary, false, true);
        logService.SetFolder(Folder());
    }

    static void SetSetting(const char* key, const char* value)
    {
        d.GetType("global")->GetItem(key).Connect(d.GetType("global_value")->NewItem(value));
    }

    static void EnableLogging() { SetSetting("user_level_logging", "yes"); }

    QString Folder() const { return QString::fromStdString(m_folder.Path()); }

    // The file's lines, as bytes read back from disk; empty when there is no file.
    QList<QByteArray> FileLines(const QString& area) const
    {
        QFile file(Folder() + "/" + area + ".log");
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QList<QByteArray> lines = file.readAll().split('\n');
        EXPECT_TRUE(lines.last().isEmpty()) << "the file ends with a newline";
        lines.removeLast();
        return lines;
    }

    QStringList Files() const { return QDir(Folder()).entryList(QDir::Files); }

    TemporaryFolder m_folder;
};
