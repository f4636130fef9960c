#include <QDir>

#include "shares/SharedFoldersManager.h"
#include "shell/program/ProgramFixture.h"
#include "views/search/AddSharedFolderDialog.h"
#include "views/search/ExcludedExtensionsDialog.h"
#include "views/search/SharedFilesRescannedDialog.h"

namespace
{
// The share settings' dialogs as the main window's panels open them, with three user-list groups.
class ShareDialogs : public ProgramFixture
{
protected:
    void SetUp() override
    {
        ProgramFixture::SetUp();
        StartLoggedIn();
        for (const char* l_group : {"work", "friends", "Zed"})
            Groups()->GetItem(l_group);
        ASSERT_TRUE(QDir(Home()).mkpath("Music") && QDir(Home()).mkpath("Books"));
    }

    static Type* Groups() { return d.GetType("user_list_group"); }
    AddSharedFolderDialog* Newest() const { return mp_window->findChildren<AddSharedFolderDialog*>().last(); }
    AddSharedFolderDialog* NewFolder()
    {
        Trigger("share_folder");
        return Newest();
    }
    AddSharedFolderDialog* Permissions(const QString& i_folder)
    {
        mp_ui->sharedFoldersList->clearSelection();
        mp_ui->sharedFoldersList->findItems(Home() + "/" + i_folder, Qt::MatchExactly).value(0)->setSelected(true);
        mp_window->OnSetFolderPermissions();
        return Newest();
    }
    static void Click(QWidget* ip_dialog, const char* i_button) { Child<QAbstractButton>(ip_dialog, i_button)->click(); }
    static void Ok(QWidget* ip_dialog)
    {
        Child<QDialogButtonBox>(ip_dialog, "buttonBox")->button(QDialogButtonBox::Ok)->click();
    }
    static void Tick(QWidget* ip_dialog, const QString& i_group)
    {
        Child<QListWidget>(ip_dialog, "groupsListWidget")->findItems(i_group, Qt::MatchExactly).value(0)->setCheckState(Qt::Checked);
    }
    // The two boxes, upper case when checked, "-" after a disabled one; then the groups in their
    // order, "+" after a checked one, "-" before them while the list is disabled.
    static QString Shown(QWidget* ip_dialog)
    {
        const auto l_box = [ip_dialog](const char* i_name, const char* i_letters) {
            auto* lp_box = Child<QCheckBox>(ip_dialog, i_name);
            return QString(i_letters[lp_box->isChecked()]) + (lp_box->isEnabled() ? " " : "- ");
        };
        auto* lp_list = Child<QListWidget>(ip_dialog, "groupsListWidget");
        QStringList l_groups;
        for (int l_row = 0; l_row < lp_list->count(); ++l_row)
            l_groups << lp_list->item(l_row)->text() + (lp_list->item(l_row)->checkState() == Qt::Checked ? "+" : "");
        return l_box("everyoneCheckBox", "eE") + l_box("userListCheckBox", "uU") + (lp_list->isEnabled() ? "" : "-") +
               l_groups.join(',');
    }
    // Each shared folder's row: path, then who may see it.
    QStringList Shared() const
    {
        QStringList l_rows;
        for (int l_row = 0; l_row < mp_ui->sharedFoldersList->topLevelItemCount(); ++l_row)
            l_rows << mp_ui->sharedFoldersList->topLevelItem(l_row)->text(0).mid(Home().size() + 1) + ": " +
                          mp_ui->sharedFoldersList->topLevelItem(l_row)->text(1);
        return l_rows;
    }
};
} // namespace

