#pragma once

#include <memory>

#include "server/Server.h"
#include "shell/MainWindow.h"
#include "shell/ShellFixture.h"
#include "store/DataLoadedEventHandler.h"
#include "store/DataSaver.h"
#include "support/TestSupport.h"
#include "support/support/ClosedPort.h"
#include "support/support/FakeCentralServer.h"
#include "support/support/FakePeer.h"
#include "support/support/FakeUpnpBackend.h"
#include "support/support/LogLines.h"
#include "support/support/StoreFile.h"
#include "ui_MainWindow.h"

// A whole client in this process, in a temporary home, with a gateway in memory that is never
// asked for, listening ports the system picks, and every prompt recorded instead of shown.
// m_store, once written, logs alice in to m_server with UPnP off and the web host at a closed
// port of this machine.
class ProgramFixture : public ::testing::Test, public DataLoadedEventHandler, protected FakeDesktop
{
protected:
    void SetUp() override
    {
        qputenv("HOME", m_home.Path().c_str());
        MainWindow::SetUpnpBackendFactory([] { return std::make_unique<FakeUpnpBackend>(); });
        MainWindow::SetFirstStartPrompt([this](QWidget*) { ++m_prompts; });
        MainWindow::SetBeforeLoad([this] {
            SetSetting("use_upnp", "no");
            SetSetting("listening_port", FakePeer::FreePort());
            SetSetting("obfuscated_listening_port", FakePeer::FreePort());
            dataSaver->AddDataLoadedEventHandler(this);
        });
    }

    void TearDown() override
    {
        mp_window.reset();
        MainWindow::SetUpnpBackendFactory({});
        MainWindow::SetFirstStartPrompt({});
        MainWindow::SetBeforeLoad({});
    }

    void DataLoaded() override { m_loaded << "loaded"; }
    void NoData() override { m_loaded << "no data"; }

    QString Home() const { return QString::fromStdString(m_home.Path()); }
    QString StorePath() const { return Home() + "/.Tarnwick"; }
    QByteArray StoreBytes() const
    {
        QFile l_file(StorePath());
        return l_file.open(QIODevice::ReadOnly) ? l_file.readAll() : QByteArray();
    }
    static bool WriteFile(const QString& i_path, const QByteArray& i_bytes)
    {
        QFile l_file(i_path);
        return l_file.open(QIODevice::WriteOnly) && l_file.write(i_bytes) == i_bytes.size();
    }

    // With TARNWICK_SCREENSHOTS naming a folder, the widget as it looks now is saved there.
    static void Picture(QWidget* ip_widget, const QString& i_name)
    {
        const QString l_folder = qEnvironmentVariable("TARNWICK_SCREENSHOTS");
        if (!l_folder.isEmpty())
        {
            EXPECT_TRUE(ip_widget->grab().save(l_folder + "/" + i_name));
        }
    }

    // A click on one of the window's own toolbar actions.
    void Trigger(const char* i_action) { mp_window->OnToolBarActionTriggered(nullptr, i_action); }

    void Start()
    {
        mp_window = std::make_unique<MainWindow>();
        // The diagnostics page took the lines over; the test reads them instead.
        logService.InstallSink(&m_log);
        mp_window->Init();
        mp_ui = mp_window->Ui();
    }
    void StartLoggedIn()
    {
        m_server.AcceptLogins();
        ASSERT_TRUE(m_store.WriteTo(StorePath()));
        Start();
        ASSERT_TRUE(QTest::qWaitFor([] { return gp_server->IsConnected(); }, 5000));
    }

    TemporaryFolder m_home;
    FakeCentralServer m_server;
    // Nothing a test does may reach the maker's web host, nor a listener of another test.
    ClosedPort m_closedWeb;
    StoreFile m_store = StoreFile().Setting("username", "alice").Setting("password", "secret")
        .Setting("server_host", "127.0.0.1").Setting("server_port", QString::number(m_server.Port()))
        .Setting("use_upnp", "no").Setting("web_host", "127.0.0.1")
        .Setting("web_port", QString::number(m_closedWeb.Port()));
    LogLines m_log;
    QStringList m_loaded;
    int m_prompts = 0;
    std::unique_ptr<MainWindow> mp_window;
    Ui_MainWindow* mp_ui = nullptr;
};
