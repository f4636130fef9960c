// The options pages: each widget writes its setting the moment it changes.
#include <QTextCodec>

#include "server/PortForwarder.h"
#include "shell/ColorSelectionDialog.h"
#include "shell/Desktop.h"
#include "shell/MainWindow.h"
#include "shell/WebHost.h"
#include "store/Data.h"
#include "store/ExtendedAsciiTranslator.h"
#include "store/PathNode.h"
#include "store/Settings.h"
#include "store/Type.h"
#include "ui_MainWindow.h"
#include "views/search/ExcludedExtensionsDialog.h"

namespace
{
// The time-stamp box's entries in their order, each carrying the text it stores.
const char* const TimestampModes[][2] = {
    {"Activity based", "activity_based"},
    {"Per message (short)", "per_message_short"},
    {"Per message (long)", "per_message_long"},
    {"No timestamps", "no_timestamps"},
};
const char* const NoTimestamps = "no_timestamps";

QString ObfuscatedPortText(qint64 i_port)
{
    return MainWindow::tr("Obfuscated port is %1, if you're manually forwarding your ports be sure "
                          "to open it as well.")
        .arg(i_port);
}
} // namespace

// The widgets' own signals; connected before start-up fills them, so filling writes through as
// a change by the user would.
void MainWindow::ConnectOptionWidgets()
{
    Ui_MainWindow* lp_ui = mp_ui;
    QComboBox* lp_stamps = lp_ui->chatTimestampsBox;
    lp_stamps->clear();
    for (const auto& l_mode : TimestampModes)
        lp_stamps->addItem(tr(l_mode[0]), QString::fromLatin1(l_mode[1]));

    connect(lp_ui->roomsTabControl, &QTabWidget::tabCloseRequested, this,
            &MainWindow::OnRoomTabClosed);
    connect(lp_ui->optionsTabControl, &QTabWidget::currentChanged, this,
            &MainWindow::OnOptionsTabSelectionChanged);
    connect(lp_ui->uPnPCheckBox, &QCheckBox::toggled, this, &MainWindow::OnUPnPCheckboxToggled);
    connect(lp_ui->minimizeToTrayCheckBox, &QCheckBox::toggled, this,
            &MainWindow::OnMinimizeToTrayCheckboxToggled);
    connect(lp_ui->autoExpandSharesCheckBox, &QCheckBox::toggled, this,
            &MainWindow::OnExpandNewSharesCheckboxToggled);
    connect(lp_ui->acceptUserListUploadsCheckBox, &QCheckBox::toggled, this,
            &MainWindow::OnAcceptUserlistUploadsCheckboxToggled);
    connect(lp_stamps, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &MainWindow::OnChatTimestampsBoxIndexChanged);
    connect(lp_ui->selectColorsButton, &QPushButton::clicked, this, &MainWindow::OnSelectColors);
    connect(lp_ui->selectPictureButton, &QPushButton::clicked, this,
            &MainWindow::OnSelectPictureClicked);
    connect(lp_ui->clearPictureButton, &QPushButton::clicked, this,
            &MainWindow::OnClearPictureClicked);
    connect(lp_ui->checkPortsButton, &QPushButton::clicked, this,
            &MainWindow::OnCheckPortsClicked);
    connect(lp_ui->editExcludedExtensionsButton, &QPushButton::clicked, this,
            &MainWindow::OnEditExcludedDownloadExtensionsClicked);
    connect(lp_ui->userDescriptionEdit, &QPlainTextEdit::textChanged, this,
            &MainWindow::OnUserInfoTextChanged);
    connect(lp_ui->showAwayStatusCheckBox, &QCheckBox::clicked, this,
            &MainWindow::OnShowAwayStatusClicked);
    connect(lp_ui->userLevelLoggingCheckBox, &QCheckBox::clicked, this,
            &MainWindow::OnUserLevelLoggingClicked);
    connect(lp_ui->openGroupsOnUserAddCheckBox, &QCheckBox::clicked, this,
            &MainWindow::OnOpenGroupsOnUserAddClicked);
}

void MainWindow::SubscribeSetting(const char* i_key, int i_relation,
                                  void (MainWindow::*i_handler)(ItemPtr))
{
    PathNode* lp_root = new PathNode(d.GetType("global")->NewItem(i_key));
    new PathNode(lp_root, "global_value", static_cast<PathNodeRelation>(i_relation));
    d.AddPathEventHandler(lp_root, NewEventHandler(this, i_handler));
}

void MainWindow::OnExpandNewSharesCheckboxToggled(bool i_checked)
{
    SetFlagSetting("expand_new_shares", i_checked);
}

void MainWindow::OnLogRoomChatCheckBoxClicked(bool i_checked)
{
    SetFlagSetting("log_room_chat", i_checked);
}

void MainWindow::OnLogPrivateChatCheckBoxClicked(bool i_checked)
{
    SetFlagSetting("log_private_chat", i_checked);
}

void MainWindow::OnEmptyShareWarningMessageCheckBoxClicked(bool i_checked)
{
    SetFlagSetting("check_for_empty_shares", i_checked);
}

void MainWindow::OnAcceptUserlistUploadsCheckboxToggled(bool i_checked)
{
    SetFlagSetting("accept_userlist_uploads", i_checked);
}