// A folder is shared once whatever way it is chosen; its dialog goes when it stops being shared
// and writes nothing, and a group deleted meanwhile stays deleted.
TEST_F(ShareDialogs, TheFolderDialogSharesOnceAndLetsGoOfFoldersAndGroupsThatGo)
{
    QPointer<AddSharedFolderDialog> lp_dialog = NewFolder();
    EXPECT_EQ(Shown(lp_dialog), "E U- -Zed,friends,work");
    Ok(lp_dialog);
    EXPECT_TRUE(lp_dialog->isVisible());
    Click(lp_dialog, "selectFolderButton");
    EXPECT_EQ(m_boxes, QStringList("Select Folder to Share (folder)"));
    Ok(lp_dialog);
    EXPECT_TRUE(lp_dialog->isVisible());
    m_chosen = QStringList(Home() + "/Music");
    Click(lp_dialog, "selectFolderButton");
    Ok(lp_dialog);
    FlushDeletes();
    EXPECT_TRUE(lp_dialog.isNull());
    EXPECT_EQ(Shared(), QStringList("Music: Everyone"));

    // Chosen again, the shared folder takes the new audience.
    lp_dialog = NewFolder();
    Click(lp_dialog, "selectFolderButton");
    Click(lp_dialog, "everyoneCheckBox");
    Ok(lp_dialog);
    EXPECT_EQ(Shared(), QStringList("Music: User List"));

    // Unshared while its dialog is open: the dialog closes, and an OK on its way writes nothing.
    lp_dialog = Permissions("Music");
    Click(lp_dialog, "userListCheckBox");
    Tick(lp_dialog, "work");
    mp_window->OnUnshareFolder();
    EXPECT_FALSE(lp_dialog->isVisible());
    QMetaObject::invokeMethod(lp_dialog, "accept");
    FlushDeletes();
    EXPECT_TRUE(lp_dialog.isNull());
    EXPECT_EQ(d.GetType("shared_folder")->ItemCount(), 0u);
    EXPECT_TRUE(Shared().isEmpty());

    // A group deleted while the dialog is open is not made again; the others are written.
    sharedFoldersManager->AddSharedFolder(Home() + "/Books") += Groups()->GetItem("friends");
    lp_dialog = Permissions("Books");
    EXPECT_EQ(Shown(lp_dialog), "e u Zed,friends+,work");
    Tick(lp_dialog, "work");
    Tick(lp_dialog, "Zed");
    Groups()->HasItem("work").Remove();
    Ok(lp_dialog);
    EXPECT_FALSE(Groups()->HasItem("work"));
    EXPECT_EQ(Shared(), QStringList("Books: Zed, friends"));
}

// Opened on a shared folder, each box decides the audience; a wider one keeps the narrower
// connections for later, and Cancel writes nothing.
TEST_F(ShareDialogs, TheAudienceBoxesCascadeAndAWiderAudienceKeepsTheNarrowerOnes)
{
    ItemPtr l_folder = sharedFoldersManager->AddSharedFolder(Home() + "/Music");
    l_folder.NewItem("shared_public");
    l_folder += Groups()->GetItem("work");
    l_folder += Groups()->GetItem("Zed");
    const auto l_audience = [&] {
        QStringList l_names;
        for (ItemPtr l_group : l_folder.GetItems("user_list_group"))
            l_names << l_group.AsString();
        for (const char* l_kind : {"shared_public", "shared_userlist"})
            if (l_folder.IsConnected(l_kind))
                l_names << l_kind;
        return l_names.sort(), l_names;
    };
    const struct
    {
        const char* click;
        bool friends, accept;
        const char* shown;
        QStringList stored;
    } l_steps[] = {
        {"", false, true, "E U- -Zed+,friends,work+", {"Zed", "shared_public", "work"}},
        {"everyoneCheckBox", true, true, "e U -Zed+,friends+,work+", {"Zed", "shared_userlist", "work"}},
        {"everyoneCheckBox", false, true, "E U- -Zed+,friends,work+", {"Zed", "shared_public", "shared_userlist", "work"}},
        {"everyoneCheckBox", false, true, "e U -Zed+,friends,work+", {"Zed", "shared_userlist", "work"}},
        {"userListCheckBox", true, true, "e u Zed+,friends+,work+", {"Zed", "friends", "work"}},
        {"", false, true, "e u Zed+,friends+,work+", {"Zed", "friends", "work"}},
        {"everyoneCheckBox", false, true, "E U- -Zed+,friends+,work+", {"Zed", "friends", "shared_public", "work"}},
        {"everyoneCheckBox", false, false, "e U -Zed+,friends+,work+", {"Zed", "friends", "shared_public", "work"}}};
    for (const auto& l_step : l_steps)
    {
        QPointer<AddSharedFolderDialog> lp_dialog = Permissions("Music");
        EXPECT_FALSE(Child(lp_dialog, "selectFolderButton")->isEnabled());
        if (*l_step.click)
            Click(lp_dialog, l_step.click);
        if (l_step.friends)
            Tick(lp_dialog, "friends");
        EXPECT_EQ(Shown(lp_dialog), l_step.shown);
        if (l_step.accept)
            Ok(lp_dialog);
        else
            Child<QDialogButtonBox>(lp_dialog, "buttonBox")->button(QDialogButtonBox::Cancel)->click();
        EXPECT_EQ(l_audience(), l_step.stored) << l_step.shown;
    }
}

