#include "ProgramFixture.h"
#include "shares/SharedFoldersManager.h"
#include "shell/ActionSetToolBar.h"
#include "shell/AdminMessageDialog.h"
#include "shell/ChangeListeningPortDialog.h"
#include "shell/ChangeUsernamePasswordDialog.h"
#include "shell/NewVersionDialog.h"
#include "shell/UIFunctions.h"
#include "support/support/ModalAnswers.h"
#include "views/chat/ChatLog.h"
#include "views/chat/ChatLogForm.h"
#include "views/chat/CreateRoomDialog.h"
#include "views/search/AddSharedFolderDialog.h"
#include "views/search/ExcludedExtensionsDialog.h"
#include "views/search/SharedFilesRescannedDialog.h"

class MainWindowPanels : public ProgramFixture
{
protected:
    // The texts the context toolbar shows while the focus is in the widget.
    QStringList ToolbarTexts(QWidget* ip_widget)
    {
        mp_window->show();
        return ::ToolbarTexts(actionBar, mp_window.get(), ip_widget);
    }
    QString ConnectText() { return ToolbarTexts(mp_ui->loginOptionsTab).value(0); }

    // Frames with this code the client sent since the last call.
    QList<QByteArray> Sent(qint32 i_code)
    {
        QList<QByteArray> l_fields;
        for (const FakeCentralServer::Frame& l_frame : m_server.Frames().mid(m_seen))
            if (l_frame.code == i_code)
                l_fields << l_frame.fields;
        m_seen = m_server.Frames().size();
        return l_fields;
    }

    template <class Dialog> int Open() const { return mp_window->findChildren<Dialog*>().size(); }

    int m_seen = 0;
};

TEST_F(MainWindowPanels, ConnectActionAndIconFollowTheLinkAndLoginFailuresExplainThemselves)
{
    StartLoggedIn();
    EXPECT_EQ(ConnectText(), "Disconnect");
    EXPECT_TRUE(ShowsIcon(mp_window->windowIcon(), ":/icons/online_icon"));
    ASSERT_TRUE(m_server.WaitForFrames(2));
    EXPECT_EQ(Sent(92).size(), 1);
    EXPECT_EQ(GetSetting("enable_private_room_add"), "no");
    const struct { const char *status, *showAway, *icon; } l_icons[] = {
        {"away", "yes", ":/icons/away_icon"}, {"away", "no", ":/icons/online_icon"},
        {"available", "yes", ":/icons/online_icon"}};
    for (const auto& l_case : l_icons)
    {
        SetSetting("availability_status", l_case.status);
        SetSetting("show_away_status_in_application_icon", l_case.showAway);
        mp_window->ResetApplicationIcon();
        EXPECT_TRUE(ShowsIcon(QApplication::windowIcon(), l_case.icon)) << l_case.status;
    }
    // A dropped link reconnects by itself: only the account's own faults are worth a box then.
    m_server.StaySilentOnLogin();
    m_server.DropClient();
    ASSERT_TRUE(QTest::qWaitFor([this] { return ConnectText() == "Connect"; }, 5000));
    ASSERT_TRUE(gp_server->IsAbruptlyDisconnected());
    EXPECT_TRUE(ShowsIcon(mp_window->windowIcon(), ":/icons/offline_icon"));
    mp_window->ResetApplicationIcon();
    EXPECT_TRUE(ShowsIcon(mp_window->windowIcon(), ":/icons/offline_icon"));
    for (const char* l_reason : {"INVALIDPASS", "INVALIDUSERNAME", "SVRFULL"})
    {
        mp_window->OnConnectionFailed(l_reason);
        EXPECT_EQ(ConnectText(), "Connect") << l_reason;
    }
    // A fresh attempt that is refused says why.
    gp_server->Disconnect();
    m_server.RefuseLogins("<b>SVRFULL</b> & more");
    gp_server->Connect();
    EXPECT_EQ(ConnectText(), "Connecting...");
    ASSERT_TRUE(QTest::qWaitFor([this] { return m_boxes.size() == 3; }, 5000));
    const QString l_advice = " Please change your login settings in the Options tab and try reconnecting.";
    EXPECT_EQ(m_boxes, QStringList({"Login Failure: Wrong Password: Login failed. The password you supplied "
                                    "does not match your username." + l_advice,
                                    "Login Failure: Username is Invalid: Login failed. The username you "
                                    "supplied is invalid." + l_advice,
                                    "Login Failure: Login failed. Reported failure reason: <b>SVRFULL</b> & more." +
                                        l_advice}));
}

