#include "shell/MainWindow.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QLocale>
#include <QMoveEvent>
#include <QResizeEvent>
#include <QSystemTrayIcon>
#include <QTextCodec>
#include <QTimer>

#include <algorithm>

#include "diagnostics/DiagnosticsForm.h"
#include "diagnostics/Log.h"
#include "peer/PeerMessenger.h"
#include "resources/Resources.h"
#include "server/MiniUpnpBackend.h"
#include "server/Server.h"
#include "shares/DNetManager.h"
#include "shares/SharedFoldersManager.h"
#include "shares/WishListSearcher.h"
#include "shell/ActionSetToolBar.h"
#include "shell/ChangeUsernamePasswordDialog.h"
#include "shell/ColorSettings.h"
#include "shell/Desktop.h"
#include "shell/EventToolBar.h"
#include "shell/SettingsSnapshot.h"
#include "shell/ShowIsOver.h"
#include "shell/SizeManager.h"
#include "shell/UIFunctions.h"
#include "shell/UpdateChecker.h"
#include "store/Data.h"
#include "transfers/TransferQueueManager.h"
#include "store/DataSaver.h"
#include "store/DelayedInvoker.h"
#include "store/ExtendedAsciiTranslator.h"
#include "store/SchemaDeclaration.h"
#include "store/Settings.h"
#include "store/PathNode.h"
#include "store/TimerManager.h"
#include "store/Type.h"
#include "ui_MainWindow.h"
#include "views/chat/ChatsForm.h"
#include "views/chat/UserListForm.h"
#include "views/chat/UserNoteDialog.h"
#include "views/search/SearchForm.h"
#include "views/transfers/TransfersForm.h"

MainWindow* mainWindow = nullptr;

namespace
{
const char* const ConfigurationArea = "Configuration Data";
const char* const OfflineIcon = ":/icons/offline_icon";

// The sets of the window's own pages and of the user lists, known before the store is loaded.
const ToolbarAction WindowActions[] = {
    {"room_list", "create_room", "Create Room", ":/icons/room_icon", false},
    {"room_list", "refresh_room_list", "Refresh Room List", ":/icons/room_icon", false},
    {"room_list", "enable_private_room_add", "Accept Private Room Invitations", ":/icons/room_icon", false},
    {"room", "toggle_room_autojoin", "Toggle Room Autojoin", ":/icons/room_icon", false},
    {"room", "room_chat_log", "Chat Log", ":/icons/note_icon", false},
    {"room", "give_up_membership", "Give Up Membership", ":/icons/room_icon", false},
    {"room", "give_up_ownership", "Give Up Room", ":/icons/room_icon", false},
    {"shared_folders", "set_download_folder", "Set Download Folder", ":/icons/browse_icon", false},
    {"shared_folders", "share_folder", "Share Folder", ":/icons/browse_icon", false},
    {"shared_folders", "rescan_shares", "Rescan Shares", ":/icons/browse_icon", false},
    {"login_options", "connect_disconnect", "Connect", ":icons/online_icon", false},
    {"login_options", "set_user_pass", "Change Username/Password", ":icons/online_icon", false},
    {"login_options", "set_listening_port", "Change Listening Port", ":icons/online_icon", false},
    {"user", "message_user", "Message User", ":/icons/chat_icon", true},
    {"user", "browse_user", "Browse User's Files", ":/icons/browse_icon", true},
    {"user", "add_user", "Add User", ":/icons/add_user_icon", true},
};

// The sets of the chat log viewers and the private chats.
const ToolbarAction ChatActions[] = {
    {"chat_log", "clear_chat_log", "Clear Log", ":/icons/empty_note_icon", false},
    {"chat_log", "open_log_folder", "Open Log Folder", ":/icons/browse_icon", false},
    {"user_chat", "user_chat_log", "Chat Log", ":/icons/note_icon", false},
};

MainWindow::UpnpBackendFactory& UpnpFactory()
{
    static MainWindow::UpnpBackendFactory s_factory;
    return s_factory;
}

MainWindow::FirstStartPrompt& FirstStartPromptOverride()
{
    static MainWindow::FirstStartPrompt s_prompt;
    return s_prompt;
}

MainWindow::BeforeLoad& BeforeLoadCall()
{
    static MainWindow::BeforeLoad s_call;
    return s_call;
}

void LogConfiguration(const QString& i_text)
{
    Log(ConfigurationArea, 1, i_text);
}

// Sets the box only when the setting reads "yes"; otherwise the box keeps the form's state.
void CheckWhenYes(QCheckBox* ip_box, const char* i_key)
{
    if (GetSetting(i_key) == QLatin1String("yes"))
        ip_box->setChecked(true);
}
} // namespace