void MainWindow::OnUserLevelLoggingClicked(bool i_checked)
{
    SetFlagSetting("user_level_logging", i_checked);
}

void MainWindow::OnOpenGroupsOnUserAddClicked(bool i_checked)
{
    SetFlagSetting("open_groups_on_user_add", i_checked);
}

void MainWindow::OnMinimizeToTrayCheckboxToggled(bool i_checked)
{
    SetFlagSetting("minimize_to_tray", i_checked);
    if (QSystemTrayIcon::isSystemTrayAvailable())
        mp_trayIcon->setVisible(i_checked);
}

void MainWindow::OnShowAwayStatusClicked(bool i_checked)
{
    SetFlagSetting("show_away_status_in_application_icon", i_checked);
    ResetApplicationIcon();
}

void MainWindow::OnUPnPCheckboxToggled(bool i_checked)
{
    SetFlagSetting("use_upnp", i_checked);
    if (i_checked && portForwarder)
        portForwarder->Init();
}

void MainWindow::OnChatTimestampsBoxIndexChanged(int i_index)
{
    const QString l_mode = mp_ui->chatTimestampsBox->itemData(i_index).toString();
    SetSetting("chat_timestamps", l_mode.isEmpty() ? QString::fromLatin1(NoTimestamps) : l_mode);
}

void MainWindow::SelectStoredTimestamps()
{
    QComboBox* lp_box = mp_ui->chatTimestampsBox;
    int l_entry = lp_box->findData(GetSetting("chat_timestamps"));
    if (l_entry < 0)
        l_entry = lp_box->findData(QString::fromLatin1(NoTimestamps));
    lp_box->setCurrentIndex(l_entry);
}

void MainWindow::OnCodePageSelected(int i_index)
{
    if (!extendedAsciiTranslator)
        return;
    extendedAsciiTranslator->SetCodePage(
        i_index <= 0 ? std::string() : mp_ui->codePageBox->itemText(i_index).toStdString());
}

void MainWindow::OnMaxUploadsPerUserSpinBoxValueChanged(int i_value)
{
    SetSetting("max_queued_uploads_per_user", QString::number(i_value));
}

void MainWindow::OnEmptyShareWarningEditEdited(const QString& i_text)
{
    mp_ui->saveEmptyShareWarningMessageButton->setEnabled(!i_text.trimmed().isEmpty());
}

void MainWindow::OnSaveEmptyShareWarningMessageButtonClicked()
{
    SetSetting("empty_share_message", mp_ui->emptyShareWarningEdit->text());
    mp_ui->emptyShareWarningEdit->setCursorPosition(0);
    mp_ui->saveEmptyShareWarningMessageButton->setEnabled(false);
}

void MainWindow::OnCheckPortsClicked()
{
    for (const char* l_key : {"listening_port", "obfuscated_listening_port"})
        Desktop::OpenWebPage(WebHostUrl(
            QStringLiteral("/porttest.php?port=%1").arg(GetSettingInt(l_key))));
}

void MainWindow::OnSelectColors()
{
    auto* lp_dialog = new ColorSelectionDialog(this);
    lp_dialog->setAttribute(Qt::WA_DeleteOnClose);
    lp_dialog->show();
}

void MainWindow::OnSelectPictureClicked()
{
    const QStringList l_files = Desktop::ChooseFiles(this, tr("Select Picture"), false);
    if (l_files.isEmpty())
        return;
    SetSetting("user_picture_file", l_files.first());
    mp_ui->userPictureFilenameEdit->setText(l_files.first());
}

void MainWindow::OnClearPictureClicked()
{
    d.GetType("global")->NewItem("user_picture_file").Disconnect("global_value");
    mp_ui->userPictureFilenameEdit->clear();
}

void MainWindow::OnUserInfoTextChanged()
{
    SetSetting("user_description", mp_ui->userDescriptionEdit->toPlainText());
}

void MainWindow::OnOptionsTabSelectionChanged(int i_tabIndex)
{
    if (i_tabIndex != -1 &&
        mp_ui->optionsTabControl->tabText(i_tabIndex) == QLatin1String("File Sharing"))
        mp_ui->sharedFoldersList->setFocus(Qt::OtherFocusReason);
}

void MainWindow::OnObfuscatedPortSet(ItemPtr)
{
    mp_ui->obfuscatedPortLabel->setText(
        ObfuscatedPortText(GetSettingInt("obfuscated_listening_port")));
}

void MainWindow::OnNewListeningPortChanged(ItemPtr)
{
    const QString l_port = GetSetting("new_listening_port");
    mp_ui->listeningPortEdit->setText(l_port);
    mp_ui->obfuscatedPortLabel->setText(ObfuscatedPortText(l_port.toLongLong() + 1));
}

void MainWindow::OnExcludedDownloadExtensionAddedOrRemoved(ItemPtr)
{
    QStringList l_extensions;
    for (ItemPtr l_extension : g("excluded_download_extension"))
        l_extensions << l_extension.AsString();
    mp_ui->excludedExtensionsEdit->setText(l_extensions.join(QLatin1Char(' ')));
}

void MainWindow::OnEditExcludedDownloadExtensionsClicked()
{
    ExcludedExtensionsDialog::Open(this);
}