TEST_F(MainWindowPanels, RoomRowsFollowTheServersRoomListAndEnterRoomsByName)
{
    StartLoggedIn();
    Trigger("refresh_room_list");
    ASSERT_TRUE(m_server.WaitForFrames(3));
    EXPECT_EQ(Sent(64).size(), 1);
    auto l_sendList = [this](QStringList i_public, QList<qint32> i_counts) {
        m_server.SendFrame(64, WireFields().Texts(i_public).Int32s(i_counts).Texts({"owned"}).Int32s({2})
                                   .Texts({"member", "operator"}).Int32s({4, 6}).Texts({"operator"}));
    };
    l_sendList({"b&b", "a", "empty"}, {3, 5, 0});
    QTreeWidget* lp_list = mp_ui->roomList;
    ASSERT_TRUE(QTest::qWaitFor([lp_list] { return lp_list->topLevelItemCount() == 6; }, 5000));
    // Each row with its font: italic for a private room, bold where we operate, underlined owned.
    auto l_rows = [lp_list] {
        QStringList l_rows;
        for (int l_row = 0; l_row < lp_list->topLevelItemCount(); ++l_row)
        {
            const QTreeWidgetItem* lp_row = lp_list->topLevelItem(l_row);
            const QFont l_font = lp_row->font(0);
            l_rows << QString("%1|%2|%3%4%5").arg(lp_row->text(0), lp_row->text(1), l_font.italic() ? "i" : "",
                                                   l_font.bold() ? "b" : "", l_font.underline() ? "u" : "");
        }
        return l_rows;
    };
    EXPECT_EQ(l_rows(), QStringList({"owned|2|ibu", "operator|6|ib", "member|4|i", "a|5|", "b&b|3|",
                                     "empty||"}));
    auto l_row = [lp_list](const char* i_name) { return lp_list->findItems(i_name, Qt::MatchExactly).value(0); };
    // A later list reuses the rows; a count of 0 empties the cell, a lost role recomputes the font.
    ItemPtr l_owned = d.GetType("room")->HasItem("owned");
    l_owned.NewItem("is_operator");
    l_owned.Disconnect("is_owner");
    EXPECT_TRUE(l_rows().contains("owned|2|ib"));
    l_sendList({"a"}, {0});
    ASSERT_TRUE(QTest::qWaitFor([&] { return l_row("a")->text(1).isEmpty(); }, 5000));
    EXPECT_EQ(lp_list->topLevelItemCount(), 6);
    // Entering: a double click on the name, the menu over a row for the first selected row.
    mp_window->OnRoomListItemDoubleClicked(l_row("b&b"), 1);
    mp_window->OnRoomListItemDoubleClicked(l_row("b&b"), 0);
    l_row("empty")->setSelected(true);
    mp_window->OnRoomListContextMenuRequested(QPoint(1, 300));
    mp_window->OnRoomListContextMenuRequested(lp_list->visualItemRect(l_row("a")).center());
    EXPECT_EQ(m_menus, QStringList("Enter Room"));
    ASSERT_TRUE(m_server.WaitForFrames(m_seen + 2));
    EXPECT_EQ(Sent(14), QList<QByteArray>({WireFields().Text("b&b").Int32(0), WireFields().Text("empty").Int32(0)}));
    // Joining opens one tab per room, its name shown as typed; closing it leaves the room.
    QTabWidget* lp_tabs = mp_ui->roomsTabControl;
    for (const char* l_room : {"b&b", "b&b", "a"})
        m_server.SendFrame(14, WireFields().Text(l_room).Texts({}).Int32s({}).Int32(0).Int32s({}).Texts({}));
    ASSERT_TRUE(QTest::qWaitFor([lp_tabs] { return lp_tabs->count() == 2; }, 5000));
    EXPECT_EQ(lp_tabs->tabText(0) + "|" + lp_tabs->tabText(1), "b&&b|a");
    EXPECT_EQ(lp_tabs->currentIndex(), 1);
    mp_window->OnRoomTabClosed(0);
    ASSERT_TRUE(m_server.WaitForFrames(m_seen + 1));
    EXPECT_EQ(Sent(15), QList<QByteArray>{WireFields().Text("b&b")});
    EXPECT_EQ(lp_list->topLevelItemCount(), 6);
    mp_window->OnPrivateRoomAddEnabled(true);
    EXPECT_EQ(GetSetting("enable_private_room_add"), "yes");
    EXPECT_EQ(ToolbarTexts(lp_list).value(2), "Reject Private Room Invitations");
    mp_window->OnPrivateRoomAddEnabled(false);
    EXPECT_EQ(ToolbarTexts(lp_list).value(2), "Accept Private Room Invitations");
}