void MainWindow::SetUpnpBackendFactory(UpnpBackendFactory i_factory)
{
    UpnpFactory() = std::move(i_factory);
}

void MainWindow::SetFirstStartPrompt(FirstStartPrompt i_prompt)
{
    FirstStartPromptOverride() = std::move(i_prompt);
}

void MainWindow::SetBeforeLoad(BeforeLoad i_call)
{
    BeforeLoadCall() = std::move(i_call);
}

MainWindow::MainWindow(QWidget* ip_parent)
    : QMainWindow(ip_parent),
      mp_ui(new Ui_MainWindow),
      mp_trayIcon(new QSystemTrayIcon),
      mp_updateChecker(new UpdateChecker)
{
    mainWindow = this;
    InstallMainWindowHooks(this);
    // The form names compiled-in icons; a static library's resources must be registered first.
    InitResources();
    mp_ui->setupUi(this);
    QApplication::setWindowIcon(QIcon(OfflineIcon));

    QTreeWidget* lp_rooms = mp_ui->roomList;
    lp_rooms->setColumnWidth(0, 150);
    FitColumn(lp_rooms, 1, 30, {QString::number(LargestFigure::Queue)});
    lp_rooms->setHeaderLabels({tr("Room Name"), tr("Users")});
    lp_rooms->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(lp_rooms, &QTreeWidget::customContextMenuRequested, this,
            &MainWindow::OnRoomListContextMenuRequested);

    // Extra width goes to the chat, not to the list of rooms.
    mp_ui->roomSplitter->setStretchFactor(0, 1);
    mp_ui->roomSplitter->setStretchFactor(1, 0);

    mp_ui->sharedFoldersList->setColumnWidth(0, 400);
    mp_ui->sharedFoldersList->setHeaderLabels({tr("Shared folder"), tr("Accessible to")});
    ConnectOptionWidgets();
}

MainWindow::~MainWindow()
{
    g_showIsOver = true;
    // The child widgets go after this body; nothing the application reports while they do may
    // reach the half-destroyed window.
    if (qApp)
        qApp->disconnect(this);
    if (gp_server)
        gp_server->Disconnect();
    d.RemoveDisconnectedItems();
    SaveStore();
    DeleteEngines();
    mp_updateChecker.reset();
    mp_trayIcon.reset();
    InstallMainWindowHooks(nullptr);
    if (mainWindow == this)
        mainWindow = nullptr;
}

void MainWindow::DeleteEngines()
{
    delete transferQueueManager;
    transferQueueManager = nullptr;
    delete sharedFoldersManager;
    sharedFoldersManager = nullptr;
    delete delayedInvoker;
    delayedInvoker = nullptr;
    delete wishListSearcher;
    wishListSearcher = nullptr;
    delete dnetManager;
    dnetManager = nullptr;
    delete peerMessenger;
    peerMessenger = nullptr;
    delete mp_server;
    mp_server = nullptr;
    gp_server = nullptr;
    delete extendedAsciiTranslator;
    extendedAsciiTranslator = nullptr;
    delete dataSaver;
    dataSaver = nullptr;
    delete timerManager;
    timerManager = nullptr;
    delete mp_ui;
    mp_ui = nullptr;
    delete sizeManager;
    sizeManager = nullptr;
}

