#pragma once

#include <QMainWindow>
#include <QString>

#include <functional>
#include <memory>

#include "store/DataHandler.h"

class QSystemTrayIcon;
class Server;
class Ui_MainWindow;
class UpdateChecker;
class UpnpBackend;

// The one main window. It assembles the whole client: `Init` creates every engine in its fixed
// order, declares the types that belong to no engine, writes the setting defaults, loads the
// store and starts the session; the destructor saves the store and takes the engines down.
class MainWindow : public QMainWindow, public DataHandler
{
    Q_OBJECT

public:
    // Where the program meets what tests must replace: the router's UPnP gateway, the modal
    // first-start prompt for a user name and password, and a call just
    // before the store file is read, where tests put settings as a component's defaults would be
    // (their own listening ports). Empty functions mean the real program.
    using UpnpBackendFactory = std::function<std::unique_ptr<UpnpBackend>()>;
    using FirstStartPrompt = std::function<void(QWidget* ip_window)>;
    using BeforeLoad = std::function<void()>;
    static void SetUpnpBackendFactory(UpnpBackendFactory i_factory);
    static void SetFirstStartPrompt(FirstStartPrompt i_prompt);
    static void SetBeforeLoad(BeforeLoad i_call);

    explicit MainWindow(QWidget* ip_parent = nullptr);
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // The start-up sequence; called once, after the window has been shown.
    void Init();

    // The home directory followed by "/.Tarnwick".
    static QString StorePath();
    // "TarnwickQt build 9/15/2012" for the build 20120915.
    static QString TitleForBuild(qint64 i_build);

    Ui_MainWindow* Ui() const { return mp_ui; }

public slots:
    void EveryFiveMinutes();

private:
    // The start-up sequence, in its order.
    void CreateCoreEngines();
    void WireConnectionStatus();
    void PrepareRoomsPanel();
    void PrepareContextToolbar();
    void CreatePeerEngines();
    void PrepareTrayAndChatTypes();
    void CreateTransferEnginesAndPages();
    void CreateEventToolBar();
    void WriteDefaults();
    void PrepareOptions();
    void LoadStore();
    void ApplyStoredLook();
    void StartSession();
    void ShowLoginOptions();
    void RegisterSizes();
    void StartPeriodicWork();
    void RescanShares();
    void PrepareChatsPage();
    void ShowChatAndSharingOptions();
    void ArmVersionCheck();
    void ShowUserOptions();
    void WatchExcludedExtensions();

    // A store file that cannot be read is kept under a dated name beside it, so the next save
    // cannot overwrite the user's only copy; returns the new name, empty when it could not move.
    static QString MoveDamagedStoreAside(const QString& i_path);
    // Logs a save that did not reach the disk instead of letting it end the program.
    void SaveStore();
    // Deletes the engines in their order, clearing each global as its engine goes.
    void DeleteEngines();

    Ui_MainWindow* mp_ui = nullptr;
    Server* mp_server = nullptr;
    std::unique_ptr<QSystemTrayIcon> mp_trayIcon;
    std::unique_ptr<UpdateChecker> mp_updateChecker;
};

extern MainWindow* mainWindow;