TEST_F(MainWindowPanels, RoomsWeOwnOperateOrBelongToLeadTheRoomListAndCountsSortAsNumbers)
{
    StartLoggedIn();
    // Public rooms and their counts, then owned, member (private) and operated ones.
    m_server.SendFrame(64, WireFields().Texts({"aa", "Music", "movies"}).Int32s({12, 7, 0}).Texts({"zoo"}).Int32s({3})
                               .Texts({"aaa", "abc"}).Int32s({5, 100}).Texts({"abc"}));
    QTreeWidget* lp_list = mp_ui->roomList;
    ASSERT_TRUE(QTest::qWaitFor([lp_list] { return lp_list->topLevelItemCount() == 6; }, 5000));
    auto l_names = [lp_list] {
        QStringList l_names;
        for (int l_row = 0; l_row < lp_list->topLevelItemCount(); ++l_row)
            l_names << lp_list->topLevelItem(l_row)->text(0);
        return l_names.join(' ');
    };
    EXPECT_EQ(l_names(), "zoo abc aaa aa movies Music");
    // A lost role moves the room at once: the owner stays a member.
    d.GetType("room")->GetItem("zoo").Disconnect("is_owner");
    EXPECT_EQ(l_names(), "abc aaa zoo aa movies Music");
    lp_list->sortByColumn(1, Qt::AscendingOrder);
    EXPECT_EQ(l_names(), "movies zoo aaa Music aa abc");
    lp_list->sortByColumn(0, Qt::DescendingOrder);
    EXPECT_EQ(l_names(), "Music movies aa zoo aaa abc");
}

