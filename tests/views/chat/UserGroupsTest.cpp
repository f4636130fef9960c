#include <QCheckBox>
#include <QGroupBox>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>

#include "UsersFixture.h"
#include "shell/Desktop.h"
#include "views/chat/UserGroupConfigDialog.h"
#include "views/chat/UserGroupsDialog.h"

namespace
{
class UserGroupsTest : public UsersFixture
{
protected:
    void TearDown() override
    {
        Desktop::SetMessageBox({});
        UsersFixture::TearDown();
    }
    template <class Dialog>
    Dialog* Open(Dialog* ip_dialog)
    {
        ip_dialog->show();
        m_dialogs.emplace_back(ip_dialog);
        return ip_dialog;
    }
    // "name" per row, "[x] name" or "[ ] name" for a checkable one.
    static QStringList Rows(QDialog* ip_dialog)
    {
        QStringList l_rows;
        QListWidget* lp_list = ip_dialog->findChild<QListWidget*>();
        for (int l_row = 0; l_row < lp_list->count(); ++l_row)
        {
            QListWidgetItem* lp_item = lp_list->item(l_row);
            const bool l_checkable = lp_item->data(Qt::CheckStateRole).isValid();
            l_rows << (l_checkable ? (lp_item->checkState() == Qt::Checked ? "[x] " : "[ ] ") : "") +
                          lp_item->text();
        }
        return l_rows;
    }
    static void Tick(QDialog* ip_dialog, const QString& i_group, bool i_ticked)
    {
        for (QListWidgetItem* lp_item :
             ip_dialog->findChild<QListWidget*>()->findItems(i_group, Qt::MatchExactly))
            lp_item->setCheckState(i_ticked ? Qt::Checked : Qt::Unchecked);
    }
    static QStringList Groups(const char* i_user)
    {
        QStringList l_names;
        for (ItemPtr l_group : User(i_user)["in_user_list"].GetItems("user_list_group").SortAlphabetic(true))
            l_names << l_group.AsString();
        return l_names;
    }
    static QString Priority(const char* i_group) { return Group(i_group)["group_download_priority"].AsString(); }
    static void Select(UserGroupConfigDialog* ip_dialog, const QString& i_group)
    {
        auto* lp_list = ip_dialog->findChild<QListWidget*>("groupList");
        lp_list->setCurrentItem(lp_list->findItems(i_group, Qt::MatchExactly).value(0));
    }

    std::vector<QPointer<QDialog>> m_dialogs;
};

TEST_F(UserGroupsTest, NewGroupsShowUntickedEverywhereAndTicksWriteTheMembership)
{
    LoadAfterRestart([] { List("ann", {"x"}); List("bob"); });
    auto* lp_ann = Open(new UserGroupsDialog("ann"));
    auto* lp_bob = Open(new UserGroupsDialog("bob"));
    auto* lp_config = Open(new UserGroupConfigDialog);
    EXPECT_EQ(lp_ann->windowTitle(), "User Groups for [ann]");
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
    EXPECT_EQ(Groups("bob"), (QStringList{"a", "x"}));
    EXPECT_EQ(Groups("ann"), QStringList{});

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

TEST_F(UserGroupsTest, PrioritiesShareTheirItemAndDeletingAsksFirst)
{
    LoadAfterRestart([] { List("ann", {"g1", "g2"}); Group("g3"); });
    auto* lp_config = Open(new UserGroupConfigDialog);
    auto* lp_spin = lp_config->findChild<QSpinBox*>();
    auto* lp_accept = lp_config->findChild<QCheckBox*>();
    EXPECT_FALSE(lp_spin->isEnabled());
    EXPECT_TRUE(lp_spin->whatsThis().startsWith("Defines the download priority"));

    for (const char* l_group : {"g1", "g2"})
    {
        Select(lp_config, l_group);
        lp_spin->setValue(3);
    }
    EXPECT_EQ(Priority("g1"), "3");
    EXPECT_EQ(Group("g1")["group_download_priority"], Group("g2")["group_download_priority"]);
    lp_accept->setChecked(true);
    Select(lp_config, "g1");
    lp_spin->setValue(0);
    EXPECT_EQ(Priority("g1"), "");
    EXPECT_FALSE(lp_accept->isChecked());
    Select(lp_config, "g2");
    EXPECT_EQ(lp_spin->value(), 3);
    EXPECT_TRUE(lp_accept->isChecked());
    EXPECT_EQ(lp_config->findChild<QGroupBox*>()->title(), "g2");
    EXPECT_TRUE(Group("g2").IsConnected("accept_uploads"));

    QStringList l_asked;
    QMessageBox::StandardButton l_answer = QMessageBox::No;
    Desktop::SetMessageBox([&](QMessageBox::Icon, QWidget*, const QString& i_title,
                               const QString& i_text, QMessageBox::StandardButtons) {
        l_asked << i_title + " " + i_text;
        return l_answer;
    });
    auto* lp_delete = lp_config->findChild<QPushButton*>("deleteButton");
    lp_delete->click();
    EXPECT_EQ(Rows(lp_config), (QStringList{"g1", "g2", "g3"}));
    l_answer = QMessageBox::Yes;
    lp_delete->click();
    const QString l_question = "Delete group? Are you sure you want to delete this user group?";
    EXPECT_EQ(l_asked, (QStringList{l_question, l_question}));
    EXPECT_EQ(Rows(lp_config), (QStringList{"g1", "g3"}));
    EXPECT_EQ(Groups("ann"), QStringList{"g1"});
    EXPECT_EQ(lp_config->findChild<QGroupBox*>()->title(), lp_config->findChild<QListWidget*>()->currentItem()->text());
}
} // namespace
