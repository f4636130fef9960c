#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPointer>
#include <QPushButton>

#include "shares/SharesFixture.h"
#include "shell/Desktop.h"
#include "store/SchemaDeclaration.h"
#include "store/Type.h"
#include "views/search/AddSharedFolderDialog.h"
#include "views/search/ExcludedExtensionsDialog.h"

// The share dialogs over a real shares engine, with three user-list groups and the transfer
// queues' excluded endings; menus pick their first entry, the folder chooser the test's answer.
class ShareDialogs : public SharesFixture
{
protected:
    void SetUp() override
    {
        SharesFixture::SetUp();
        DeclareTypes({{"excluded_download_extension", Primary, false}});
        d.GetType("excluded_download_extension")->GetItem(".ini");
        for (const char* l_group : {"friends", "Zed", "work"})
            d.GetType("user_list_group")->GetItem(l_group);
        Desktop::SetChooseFiles([this](QWidget*, const QString&, bool) { return m_chosen; });
        Desktop::SetPopupMenu([this](QMenu& io_menu, const QPoint&) {
            ++m_menus;
            io_menu.actions().first()->trigger();
        });
    }
    void TearDown() override
    {
        Desktop::SetChooseFiles({});
        Desktop::SetPopupMenu({});
    }

    template <class T>
    T* Child(QWidget* ip_dialog, const char* i_name)
    {
        return ip_dialog->findChild<T*>(i_name);
    }
    static QStringList Texts(QListWidget* ip_list, bool i_checkedOnly = false)
    {
        QStringList l_texts;
        for (int l_row = 0; l_row < ip_list->count(); ++l_row)
            if (!i_checkedOnly || ip_list->item(l_row)->checkState() == Qt::Checked)
                l_texts << ip_list->item(l_row)->text();
        return l_texts;
    }
    // Upper case for a checked box, "-" when disabled, then the checked groups.
    QString Shown()
    {
        QString l_text;
        for (const char* l_box : {"everyoneCheckBox", "userListCheckBox"})
        {
            auto* lp_box = Child<QCheckBox>(mp_folder, l_box);
            l_text += QString(lp_box->isChecked() ? QChar(l_box[0]).toUpper() : QChar(l_box[0])) +
                      (lp_box->isEnabled() ? " " : "- ");
        }
        auto* lp_groups = Child<QListWidget>(mp_folder, "groupsListWidget");
        return l_text + (lp_groups->isEnabled() ? "" : "-") + Texts(lp_groups, true).join(",");
    }
    static QStringList Audience(ItemPtr i_folder)
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
    void Check(const char* i_group)
    {
        Child<QListWidget>(mp_folder, "groupsListWidget")
            ->findItems(i_group, Qt::MatchExactly)[0]
            ->setCheckState(Qt::Checked);
    }
    void Click(const char* i_box) { Child<QAbstractButton>(mp_folder, i_box)->click(); }
    void Open(ItemPtr i_folder) { mp_folder = new AddSharedFolderDialog(i_folder, &m_window); }

    QWidget m_window;
    QPointer<AddSharedFolderDialog> mp_folder;
    QStringList m_chosen;
    int m_menus = 0;
};

TEST_F(ShareDialogs, ANewFolderIsSharedOnceAndOnlyWithAPath)
{
    Write("music/a.mp3");
    Open(ItemPtr());
    EXPECT_EQ(Shown(), "E U- -");
    mp_folder->accept();
    EXPECT_FALSE(mp_folder.isNull());
    EXPECT_EQ(Count("shared_folder"), 0u);

    m_chosen = QStringList{Path("music")};
    Click("selectFolderButton");
    mp_folder->accept();
    ItemPtr l_folder = d.GetType("shared_folder")->HasItem(Path("music"));
    ASSERT_TRUE(l_folder);
    EXPECT_EQ(Audience(l_folder), QStringList("shared_public"));
    EXPECT_EQ(Count("shared_file"), 1u);

    // The same path again changes the folder's audience instead of sharing it twice.
    Open(ItemPtr());
    Click("selectFolderButton");
    Click("everyoneCheckBox");
    mp_folder->accept();
    EXPECT_EQ(Count("shared_folder"), 1u);
    EXPECT_EQ(Audience(l_folder), QStringList("shared_userlist"));
}