QString MainWindow::StorePath()
{
    return QDir::homePath() + QStringLiteral("/.Tarnwick");
}

QString MainWindow::TitleForBuild(qint64 i_build)
{
    return QStringLiteral("TarnwickQt build %1/%2/%3")
        .arg((i_build % 10000) / 100)
        .arg(i_build % 100)
        .arg(i_build / 10000);
}

void MainWindow::Init()
{
    CreateCoreEngines();
    WireConnectionStatus();
    PrepareRoomsPanel();
    PrepareContextToolbar();
    CreatePeerEngines();
    PrepareTrayAndChatTypes();
    CreateTransferEnginesAndPages();
    CreateEventToolBar();
    WriteDefaults();
    PrepareOptions();
    mp_ui->userListForm->Init();
    LoadStore();
    ApplyStoredLook();
    StartSession();
    ShowLoginOptions();
    RegisterSizes();
    StartPeriodicWork();
    RescanShares();
    PrepareChatsPage();
    ShowChatAndSharingOptions();
    ArmVersionCheck();
    ShowUserOptions();
    WatchExcludedExtensions();
}

// The title with the build date, the timers, the store file's keeper and the server link, then
// the settings types and the server link's own types; items travel in queued signals.
void MainWindow::CreateCoreEngines()
{
    setWindowTitle(TitleForBuild(g_currentVersion));

    new TimerManager();
    new DataSaver();
    std::unique_ptr<UpnpBackend> lp_upnp =
        UpnpFactory() ? UpnpFactory()() : std::make_unique<MiniUpnpBackend>();
    mp_server = new Server(std::move(lp_upnp));

    DeclareTypes({{"global", Primary, false},
                  {"vglobal", Primary, false},
                  {"global_value", Leaf, false}});
    DeclareRelations({{"global", "global_value", Many, One},
                      {"vglobal", "global_value", Many, One}});
    dataSaver->AddSavedType("global");
    dataSaver->AddSavedByConnectionType("global_value", "global");

    Server::CreateData();
    qRegisterMetaType<ItemPtr>("ItemPtr");
}

// The connection state shown in the window follows the server link from here on, and the user
// name on the login page follows its setting.
void MainWindow::WireConnectionStatus()
{
    connect(mp_server, &Server::Connected, this, &MainWindow::OnConnected);
    connect(mp_server, &Server::Connecting, this, &MainWindow::OnConnecting);
    connect(mp_server, &Server::Disconnected, this, &MainWindow::OnDisconnected);
    connect(mp_server, &Server::ConnectionFailed, this, &MainWindow::OnConnectionFailed);
    connect(mp_ui->roomList, &QTreeWidget::itemDoubleClicked, this,
            &MainWindow::OnRoomListItemDoubleClicked);
    SubscribeSetting("username", ConnectedAndNotify, &MainWindow::OnUsernameChanged);
}

// Rooms get their row in the room list through `room_node`; the rows keep the rooms we own,
// operate and belong to ahead of the rest.
void MainWindow::PrepareRoomsPanel()
{
    DeclareTypes({{"room_node", Primary, false}});
    DeclareRelations({{"room", "room_node", One, One}});
    SubscribeRoomsPanel();
}

// The context toolbar: its action sets, the room list with the room name as the actions' key,
// and the two option pages with toolbar actions.
void MainWindow::PrepareContextToolbar()
{
    actionBar->Init();
    actionBar->AddSetActions(WindowActions);
    actionBar->RegisterWidget(mp_ui->roomList, "room_list");
    actionBar->AddWidgetColumnKey(mp_ui->roomList, "room", 0);
    actionBar->RegisterWidget(mp_ui->fileSharingOptionsTab, "shared_folders");
    actionBar->RegisterWidget(mp_ui->loginOptionsTab, "login_options");
    connect(actionBar, &ActionSetToolBar::ActionTriggered, this,
            &MainWindow::OnToolBarActionTriggered);
}