TEST_F(MainWindowPanels, EachToolbarActionSendsItsRequestOrOpensItsDialogOnce)
{
    StartLoggedIn();
    ASSERT_TRUE(m_server.WaitForFrames(2));
    Sent(0);
    const QString l_name = "../d&n";
    ItemPtr l_room = d.GetType("room")->NewItem(l_name);
    auto* lp_roomTab = new QWidget;
    mp_ui->roomsTabControl->addTab(lp_roomTab, "room");
    actionBar->RegisterWidget(lp_roomTab, "room");
    actionBar->AddWidgetKey(lp_roomTab, "room", l_name);
    ToolbarTexts(lp_roomTab);
    ASSERT_EQ(actionBar->GetKey("room"), l_name);
    Trigger("enable_private_room_add");
    Trigger("toggle_room_autojoin");
    EXPECT_TRUE(l_room.IsConnected("room_autojoin"));
    Trigger("toggle_room_autojoin");
    EXPECT_FALSE(l_room.IsConnected("room_autojoin"));
    // Giving up asks first; a room held by no role, or owned, asks nothing for membership.
    m_answers = {QMessageBox::Yes, QMessageBox::No, QMessageBox::Yes, QMessageBox::Yes, QMessageBox::Yes};
    Trigger("give_up_membership");
    l_room.NewItem("in_room");
    l_room.NewItem("is_owner");
    for (const char* l_action : {"give_up_membership", "give_up_ownership", "give_up_ownership"})
        Trigger(l_action);
    l_room.Disconnect("is_owner");
    l_room.NewItem("is_member");
    Trigger("give_up_membership");
    EXPECT_EQ(m_boxes.filter("Are").size(), 3);
    EXPECT_EQ(m_boxes.filter("REALLY").size(), 2);
    ASSERT_TRUE(m_server.WaitForFrames(m_seen + 4));
    QList<qint32> l_codes;
    for (const FakeCentralServer::Frame& l_frame : m_server.Frames().mid(m_seen))
        l_codes << l_frame.code;
    EXPECT_EQ(l_codes, QList<qint32>({141, 137, 15, 136}));
    EXPECT_EQ(Sent(141), QList<QByteArray>{WireFields().Byte(1)});
    // The room's log opens once, at the log writer's own path for the name.
    const QString l_path = ChatLog::Path(ChatLog::Kind::Room, l_name);
    ASSERT_TRUE(QDir().mkpath(QFileInfo(l_path).absolutePath()) && WriteFile(l_path, ""));
    Trigger("room_chat_log");
    Trigger("room_chat_log");
    const QList<ChatLogForm*> l_logs = mp_window->findChildren<ChatLogForm*>();
    ASSERT_EQ(l_logs.size(), 1);
    EXPECT_EQ(l_logs[0]->Path(), l_path);
    EXPECT_EQ(mp_ui->roomsTabControl->currentWidget(), l_logs[0]);
    EXPECT_EQ(mp_ui->roomsTabControl->tabText(mp_ui->roomsTabControl->currentIndex()), "../d&&n");
    for (const char* l_action : {"create_room", "create_room", "set_listening_port"})
        Trigger(l_action);
    EXPECT_EQ(Open<CreateRoomDialog>() + Open<ChangeListeningPortDialog>(), 2);
    m_boxes.clear();
    Trigger("set_user_pass");
    EXPECT_EQ(m_boxes, QStringList("Cannot change username while online: You must be disconnected "
                                   "from the Tarnwick server to change your username."));
    Trigger("connect_disconnect");
    EXPECT_FALSE(gp_server->IsConnected());
    Trigger("set_user_pass");
    EXPECT_EQ(Open<ChangeUsernamePasswordDialog>(), 1);
    Trigger("connect_disconnect");
    ASSERT_TRUE(QTest::qWaitFor([] { return gp_server->IsConnected(); }, 5000));
    const QString l_folder = GetSetting("download_folder");
    Trigger("set_download_folder");
    EXPECT_EQ(GetSetting("download_folder"), l_folder);
    m_chosen = QStringList{"/srv/in", "/srv/other"};
    Trigger("set_download_folder");
    EXPECT_EQ(GetSetting("download_folder") + "|" + mp_ui->downloadFolderEdit->text(), "/srv/in|/srv/in");
}

