#include "UsersFixture.h"
#include "views/chat/AddUserDialog.h"
#include "views/chat/UserGroupConfigDialog.h"
#include "views/chat/UserGroupsDialog.h"

namespace
{
// Message boxes are answered No unless the test queues a Yes.
class UserDialogsTest : public UsersFixture, protected FakeDesktop
{
protected:
    // "name" per row, "[x] name" or "[ ] name" for a checkable one.
    static QStringList Rows(QDialog* ip_dialog)
    {
        QStringList l_rows;
        for (QListWidgetItem* lp_item : ip_dialog->findChild<QListWidget*>()->findItems("*", Qt::MatchWildcard))
            l_rows << (!lp_item->data(Qt::CheckStateRole).isValid() ? ""
                       : lp_item->checkState() == Qt::Checked     ? "[x] "
                                                                   : "[ ] ") + lp_item->text();
        return l_rows;
    }
    static void Tick(QDialog* ip_dialog, const QString& i_group, bool i_ticked)
    {
        ip_dialog->findChild<QListWidget*>()->findItems(i_group, Qt::MatchExactly).value(0)->setCheckState(
            i_ticked ? Qt::Checked : Qt::Unchecked);
    }
    // The user's groups as the user list shows them.
    QString Groups(int i_row) const { return mp_users->UserList()->topLevelItem(i_row)->text(1); }
    static void Select(UserGroupConfigDialog* ip_dialog, const QString& i_group)
    {
        auto* lp_list = ip_dialog->findChild<QListWidget*>("groupList");
        lp_list->setCurrentItem(lp_list->findItems(i_group, Qt::MatchExactly).value(0));
    }
};

TEST_F(UserDialogsTest, NewGroupsShowUntickedEverywhereAndTicksWriteTheMembership)
{
    LoadAfterRestart([] { List("ann", {"x"}); List("bob"); });
    auto* lp_ann = new UserGroupsDialog("ann", mp_users);
    auto* lp_bob = new UserGroupsDialog("bob", mp_users);
    auto* lp_config = new UserGroupConfigDialog(mp_users);
    EXPECT_EQ(Rows(lp_ann), QStringList{"[x] x"});

    auto* lp_edit = lp_bob->findChild<QLineEdit*>("newGroupEdit");
    for (const char* l_typed : {"  Ab  ", "   ", "x", "a"})
    {
        lp_edit->setText(l_typed);
        lp_bob->findChild<QPushButton*>("newGroupButton")->click();
        EXPECT_EQ(lp_edit->text(), "");
    }
    EXPECT_EQ(Rows(lp_ann), (QStringList{"[ ] Ab", "[ ] a", "[x] x"}));
    EXPECT_EQ(Rows(lp_bob), (QStringList{"[ ] Ab", "[ ] a", "[ ] x"}));
    EXPECT_EQ(Rows(lp_config), (QStringList{"Ab", "a", "x"}));

    Tick(lp_bob, "a", true);
    Tick(lp_bob, "x", true);
    Tick(lp_ann, "x", false);
    EXPECT_EQ(Groups(0), "");
    EXPECT_EQ(Groups(1), "a, x");

    // Off the list meanwhile, or a group deleted elsewhere: the tick takes nothing back to life.
    User("ann").Disconnect("in_user_list");
    Tick(lp_ann, "Ab", true);
    Group("a").Remove();
    Tick(lp_bob, "a", false);
    Tick(lp_bob, "a", true);
    EXPECT_FALSE(User("ann")["in_user_list"]);
    EXPECT_FALSE(d.GetType("user_list_group")->HasItem("a"));
    EXPECT_EQ(Rows(lp_ann), (QStringList{"[ ] Ab", "[ ] a", "[ ] x"}));
    EXPECT_EQ(Rows(lp_bob), (QStringList{"[ ] Ab", "[ ] a", "[x] x"}));
    EXPECT_EQ(Rows(lp_config), (QStringList{"Ab", "x"}));
}

TEST_F(UserDialogsTest, PrioritiesShareTheirItemAndDeletingAsksFirst)
{
    LoadAfterRestart([] { List("ann", {"g1", "g2"}); Group("g3"); });
    auto* lp_config = new UserGroupConfigDialog(mp_users);
    auto* lp_spin = lp_config->findChild<QSpinBox*>();
    auto* lp_accept = lp_config->findChild<QCheckBox*>();
    EXPECT_FALSE(lp_spin->isEnabled());

    for (const char* l_group : {"g1", "g2"})
    {
        Select(lp_config, l_group);
        lp_spin->setValue(3);
    }
    EXPECT_EQ(Group("g1")["group_download_priority"].AsString(), "3");
    lp_accept->setChecked(true);
    Select(lp_config, "g1");
    lp_spin->setValue(0);
    EXPECT_FALSE(Group("g1")["group_download_priority"]);
    EXPECT_FALSE(lp_accept->isChecked());
    Select(lp_config, "g2");
    EXPECT_EQ(lp_spin->value(), 3);
    EXPECT_TRUE(lp_accept->isChecked());
    EXPECT_EQ(lp_config->findChild<QGroupBox*>()->title(), "g2");
    EXPECT_TRUE(Group("g2").IsConnected("accept_uploads"));

    auto* lp_delete = lp_config->findChild<QPushButton*>("deleteButton");
    lp_delete->click();
    EXPECT_EQ(Rows(lp_config), (QStringList{"g1", "g2", "g3"}));
    m_answers << QMessageBox::Yes;
    lp_delete->click();
    const QString l_question = "Delete group?: Are you sure you want to delete this user group?";
    EXPECT_EQ(m_boxes, (QStringList{l_question, l_question}));
    EXPECT_EQ(Rows(lp_config), (QStringList{"g1", "g3"}));
    EXPECT_EQ(Groups(0), "g1");
    EXPECT_EQ(lp_config->findChild<QGroupBox*>()->title(), lp_config->findChild<QListWidget*>()->currentItem()->text());
}

TEST_F(UserDialogsTest, GroupSettingsShowWholeAndWorkAtTheFormsSizeAndLarger)
{
    Group("friends");
    for (const QSize& l_size : {QSize(595, 300), QSize(1000, 600)})
    {
        SCOPED_TRACE(l_size.width());
        std::unique_ptr<UserGroupConfigDialog> lp_config = std::make_unique<UserGroupConfigDialog>(mp_users);
        ASSERT_EQ(lp_config->size(), QSize(595, 300)) << "the form's own size";
        lp_config->resize(l_size);
        lp_config->show();
        QApplication::processEvents();
        Select(lp_config.get(), "friends");
        // Each control whole, not cut by its box or by the window, and wide enough for its text.
        auto* lp_box = lp_config->findChild<QGroupBox*>("groupBox");
        for (const char* l_name : {"label", "prioritySpinBox", "acceptUploadsCheckBox", "deleteButton"})
        {
            auto* lp_control = lp_config->findChild<QWidget*>(l_name);
            const QRect l_inBox(lp_control->mapTo(lp_box, QPoint()), lp_control->size());
            const QRect l_inWindow(lp_control->mapTo(lp_config.get(), QPoint()), lp_control->size());
            EXPECT_TRUE(lp_box->contentsRect().contains(l_inBox)) << l_name;
            EXPECT_TRUE(lp_config->rect().contains(l_inWindow)) << l_name;
            EXPECT_EQ(lp_control->visibleRegion(), QRegion(lp_control->rect())) << l_name;
            EXPECT_GE(lp_control->width(), lp_control->sizeHint().width()) << l_name;
        }
        // And used as a user would: a click on the box, a key on the priority.
        auto* lp_accept = lp_config->findChild<QCheckBox*>("acceptUploadsCheckBox");
        QTest::mouseClick(lp_accept, Qt::LeftButton, {}, lp_accept->rect().center());
        QTest::keyClick(lp_config->findChild<QSpinBox*>("prioritySpinBox"), Qt::Key_Up);
        EXPECT_TRUE(Group("friends").IsConnected("accept_uploads"));
        EXPECT_EQ(Group("friends")["group_download_priority"].AsString(), "1");
        Group("friends").Disconnect("accept_uploads");
        Group("friends").Disconnect("group_download_priority");
    }
}

TEST_F(UserDialogsTest, AddingAUserShowsEachOutcomeAndOnlyTheAskedNameIsAnswered)
{
    List("ann");
    User("kim");
    auto* lp_dialog = new AddUserDialog(mp_users);
    auto* lp_name = lp_dialog->findChild<QLineEdit*>("userNameEdit");
    auto* lp_status = lp_dialog->findChild<QLineEdit*>("statusEdit");
    auto* lp_button = lp_dialog->findChild<QPushButton*>();
    const auto l_add = [&](const char* i_name) {
        lp_name->setText(i_name);
        lp_button->click();
        return lp_status->text();
    };
    const auto l_answer = [&](const char* i_name, bool i_exists) {
        emit mp_server->AddUserResponse(i_name, i_exists);
        return lp_status->text() + (lp_button->isEnabled() ? "" : " (waiting)");
    };
    EXPECT_EQ(l_add("carl"), "Must be online to add a user to your list.");
    ASSERT_TRUE(LogIn());
    EXPECT_EQ(l_add("   "), "User name must not be empty.");
    EXPECT_EQ(l_add(" ann "), "User already in list.");
    EXPECT_EQ(l_add(" kim "), "Adding user...");
    EXPECT_TRUE(lp_name->isReadOnly());
    EXPECT_EQ(l_answer("kimberly", true), "Adding user... (waiting)");
    EXPECT_EQ(l_answer("kim", true), "User added to list.");
    EXPECT_FALSE(lp_name->isReadOnly());
    EXPECT_TRUE(User("kim").IsConnected("in_user_list"));
    EXPECT_EQ(l_add("zed"), "Adding user...");
    EXPECT_EQ(l_answer("zed", false), "User name does not exist.");
    EXPECT_FALSE(User("zed").IsConnected("in_user_list"));

    // Nothing went out for the refused names.
    EXPECT_EQ(SentFields(5), (QList<QByteArray>{WireFields().Text("kim"), WireFields().Text("zed")}));
}
} // namespace
