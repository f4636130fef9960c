#pragma once

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include "diagnostics/Log.h"
#include "diagnostics/LogService.h"
#include "diagnostics/LogSink.h"
#include "store/Settings.h"
#include "support/TestSupport.h"
#include "support/support/ClientSchema.h"

class DiagnosticsForm;

// The diagnostics classes' own friend, for what the tests reach past the interface.
class DiagnosticsTesting
{
public:
    static void SetLogFolder(LogService& io_service, const QString& i_folder) { io_service.m_folder = i_folder; }
    // Defined with the page tests' helpers, which link the widgets.
    inline static bool DumpDataTo(DiagnosticsForm& io_page, const QString& i_fileName);
};

// A store with the settings and user types the log reads; log files go to a fresh folder.
class LogFixture : public ::testing::Test
{
protected:
    LogFixture()
    {
        DeclareSettingsTypes();
        d.NewType("user", Primary, false, true);
        DiagnosticsTesting::SetLogFolder(logService, Folder());
    }
    static void EnableLogging() { SetSetting("user_level_logging", "yes"); }
    QString Folder() const { return QString::fromStdString(m_folder.Path()); }
    QStringList Files() const { return QDir(Folder()).entryList(QDir::Files); }
    // The lines of an area's file; empty when there is none.
    static QList<QByteArray> FileLines(const QString& area)
    {
        QFile file(logService.FileName(area));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QList<QByteArray> lines = file.readAll().split('\n');
        EXPECT_TRUE(lines.takeLast().isEmpty()) << "the file ends with a newline";
        return lines;
    }

    TemporaryFolder m_folder;
};