TEST_F(MainWindowPanels, StoredValuesReplaceTheDefaultsAndEveryOptionWritesItsSettingAtOnce)
{
    m_store.Setting("chat_timestamps", "per_message")
        .Setting("max_queued_uploads_per_user", "123456")
        .Setting("empty_share_message", "Share something")
        .Setting("obfuscated_listening_port", "4001")
        .Setting("user_picture_file", "/srv/me.png")
        .Setting("color_window_background", "#123456")
        .Setting("extended_ascii_codepage", "No-Such-Code-Page")
        .Setting("data_version", "7");
    StartLoggedIn();
    EXPECT_EQ(m_loaded, QStringList({"loaded"}));
    EXPECT_EQ(m_prompts, 0);
    EXPECT_EQ(GetSetting("log_room_chat") + GetSetting("data_version"), "yes1");
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), QColor("#123456"));
    // Start-up wrote back what the widgets could show.
    EXPECT_EQ(mp_ui->chatTimestampsBox->currentText() + "|" + GetSetting("chat_timestamps"), "No timestamps|no_timestamps");
    EXPECT_EQ(mp_ui->codePageBox->currentIndex(), 0);
    EXPECT_EQ(GetSetting("max_queued_uploads_per_user"), "99999");
    EXPECT_EQ(mp_ui->usernameEdit->text(), "alice");
    SetSetting("username", "bob");
    EXPECT_EQ(mp_ui->usernameEdit->text(), "bob");
    EXPECT_TRUE(mp_ui->obfuscatedPortLabel->text().startsWith("Obfuscated port is 4001,"));
    const std::pair<QCheckBox*, const char*> l_flags[] = {
        {mp_ui->autoExpandSharesCheckBox, "expand_new_shares"}, {mp_ui->logRoomChatCheckBox, "log_room_chat"},
        {mp_ui->logPrivateChatCheckBox, "log_private_chat"}, {mp_ui->uPnPCheckBox, "use_upnp"},
        {mp_ui->emptyShareWarningCheckBox, "check_for_empty_shares"}, {mp_ui->minimizeToTrayCheckBox, "minimize_to_tray"},
        {mp_ui->acceptUserListUploadsCheckBox, "accept_userlist_uploads"},
        {mp_ui->userLevelLoggingCheckBox, "user_level_logging"}, {mp_ui->openGroupsOnUserAddCheckBox, "open_groups_on_user_add"},
        {mp_ui->showAwayStatusCheckBox, "show_away_status_in_application_icon"}};
    for (const auto& l_flag : l_flags)
    {
        const char* l_was = l_flag.first->isChecked() ? "yes" : "no";
        EXPECT_EQ(IsSettingYes(l_flag.second), l_flag.first->isChecked()) << l_flag.second;
        l_flag.first->click();
        EXPECT_EQ(GetSetting(l_flag.second), l_flag.first->isChecked() ? "yes" : "no") << l_flag.second;
        l_flag.first->click();
        EXPECT_EQ(GetSetting(l_flag.second), l_was) << l_flag.second;
    }
    // A cancelled chooser keeps the picture.
    const struct { std::function<void()> change; const char* key; QString value; } l_changes[] = {
        {[&] { mp_ui->chatTimestampsBox->setCurrentIndex(1); }, "chat_timestamps", "per_message_short"},
        {[&] { mp_ui->chatTimestampsBox->setCurrentIndex(0); }, "chat_timestamps", "activity_based"},
        {[&] { mp_ui->chatTimestampsBox->setCurrentIndex(3); }, "chat_timestamps", "no_timestamps"},
        {[&] { mp_ui->chatTimestampsBox->setCurrentIndex(2); }, "chat_timestamps", "per_message_long"},
        {[&] { mp_ui->codePageBox->setCurrentText("ISO-8859-5"); }, "extended_ascii_codepage", "ISO-8859-5"},
        {[&] { mp_ui->codePageBox->setCurrentIndex(0); }, "extended_ascii_codepage", ""},
        {[&] { QTest::keyClicks(mp_ui->userDescriptionEdit, "Hi ø"); }, "user_description", "Hi ø"},
        {[&] { mp_ui->selectPictureButton->click(); }, "user_picture_file", "/srv/me.png"},
        {[&] { m_chosen = QStringList{"/srv/you.png"}; mp_ui->selectPictureButton->click(); }, "user_picture_file", "/srv/you.png"}};
    for (const auto& l_change : l_changes)
    {
        l_change.change();
        EXPECT_EQ(GetSetting(l_change.key), l_change.value) << l_change.key;
    }
    EXPECT_EQ(mp_ui->userPictureFilenameEdit->text(), "/srv/you.png");
    mp_ui->clearPictureButton->click();
    EXPECT_FALSE(SettingValueItem("user_picture_file"));
    EXPECT_EQ(mp_ui->userPictureFilenameEdit->text(), "");
    // The empty-share message is kept only by its button, blanks and all.
    QPushButton* lp_save = mp_ui->saveEmptyShareWarningMessageButton;
    mp_ui->emptyShareWarningEdit->clear();
    QTest::keyClicks(mp_ui->emptyShareWarningEdit, "   ");
    EXPECT_FALSE(lp_save->isEnabled());
    QTest::keyClicks(mp_ui->emptyShareWarningEdit, "share ");
    EXPECT_TRUE(lp_save->isEnabled());
    EXPECT_EQ(GetSetting("empty_share_message"), "Share something");
    lp_save->click();
    EXPECT_EQ(GetSetting("empty_share_message"), "   share ");
    EXPECT_FALSE(lp_save->isEnabled());
    SetSetting("new_listening_port", "5000");
    EXPECT_EQ(mp_ui->listeningPortEdit->text(), "5000");
    EXPECT_TRUE(mp_ui->obfuscatedPortLabel->text().startsWith("Obfuscated port is 5001,"));
    SetSetting("listening_port", "2234");
    mp_ui->checkPortsButton->click();
    const QString l_test = "http://127.0.0.1:" + GetSetting("web_port") + "/porttest.php?port=";
    EXPECT_EQ(m_opened, QStringList({l_test + "2234", l_test + "4001"}));
    // The excluded endings follow their type; their dialog opens from the options page.
    d.GetType("excluded_download_extension")->GetItem(".nfo");
    EXPECT_EQ(mp_ui->excludedExtensionsEdit->text(), ".nfo");
    d.GetType("excluded_download_extension")->GetItem(".mp3");
    EXPECT_TRUE(QStringList({".mp3 .nfo", ".nfo .mp3"}).contains(mp_ui->excludedExtensionsEdit->text()));
    mp_ui->editExcludedExtensionsButton->click();
    EXPECT_EQ(Open<ExcludedExtensionsDialog>(), 1);
}