// The peer messenger, the saved wish-list and user-note types, the delayed invoker; the
// distributed network and the shared folders follow the messenger, whose signals they use.
void MainWindow::CreatePeerEngines()
{
    new PeerMessenger();

    WishListSearcher::CreateData();
    DeclareTypes({{"user_note", Intermediate, false}});
    DeclareRelations({{"user", "user_note", Many, One}});
    dataSaver->AddSavedType("user_note");
    dataSaver->AddSavedByConnectionType("user", "user_note");

    new DelayedInvoker();
    new DNetManager();
    new SharedFoldersManager(this);
}

// The tray icon's first picture, the types that tie chat tabs to users and rooms.
void MainWindow::PrepareTrayAndChatTypes()
{
    if (QSystemTrayIcon::isSystemTrayAvailable())
        mp_trayIcon->setIcon(QIcon(OfflineIcon));
    DeclareTypes({{"user_chat_widget", Primary, false}, {"room_form", Primary, false}});
    DeclareRelations({{"user", "user_chat_widget", One, One}, {"room", "room_form", One, One}});
    SubscribeSharedFolders();
}

// Saved sizes, the diagnostics page, then the transfer queues (which need the shared folders'
// file types) and the pages built on them (the browse page), then the wish-list searcher.
void MainWindow::CreateTransferEnginesAndPages()
{
    new SizeManager();
    mp_ui->diagnosticsForm->Init();
    mp_ui->diagnosticsForm->RegisterLoggableItemType("user");
    // The page's library lies below the toolbar's, so its one action is wired from here.
    actionBar->AddSetAction("diagnostics", "dump_data", tr("Dump Data"), ":/icons/info_icon", false);
    actionBar->RegisterWidget(mp_ui->diagnosticsForm, "diagnostics");
    connect(actionBar, &ActionSetToolBar::ActionTriggered, mp_ui->diagnosticsForm,
            &DiagnosticsForm::OnActionTriggered);
    new TransferQueueManager();
    // Search replies tell the searcher of the upload queue as the transfer queues see it.
    sharedFoldersManager->SetUploadPolicy(
        {[] { return transferQueueManager && transferQueueManager->IsFreeToUpload(); },
         [] { return transferQueueManager ? transferQueueManager->QueuedUploadCount() : 0; }, {}});
    mp_ui->transfersForm->Init();
    mp_ui->sharesForm->Init();
    mp_ui->searchForm->Init();
    new WishListSearcher(this);
}

// The window has no context menu of its own; the event notices get a toolbar row below the
// context toolbar.
void MainWindow::CreateEventToolBar()
{
    setContextMenuPolicy(Qt::NoContextMenu);
    addToolBarBreak(Qt::TopToolBarArea);
    addToolBar(Qt::TopToolBarArea, new EventToolBar());
}

// The defaults of the window's and the views' settings; the load that follows replaces each with
// the stored value where there is one.
void MainWindow::WriteDefaults()
{
    SetSetting("minimize_to_tray", "yes");
    SetSetting("expand_new_shares", "yes");
    SetSetting("chat_timestamps", "activity_based");
    ColorSettings::WriteDefaults();
    SetSetting("log_room_chat", "yes");
    SetSetting("log_private_chat", "yes");
}

// The option check boxes that only a click changes, the obfuscated port, the per-user queue
// limit; the code-page translator and its box: "[None]", then every codec the toolkit offers.
void MainWindow::PrepareOptions()
{
    connect(mp_ui->logRoomChatCheckBox, &QCheckBox::clicked, this,
            &MainWindow::OnLogRoomChatCheckBoxClicked);
    connect(mp_ui->logPrivateChatCheckBox, &QCheckBox::clicked, this,
            &MainWindow::OnLogPrivateChatCheckBoxClicked);
    connect(mp_ui->emptyShareWarningCheckBox, &QCheckBox::clicked, this,
            &MainWindow::OnEmptyShareWarningMessageCheckBoxClicked);
    SubscribeSetting("obfuscated_listening_port", NotifyOnConnect, &MainWindow::OnObfuscatedPortSet);
    connect(mp_ui->maxUploadsPerUserSpinBox, QOverload<int>::of(&QSpinBox::valueChanged), this,
            &MainWindow::OnMaxUploadsPerUserSpinBoxValueChanged);

    new ExtendedAsciiTranslator();
    QComboBox* lp_box = mp_ui->codePageBox;
    lp_box->addItem(QStringLiteral("[None]"));
    for (const QByteArray& l_name : QTextCodec::availableCodecs())
        lp_box->addItem(QString::fromLatin1(l_name));
    connect(lp_box, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &MainWindow::OnCodePageSelected);
}

