#pragma once

#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QStringList>

#include <gtest/gtest.h>

#include <memory>

#include "support/TestSupport.h"
#include "shell/Desktop.h"
#include "shell/MainWindow.h"
#include "store/DataLoadedEventHandler.h"
#include "store/DataSaver.h"
#include "store/Settings.h"
#include "support/support/FakePeer.h"
#include "support/support/FakeUpnpBackend.h"
#include "support/support/LogLines.h"

// A whole client in this process, in a temporary home, with a gateway in memory, listening
// ports the system picks, and every prompt recorded instead of shown.
class ProgramFixture : public ::testing::Test, public DataLoadedEventHandler
{
protected:
    void SetUp() override
    {
        qputenv("HOME", m_home.Path().c_str());
        MainWindow::SetUpnpBackendFactory([] { return std::make_unique<FakeUpnpBackend>(); });
        MainWindow::SetFirstStartPrompt([this](QWidget*) { ++m_prompts; });
        MainWindow::SetBeforeLoad([this] {
            SetSetting("listening_port", FakePeer::FreePort());
            SetSetting("obfuscated_listening_port", FakePeer::FreePort());
            dataSaver->AddDataLoadedEventHandler(this);
        });
        Desktop::SetMessageBox([this](QMessageBox::Icon, QWidget*, const QString& i_title,
                                      const QString& i_text, QMessageBox::StandardButtons) {
            m_boxes << i_title + ": " + i_text;
            return QMessageBox::Ok;
        });
    }

    void TearDown() override
    {
        mp_window.reset();
        MainWindow::SetUpnpBackendFactory({});
        MainWindow::SetFirstStartPrompt({});
        MainWindow::SetBeforeLoad({});
        Desktop::SetMessageBox({});
    }

    void DataLoaded() override { m_loaded << "loaded"; }
    void NoData() override { m_loaded << "no data"; }

    void Start()
    {
        mp_window = std::make_unique<MainWindow>();
        // The diagnostics page took the lines over; the test reads them instead.
        logService.InstallSink(&m_log);
        mp_window->Init();
    }

    QString StorePath() const { return QString::fromStdString(m_home.File(".Tarnwick")); }
    QByteArray StoreBytes() const
    {
        QFile l_file(StorePath());
        return l_file.open(QIODevice::ReadOnly) ? l_file.readAll() : QByteArray();
    }
    QStringList ConfigurationLines() const { return m_log.Of("Configuration Data"); }

    TemporaryFolder m_home;
    LogLines m_log;
    QStringList m_loaded;
    QStringList m_boxes;
    int m_prompts = 0;
    std::unique_ptr<MainWindow> mp_window;
};