TEST_F(ShareDialogs, ExcludedEndingsAreAddedTrimmedOnceAndRemovedFromTheStore)
{
    QPointer<ExcludedExtensionsDialog> lp_dialog = ExcludedExtensionsDialog::Open(mp_window.get());
    EXPECT_EQ(ExcludedExtensionsDialog::Open(mp_window.get()), lp_dialog.data());
    auto* lp_list = Child<QListWidget>(lp_dialog, "extensionListWidget");
    // The list's rows, then what the store holds, sorted; each time the same.
    const auto l_shown = [](QListWidget* ip_list) {
        QStringList l_rows, l_stored;
        for (int l_row = 0; l_row < ip_list->count(); ++l_row)
            l_rows << ip_list->item(l_row)->text();
        for (ItemPtr l_item : d.GetType("excluded_download_extension")->GetItems())
            l_stored << l_item.AsString();
        l_stored.sort();
        return l_rows == l_stored ? l_rows.join(' ') : l_rows.join(' ') + " but " + l_stored.join(' ');
    };
    for (const char* l_typed : {"  .mp3 ", "   ", ".ini", "ini", ".INI", ".mp3"})
    {
        Child<QLineEdit>(lp_dialog, "newExtensionEdit")->setText(l_typed);
        Child<QPushButton>(lp_dialog, "newExtensionButton")->click();
        EXPECT_TRUE(Child<QLineEdit>(lp_dialog, "newExtensionEdit")->text().isEmpty()) << l_typed;
    }
    d.GetType("excluded_download_extension")->GetItem(".nfo");
    EXPECT_EQ(l_shown(lp_list), ".INI .ini .mp3 .nfo ini");
    // The menu only over a row; it removes every selected row.
    lp_dialog->OnExtensionListContextMenuRequested(QPoint(5, lp_list->height() - 3));
    EXPECT_TRUE(m_menus.isEmpty());
    lp_list->item(0)->setSelected(true);
    lp_list->item(4)->setSelected(true);
    lp_dialog->OnExtensionListContextMenuRequested(lp_list->visualItemRect(lp_list->item(2)).center());
    EXPECT_EQ(m_menus, QStringList("Remove"));
    EXPECT_EQ(l_shown(lp_list), ".ini .mp3 .nfo");
    // Closed, it goes; the next one lists the store again.
    lp_dialog->close();
    FlushDeletes();
    EXPECT_TRUE(lp_dialog.isNull());
    EXPECT_EQ(l_shown(Child<QListWidget>(ExcludedExtensionsDialog::Open(mp_window.get()), "extensionListWidget")),
              ".ini .mp3 .nfo");
}

// Every rescan has its own report.
TEST_F(ShareDialogs, EachRescanOpensItsOwnReport)
{
    sharedFoldersManager->AddSharedFolder(Home() + "/Music").NewItem("shared_public");
    const auto l_write = [this](const char* i_name) { return WriteFile(Home() + "/Music/" + i_name, "x"); };
    ASSERT_TRUE(l_write("a.mp3") && l_write("b.mp3"));
    for (int l_scan = 1; l_scan <= 2; ++l_scan)
    {
        Trigger("rescan_shares");
        ASSERT_TRUE(QTest::qWaitFor([&] { return mp_window->findChildren<SharedFilesRescannedDialog*>().size() == l_scan; }, 5000));
        ASSERT_TRUE(l_scan == 2 || QFile::remove(Home() + "/Music/a.mp3"));
    }
    QStringList l_reports;
    for (SharedFilesRescannedDialog* lp_report : mp_window->findChildren<SharedFilesRescannedDialog*>())
        l_reports << lp_report->windowTitle() + ": " + lp_report->Text() + (lp_report->isVisible() ? "" : " (hidden)");
    EXPECT_EQ(l_reports, QStringList({"Shared Files Rescanned: 2 files added.\n0 files removed.",
                                      "Shared Files Rescanned: 0 files added.\n1 files removed."}));
}
