#include <QCheckBox>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>

#include "shares/SharesFixture.h"
#include "shell/Desktop.h"
#include "store/Type.h"
#include "views/search/AddSharedFolderDialog.h"

// The dialog over a real shares engine; the folder chooser answers with the test's folder.
class AddSharedFolderDialogTest : public SharesFixture
{
protected:
    void SetUp() override
    {
        SharesFixture::SetUp();
        for (const char* l_group : {"friends", "Zed", "work"})
            d.GetType("user_list_group")->GetItem(l_group);
        Desktop::SetChooseFiles([this](QWidget*, const QString&, bool) { return m_chosen; });
    }
    void TearDown() override { Desktop::SetChooseFiles({}); }

    template <class T>
    T* Child(const char* i_name)
    {
        return mp_dialog->findChild<T*>(i_name);
    }
    // "E"/"e" everyone checked, "U"/"u" user list checked, "-" when disabled, then the checked groups.
    QString Shown()
    {
        auto l_box = [](QCheckBox* ip_box, char i_mark) {
            return QString(ip_box->isChecked() ? QChar(i_mark).toUpper() : QChar(i_mark)) +
                   (ip_box->isEnabled() ? "" : "-");
        };
        QString l_text = l_box(Child<QCheckBox>("everyoneCheckBox"), 'e') + " " +
                         l_box(Child<QCheckBox>("userListCheckBox"), 'u') + " groups" +
                         (Child<QListWidget>("groupsListWidget")->isEnabled() ? "" : "-") + ":";
        auto* lp_groups = Child<QListWidget>("groupsListWidget");
        for (int l_row = 0; l_row < lp_groups->count(); ++l_row)
            if (lp_groups->item(l_row)->checkState() == Qt::Checked)
                l_text += " " + lp_groups->item(l_row)->text();
        return l_text;
    }
    QStringList Audience(ItemPtr i_folder)
    {
        QStringList l_audience;
        for (const char* l_kind : {"shared_public", "shared_userlist"})
            if (i_folder.IsConnected(l_kind))
                l_audience << l_kind;
        for (ItemPtr l_group : i_folder.GetItems("user_list_group"))
            l_audience << l_group.AsString();
        l_audience.sort();
        return l_audience;
    }
    void CheckGroup(const char* i_name)
    {
        Child<QListWidget>("groupsListWidget")->findItems(i_name, Qt::MatchExactly)[0]->setCheckState(
            Qt::Checked);
    }
    void Open(ItemPtr i_folder) { mp_dialog = new AddSharedFolderDialog(i_folder, &m_window); }

    QWidget m_window;
    QPointer<AddSharedFolderDialog> mp_dialog;
    QStringList m_chosen;
};

TEST_F(AddSharedFolderDialogTest, ANewFolderIsSharedOnceWithEveryoneAndOnlyWithAPath)
{
    Write("music/a.mp3");
    Open(ItemPtr());
    EXPECT_EQ(Shown(), "E U- groups-:");
    mp_dialog->accept();
    EXPECT_FALSE(mp_dialog.isNull());
    EXPECT_EQ(Count("shared_folder"), 0u);

    m_chosen = QStringList{Path("music")};
    Child<QPushButton>("selectFolderButton")->click();
    mp_dialog->accept();
    ItemPtr l_folder = d.GetType("shared_folder")->HasItem(Path("music"));
    ASSERT_TRUE(l_folder);
    EXPECT_EQ(Audience(l_folder), QStringList("shared_public"));
    EXPECT_EQ(Count("shared_file"), 1u);

    // The same path again narrows the folder's audience instead of sharing it twice.
    Open(ItemPtr());
    Child<QPushButton>("selectFolderButton")->click();
    Child<QCheckBox>("everyoneCheckBox")->click();
    EXPECT_EQ(Shown(), "e U groups-:");
    mp_dialog->accept();
    EXPECT_EQ(Count("shared_folder"), 1u);
    EXPECT_EQ(Audience(l_folder), QStringList("shared_userlist"));
}

TEST_F(AddSharedFolderDialogTest, AnEditedFolderShowsItsAudienceAndWideningKeepsTheNarrowerOnes)
{
    ItemPtr l_folder = mp_shares->AddSharedFolder(Path());
    Type* lp_groups = d.GetType("user_list_group");
    l_folder += lp_groups->GetItem("work");
    l_folder += lp_groups->GetItem("Zed");

    const struct
    {
        std::function<void()> change;
        const char* shown;
        QStringList stored;
    } l_steps[] = {
        {[] {}, "e u groups: Zed work", {"Zed", "work"}},
        {[this] { Child<QCheckBox>("everyoneCheckBox")->click(); }, "E U- groups-: Zed work",
         {"Zed", "shared_public", "work"}},
        {[this] {
             Child<QCheckBox>("everyoneCheckBox")->click();
             CheckGroup("friends");
         },
         "e U groups-: Zed friends work", {"Zed", "shared_userlist", "work"}},
        {[this] {
             Child<QCheckBox>("userListCheckBox")->click();
             CheckGroup("friends");
         },
         "e u groups: Zed friends work", {"Zed", "friends", "work"}},
    };
    for (const auto& l_step : l_steps)
    {
        Open(l_folder);
        EXPECT_FALSE(Child<QPushButton>("selectFolderButton")->isEnabled());
        l_step.change();
        EXPECT_EQ(Shown(), l_step.shown);
        mp_dialog->accept();
        EXPECT_EQ(Audience(l_folder), l_step.stored) << l_step.shown;
    }
    Open(l_folder);
    Child<QCheckBox>("everyoneCheckBox")->click();
    mp_dialog->reject();
    EXPECT_EQ(Audience(l_folder), QStringList({"Zed", "friends", "work"}));
}