void MainWindow::LoadStore()
{
    const QString l_path = StorePath();
    LogConfiguration(QStringLiteral("Loading configuration data from %1").arg(l_path));
    DataSaver::RemoveLeftovers(l_path);
    if (BeforeLoadCall())
        BeforeLoadCall()();
    // A damaged file is found before it can empty the store, so everything declared and written
    // so far stays. Should the load itself fail all the same (the file changed or could no longer
    // be read), the settings written so far come back from this snapshot.
    const SettingsSnapshot l_defaults = SettingsSnapshot::Take();
    bool l_loaded = dataSaver->CanLoad(l_path);
    try
    {
        if (l_loaded)
            dataSaver->Load(l_path);
    }
    catch (const DataLoadFailure&)
    {
        l_loaded = false;
    }
    if (l_loaded)
    {
        LogConfiguration(QStringLiteral("Data loaded successfully."));
        return;
    }
    LogConfiguration(QStringLiteral("Failure to load configuration data."));
    const QString l_keptAs = MoveDamagedStoreAside(l_path);
    if (l_keptAs.isEmpty())
        LogConfiguration(QStringLiteral("Could not move the unreadable configuration data aside."));
    else
        LogConfiguration(QStringLiteral("Kept the unreadable configuration data as %1").arg(l_keptAs));
    Desktop::ShowMessageBox(
        QMessageBox::Information, this, tr("Error loading configuration data"),
        tr("Your client configuration data could not be loaded. Starting from scratch..."));
    // Starting from scratch is a first start: every default in place, every component told.
    l_defaults.Restore();
    dataSaver->EmitDataLoaded();
    dataSaver->EmitNoData();
}