TEST_F(ShareDialogs, AnEditedFolderShowsItsAudienceAndWideningKeepsTheNarrowerOnes)
{
    ItemPtr l_folder = mp_shares->AddSharedFolder(Path());
    l_folder += d.GetType("user_list_group")->GetItem("work");
    l_folder += d.GetType("user_list_group")->GetItem("Zed");
    const struct
    {
        std::function<void()> change;
        const char* shown;
        QStringList stored;
    } l_steps[] = {
        {[] {}, "e u Zed,work", {"Zed", "work"}},
        {[this] { Click("everyoneCheckBox"); }, "E U- -Zed,work", {"Zed", "shared_public", "work"}},
        {[this] { Click("everyoneCheckBox"), Check("friends"); }, "e U -Zed,friends,work",
         {"Zed", "shared_userlist", "work"}},
        {[this] { Click("userListCheckBox"), Check("friends"); }, "e u Zed,friends,work",
         {"Zed", "friends", "work"}},
    };
    for (const auto& l_step : l_steps)
    {
        Open(l_folder);
        EXPECT_FALSE(Child<QPushButton>(mp_folder, "selectFolderButton")->isEnabled());
        l_step.change();
        EXPECT_EQ(Shown(), l_step.shown);
        mp_folder->accept();
        EXPECT_EQ(Audience(l_folder), l_step.stored) << l_step.shown;
    }
    Open(l_folder);
    Click("everyoneCheckBox");
    mp_folder->reject();
    EXPECT_EQ(Audience(l_folder), QStringList({"Zed", "friends", "work"}));
}

TEST_F(ShareDialogs, ExcludedEndingsAreAddedTrimmedOnceAndRemovedFromTheStore)
{
    QPointer<ExcludedExtensionsDialog> lp_dialog = ExcludedExtensionsDialog::Open(&m_window);
    EXPECT_EQ(ExcludedExtensionsDialog::Open(&m_window), lp_dialog.data());
    auto* lp_list = Child<QListWidget>(lp_dialog, "extensionListWidget");
    auto* lp_edit = Child<QLineEdit>(lp_dialog, "newExtensionEdit");
    for (const char* l_typed : {"  .mp3 ", "   ", ".ini", "ini", ".INI", ".mp3"})
    {
        lp_edit->setText(l_typed);
        Child<QPushButton>(lp_dialog, "newExtensionButton")->click();
        EXPECT_TRUE(lp_edit->text().isEmpty()) << l_typed;
    }
    d.GetType("excluded_download_extension")->GetItem(".nfo");
    auto l_stored = [] {
        QStringList l_values;
        for (ItemPtr l_item : d.GetType("excluded_download_extension")->GetItems())
            l_values << l_item.AsString();
        return l_values.sort(), l_values;
    };
    EXPECT_EQ(l_stored(), QStringList({".INI", ".ini", ".mp3", ".nfo", "ini"}));
    EXPECT_EQ(Texts(lp_list), l_stored());

    lp_dialog->OnExtensionListContextMenuRequested(QPoint(5, lp_list->height() - 3));
    EXPECT_EQ(m_menus, 0);
    lp_list->item(0)->setSelected(true);
    lp_list->item(4)->setSelected(true);
    lp_dialog->OnExtensionListContextMenuRequested(lp_list->visualItemRect(lp_list->item(2)).center());
    EXPECT_EQ(m_menus, 1);
    EXPECT_EQ(l_stored(), QStringList({".ini", ".mp3", ".nfo"}));
    EXPECT_EQ(Texts(lp_list), l_stored());

    lp_dialog->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(lp_dialog.isNull());
    lp_dialog = ExcludedExtensionsDialog::Open(&m_window);
    EXPECT_EQ(Texts(Child<QListWidget>(lp_dialog, "extensionListWidget")), l_stored());
}