TEST_F(MainWindowPanels, NoticesOpenTheirOwnDialogsAndOnlyWebAddressesReachTheBrowser)
{
    StartLoggedIn();
    // Mark-up is rendered, plain text keeps its line breaks; each notice is stamped and on top.
    const QDateTime l_before = QDateTime::currentDateTime();
    mp_window->OnAdminMessage("<b>Maintenance</b> at noon");
    mp_window->OnAdminMessage("Back at one.\nOr two.");
    QStringList l_stamps; // every second the notices may have been stamped with
    for (QDateTime l_time = l_before.addMSecs(-l_before.time().msec());
         l_time <= QDateTime::currentDateTime(); l_time = l_time.addSecs(1))
        l_stamps << QLocale::c().toString(l_time, "MMM d h:mm:ss ap");
    QStringList l_shown;
    for (AdminMessageDialog* lp_notice : mp_window->findChildren<AdminMessageDialog*>())
    {
        EXPECT_TRUE(lp_notice->windowFlags() & Qt::WindowStaysOnTopHint);
        EXPECT_TRUE(l_stamps.contains(Child<QLineEdit>(lp_notice, "timeEdit")->text()));
        auto* lp_text = Child<QTextEdit>(lp_notice, "textEdit");
        l_shown << lp_text->toPlainText() + (lp_text->toHtml().contains("font-weight:600") ? " (bold)" : "");
        lp_notice->close();
    }
    FlushDeletes();
    EXPECT_EQ(l_shown, QStringList({"Maintenance at noon (bold)", "Back at one.\nOr two."}));
    EXPECT_TRUE(mp_window->findChildren<AdminMessageDialog*>().isEmpty());
    // The offer shows both builds and its notes; skipping it is remembered and closes it.
    for (const char* l_link : {"file:///etc", "javascript:alert(1)", "https://127.0.0.1/get"})
    {
        mp_window->OnNewVersion(20130105, l_link, {"Faster", "Smaller"});
        QPointer<NewVersionDialog> lp_offer = mp_window->findChildren<NewVersionDialog*>().last();
        Child<QPushButton>(lp_offer, "downloadButton")->click();
        EXPECT_EQ(QStringList({Child<QLineEdit>(lp_offer, "currentVersionEdit")->text(),
                               Child<QLineEdit>(lp_offer, "newVersionEdit")->text(),
                               Child<QTextEdit>(lp_offer, "descriptionEdit")->toPlainText()}),
                  QStringList({"Build 9/15/2012", "Build 1/5/2013", "Faster\nSmaller"}));
        Child<QPushButton>(lp_offer, "skipButton")->click();
        FlushDeletes();
        EXPECT_TRUE(lp_offer.isNull());
    }
    EXPECT_EQ(m_opened, QStringList("https://127.0.0.1/get"));
    EXPECT_EQ(GetSetting("skip_version"), "20130105");
    // The reason comes from the server: the toolkit's box shows it as typed.
    Desktop::SetMessageBox({});
    Qt::TextFormat l_format = Qt::AutoText;
    ModalAnswers l_answers([&l_format](QWidget* ip_modal) {
        auto* lp_box = qobject_cast<QMessageBox*>(ip_modal);
        ASSERT_NE(lp_box, nullptr);
        l_format = lp_box->textFormat();
        lp_box->accept();
    });
    gp_server->Disconnect();
    mp_window->OnConnectionFailed("<b>bold</b>");
    EXPECT_EQ(l_format, Qt::PlainText);
    EXPECT_EQ(l_answers.Answered(), 1);
}

