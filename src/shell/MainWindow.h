#pragma once

#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <QSystemTrayIcon>

#include <ctime>
#include <functional>
#include <memory>

#include "shell/MainWindowHooks.h"
#include "shell/ResizableWindow.h"
#include "store/ConnectionInfo.h"
#include "store/DataHandler.h"
#include "store/ItemPtr.h"

class QMenu;
class QTreeWidget;
class QTreeWidgetItem;
class Server;
class Ui_MainWindow;
class UpdateChecker;
class UpnpBackend;

// The one main window. It assembles the whole client: `Init` creates every engine in its fixed
// order, declares the types that belong to no engine, writes the setting defaults, loads the
// store and starts the session; the destructor saves the store and takes the engines down.
class MainWindow : public QMainWindow, public DataHandler, public MainWindowHooks
{
    Q_OBJECT

public:
    // Keeps the window's place and size with the size manager, which saves them in the store.
    class SizeProxy : public ResizableWindow
    {
    public:
        using ResizableWindow::ResizableWindow;
        int GetX() override;
        int GetY() override;
        int GetWidth() override;
        int GetHeight() override;
        void SetPosition(int i_x, int i_y) override;
        void SetSize(int i_width, int i_height) override;
    };


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

    // What the toolbars reach through their hooks.
    void SetApplicationIcon(const QString& i_path) override;
    void ResetApplicationIcon() override;
    void PopupAlert(const QString& i_text) override;
    bool IsMainWindowActive() const override;

public slots:
    void EveryFiveMinutes();

    // Connection state, icon, tray and notices.
    void OnConnecting();
    void OnConnected();
    void OnDisconnected();
    void OnConnectionFailed(QString i_reason);
    void OnDisconnectClicked();
    void OnChangeUsernamePasswordClicked();
    void OnTrayIconActivated(QSystemTrayIcon::ActivationReason i_reason);
    void OnAdminMessage(QString i_message);
    void OnNewVersion(qint64 i_version, QString i_downloadLink, QStringList i_description);

    // The rooms panel.
    void OnRoomListItemDoubleClicked(QTreeWidgetItem* ip_item, int i_column);
    void OnRoomListContextMenuRequested(const QPoint& i_point);
    void OnEnterRoom();
    void OnRoomTabClosed(int i_index);
    void OnPrivateRoomAddEnabled(bool i_enabled);

    // The context toolbar's actions of the window's own sets.
    void OnToolBarActionTriggered(QWidget* ip_widget, QString i_action);

    // The options pages.
    void OnExpandNewSharesCheckboxToggled(bool i_checked);
    void OnLogRoomChatCheckBoxClicked(bool i_checked);
    void OnLogPrivateChatCheckBoxClicked(bool i_checked);
    void OnEmptyShareWarningMessageCheckBoxClicked(bool i_checked);
    void OnAcceptUserlistUploadsCheckboxToggled(bool i_checked);
    void OnUserLevelLoggingClicked(bool i_checked);
    void OnOpenGroupsOnUserAddClicked(bool i_checked);
    void OnMinimizeToTrayCheckboxToggled(bool i_checked);
    void OnShowAwayStatusClicked(bool i_checked);
    void OnUPnPCheckboxToggled(bool i_checked);
    void OnChatTimestampsBoxIndexChanged(int i_index);
    void OnCodePageSelected(int i_index);
    void OnMaxUploadsPerUserSpinBoxValueChanged(int i_value);
    void OnEmptyShareWarningEditEdited(const QString& i_text);
    void OnSaveEmptyShareWarningMessageButtonClicked();
    void OnCheckPortsClicked();
    void OnSelectColors();
    void OnSelectPictureClicked();
    void OnClearPictureClicked();
    void OnUserInfoTextChanged();
    void OnOptionsTabSelectionChanged(int i_tabIndex);
    void OnEditExcludedDownloadExtensionsClicked();

    // The shared-folders panel.
    void OnSharedFilesRescanned(int i_filesAdded, int i_filesRemoved);
    void OnSharedFoldersListContextMenuRequested(const QPoint& i_point);
    void OnSetFolderPermissions();
    void OnUnshareFolder();

protected:
    void moveEvent(QMoveEvent* ip_event) override;
    void resizeEvent(QResizeEvent* ip_event) override;

private:
    // Store handlers.
    void OnUsernameChanged(ItemPtr i_setting);
    void OnRoomAdded(ItemPtr i_room);
    void OnRoomUserCountChanged(ItemPtr i_room);
    void OnBecomingRoomMember(ItemPtr i_room);
    void OnBecomingRoomOperator(ItemPtr i_room);
    void OnBecomingRoomOwner(ItemPtr i_room);
    void OnLosingRoomRole(ItemPtr i_room);
    void OnEnteredRoom(ConnectionInfo& i_connection);
    void OnObfuscatedPortSet(ItemPtr i_value);
    void OnNewListeningPortChanged(ItemPtr i_value);
    void OnExcludedDownloadExtensionAddedOrRemoved(ItemPtr i_extension);
    void OnSharedFolderAdded(ItemPtr i_folder);
    void OnSharedFolderRemoved(ItemPtr i_folder);
    void OnSharedFolderChange(ConnectionInfo i_connection);

    // Wiring of the panels, called from the start-up groups.
    void ConnectOptionWidgets();
    void SubscribeRoomsPanel();
    void SubscribeSharedFolders();
    QTreeWidgetItem* SharedFolderRow(const QString& i_path) const;
    ItemPtr SelectedSharedFolder() const;
    void SubscribeSetting(const char* i_key, int i_relation, void (MainWindow::*i_handler)(ItemPtr));
    // The row of a room, or null when it has none yet.
    static QTreeWidgetItem* RoomRow(ItemPtr i_room);
    void SetRoomFont(ItemPtr i_room, const std::function<void(QFont&)>& i_change);
    // A joined room's chat tab, unless it has one.
    void OpenRoomTab(ItemPtr i_room);
    void OpenRoomChatLog(const QString& i_room);
    void SetConnectActionText(const QString& i_text);
    static void RunPopupMenu(QMenu& io_menu, QTreeWidget* ip_list, const QPoint& i_point);
    void SelectStoredTimestamps();

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
    SizeProxy m_sizeProxy;
};

extern MainWindow* mainWindow;
