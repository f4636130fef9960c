#include "shares/SharesFixture.h"
#include "shell/ShellFixture.h"
#include "views/search/AddSharedFolderDialog.h"
#include "views/search/ExcludedExtensionsDialog.h"

// The share dialogs over a real shares engine, with three user-list groups and the transfer
// queues' excluded endings; menus pick their first entry, the folder chooser the test's answer.
class ShareDialogs : public SharesFixture, protected FakeDesktop
{
protected:
    void SetUp() override
    {
        SharesFixture::SetUp();
        DeclareTypes({{"excluded_download_extension", Primary, false}});
        for (const char* l_group : {"friends", "Zed", "work"})
            d.GetType("user_list_group")->GetItem(l_group);
    }

    static QStringList Texts(const QListWidget* ip_list, bool i_checkedOnly = false)
    {
        QStringList l_texts;
        for (int l_row = 0; l_row < ip_list->count(); ++l_row)
            if (!i_checkedOnly || ip_list->item(l_row)->checkState() == Qt::Checked)
                l_texts << ip_list->item(l_row)->text();
        return l_texts;
    }
    // Upper case for a checked box, "-" after a disabled one, then the checked groups.
    QString Shown() const
    {
        const auto l_box = [this](const char* i_name, const char* i_letters) {
            auto* lp_box = Child<QCheckBox>(mp_folder, i_name);
            return QString(i_letters[lp_box->isChecked()]) + (lp_box->isEnabled() ? " " : "- ");
        };
        auto* lp_groups = Child<QListWidget>(mp_folder, "groupsListWidget");
        return l_box("everyoneCheckBox", "eE") + l_box("userListCheckBox", "uU") +
               (lp_groups->isEnabled() ? "" : "-") + Texts(lp_groups, true).join(",");
    }
    // The items' texts, sorted; for a folder, its groups and kinds of audience.
    static QStringList Names(const ItemSet& i_items, ItemPtr i_folder = ItemPtr())
    {
        QStringList l_names;
        for (ItemPtr l_item : i_items)
            l_names << l_item.AsString();
        for (const char* l_kind : {"shared_public", "shared_userlist"})
            if (i_folder && i_folder.IsConnected(l_kind))
                l_names << l_kind;
        return l_names.sort(), l_names;
    }
    static QStringList Audience(ItemPtr i_folder) { return Names(i_folder.GetItems("user_list_group"), i_folder); }
    void Click(const char* i_box) { Child<QAbstractButton>(mp_folder, i_box)->click(); }
    void Open(ItemPtr i_folder) { mp_folder = new AddSharedFolderDialog(i_folder, &m_window); }

    QWidget m_window;
    QPointer<AddSharedFolderDialog> mp_folder;
};

TEST_F(ShareDialogs, AFolderIsSharedOnlyWithAPathAndItsAudienceChangesAsShown)
{
    Write("music/a.mp3");
    Open(ItemPtr());
    EXPECT_EQ(Shown(), "E U- -");
    mp_folder->accept();
    EXPECT_EQ(Count("shared_folder"), 0u);
    m_chosen = QStringList{Path("music")};
    Click("selectFolderButton");
    mp_folder->accept();
    ItemPtr l_folder = d.GetType("shared_folder")->HasItem(Path("music"));
    ASSERT_TRUE(l_folder);
    EXPECT_EQ(Audience(l_folder), QStringList("shared_public"));
    EXPECT_EQ(Count("shared_file"), 1u);

    // Opened on the folder: a wider audience keeps the narrower ones for later.
    l_folder += d.GetType("user_list_group")->GetItem("work");
    l_folder += d.GetType("user_list_group")->GetItem("Zed");
    const struct { const char* click; bool friends, accept; const char* shown; QStringList stored; } l_steps[] = {
        {"", false, true, "E U- -Zed,work", {"Zed", "shared_public", "work"}},
        {"everyoneCheckBox", true, true, "e U -Zed,friends,work", {"Zed", "shared_userlist", "work"}},
        {"everyoneCheckBox", false, true, "E U- -Zed,work", {"Zed", "shared_public", "shared_userlist", "work"}},
        {"everyoneCheckBox", false, true, "e U -Zed,work", {"Zed", "shared_userlist", "work"}},
        {"userListCheckBox", true, true, "e u Zed,friends,work", {"Zed", "friends", "work"}},
        {"", false, true, "e u Zed,friends,work", {"Zed", "friends", "work"}},
        {"everyoneCheckBox", false, true, "E U- -Zed,friends,work", {"Zed", "friends", "shared_public", "work"}},
        {"everyoneCheckBox", false, false, "e U -Zed,friends,work", {"Zed", "friends", "shared_public", "work"}}};
    for (const auto& l_step : l_steps)
    {
        Open(l_folder);
        EXPECT_FALSE(Child(mp_folder, "selectFolderButton")->isEnabled());
        if (*l_step.click)
            Click(l_step.click);
        if (l_step.friends)
            Child<QListWidget>(mp_folder, "groupsListWidget")->item(1)->setCheckState(Qt::Checked);
        EXPECT_EQ(Shown(), l_step.shown);
        QMetaObject::invokeMethod(mp_folder, l_step.accept ? "accept" : "reject");
        EXPECT_EQ(Audience(l_folder), l_step.stored) << l_step.shown;
    }
}

TEST_F(ShareDialogs, ExcludedEndingsAreAddedTrimmedOnceAndRemovedFromTheStore)
{
    QPointer<ExcludedExtensionsDialog> lp_dialog = ExcludedExtensionsDialog::Open(&m_window);
    EXPECT_EQ(ExcludedExtensionsDialog::Open(&m_window), lp_dialog.data());
    auto* lp_list = Child<QListWidget>(lp_dialog, "extensionListWidget");
    for (const char* l_typed : {"  .mp3 ", "   ", ".ini", "ini", ".INI", ".mp3"})
    {
        Child<QLineEdit>(lp_dialog, "newExtensionEdit")->setText(l_typed);
        Child<QPushButton>(lp_dialog, "newExtensionButton")->click();
        EXPECT_TRUE(Child<QLineEdit>(lp_dialog, "newExtensionEdit")->text().isEmpty()) << l_typed;
    }
    d.GetType("excluded_download_extension")->GetItem(".nfo");
    auto l_stored = [] { return Names(d.GetType("excluded_download_extension")->GetItems()); };
    EXPECT_EQ(l_stored(), QStringList({".INI", ".ini", ".mp3", ".nfo", "ini"}));
    EXPECT_EQ(Texts(lp_list), l_stored());
    // The menu only over a row; it removes every selected row.
    lp_dialog->OnExtensionListContextMenuRequested(QPoint(5, lp_list->height() - 3));
    EXPECT_TRUE(m_menus.isEmpty());
    lp_list->item(0)->setSelected(true);
    lp_list->item(4)->setSelected(true);
    lp_dialog->OnExtensionListContextMenuRequested(lp_list->visualItemRect(lp_list->item(2)).center());
    EXPECT_EQ(m_menus, QStringList("Remove"));
    EXPECT_EQ(l_stored(), QStringList({".ini", ".mp3", ".nfo"}));
    EXPECT_EQ(Texts(lp_list), l_stored());
    // Closed, it goes; the next one lists the store again.
    lp_dialog->close();
    FlushDeletes();
    EXPECT_TRUE(lp_dialog.isNull());
    EXPECT_EQ(Texts(Child<QListWidget>(ExcludedExtensionsDialog::Open(&m_window), "extensionListWidget")), l_stored());
}