TEST_F(MainWindowPanels, GeometryIsRecordedWhileTheWindowIsNotMaximised)
{
    StartLoggedIn();
    auto l_recorded = [] {
        ItemPtr l_record = d.GetType("sizer_window")->HasItem("main_window");
        return QSize(l_record["sizer_width"].AsInt(), l_record["sizer_height"].AsInt());
    };
    mp_window->showNormal();
    mp_window->resize(900, 700);
    EXPECT_TRUE(QTest::qWaitFor([&] { return l_recorded() == QSize(900, 700); }, 5000));
    // Maximising resizes the window to the screen; that size is not recorded.
    mp_window->showMaximized();
    ASSERT_TRUE(QTest::qWaitFor([this] { return mp_window->isMaximized(); }, 5000));
    QApplication::processEvents();
    ASSERT_NE(mp_window->size(), QSize(900, 700));
    EXPECT_EQ(l_recorded(), QSize(900, 700));
}

TEST_F(MainWindowPanels, SharedFolderRowsShowTheirAudienceAndGoWhenUnshared)
{
    StartLoggedIn();
    QTreeWidget* lp_list = mp_ui->sharedFoldersList;
    ASSERT_TRUE(QDir(Home()).mkpath("Music") && QDir(Home()).mkpath("Books"));
    ItemPtr l_music = sharedFoldersManager->AddSharedFolder(Home() + "/Music");
    sharedFoldersManager->AddSharedFolder(Home() + "/Books");
    Type* lp_groups = d.GetType("user_list_group");
    const struct { std::function<void()> change; const char* audience; } l_steps[] = {
        {[&] { l_music += lp_groups->GetItem("friends"); }, "friends"},
        {[&] { l_music += lp_groups->GetItem("Zed"); }, "Zed, friends"},
        {[&] { l_music.NewItem("shared_userlist"); }, "User List"},
        {[&] { l_music.NewItem("shared_public"); }, "Everyone"},
        {[&] { l_music.Disconnect("shared_public"); }, "User List"},
        {[&] {
             l_music.Disconnect("shared_userlist");
             l_music.Disconnect(lp_groups->GetItem("Zed"));
             l_music.Disconnect(lp_groups->GetItem("friends"));
         }, ""}};
    for (const auto& l_step : l_steps)
    {
        l_step.change();
        EXPECT_EQ(lp_list->topLevelItem(0)->text(1), l_step.audience);
    }
    // The menu only over a row; its actions work on the first selected row.
    lp_list->topLevelItem(1)->setSelected(true);
    mp_window->OnSharedFoldersListContextMenuRequested(QPoint(5, lp_list->viewport()->height() - 2));
    EXPECT_TRUE(m_menus.isEmpty());
    mp_window->OnSetFolderPermissions();
    EXPECT_EQ(Open<AddSharedFolderDialog>(), 1);
    Trigger("share_folder");
    EXPECT_EQ(Open<AddSharedFolderDialog>(), 2);
    mp_window->OnSharedFoldersListContextMenuRequested(lp_list->visualItemRect(lp_list->topLevelItem(0)).center());
    EXPECT_EQ(m_menus, QStringList({"Set Folder Permissions", "Unshare Folder"}));
    EXPECT_EQ(Open<AddSharedFolderDialog>(), 3);
    mp_window->OnUnshareFolder();
    EXPECT_FALSE(d.GetType("shared_folder")->HasItem(Home() + "/Books"));
    ASSERT_EQ(lp_list->topLevelItemCount(), 1);
    EXPECT_EQ(lp_list->topLevelItem(0)->text(0), Home() + "/Music");
    mp_window->OnUnshareFolder();
    EXPECT_EQ(lp_list->topLevelItemCount(), 1);
    // Every rescan is reported, the toolbar's one where nothing changed included.
    Trigger("rescan_shares");
    ASSERT_TRUE(QTest::qWaitFor([this] { return Open<SharedFilesRescannedDialog>() == 1; }, 5000));
    mp_window->OnSharedFilesRescanned(3, 1);
    EXPECT_EQ(mp_window->findChildren<SharedFilesRescannedDialog*>().last()->Text(),
              "3 files added.\n1 files removed.");
}