QString MainWindow::MoveDamagedStoreAside(const QString& i_path)
{
    const QString l_stem = i_path + QStringLiteral(".damaged-") +
                           QLocale::c().toString(QDateTime::currentDateTime(),
                                                 QStringLiteral("yyyyMMdd-HHmmss"));
    QString l_name = l_stem;
    for (int l_copy = 2; QFile::exists(l_name); ++l_copy)
        l_name = l_stem + QLatin1Char('-') + QString::number(l_copy);
    // The kept copy holds the password as the store did, and a store saved by an earlier version
    // may be open to every user: narrowed first, so that no copy of it is ever made wider.
    QFile::setPermissions(i_path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return QFile::rename(i_path, l_name) ? l_name : QString();
}

// The stored code page in its box (an unknown one leaves "[None]"), the stored palette, and the
// mark of the data's version.
void MainWindow::ApplyStoredLook()
{
    const QString l_codePage = GetSetting("extended_ascii_codepage");
    if (!l_codePage.isEmpty())
    {
        const int l_index =
            mp_ui->codePageBox->findText(l_codePage, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (l_index >= 0)
            mp_ui->codePageBox->setCurrentIndex(l_index);
    }
    ColorSettings::InstallStoredPalette();
    SetSetting("data_version", "1");
}

// A first start asks for a user name before anything connects; with one, the link starts.
void MainWindow::StartSession()
{
    if (!SettingValueItem("username"))
    {
        if (FirstStartPromptOverride())
            FirstStartPromptOverride()(this);
        else
            ChangeUsernamePasswordDialog::AskAtFirstStart();
    }
    if (SettingValueItem("username"))
        mp_server->Connect();
}

// The login page and the first general options from the stored settings.
void MainWindow::ShowLoginOptions()
{
    mp_ui->downloadFolderEdit->setText(GetSetting("download_folder"));
    mp_ui->uPnPCheckBox->setChecked(IsSettingYes("use_upnp"));
    mp_ui->autoExpandSharesCheckBox->setChecked(IsSettingYes("expand_new_shares"));
    if (IsSettingYes("minimize_to_tray"))
    {
        mp_ui->minimizeToTrayCheckBox->setChecked(true);
        if (QSystemTrayIcon::isSystemTrayAvailable())
            mp_trayIcon->show();
    }
    mp_ui->listeningPortEdit->setText(GetSetting("listening_port"));
    SubscribeSetting("new_listening_port", ConnectedAndNotify,
                     &MainWindow::OnNewListeningPortChanged);
    SelectStoredTimestamps();
}

// The room list starts with 220 pixels of the window's width, or what its columns take, and the
// chat with the rest, until saved sizes say otherwise. The window's own place and size join once
// it reports them.
void MainWindow::RegisterSizes()
{
    sizeManager->RegisterResizableWindow("main_window", &m_sizeProxy);
    const int l_roomList = std::max(220, WidthOfAllColumns(mp_ui->roomList));
    mp_ui->roomSplitter->setSizes({width() - l_roomList, l_roomList});
    sizeManager->RegisterSplitter("room_list_splitter", mp_ui->roomSplitter, {});
    sizeManager->RegisterTreeWidget("room_list", mp_ui->roomList);
}

void MainWindow::StartPeriodicWork()
{
    connect(timerManager->fiveMinuteTimer, &QTimer::timeout, this, &MainWindow::EveryFiveMinutes);
    connect(mp_trayIcon.get(), &QSystemTrayIcon::activated, this, &MainWindow::OnTrayIconActivated);
}

// The note dialogs' registry; the window comes to the front and the shared folders are scanned
// once (later rescans are reported); the user name and the shared-folder list take the focus on
// their pages.
void MainWindow::RescanShares()
{
    UserNoteDialog::Init();
    ActivateWindow(this);
    sharedFoldersManager->Init();
    connect(sharedFoldersManager, &SharedFoldersManager::SharedFilesRescanned, this,
            &MainWindow::OnSharedFilesRescanned);
    RegisterWidgetForTabFocus(mp_ui->usernameEdit, 1);
    RegisterWidgetForTabFocus(mp_ui->sharedFoldersList, 1);
}

// The private chats page; chat log viewers are tied to their room or user and have their own
// toolbar actions, as private chats do.
void MainWindow::PrepareChatsPage()
{
    DeclareTypes({{"chat_log_form", Primary, false}});
    DeclareRelations({{"chat_log_form", "room", One, One}, {"chat_log_form", "user", One, One}});
    actionBar->AddSetActions(ChatActions);
    // A private message opens its sender's tab, or goes to the one open.
    mp_ui->chatsForm->Init();
    connect(mp_server, &Server::PrivateChat, mp_ui->chatsForm, &ChatsForm::OnPrivateChat);
    connect(mp_server, &Server::PrivateRoomAddEnabled, this, &MainWindow::OnPrivateRoomAddEnabled);
}

void MainWindow::ShowChatAndSharingOptions()
{
    mp_ui->logRoomChatCheckBox->setChecked(IsSettingYes("log_room_chat"));
    mp_ui->logPrivateChatCheckBox->setChecked(IsSettingYes("log_private_chat"));
    mp_ui->emptyShareWarningCheckBox->setChecked(IsSettingYes("check_for_empty_shares"));
    mp_ui->emptyShareWarningEdit->setText(GetSetting("empty_share_message"));
    mp_ui->emptyShareWarningEdit->setCursorPosition(0);
    mp_ui->acceptUserListUploadsCheckBox->setChecked(IsSettingYes("accept_userlist_uploads"));
    connect(mp_ui->emptyShareWarningEdit, &QLineEdit::textEdited, this,
            &MainWindow::OnEmptyShareWarningEditEdited);
    connect(mp_ui->saveEmptyShareWarningMessageButton, &QPushButton::clicked, this,
            &MainWindow::OnSaveEmptyShareWarningMessageButtonClicked);
}

// The version check runs on the first login of this run.
void MainWindow::ArmVersionCheck()
{
    mp_updateChecker->Init();
    connect(mp_updateChecker.get(), &UpdateChecker::NewVersion, this, &MainWindow::OnNewVersion);
}

void MainWindow::ShowUserOptions()
{
    mp_ui->maxUploadsPerUserSpinBox->setValue(
        static_cast<int>(GetSettingInt("max_queued_uploads_per_user")));
    mp_ui->userPictureFilenameEdit->setText(GetSetting("user_picture_file"));
    mp_ui->userDescriptionEdit->setPlainText(GetSetting("user_description"));
    CheckWhenYes(mp_ui->showAwayStatusCheckBox, "show_away_status_in_application_icon");
    CheckWhenYes(mp_ui->userLevelLoggingCheckBox, "user_level_logging");
    CheckWhenYes(mp_ui->openGroupsOnUserAddCheckBox, "open_groups_on_user_add");
    mp_ui->sharedFoldersList->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(mp_ui->sharedFoldersList, &QTreeWidget::customContextMenuRequested, this,
            &MainWindow::OnSharedFoldersListContextMenuRequested);
    connect(mp_server, &Server::AdminMessage, this, &MainWindow::OnAdminMessage);
}

// The options page lists the extensions excluded from folder downloads as they change.
void MainWindow::WatchExcludedExtensions()
{
    Type* lp_extensions = d.GetType("excluded_download_extension");
    lp_extensions->m_newItemEvent.AddHandler(
        NewEventHandler(this, &MainWindow::OnExcludedDownloadExtensionAddedOrRemoved));
    lp_extensions->m_removedEvent.AddHandler(
        NewEventHandler(this, &MainWindow::OnExcludedDownloadExtensionAddedOrRemoved));
    OnExcludedDownloadExtensionAddedOrRemoved(ItemPtr());
}

int MainWindow::SizeProxy::GetX()
{
    return mainWindow->geometry().x();
}

int MainWindow::SizeProxy::GetY()
{
    return mainWindow->geometry().y();
}

int MainWindow::SizeProxy::GetWidth()
{
    return mainWindow->geometry().width();
}

int MainWindow::SizeProxy::GetHeight()
{
    return mainWindow->geometry().height();
}

void MainWindow::SizeProxy::SetPosition(int i_x, int i_y)
{
    QRect l_geometry = mainWindow->geometry();
    l_geometry.moveTopLeft(QPoint(i_x, i_y));
    mainWindow->setGeometry(l_geometry);
}

void MainWindow::SizeProxy::SetSize(int i_width, int i_height)
{
    QRect l_geometry = mainWindow->geometry();
    l_geometry.setSize(QSize(i_width, i_height));
    mainWindow->setGeometry(l_geometry);
}

// A maximised window reports nothing, so the saved geometry stays that of the normal window.
void MainWindow::moveEvent(QMoveEvent* ip_event)
{
    QMainWindow::moveEvent(ip_event);
    if (!isMaximized())
        emit m_sizeProxy.WindowMoved(geometry().x(), geometry().y());
}

void MainWindow::resizeEvent(QResizeEvent* ip_event)
{
    QMainWindow::resizeEvent(ip_event);
    if (!isMaximized())
        emit m_sizeProxy.WindowResized(ip_event->size().width(), ip_event->size().height());
}

void MainWindow::EveryFiveMinutes()
{
    d.RemoveDisconnectedItems();
    LogConfiguration(QStringLiteral("Saving configuration data to %1").arg(StorePath()));
    SaveStore();
}

void MainWindow::SaveStore()
{
    if (!dataSaver)
        return;
    bool l_saved = false;
    try
    {
        l_saved = dataSaver->Save(StorePath());
    }
    catch (const DataSaveFailure&)
    {
    }
    if (!l_saved)
        LogConfiguration(QStringLiteral("Failure to save configuration data."));
}