TEST_F(MainWindowPanels, TheDiagnosticsPageDumpsTheStoreIntoTheFileChosen)
{
    StartLoggedIn();
    EXPECT_EQ(ToolbarTexts(Child(mp_window.get(), "diagnosticsForm")).value(0), "Dump Data");
    // The page asks and reports with the toolkit's own boxes, answered once each waits. The name
    // is typed into the chooser's field as a user types it, with the focus there as the chooser
    // gives it once active: the toolkit's selectFile leaves a focused field alone, and the chooser
    // then took the folder and stayed open.
    const QString l_path = Home() + "/dump";
    QString l_report;
    ModalAnswers l_answers([&](QWidget* ip_modal) {
        if (qobject_cast<QFileDialog*>(ip_modal))
        {
            auto* lp_name = Child<QLineEdit>(ip_modal, "fileNameEdit");
            ASSERT_NE(lp_name, nullptr);
            QApplication::setActiveWindow(ip_modal);
            lp_name->setFocus();
            lp_name->setText(l_path);
        }
        else if (auto* lp_box = qobject_cast<QMessageBox*>(ip_modal))
            l_report = lp_box->windowTitle();
        QMetaObject::invokeMethod(ip_modal, "accept");
    });
    for (QAction* lp_action : actionBar->actions())
        if (lp_action->text() == "Dump Data")
            lp_action->trigger();
    EXPECT_EQ(l_answers.Answered(), 2);
    EXPECT_EQ(l_report, "Data Dump Succeeded");
    QFile l_dump(l_path);
    ASSERT_TRUE(l_dump.open(QIODevice::ReadOnly));
    EXPECT_TRUE(l_dump.readAll().contains("alice"));
}
